// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/modbus/ModbusRtuProtocol.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>

#include "core/HexText.h"
#include "protocol/modbus/ModbusFrame.h"
#include "protocol/modbus/ModbusRtuDecoder.h"
#include "protocol/modbus/ModbusRtuResponder.h"

namespace tarvel {

using namespace modbus;

namespace {

std::uint8_t At(std::string_view bytes, std::size_t index) {
    return static_cast<std::uint8_t>(bytes[index]);
}

// The function a request asks, as the answer must name it.
std::uint8_t FunctionOf(const Request& request) {
    return request.frame.size() >= 2 ? At(request.frame, 1)
                                     : static_cast<std::uint8_t>(ReadHoldingRegisters);
}

// The length of a whole answer to a read of holding registers, from the count it asks.
std::optional<int> ReadAnswerLength(const Request& request) {
    if (request.frame.size() < 6 || FunctionOf(request) != ReadHoldingRegisters) {
        return std::nullopt;
    }
    return 5 + 2 * (At(request.frame, 4) << 8 | At(request.frame, 5));
}

// Whether the answer to `request` has a length this program knows (an exception always has).
bool AnswerLengthKnown(const Request& request) {
    if (request.frame.size() < 2) {
        return true;
    }
    return FrameLength(request.frame.substr(0, 2), Direction::Answer).has_value();
}

// Whether the line fell silent for longer than a frame allows anywhere among the first `count`
// characters: a controller hears such a frame as two, and so does this program. What the
// host's own delivery can hold back is not counted as a silence.
bool SilentInside(const ArrivedAnswer& answer, std::size_t count) {
    return answer.arrivals.size() == answer.bytes.size() &&
           SilentBetween(answer.arrivals, answer.characterTime, 0, count,
                         std::max(CharacterGap(answer.characterTime), answer.hostDelayAllowance));
}

}  // namespace

ModbusRtuProtocol::ModbusRtuProtocol(Variant variant, RequestChoice read)
    : variant_(std::move(variant)), read_(read) {}

std::vector<Station> ModbusRtuProtocol::Stations() const {
    std::vector<Station> stations;
    for (Station address = 1; address <= variant_.lastAddress; ++address) {
        stations.push_back(address);
    }
    return stations;
}

std::string ModbusRtuProtocol::StationText(Station station) const {
    return std::to_string(station);
}

std::optional<Station> ModbusRtuProtocol::StationFrom(std::string_view text) const {
    int address = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), address);
    if (error != std::errc() || end != text.data() + text.size() || text.empty() || address < 1 ||
        address > variant_.lastAddress) {
        return std::nullopt;
    }
    return address;
}

ExchangeTimings ModbusRtuProtocol::Timings(ExchangeKind kind, Duration characterTime) const {
    // The terminal sends one frame: no pause between frames.
    if (kind == ExchangeKind::Terminal) {
        return {Duration{0}, DefaultAnswerWindow};
    }
    return {FrameGap(characterTime), DefaultAnswerWindow, true};
}

Duration ModbusRtuProtocol::SettleTime(Duration characterTime) const {
    // Long enough for what is left of a bad answer to end, and the frame gap after it.
    return FrameGap(characterTime) + std::chrono::milliseconds(20);
}

std::string ModbusRtuProtocol::RequestFor(Station station, ExchangeKind /*kind*/) const {
    if (station < 1 || station > variant_.lastAddress) {
        throw std::out_of_range("no " + variant_.name + " address has the number " +
                                std::to_string(station));
    }
    return ReadHoldingRequest(station, read_.start, read_.count);
}

int ModbusRtuProtocol::HealthyAnswerLength(const Request& request) const {
    return ReadAnswerLength(request).value_or(ExceptionLength);
}

int ModbusRtuProtocol::AnswerLength(const Request& request, std::string_view arrived) const {
    if (!AnswerLengthKnown(request) &&
        (arrived.size() < 2 || At(arrived, 1) != (FunctionOf(request) | ExceptionBit))) {
        return 0;
    }
    if (arrived.size() < 2) {
        return ExceptionLength;  // the shortest answer there is
    }
    const std::uint8_t function = At(arrived, 1);
    if (function == (FunctionOf(request) | ExceptionBit)) {
        return ExceptionLength;
    }
    // An answer for another function is wrong however long it is; it is read whole where its
    // length is known, so that its CRC tells noise from a controller that answers amiss.
    const std::optional<LengthHint> length = FrameLength(arrived, Direction::Answer);
    return length ? length->length : ExceptionLength;
}

