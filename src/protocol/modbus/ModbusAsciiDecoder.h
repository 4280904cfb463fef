// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/modbus/ModbusAsciiFrame.h"
#include "protocol/modbus/ModbusPairing.h"

namespace tarvel {

// The Modbus ASCII line (or JBus, its wider address range) as a listener hears it. A frame runs
// from its ':' to its CR LF whatever silences fall between: only one longer than a second (and
// than the host's delay allowance) ends a frame unfinished. A ':' always begins a new frame, and
// what came before it is noise. Whether a frame is a request or the awaited answer is told by
// what its bytes say, as the RTU listener tells it.
class ModbusAsciiDecoder final : public ModbusPairing {
public:
    ModbusAsciiDecoder(DecoderSettings settings, std::string protocolName, int lastAddress);

    std::string_view ProtocolName() const override { return protocolName_; }

    void Feed(std::uint8_t byte, Instant arrival) override;
    void Advance(Instant now) override;
    std::optional<Instant> NextDeadline() const override;

    // Whole frames whose LRC does not hold, requests and answers alike.
    std::int64_t LrcErrors() const { return lrcErrors_; }
    // Whole frames that were no sound frame otherwise: characters that are not hexadecimal, an
    // odd number of them, no LF after the CR, too few or too many bytes.
    std::int64_t FramingErrors() const { return framingErrors_; }
    std::vector<LineCount> OwnCounts() const override {
        return {{"broadcasts", "broadcasts", Broadcasts()},
                {"lrcErrors", "LRC errors", lrcErrors_},
                {"framingErrors", "frames not hexadecimal, odd or without LF", framingErrors_}};
    }

private:
    Duration Silence() const;
    void ExpireWindow(Instant now);
    // Takes every whole frame in the text and drops the noise before it.
    void Scan();
    // A silence has ended what was under way at `at`: a frame that never ended.
    void Cut(Instant at);
    void TakeFrame(std::string frame, const modbus::AsciiReading& reading, Instant first,
                   Instant last);
    bool ReadsAsAnswer(const std::string& bytes) const;
    void Erase(std::size_t count);

    std::string protocolName_;
    int lastAddress_;
    std::string text_;             // not yet part of a frame or of noise, oldest first
    std::vector<Instant> stamps_;  // the arrival of each of them
    std::int64_t lrcErrors_ = 0;
    std::int64_t framingErrors_ = 0;
};

}  // namespace tarvel
