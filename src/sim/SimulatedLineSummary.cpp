// SPDX-License-Identifier: GPL-3.0-or-later
// What a described line is, in a few words for the operator.
#include <algorithm>
#include <charconv>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "protocol/modbus/ModbusFrame.h"
#include "sim/SimulatedLineFile.h"

namespace tarvel {
namespace {

// A chance as the summary gives it: the shortest way that reads back the same, with a decimal
// point in any locale.
std::string NumberShown(double value) {
    char text[32];
    const auto [end, failure] = std::to_chars(text, text + sizeof text, value);
    return failure == std::errc() ? std::string(text, end) : std::string("?");
}

std::string FramingText(int dataBits, Parity parity) {
    const char letter = parity == Parity::Even ? 'E' : parity == Parity::Odd ? 'O' : 'N';
    return std::to_string(dataBits) + letter;
}

// The speed and framing a controller understands the host at; nothing of either for "any".
struct Wire {
    int baud = 0;
    std::optional<Framing> framing;
    friend bool operator==(const Wire&, const Wire&) = default;
};

Wire WireOf(const SimulatedController& controller) { return {controller.baud, controller.framing}; }

std::string WireText(const Wire& wire) {
    std::string text;
    if (wire.baud != 0) {
        text = std::to_string(wire.baud);
    }
    if (wire.framing) {
        text +=
            (text.empty() ? "" : " ") + FramingText(wire.framing->dataBits, wire.framing->parity);
    }
    return text;
}

// What sets one controller apart from a healthy one on a line whose controllers mostly
// understand `common`, as a few words.
std::string ControllerText(const SimulatedController& controller, const Wire& common) {
    std::vector<std::string> parts;
    if (controller.fault != ControllerFault::None && controller.faultRate > 0.0) {
        std::string fault;
        switch (controller.fault) {
            case ControllerFault::Silent: fault = "silent"; break;
            case ControllerFault::GarbledLastChar: fault = "garbling its carriage return"; break;
            case ControllerFault::ExtraChars: fault = "sending extra characters"; break;
            case ControllerFault::ShortAnswer: fault = "answering short"; break;
            case ControllerFault::BadCrc: fault = "with a bad CRC"; break;
            case ControllerFault::Exception:
                fault = "answering exception " + std::to_string(controller.exceptionCode);
                // A code the standard does not name has only its number.
                if (const std::string name = modbus::ExceptionName(controller.exceptionCode);
                    !name.starts_with("exception code")) {
                    fault += " (" + name + ")";
                }
                break;
            case ControllerFault::SilenceInside: fault = "pausing inside its answers"; break;
            case ControllerFault::OtherAddress: fault = "answering with another address"; break;
            case ControllerFault::None: break;
        }
        parts.push_back(fault + (controller.faultRate < 1.0 ? " at times" : ""));
    }
    if (controller.protocol != nullptr) {
        parts.push_back("speaking " + std::string(controller.protocol->Name()));
    }
    if (controller.noise > 0.0) {
        parts.push_back("noisy");
    }
    if (const Wire wire = WireOf(controller); !(wire == common)) {
        parts.push_back(wire == Wire{} ? std::string("at any speed") : "only at " + WireText(wire));
    }
    if (parts.empty()) {
        return "healthy";
    }
    std::string text;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == parts.size() ? " and " : ", ") + parts[i];
    }
    return text;
}

}  // namespace

std::string SimulatedLineSummary(const SimulatedLine& line) {
    // The speed most controllers have is said once, and only those at another one say theirs.
    Wire common;
    std::size_t most = 0;
    for (const SimulatedController& controller : line.controllers) {
        const Wire wire = WireOf(controller);
        const auto alike = static_cast<std::size_t>(
            std::count_if(line.controllers.begin(), line.controllers.end(),
                          [&](const SimulatedController& c) { return WireOf(c) == wire; }));
        if (alike > most) {
            common = wire;
            most = alike;
        }
    }
    // Controllers alike go together, in the order the first of each kind comes.
    std::vector<std::pair<std::string, std::string>> groups;  // what, addresses
    for (const SimulatedController& controller : line.controllers) {
        const std::string what = ControllerText(controller, common);
        auto group = std::find_if(groups.begin(), groups.end(),
                                  [&](const auto& g) { return g.first == what; });
        if (group == groups.end()) {
            groups.push_back({what, ""});
            group = groups.end() - 1;
        }
        group->second += (group->second.empty() ? "" : ", ") + controller.address;
    }
    // A line of another protocol than Ascon, which every line has unless told, says which.
    std::string text;
    if (const Protocol* protocol = ProtocolAt(line.protocol); line.protocol != 0 && protocol) {
        text = std::string(protocol->Name()) + (line.controllers.empty() ? ", " : " ");
    }
    if (line.controllers.empty()) {
        text += "no controllers";
    } else {
        text += line.controllers.size() == 1 ? "controller " : "controllers ";
        for (std::size_t i = 0; i < groups.size(); ++i) {
            text += (i == 0 ? "" : ", ") + groups[i].second + " " + groups[i].first;
        }
        if (!(common == Wire{})) {
            text += (most == line.controllers.size() ? ", all only at " : ", the others only at ") +
                    WireText(common);
        }
    }
    if (line.lineNoise > 0.0) {
        text += ", line noise " + NumberShown(line.lineNoise);
        if (line.noisePosition > 0.0) {
            text += " from " + NumberShown(line.noisePosition) + " m";
        }
    }
    if (line.echo) {
        text += ", the adapter echoes";
    }
    return text;
}

std::string MasterSettingsText(const SimulatedLineMaster& master) {
    return std::to_string(master.settings.baud) + " " +
           FramingText(master.settings.dataBits, master.settings.parity) +
           std::to_string(master.settings.stopBits);
}

}  // namespace tarvel
