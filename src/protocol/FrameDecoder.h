// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Exchange.h"
#include "core/Station.h"
#include "core/Time.h"

namespace tarvel {

// What the host's own delivery can hold characters back by: a USB adapter hands its characters
// over in bursts (an FTDI chip every 16 ms unless told otherwise), so an answer whole on the
// wire can reach the host in two parts. A shorter silence is no silence of the line.
inline constexpr Duration kHostDelayAllowance = std::chrono::milliseconds(25);

// How a listener reads a live line that another master drives.
struct DecoderSettings {
    Duration characterTime{0};  // of one character at the line's speed and framing
    Duration answerWindow = std::chrono::milliseconds(200);  // from the end of the request
    // A frame whose characters stop for longer than this many character times is cut there...
    int silenceCharacters = 10;
    // ... but never for less than this: the host's own delays are no silence of the line.
    Duration hostDelayAllowance = kHostDelayAllowance;
};

// What the listener has seen of one station as a master polls it.
struct PollCycle {
    std::int64_t requests = 0;
    std::optional<Instant> lastRequest;
    Duration totalGap{0};  // between one request to the station and the next
    Duration longestGap{0};
    std::int64_t gaps = 0;
    Duration MeanGap() const { return gaps > 0 ? totalGap / gaps : Duration{0}; }
};

// Splits the characters of a line that another master drives, as they arrive with their stamps,
// into requests and their answers, and judges each exchange as the test cycle judges its own.
// Pure: fed stamped bytes and the passing of time, it gives exchanges; it never writes, so it
// serves any line. Each protocol has its own; what they count of the line is kept here.
class FrameDecoder {
public:
    explicit FrameDecoder(DecoderSettings settings) : settings_(settings) {}
    virtual ~FrameDecoder() = default;

    // The protocol whose traffic it decodes, as the warnings name it.
    virtual std::string_view ProtocolName() const = 0;
    // What this protocol's decoder counts of the line beyond what every decoder does, in the
    // order reports show them.
    struct LineCount {
        std::string key;    // as JSON names it: "crcErrors"
        std::string words;  // as a sentence names it: "CRC errors"
        std::int64_t count = 0;
        // Empty where the count means what it says; else why this line cannot show it, and the
        // count is no count at all: "not measurable at this speed through this port".
        std::string unmeasured{};
    };
    virtual std::vector<LineCount> OwnCounts() const { return {}; }

    // A character whose last stop bit reached the host at `arrival`; arrivals never go back.
    virtual void Feed(std::uint8_t byte, Instant arrival) = 0;
    // The time is now `now` (no character since the last one fed): windows that have expired
    // and frames cut by silence are judged.
    virtual void Advance(Instant now) = 0;
    // When Advance must next be called if no character comes, for a verdict that time alone
    // brings; nothing while no verdict waits.
    virtual std::optional<Instant> NextDeadline() const = 0;

    // The exchanges judged since the last call, in the order of their verdicts.
    std::vector<Exchange> TakeExchanges() {
        std::vector<Exchange> taken;
        taken.swap(judged_);
        return taken;
    }

    // What was heard of the line as a whole.
    std::int64_t Frames() const { return frames_; }  // whole frames, of any kind
    std::int64_t Requests() const { return requests_; }
    std::int64_t NoiseBytes() const { return noiseBytes_; }
    // Noise since the last request heard (since the start, before any).
    std::int64_t NoiseSinceRequest() const { return noiseSinceRequest_; }
    std::int64_t Bytes() const { return bytes_; }
    // The time the line carried characters: one character time for each byte.
    Duration Busy() const { return settings_.characterTime * bytes_; }
    // When the last request was heard, if any; and the first and last characters.
    std::optional<Instant> LastRequest() const { return lastRequest_; }
    std::optional<Instant> FirstByte() const { return firstByte_; }
    std::optional<Instant> LastByte() const { return lastByte_; }
    const PollCycle& PollsOf(Station station) const {
        static const PollCycle none;
        const auto found = polls_.find(station);
        return found == polls_.end() ? none : found->second;
    }
    const DecoderSettings& Settings() const { return settings_; }

protected:
    // A byte has come in at `arrival`.
    void CountByte(Instant arrival) {
        ++bytes_;
        if (!firstByte_) {
            firstByte_ = arrival;
        }
        lastByte_ = arrival;
    }
    void CountFrame() { ++frames_; }
    void Noise(std::size_t bytes) {
        noiseBytes_ += static_cast<std::int64_t>(bytes);
        noiseSinceRequest_ += static_cast<std::int64_t>(bytes);
    }
    // A request to `station` ended at `end`: counted, and the gap since the last one to the
    // station returned.
    std::optional<Duration> CountRequest(Station station, Instant end) {
        ++requests_;
        noiseSinceRequest_ = 0;
        lastRequest_ = end;
        PollCycle& polls = polls_[station];
        ++polls.requests;
        std::optional<Duration> gap;
        if (polls.lastRequest) {
            gap = end - *polls.lastRequest;
            polls.totalGap += *gap;
            polls.longestGap = std::max(polls.longestGap, *gap);
            ++polls.gaps;
        }
        polls.lastRequest = end;
        return gap;
    }
    PollCycle& Polls(Station station) { return polls_[station]; }
    void Judged(Exchange exchange) { judged_.push_back(std::move(exchange)); }

    DecoderSettings settings_;

private:
    std::vector<Exchange> judged_;
    std::map<Station, PollCycle> polls_;
    std::int64_t frames_ = 0;
    std::int64_t requests_ = 0;
    std::int64_t noiseBytes_ = 0;
    std::int64_t noiseSinceRequest_ = 0;
    std::int64_t bytes_ = 0;
    std::optional<Instant> lastRequest_;
    std::optional<Instant> firstByte_;
    std::optional<Instant> lastByte_;
};

}  // namespace tarvel
