// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/modbus/ModbusFrame.h"
#include "protocol/modbus/ModbusPairing.h"

namespace tarvel {

// The Modbus RTU line (or JBus, its wider address range) as a listener hears it.
//
// A USB adapter hands characters over in bursts, so the stamps cannot show the 3.5-character
// silences that separate frames on the wire. A frame is therefore found by what it says of
// itself: it ends at the length its function implies, once the CRC over that length holds,
// even when the next character came in the same burst. Silence is only a hint: a silence longer
// than the 1.5 characters allowed inside a frame, and longer than the host's delay allowance,
// ends whatever is under way.
//
// The same bytes read differently as a request and as an answer, so after a request that awaits
// its answer the next frame is read as an answer first, and otherwise as a request; the other
// reading is tried before the bytes are called noise. Bytes that make no frame are skipped one at
// a time until a frame starts; no more than a few frames' worth of bytes are ever kept.
class ModbusRtuDecoder final : public ModbusPairing {
public:
    // `lastAddress`: 247 for Modbus, 255 for JBus. `protocolName` is what the warnings show.
    ModbusRtuDecoder(DecoderSettings settings, std::string protocolName, int lastAddress);

    std::string_view ProtocolName() const override { return protocolName_; }

    void Feed(std::uint8_t byte, Instant arrival) override;
    void Advance(Instant now) override;
    std::optional<Instant> NextDeadline() const override;

    // Frames whole by their length whose CRC does not hold, requests and answers alike.
    std::int64_t CrcErrors() const { return crcErrors_; }
    // Frames that began less than 3.5 characters after the frame before them. Counted only where
    // the stamps can prove it: the gap they show plus the host's delay allowance (how late a
    // stamp may be) is still short. Stamps of an adapter that delivers in bursts prove nothing
    // shorter than a burst, so with the default allowance only slow lines can show them.
    std::int64_t ShortGaps() const { return shortGaps_; }
    // Whether any gap can be proved short at all: not where the allowance is as long as the
    // 3.5 characters themselves, and ShortGaps is then 0 whatever the line does.
    bool ShortGapsMeasurable() const;
    std::vector<LineCount> OwnCounts() const override {
        return {{"broadcasts", "broadcasts", Broadcasts()},
                {"crcErrors", "CRC errors", crcErrors_},
                {"shortGaps", "gaps shorter than 3.5 characters", shortGaps_,
                 ShortGapsMeasurable() ? "" : "not measurable at this speed through this port"}};
    }

private:
    // How the bytes from one position read in one direction.
    struct Reading {
        enum Kind { NotAFrame, Incomplete, Holds, Fails } kind = NotAFrame;
        int length = 0;  // the whole length, once the first bytes tell it
    };
    // What the bytes from one position make, both directions weighed.
    struct Decision {
        enum Kind { Wait, Frame, NoFrame } kind = NoFrame;
        int length = 0;
        modbus::Direction direction = modbus::Direction::Request;
    };

    Duration Silence() const;

    Reading Read(std::string_view bytes, modbus::Direction direction) const;
    Decision Decide(std::size_t at, bool final) const;
    // Takes every frame the bytes make; with `cutAt`, a silence has ended them there and no more
    // will come.
    void Scan(std::optional<Instant> cutAt);
    void Cut(Instant at);
    void ExpireWindow(Instant now);
    // The bytes before `junkEnd` made no frame; `next` is the frame found after them, if any.
    void Junk(std::size_t junkEnd, const Decision* next, Instant at);
    void TakeFrame(const Decision& decision);
    void Erase(std::size_t count);

    std::string protocolName_;
    int lastAddress_;
    std::string bytes_;                    // not yet part of a frame or of noise, oldest first
    std::vector<Instant> stamps_;          // the arrival of each of them
    std::size_t scanFrom_ = 0;             // the bytes before it make no frame
    std::optional<Instant> lastFrameEnd_;  // of the frame just before, with no noise between
    std::int64_t crcErrors_ = 0;
    std::int64_t shortGaps_ = 0;
};

}  // namespace tarvel
