// SPDX-License-Identifier: GPL-3.0-or-later
// From a described line to what plays it: the bus, its master, the speeds it may have.
#include "protocol/Protocols.h"
#include "sim/SimulatedLineFile.h"

namespace tarvel {

SimulatedLine BuiltInLine(int protocol) {
    SimulatedLine line;
    line.protocol = protocol;
    line.controllers = DemoControllers();
    if (protocol != 0) {
        // The same controllers, numbered in their order.
        for (std::size_t i = 0; i < line.controllers.size(); ++i) {
            line.controllers[i].address = std::to_string(i + 1);
        }
    }
    return line;
}

SimulatedBus BusOf(const SimulatedLine& line) {
    SimulatedBus bus(line.controllers, line.lineNoise, line.seed, *ProtocolAt(line.protocol));
    bus.SetNoisePosition(line.noisePosition);
    bus.SetEcho(line.echo);
    return bus;
}

SimulatedMaster MasterOf(const SimulatedLine& line, const SimulatedLineMaster& master) {
    return SimulatedMaster(BusOf(line), master.schedule, master.settings);
}

const std::vector<int>& SimulatedLineSpeeds(int protocol) {
    const Protocol* speaking = ProtocolAt(protocol);
    return (speaking ? *speaking : DefaultProtocol()).Speeds();
}

}  // namespace tarvel
