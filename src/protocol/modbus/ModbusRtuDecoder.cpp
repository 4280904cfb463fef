// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/modbus/ModbusRtuDecoder.h"

#include <algorithm>
#include <utility>

namespace tarvel {
namespace {

using modbus::Direction;

int ByteAt(std::string_view bytes, std::size_t at) { return static_cast<std::uint8_t>(bytes[at]); }

Direction Other(Direction direction) {
    return direction == Direction::Request ? Direction::Answer : Direction::Request;
}

}  // namespace

ModbusRtuDecoder::ModbusRtuDecoder(DecoderSettings settings, std::string protocolName,
                                   int lastAddress)
    : ModbusPairing(settings, VerdictFamily::ModbusRtu),
      protocolName_(std::move(protocolName)),
      lastAddress_(lastAddress) {}

bool ModbusRtuDecoder::ShortGapsMeasurable() const {
    return settings_.hostDelayAllowance < modbus::FrameGap(settings_.characterTime);
}

Duration ModbusRtuDecoder::Silence() const {
    return std::max(modbus::CharacterGap(settings_.characterTime), settings_.hostDelayAllowance);
}

// Silences run from the end of one character to the start of the next, which began one
// character time before its stamp: a character that has not arrived by `now` began after
// now - characterTime.
void ModbusRtuDecoder::Feed(std::uint8_t byte, Instant arrival) {
    if (!bytes_.empty() && arrival - settings_.characterTime - stamps_.back() > Silence()) {
        Cut(stamps_.back() + settings_.characterTime + Silence());
    }
    ExpireWindow(arrival);
    CountByte(arrival);
    bytes_.push_back(static_cast<char>(byte));
    stamps_.push_back(arrival);
    Scan(std::nullopt);
}

void ModbusRtuDecoder::Advance(Instant now) {
    if (!bytes_.empty() && now - settings_.characterTime - stamps_.back() > Silence()) {
        Cut(stamps_.back() + settings_.characterTime + Silence());
    }
    ExpireWindow(now);
}

std::optional<Instant> ModbusRtuDecoder::NextDeadline() const {
    if (!bytes_.empty()) {
        return stamps_.back() + settings_.characterTime + Silence() + Duration{1};
    }
    if (pending_) {
        return WindowEnd() + Duration{1};
    }
    return std::nullopt;
}

void ModbusRtuDecoder::ExpireWindow(Instant now) {
    // An answer has begun once its first byte is in; bytes that began in the window are judged
    // when they make a frame or a silence ends them.
    if (pending_ && (bytes_.empty() || stamps_.front() > WindowEnd())) {
        NoAnswerBy(now);
    }
}

void ModbusRtuDecoder::Cut(Instant at) { Scan(at); }

ModbusRtuDecoder::Reading ModbusRtuDecoder::Read(std::string_view bytes,
                                                 Direction direction) const {
    const int address = ByteAt(bytes, 0);
    const int lowest = direction == Direction::Request ? modbus::BroadcastAddress : 1;
    if (address < lowest || address > lastAddress_) {
        return {Reading::NotAFrame, 0};
    }
    const std::optional<modbus::LengthHint> hint = modbus::FrameLength(bytes, direction);
    if (!hint || hint->length > modbus::LongestFrame) {
        return {Reading::NotAFrame, 0};
    }
    if (!hint->whole || bytes.size() < static_cast<std::size_t>(hint->length)) {
        return {Reading::Incomplete, hint->whole ? hint->length : 0};
    }
    const bool holds = modbus::CrcHolds(bytes.substr(0, static_cast<std::size_t>(hint->length)));
    return {holds ? Reading::Holds : Reading::Fails, hint->length};
}

ModbusRtuDecoder::Decision ModbusRtuDecoder::Decide(std::size_t at, bool final) const {
    const std::string_view bytes = std::string_view(bytes_).substr(at);
    const Direction first = AnswerAwaitedAt(stamps_[at]) ? Direction::Answer : Direction::Request;
    const Direction second = Other(first);
    Reading a = Read(bytes, first);
    Reading b = Read(bytes, second);
    if (final) {
        // Nothing more comes before the silence: what is not whole never will be.
        for (Reading* reading : {&a, &b}) {
            if (reading->kind == Reading::Incomplete) {
                reading->kind = Reading::NotAFrame;
            }
        }
    }
    const auto frame = [](const Reading& reading, Direction direction) {
        return Decision{Decision::Frame, reading.length, direction};
    };
    // The awaited controller's answer begins with its address and the request's function (or
    // the function with the exception bit).
    const auto likeTheAnswer = [&] { return LikeTheAnswer(bytes); };
    if (a.kind == Reading::Holds && b.kind == Reading::Holds) {
        // A frame followed by a zero byte holds its CRC one byte later too (the CRC of a frame
        // and its own CRC's low byte is that CRC's high byte): the shorter reading is the frame.
        if (a.length != b.length) {
            return a.length < b.length ? frame(a, first) : frame(b, second);
        }
        // A write's answer is the echo of its request, so either reading holds: an answer is
        // from the address that was asked, and the master's next request is likelier than an
        // answer from anywhere else.
        if (first == Direction::Answer && ByteAt(bytes, 0) != pending_->address) {
            return frame(b, second);
        }
        return frame(a, first);
    }
    if (a.kind == Reading::Holds) {
        return frame(a, first);
    }
    if (a.kind == Reading::Incomplete) {
        // A request that holds while the answer is still to come: the master has gone on, or
        // asks again; unless the bytes may yet be the answer itself, whose first bytes hold as a
        // request once in 65536.
        if (b.kind != Reading::Holds) {
            return Decision{Decision::Wait, 0, first};
        }
        if (first == Direction::Answer && likeTheAnswer() &&
            bytes.substr(0, static_cast<std::size_t>(b.length)) != pending_->request.frame) {
            return Decision{Decision::Wait, 0, first};
        }
        return frame(b, second);
    }
    if (b.kind == Reading::Holds) {
        // A CRC holds by chance once in 65536 tries. The awaited answer, whole to the very count
        // its request asks for but struck by noise, runs into the next frame on a busy line: a
        // request read over both is likelier such a chance than the master's.
        if (first == Direction::Answer && a.kind == Reading::Fails && b.length > a.length &&
            likeTheAnswer() && CountFits(bytes)) {
            return Decision{Decision::NoFrame, 0, first};
        }
        return frame(b, second);
    }
    if (b.kind == Reading::Incomplete) {
        return Decision{Decision::Wait, 0, second};
    }
    return Decision{Decision::NoFrame, 0, first};
}

void ModbusRtuDecoder::Scan(std::optional<Instant> cutAt) {
    const bool final = cutAt.has_value();
    while (scanFrom_ < bytes_.size()) {
        const Decision decision = Decide(scanFrom_, final);
        if (decision.kind == Decision::Wait) {
            return;
        }
        if (decision.kind == Decision::Frame) {
            if (scanFrom_ > 0) {
                // What the bytes before the frame were may change what is awaited, and so how
                // the frame reads.
                Junk(scanFrom_, &decision, stamps_[scanFrom_]);
                continue;
            }
            TakeFrame(decision);
            continue;
        }
        // No frame starts here; one may start at the next byte.
        ++scanFrom_;
        if (scanFrom_ >= static_cast<std::size_t>(modbus::LongestFrame)) {
            Junk(scanFrom_, nullptr, stamps_[scanFrom_ - 1]);
        }
    }
    if (final && scanFrom_ > 0) {
        Junk(scanFrom_, nullptr, *cutAt);
    }
}

void ModbusRtuDecoder::Erase(std::size_t count) {
    bytes_.erase(0, count);
    stamps_.erase(stamps_.begin(), stamps_.begin() + static_cast<std::ptrdiff_t>(count));
    scanFrom_ = scanFrom_ > count ? scanFrom_ - count : 0;
}

void ModbusRtuDecoder::Junk(std::size_t junkEnd, const Decision* next, Instant at) {
    const std::string junk = bytes_.substr(0, junkEnd);
    const std::vector<Instant> stamps(stamps_.begin(),
                                      stamps_.begin() + static_cast<std::ptrdiff_t>(junkEnd));
    Erase(junkEnd);
    lastFrameEnd_.reset();  // the gap before the next frame is no gap between frames
    const bool whole = junk.size() >= static_cast<std::size_t>(modbus::ShortestFrame) &&
                       ByteAt(junk, 0) <= lastAddress_ && modbus::CrcHolds(junk);

    if (pending_ && stamps.front() <= WindowEnd()) {
        // A glitch before the answer itself is only noise. As many bytes as the shortest answer
        // may have been the answer, struck, and what follows the master's next request: a write
        // again reads as its own echo.
        const bool answerNext = next != nullptr && next->direction == Direction::Answer &&
                                ByteAt(bytes_, 0) == pending_->address &&
                                junk.size() < static_cast<std::size_t>(modbus::ExceptionLength);
        if (!answerNext) {
            if (whole && ByteAt(junk, 0) == pending_->address) {
                // Its CRC holds over a length its function does not have.
                CountFrame();
                const int function = ByteAt(junk, 1) & ~modbus::ExceptionBit;
                Judge(function == pending_->function ? ExchangeVerdict::WrongLength
                                                     : ExchangeVerdict::WrongSource,
                      stamps.back(), junk, stamps.front(), stamps.back());
                return;
            }
            const Reading reading = Read(junk, Direction::Answer);
            if (reading.kind == Reading::Fails) {
                // Whole by its length: noise may have struck the address too, so it is the
                // answer whatever address it shows.
                const auto length = static_cast<std::size_t>(reading.length);
                CountFrame();
                ++crcErrors_;
                Judge(ExchangeVerdict::BadCrc, stamps[length - 1], junk.substr(0, length),
                      stamps.front(), stamps[length - 1]);
                Noise(junk.size() - length);
                return;
            }
            if (reading.kind == Reading::Incomplete && ByteAt(junk, 0) == pending_->address) {
                Judge(ExchangeVerdict::Cut, at, junk, stamps.front(), stamps.back());
                return;
            }
        }
    }
    if (whole) {
        // A frame of a function whose length this decoder does not know.
        CountFrame();
        return;
    }
    for (const Direction direction : {Direction::Request, Direction::Answer}) {
        const Reading reading = Read(junk, direction);
        if (reading.kind == Reading::Fails &&
            static_cast<std::size_t>(reading.length) == junk.size()) {
            // Exactly one frame's length between frames or silences: a frame noise has struck.
            CountFrame();
            ++crcErrors_;
            return;
        }
    }
    Noise(junk.size());
}

void ModbusRtuDecoder::TakeFrame(const Decision& decision) {
    const auto length = static_cast<std::size_t>(decision.length);
    std::string frame = bytes_.substr(0, length);
    const Instant first = stamps_.front();
    const Instant last = stamps_[length - 1];
    Erase(length);
    CountFrame();
    if (lastFrameEnd_) {
        // The stamps may be late by up to the host's allowance: only a gap short even so is
        // surely short.
        const Duration gap = first - settings_.characterTime - *lastFrameEnd_;
        if (gap + settings_.hostDelayAllowance < modbus::FrameGap(settings_.characterTime)) {
            ++shortGaps_;
        }
    }
    lastFrameEnd_ = last;
    if (decision.direction == Direction::Request) {
        std::string bytes = frame;
        HeardRequest(std::move(frame), std::move(bytes), last);
    } else {
        const std::string bytes = frame;
        HeardAnswer(std::move(frame), bytes, first, last);
    }
}

}  // namespace tarvel