Duration ModbusRtuProtocol::AnswerEndingSilence(Duration characterTime,
                                                Duration hostDelayAllowance) const {
    return std::max(FrameGap(characterTime), hostDelayAllowance);
}

AnswerCheck ModbusRtuProtocol::CheckAnswer(const Request& request, ExchangeKind /*kind*/, bool late,
                                           const ArrivedAnswer& answer) const {
    const std::string_view arrived = answer.bytes;
    if (arrived.empty()) {
        return {ExchangeVerdict::NoAnswer, 0, std::nullopt};
    }
    // An answer of unknown length is all that came before the silence that ended it.
    const int lengthOf = AnswerLength(request, arrived);
    const std::size_t length = lengthOf > 0 ? static_cast<std::size_t>(lengthOf) : arrived.size();
    if (arrived.size() < length) {
        // Bytes that do not even begin with the controller's address are no answer of its:
        // a dead controller on a line with a glitch stays a missing answer, not a garbled one.
        if (!request.frame.empty() && arrived.front() != request.frame.front()) {
            return {ExchangeVerdict::NoAnswer, 0, std::nullopt};
        }
        if (SilentInside(answer, arrived.size())) {
            return {ExchangeVerdict::Cut, 0, std::nullopt};
        }
        // Whole as far as its CRC says, but shorter than its function asks: a frame of its own,
        // not one that stopped half-way.
        if (late && CrcHolds(arrived)) {
            return {ExchangeVerdict::WrongLength, 0, std::nullopt};
        }
        // As many bytes as the request asks for came, but a count byte hit by noise promised
        // more: the CRC over the length asked cannot hold either.
        if (const auto asked = ReadAnswerLength(request);
            asked && arrived.size() >= static_cast<std::size_t>(*asked)) {
            return {ExchangeVerdict::BadCrc, 0, std::nullopt};
        }
        return {ExchangeVerdict::Cut, 0, std::nullopt};
    }
    // Its bytes may make the whole length and even a CRC that holds, but a silence inside made
    // two frames of it on the wire.
    if (SilentInside(answer, length)) {
        return {ExchangeVerdict::Cut, 0, std::nullopt};
    }
    const std::string_view frame = arrived.substr(0, length);
    // A character hit by noise can make any of the others look wrong: the CRC is asked first.
    if (!CrcHolds(frame)) {
        return {ExchangeVerdict::BadCrc, 0, std::nullopt};
    }
    const std::uint8_t function = FunctionOf(request);
    const bool addressed = request.frame.empty() || At(frame, 0) == At(request.frame, 0);
    if (!addressed || (At(frame, 1) & ~ExceptionBit) != function) {
        return {ExchangeVerdict::WrongSource, 0, std::nullopt};
    }
    const int take = static_cast<int>(length);
    if ((At(frame, 1) & ExceptionBit) != 0) {
        return {ExchangeVerdict::Good, take, At(frame, 2)};
    }
    // A read answer counts the registers asked.
    if (function == ReadHoldingRegisters && request.frame.size() >= 6) {
        const int asked = At(request.frame, 4) << 8 | At(request.frame, 5);
        if (At(frame, 2) != asked * 2) {
            return {ExchangeVerdict::WrongLength, 0, std::nullopt};
        }
    }
    return {ExchangeVerdict::Good, take, std::nullopt};
}

std::string ModbusRtuProtocol::TerminalFrame(std::string_view typed) const {
    return WithCrc(std::string(typed));
}

std::string ModbusRtuProtocol::AnswerShown(std::string_view answer) const {
    return HexText(answer) + "  (" + DescribeAnswer(answer) + ")";
}

std::string ModbusRtuProtocol::AnswerBytes(std::string_view answer) const {
    return std::string(answer.substr(0, answer.size() < 2 ? 0 : answer.size() - 2));
}

std::unique_ptr<FrameDecoder> ModbusRtuProtocol::MakeDecoder(
    const DecoderSettings& settings) const {
    return std::make_unique<ModbusRtuDecoder>(settings, variant_.name, variant_.lastAddress);
}

std::unique_ptr<Responder> ModbusRtuProtocol::MakeResponder() const {
    return std::make_unique<ModbusRtuResponder>(variant_.lastAddress);
}

}  // namespace tarvel
