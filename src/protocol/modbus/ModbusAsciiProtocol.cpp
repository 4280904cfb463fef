// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/modbus/ModbusAsciiProtocol.h"

#include <algorithm>

#include "core/HexText.h"
#include "protocol/modbus/ModbusAsciiDecoder.h"
#include "protocol/modbus/ModbusAsciiFrame.h"
#include "protocol/modbus/ModbusAsciiResponder.h"
#include "protocol/modbus/ModbusFrame.h"

namespace tarvel {

using namespace modbus;

namespace {

Request RtuTwinRequest(const Request& request) {
    Request twin = request;
    twin.frame = RtuTwinOf(request.frame);
    return twin;
}

// The characters of a healthy answer whose RTU twin has `rtuLength` bytes: its two check bytes
// become one LRC byte, every byte two characters, and ':' CR LF frame them.
int AsciiLength(int rtuLength) { return 2 * (rtuLength - 1) + 3; }

// Whether the line fell silent for longer than a frame allows between two of the characters
// from `from` to `to`, where their arrivals are known.
bool SilentInside(const ArrivedAnswer& answer, std::size_t from, std::size_t to) {
    return answer.arrivals.size() == answer.bytes.size() &&
           SilentBetween(answer.arrivals, answer.characterTime, from, to,
                         std::max(AsciiCharacterGap, answer.hostDelayAllowance));
}

}  // namespace

std::string RtuTwinOf(std::string_view asciiFrame) {
    const AsciiReading reading = ReadAsciiFrame(asciiFrame);
    if (!reading.whole || reading.fault != AsciiFault::None) {
        return {};
    }
    return WithCrc(reading.bytes);
}

std::string AsciiTwinOf(std::string_view rtuFrame) {
    return AsciiFrame(rtuFrame.substr(0, rtuFrame.size() >= 2 ? rtuFrame.size() - 2 : 0));
}

ModbusAsciiProtocol::ModbusAsciiProtocol(ModbusRtuProtocol::Variant variant, RequestChoice read)
    : variant_(variant), rtu_(variant, read) {}

std::vector<CharacterFraming> ModbusAsciiProtocol::SearchFramings() const {
    return {{'E', 7, 1}, {'N', 7, 2}, {'O', 7, 1}, {'N', 8, 1}};
}

ExchangeTimings ModbusAsciiProtocol::Timings(ExchangeKind kind, Duration characterTime) const {
    // A frame begins with its ':', not after a silence: one character's rest after the last
    // answer leaves a controller the time to let go of the line, and no more is needed.
    if (kind == ExchangeKind::Terminal) {
        return {Duration{0}, DefaultAnswerWindow};
    }
    return {characterTime, DefaultAnswerWindow, true};
}

Duration ModbusAsciiProtocol::SettleTime(Duration characterTime) const {
    return rtu_.SettleTime(characterTime);
}

std::string ModbusAsciiProtocol::RequestFor(Station station, ExchangeKind kind) const {
    return AsciiTwinOf(rtu_.RequestFor(station, kind));
}

int ModbusAsciiProtocol::AnswerLength(const Request& request, std::string_view arrived) const {
    const AsciiReading reading = ReadAsciiFrame(arrived);
    if (reading.whole) {
        // A CR without its LF is told by the character that came instead: it is taken too.
        const std::size_t instead = reading.fault == AsciiFault::MissingLf ? 1 : 0;
        return static_cast<int>(reading.noise + reading.length + instead);
    }
    return std::max(static_cast<int>(arrived.size()) + 1, HealthyAnswerLength(request));
}

int ModbusAsciiProtocol::HealthyAnswerLength(const Request& request) const {
    return AsciiLength(rtu_.HealthyAnswerLength(RtuTwinRequest(request)));
}

AnswerCheck ModbusAsciiProtocol::CheckAnswer(const Request& request, ExchangeKind kind,
                                             bool /*late*/, const ArrivedAnswer& answer) const {
    const AsciiReading reading = ReadAsciiFrame(answer.bytes);
    if (reading.noise == answer.bytes.size()) {
        return {ExchangeVerdict::NoAnswer, 0, std::nullopt};  // no frame began: noise alone
    }
    if (!reading.whole) {
        // A frame begun by the controller asked, that stopped: a ':' of noise, or one whose
        // address is not yet told, is no answer of its.
        const std::string_view begun = answer.bytes.substr(reading.noise);
        const bool fromItsAddress =
            request.frame.size() >= 3 && begun.size() >= 3 &&
            SameHexadecimal(begun.substr(1, 2), std::string_view(request.frame).substr(1, 2));
        return {fromItsAddress ? ExchangeVerdict::Cut : ExchangeVerdict::NoAnswer, 0, std::nullopt};
    }
    const std::size_t end = reading.noise + reading.length;
    if (SilentInside(answer, reading.noise, end)) {
        return {ExchangeVerdict::Cut, 0, std::nullopt};
    }
    if (reading.fault != AsciiFault::None) {
        return {AsciiFaultVerdict(reading.fault), 0, std::nullopt};
    }
    // The LRC held: what the bytes say is judged as RTU judges them. Their CRC holds by
    // construction, so one that does not is a length the function does not have.
    const std::string twin = WithCrc(reading.bytes);
    AnswerCheck check = rtu_.CheckAnswer(RtuTwinRequest(request), kind, true, twin);
    // A sound frame came whole, so RTU's missing answer is one from another address.
    if (check.verdict == ExchangeVerdict::BadCrc || check.verdict == ExchangeVerdict::Cut) {
        check.verdict = ExchangeVerdict::WrongLength;
    } else if (check.verdict == ExchangeVerdict::NoAnswer) {
        check.verdict = ExchangeVerdict::WrongSource;
    }
    check.take = check.verdict == ExchangeVerdict::Good ? static_cast<int>(end) : 0;
    return check;
}

std::string ModbusAsciiProtocol::TerminalFrame(std::string_view typed) const {
    return AsciiFrame(typed);
}

std::string ModbusAsciiProtocol::AnswerShown(std::string_view answer) const {
    const AsciiReading reading = ReadAsciiFrame(answer);
    if (!reading.whole || reading.fault != AsciiFault::None) {
        return std::string(answer);
    }
    return HexText(reading.bytes) + "  (" + DescribeAnswer(WithCrc(reading.bytes)) + ")";
}

std::string ModbusAsciiProtocol::AnswerBytes(std::string_view answer) const {
    const AsciiReading reading = ReadAsciiFrame(answer);
    if (!reading.whole || reading.fault != AsciiFault::None) {
        return {};
    }
    return reading.bytes;
}

std::string ModbusAsciiProtocol::WireShown(std::string_view characters) const {
    std::string shown;
    for (const char c : characters) {
        if (c == '\r') {
            shown += "\\r";
        } else if (c == '\n') {
            shown += "\\n";
        } else if (c >= 0x20 && c < 0x7F) {
            shown += c;
        } else {
            shown += "<" + HexText(std::string_view(&c, 1)) + ">";
        }
    }
    return shown;
}

std::unique_ptr<FrameDecoder> ModbusAsciiProtocol::MakeDecoder(
    const DecoderSettings& settings) const {
    return std::make_unique<ModbusAsciiDecoder>(settings, variant_.name, variant_.lastAddress);
}

std::unique_ptr<Responder> ModbusAsciiProtocol::MakeResponder() const {
    return std::make_unique<ModbusAsciiResponder>(variant_.lastAddress);
}

}  // namespace tarvel
