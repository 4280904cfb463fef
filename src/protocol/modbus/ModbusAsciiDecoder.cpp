// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/modbus/ModbusAsciiDecoder.h"

#include <algorithm>
#include <utility>

#include "protocol/modbus/ModbusFrame.h"

namespace tarvel {

using namespace modbus;

namespace {

int ByteAt(std::string_view bytes, std::size_t at) { return static_cast<std::uint8_t>(bytes[at]); }

// Whether `bytes` (no check) are exactly as long as a whole frame of their function going
// `direction`.
bool WholeAs(const std::string& bytes, Direction direction) {
    const std::optional<LengthHint> hint = FrameLength(WithCrc(bytes), direction);
    return hint && hint->whole && hint->length == static_cast<int>(bytes.size()) + 2;
}

}  // namespace

ModbusAsciiDecoder::ModbusAsciiDecoder(DecoderSettings settings, std::string protocolName,
                                       int lastAddress)
    : ModbusPairing(settings, VerdictFamily::ModbusAscii),
      protocolName_(std::move(protocolName)),
      lastAddress_(lastAddress) {}

Duration ModbusAsciiDecoder::Silence() const {
    return std::max(AsciiCharacterGap, settings_.hostDelayAllowance);
}

void ModbusAsciiDecoder::Feed(std::uint8_t byte, Instant arrival) {
    if (!text_.empty() && arrival - settings_.characterTime - stamps_.back() > Silence()) {
        Cut(stamps_.back() + settings_.characterTime + Silence());
    }
    ExpireWindow(arrival);
    CountByte(arrival);
    text_.push_back(static_cast<char>(byte));
    stamps_.push_back(arrival);
    Scan();
}

void ModbusAsciiDecoder::Advance(Instant now) {
    if (!text_.empty() && now - settings_.characterTime - stamps_.back() > Silence()) {
        Cut(stamps_.back() + settings_.characterTime + Silence());
    }
    ExpireWindow(now);
}

std::optional<Instant> ModbusAsciiDecoder::NextDeadline() const {
    if (!text_.empty()) {
        return stamps_.back() + settings_.characterTime + Silence() + Duration{1};
    }
    if (pending_) {
        return WindowEnd() + Duration{1};
    }
    return std::nullopt;
}

void ModbusAsciiDecoder::ExpireWindow(Instant now) {
    // An answer has begun once its ':' is in; one begun in the window is judged when it ends.
    if (pending_ && (text_.empty() || stamps_.front() > WindowEnd())) {
        NoAnswerBy(now);
    }
}

void ModbusAsciiDecoder::Erase(std::size_t count) {
    text_.erase(0, count);
    stamps_.erase(stamps_.begin(), stamps_.begin() + static_cast<std::ptrdiff_t>(count));
}

void ModbusAsciiDecoder::Scan() {
    for (;;) {
        const AsciiReading reading = ReadAsciiFrame(text_);
        if (reading.noise > 0) {
            Noise(reading.noise);
            Erase(reading.noise);
        }
        if (!reading.whole) {
            return;
        }
        std::string frame = text_.substr(0, reading.length);
        const Instant first = stamps_.front();
        const Instant last = stamps_[reading.length - 1];
        Erase(reading.length);
        TakeFrame(std::move(frame), reading, first, last);
    }
}

void ModbusAsciiDecoder::Cut(Instant at) {
    // Scan leaves only a frame under way, from its ':'; the awaited controller's is the answer.
    const bool answer = pending_ && stamps_.front() <= WindowEnd() && text_.size() >= 3 &&
                        SameHexadecimal(text_.substr(1, 2), HexOf(pending_->address));
    if (answer) {
        Judge(ExchangeVerdict::Cut, at, text_, stamps_.front(), stamps_.back());
    } else {
        Noise(text_.size());
    }
    Erase(text_.size());
}

bool ModbusAsciiDecoder::ReadsAsAnswer(const std::string& bytes) const {
    const bool answer = WholeAs(bytes, Direction::Answer);
    const bool request = WholeAs(bytes, Direction::Request);
    if (answer != request) {
        return answer;
    }
    // Both (a write's answer echoes its request) or neither (a function of unknown length): the
    // awaited controller's address and function make it the answer.
    return LikeTheAnswer(bytes) || (!request && ByteAt(bytes, 0) == pending_->address);
}

void ModbusAsciiDecoder::TakeFrame(std::string frame, const AsciiReading& reading, Instant first,
                                   Instant last) {
    CountFrame();
    const bool awaited = AnswerAwaitedAt(first);
    if (reading.fault != AsciiFault::None) {
        ++(reading.fault == AsciiFault::LrcError ? lrcErrors_ : framingErrors_);
        if (awaited) {
            Judge(AsciiFaultVerdict(reading.fault), last, std::move(frame), first, last);
        }
        return;
    }
    const std::string& bytes = reading.bytes;
    if (ByteAt(bytes, 0) > lastAddress_) {
        return;  // sound, but for no station this protocol has
    }
    if (awaited && ReadsAsAnswer(bytes)) {
        // RTU finds a frame by its length; a sound ASCII frame may have any: one its function
        // does not have is the awaited controller's wrong answer.
        const std::optional<LengthHint> hint = FrameLength(WithCrc(bytes), Direction::Answer);
        if (LikeTheAnswer(bytes) && hint && hint->whole && !WholeAs(bytes, Direction::Answer)) {
            Judge(ExchangeVerdict::WrongLength, last, std::move(frame), first, last);
            return;
        }
        HeardAnswer(std::move(frame), bytes, first, last);
        return;
    }
    if (!pending_ && !WholeAs(bytes, Direction::Request) && WholeAs(bytes, Direction::Answer)) {
        return;  // an answer to a request not heard: a frame, and no exchange
    }
    HeardRequest(std::move(frame), bytes, last);
}

}  // namespace tarvel
