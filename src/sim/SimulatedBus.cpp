// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/SimulatedBus.h"

#include <algorithm>
#include <utility>

#include "protocol/modbus/ModbusFrame.h"

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
    hearers_.push_back({&protocol_, protocol_.MakeResponder()});
    for (const SimulatedController& controller : controllers_) {
        if (controller.protocol == nullptr) {
            continue;
        }
        const bool heard = std::any_of(hearers_.begin(), hearers_.end(), [&](const Hearer& h) {
            return h.protocol->CommandName() == controller.protocol->CommandName();
        });
        if (!heard) {
            hearers_.push_back({controller.protocol, controller.protocol->MakeResponder()});
        }
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

SimulatedBus::Answer SimulatedBus::AnswerTo(const SimulatedController& controller,
                                            const Hearer& hearer, Station station,
                                            const std::string& frame) {
    const Protocol& protocol = *hearer.protocol;
    value_ = std::clamp(value_ + std::uniform_int_distribution<int>(-2, 2)(random_), 100, 999);
    Answer answer{hearer.responder->Answer(station, frame, value_)};
    if (!controller.registers.empty()) {
        ReadRegisters(controller, protocol, frame, answer.bytes);
    }
    std::string& bytes = answer.bytes;
    if (controller.fault == ControllerFault::None || !Chance(controller.faultRate)) {
        bytes = hearer.responder->Framed(bytes);
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
    bytes = hearer.responder->Framed(bytes);
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
    if (Chance(lineNoise_)) {
        byte = Corrupt(byte);
    }
    std::vector<TimedByte> back;
    if (echo_) {
        back.push_back({end, byte});
    }
    for (Hearer& hearer : hearers_) {
        HeardBy(hearer, byte, end, characterTime, host, back);
    }
    return back;
}

void SimulatedBus::HeardBy(Hearer& hearer, std::uint8_t byte, Instant end, Duration characterTime,
                           const HostWire& host, std::vector<TimedByte>& back) {
    const std::optional<std::string> frame = hearer.responder->Take(byte, end, characterTime);
    if (!frame) {
        return;
    }
    // Nobody answers a frame for no station, nor the first frame of a write.
    const std::optional<Station> station = hearer.responder->AnsweredBy(*frame);
    if (!station) {
        return;
    }
    const std::string address = hearer.protocol->StationText(*station);
    const std::string_view speaks = hearer.protocol->CommandName();
    const auto addressed =
        std::find_if(controllers_.begin(), controllers_.end(), [&](const auto& c) {
            return c.address == address &&
                   (c.protocol == nullptr ? protocol_ : *c.protocol).CommandName() == speaks;
        });
    if (addressed == controllers_.end()) {
        return;
    }
    if (addressed->baud != 0 && addressed->baud != host.baud) {
        return;
    }
    if (addressed->framing && host.framing && *addressed->framing != *host.framing) {
        return;
    }
    std::vector<TimedByte>& answer = back;
    Instant at = std::max(end + DelayOf(*addressed), wireFreeAt_);
    const Answer answerOf = AnswerTo(*addressed, hearer, *station, *frame);
    for (std::size_t i = 0; i < answerOf.bytes.size(); ++i) {
        auto out = static_cast<std::uint8_t>(answerOf.bytes[i]);
        if (Chance(addressed->noise) || Chance(lineNoise_)) {
            out = Corrupt(out);
        }
        if (i == 3) {
            at += answerOf.pauseAfterThird;
        }
        at += characterTime;
        answer.push_back({at, out});
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
