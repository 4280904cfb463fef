// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/SimulatedBus.h"

#include <algorithm>
#include <utility>

#include "protocol/modbus/ModbusCounters.h"
#include "protocol/modbus/ModbusFrame.h"
#include "protocol/modbus/ModbusIdentity.h"

namespace tarvel {

Framing FramingOf(const LineSettings& settings) { return {settings.dataBits, settings.parity}; }

SimulatedController ControllerAt(std::string address, int baud, Parity parity) {
    SimulatedController controller;
    controller.address = std::move(address);
    controller.baud = baud;
    controller.framing = Framing{parity == Parity::None ? 8 : 7, parity};
    return controller;
}

SimulatedBus::SimulatedBus(std::vector<SimulatedController> controllers, double lineNoise,
                           std::uint64_t seed, const Protocol& protocol)
    : controllers_(std::move(controllers)),
      lineNoise_(lineNoise),
      random_(seed),
      protocol_(protocol) {
    for (const SimulatedController& controller : controllers_) {
        const Protocol& speaks = controller.protocol ? *controller.protocol : protocol_;
        drops_.push_back({&speaks, speaks.MakeResponder(), {}});
    }
}

int ControllerCounts::Of(int subFunction) const {
    switch (subFunction) {
        case 0x0B: return busMessages;
        case 0x0C: return crcErrors;
        case 0x0D: return exceptions;
        case 0x0E: return addressed;
        case 0x0F: return notAnswered;
        case 0x10: return naks;
        case 0x11: return busy;
        case 0x12: return overruns;
        default: return 0;
    }
}

bool SimulatedBus::Chance(double probability) {
    if (probability <= 0.0) {
        return false;
    }
    return std::uniform_real_distribution<double>(0.0, 1.0)(random_) < probability;
}

Duration SimulatedBus::DelayOf(const SimulatedController& controller) {
    // No draw without a spread, so that a line without one repeats the answers it always gave.
    if (controller.delaySpread <= Duration::zero()) {
        return controller.answerDelay;
    }
    const auto spread = controller.delaySpread.count();
    const auto offset = std::uniform_int_distribution<Duration::rep>(-spread, spread)(random_);
    return std::max(Duration::zero(), controller.answerDelay + Duration(offset));
}

std::uint8_t SimulatedBus::Corrupt(std::uint8_t byte) {
    // A burst of noise flips some bits of the character, never none.
    const int mask = std::uniform_int_distribution<int>(1, 255)(random_);
    return static_cast<std::uint8_t>(byte ^ mask);
}

void SimulatedBus::ReadRegisters(const SimulatedController& controller, const Protocol& protocol,
                                 const std::string& frame, std::string& answer) {
    using namespace modbus;
    const auto at = [](const std::string& bytes, std::size_t i) {
        return static_cast<std::uint8_t>(bytes[i]);
    };
    if (!protocol.ChecksFrames() || frame.size() < 6 || answer.size() < 5 ||
        at(frame, 1) != ReadHoldingRegisters || at(answer, 1) != ReadHoldingRegisters) {
        return;
    }
    const int start = at(frame, 2) << 8 | at(frame, 3);
    const int count = at(answer, 2) / 2;
    if (answer.size() != static_cast<std::size_t>(3 + 2 * count + 2)) {
        return;
    }
    answer.resize(answer.size() - 2);
    for (int i = 0; i < count; ++i) {
        const auto held = controller.registers.find(start + i);
        if (held != controller.registers.end()) {
            const auto place = static_cast<std::size_t>(3 + 2 * i);
            answer[place] = static_cast<char>(held->second >> 8 & 0xFF);
            answer[place + 1] = static_cast<char>(held->second & 0xFF);
        }
    }
    answer = WithCrc(std::move(answer));
}

Station SimulatedBus::OtherStation(const Protocol& protocol, Station station) {
    const std::vector<Station> stations = protocol.Stations();
    const auto next = std::upper_bound(stations.begin(), stations.end(), station);
    return next == stations.end() ? stations.front() : *next;
}

std::optional<std::string> SimulatedBus::OwnAnswer(const SimulatedController& controller,
                                                   Drop& drop, Station station,
                                                   const std::string& frame) {
    using namespace modbus;
    if (!drop.protocol->ChecksFrames() || frame.size() < 4) {
        return std::nullopt;
    }
    const auto at = [&frame](std::size_t i) { return static_cast<std::uint8_t>(frame[i]); };
    const std::string_view request(frame.data(), frame.size() - 2);  // without its CRC
    switch (at(1)) {
        case ReportServerId:
            if (controller.serverId.empty()) {
                return std::nullopt;
            }
            return ServerIdAnswer(station, controller.serverId, true);
        case EncapsulatedInterface:
            if (controller.vendor.empty() || at(2) != ReadDeviceIdMei) {
                return std::nullopt;
            }
            return DeviceIdAnswer(station, request,
                                  {controller.vendor, controller.productCode, controller.revision});
        case Diagnostics: break;
        default: return std::nullopt;
    }
    const int subFunction = at(2) << 8 | at(3);
    if (subFunction == ClearCountersSubFunction) {
        drop.counts = {};
        return frame;  // the echo of the request
    }
    const auto& kinds = ControllerCounters();
    const bool kept = std::any_of(kinds.begin(), kinds.end(), [&](const CounterKind& kind) {
        return kind.subFunction == subFunction;
    });
    if (!kept) {
        return std::nullopt;
    }
    return WithCrc(DiagnosticsAnswer(station, subFunction, drop.counts.Of(subFunction)));
}

SimulatedBus::Answer SimulatedBus::AnswerTo(const SimulatedController& controller, Drop& drop,
                                            Station station, const std::string& frame) {
    const Protocol& protocol = *drop.protocol;
    value_ = std::clamp(value_ + std::uniform_int_distribution<int>(-2, 2)(random_), 100, 999);
    const std::optional<std::string> own = OwnAnswer(controller, drop, station, frame);
    Answer answer{own ? *own : drop.responder->Answer(station, frame, value_)};
    if (!controller.registers.empty()) {
        ReadRegisters(controller, protocol, frame, answer.bytes);
    }
    std::string& bytes = answer.bytes;
    const auto framed = [&] {
        answer.refused = protocol.ChecksFrames() && bytes.size() >= 2 &&
                         (static_cast<std::uint8_t>(bytes[1]) & modbus::ExceptionBit) != 0;
        bytes = drop.responder->Framed(bytes);
    };
    if (controller.fault == ControllerFault::None || !Chance(controller.faultRate)) {
        framed();
        return answer;
    }
    // The faults of CRC-checked frames leave every other protocol's answer as it is. They spoil
    // the bytes before the framing writes them (an ASCII answer's LRC then fails); the others
    // spoil the characters on the wire after it.
    const bool checked = protocol.ChecksFrames() && bytes.size() >= 2;
    switch (controller.fault) {
        case ControllerFault::BadCrc:
            if (checked) {
                bytes.back() = static_cast<char>(bytes.back() ^ 0xFF);
            }
            break;
        case ControllerFault::Exception:
            if (checked) {
                std::string refusal;
                refusal += static_cast<char>(station);
                refusal += static_cast<char>(frame.at(1) | modbus::ExceptionBit);
                refusal += static_cast<char>(controller.exceptionCode);
                bytes = modbus::WithCrc(std::move(refusal));
            }
            break;
        case ControllerFault::SilenceInside:
            answer.pauseAfterThird = controller.insideSilence;
            break;
        case ControllerFault::OtherAddress:
            if (checked) {
                bytes.resize(bytes.size() - 2);
                bytes[0] = static_cast<char>(OtherStation(protocol, station));
                bytes = modbus::WithCrc(std::move(bytes));
            }
            break;
        default: break;
    }
    framed();
    switch (controller.fault) {
        case ControllerFault::Silent: return {};
        case ControllerFault::GarbledLastChar:
            // The frame's last character, its end for a framing that has one, made another.
            if (!bytes.empty()) {
                bytes.back() = bytes.back() == '\n' ? '\r' : '\n';
            }
            break;
        case ControllerFault::ExtraChars: bytes += "\r\n"; break;
        case ControllerFault::ShortAnswer: bytes.resize(3); break;
        default: break;
    }
    return answer;
}

std::vector<TimedByte> SimulatedBus::HostCharacter(std::uint8_t byte, Instant end,
                                                   Duration characterTime, const HostWire& host) {
    // One draw for each character, where the noise enters the cable: those beyond hear what it
    // made of the character, the others what the host sent.
    const std::uint8_t sent = byte;
    if (Chance(lineNoise_)) {
        byte = Corrupt(byte);
    }
    std::vector<TimedByte> back;
    if (echo_) {
        back.push_back({end, noisePosition_ <= 0.0 ? byte : sent});
    }
    for (std::size_t index = 0; index < controllers_.size(); ++index) {
        HeardBy(index, BeyondNoise(controllers_[index]) ? byte : sent, end, characterTime, host,
                back);
    }
    return back;
}

void SimulatedBus::HeardBy(std::size_t index, std::uint8_t byte, Instant end,
                           Duration characterTime, const HostWire& host,
                           std::vector<TimedByte>& back) {
    const SimulatedController& controller = controllers_[index];
    // A controller of another speed or framing reads garbage where the host's characters are,
    // and finds no frame in them.
    if ((controller.baud != 0 && controller.baud != host.baud) ||
        (controller.framing && host.framing && *controller.framing != *host.framing)) {
        return;
    }
    Drop& drop = drops_[index];
    const int droppedBefore = drop.responder->DroppedFrames();
    const std::optional<std::string> frame = drop.responder->Take(byte, end, characterTime);
    const int dropped = drop.responder->DroppedFrames() - droppedBefore;
    // A frame whose check failed is a communication error, not one of the bus's messages.
    drop.counts.crcErrors += dropped;
    if (!frame) {
        return;
    }
    ++drop.counts.busMessages;
    const Protocol& protocol = *drop.protocol;
    if (protocol.ChecksFrames() && !frame->empty() && frame->front() == modbus::BroadcastAddress) {
        ++drop.counts.addressed;  // every controller takes a broadcast and none answers
        ++drop.counts.notAnswered;
        return;
    }
    // Nobody answers a frame for no station, nor the first frame of a write.
    const std::optional<Station> station = drop.responder->AnsweredBy(*frame);
    if (!station || protocol.StationText(*station) != controller.address) {
        return;
    }
    // Two controllers at one address: the first answers (a description refuses the mistake).
    const auto first = std::find_if(controllers_.begin(), controllers_.end(), [&](const auto& c) {
        return c.address == controller.address &&
               (c.protocol ? *c.protocol : protocol_).CommandName() == protocol.CommandName();
    });
    if (first != controllers_.begin() + static_cast<std::ptrdiff_t>(index)) {
        return;
    }
    ++drop.counts.addressed;
    Instant at = std::max(end + DelayOf(controller), wireFreeAt_);
    const Answer answerOf = AnswerTo(controller, drop, *station, *frame);
    if (answerOf.bytes.empty()) {
        ++drop.counts.notAnswered;
    } else if (answerOf.refused) {
        ++drop.counts.exceptions;
    }
    const bool throughNoise = BeyondNoise(controller);
    for (std::size_t i = 0; i < answerOf.bytes.size(); ++i) {
        auto out = static_cast<std::uint8_t>(answerOf.bytes[i]);
        if (Chance(controller.noise) || (throughNoise && Chance(lineNoise_))) {
            out = Corrupt(out);
        }
        if (i == 3) {
            at += answerOf.pauseAfterThird;
        }
        at += characterTime;
        back.push_back({at, out});
    }
    wireFreeAt_ = std::max(wireFreeAt_, at);
}

std::vector<SimulatedController> DemoControllers() {
    using std::chrono::milliseconds;
    return {
        {"A", milliseconds(5), ControllerFault::None, 0.0, 0.0},
        {"B", milliseconds(8), ControllerFault::None, 0.0, 0.0},
        {"C", milliseconds(5), ControllerFault::Silent, 1.0, 0.0},
        {"D", milliseconds(12), ControllerFault::None, 0.0, 0.04},
        {"E", milliseconds(6), ControllerFault::None, 0.0, 0.0},
    };
}

}  // namespace tarvel
