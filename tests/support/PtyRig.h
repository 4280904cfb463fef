// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gtest/gtest.h>
#include <memory>

#include "lines/QtSerialLine.h"
#include "platform/QtScheduler.h"
#include "serial/PortService.h"
#include "sim/PtyBusHost.h"
#include "support/LineRig.h"

namespace tarvel::testing {

// The real serial path in real time: the program's QSerialPort line, opened at 9600 baud 8N1,
// on one side of a pseudo-terminal and a simulated bus on the other. Needs Qt's event loop.
struct PtyRig {
    std::unique_ptr<PtyBusHost> host;
    PortMap ports;
    std::unique_ptr<QtSerialLine> line;
    QtScheduler scheduler;
    Primo primo = Primo9600();
    std::unique_ptr<PortService> port;
    std::string failure;  // why the rig could not be set up

    explicit PtyRig(std::vector<SimulatedController> controllers) {
        host = PtyBusHost::Start(SimulatedBus(std::move(controllers), 0.0, 1), failure);
        if (!host) {
            return;
        }
        ports.Assign(1, host->DevicePath());
        line = std::make_unique<QtSerialLine>(ports, scheduler);
        port = std::make_unique<PortService>(*line, primo, scheduler);
        if (port->OpenPort()) {
            failure = port->OpenFailure();
        }
    }
    bool Ready() const { return failure.empty(); }

    // What the far end received, split into frames at each carriage return.
    std::vector<std::string> Frames() const {
        std::vector<std::string> frames(1);
        for (const auto& byte : host->Received()) {
            if (byte.byte == '\r') {
                frames.push_back({});
            } else {
                frames.back().push_back(static_cast<char>(byte.byte));
            }
        }
        frames.pop_back();
        return frames;
    }
};

}  // namespace tarvel::testing
