// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/Exchange.h"
#include "core/Time.h"

namespace tarvel {

// How a listener reads a live line that another master drives.
struct SplitterSettings {
    Duration characterTime{0};  // of one character at the line's speed and framing
    Duration answerWindow = std::chrono::milliseconds(200);  // from the request's carriage return
    // A frame whose characters stop for longer than this many character times is cut there...
    int silenceCharacters = 10;
    // ... but never for less than this: the host's own delays are no silence of the line. A USB
    // adapter hands its characters over in bursts (an FTDI chip every 16 ms unless told
    // otherwise), so an answer whole on the wire can reach the host in two parts.
    Duration hostDelayAllowance = std::chrono::milliseconds(25);
};

// What the listener has seen of one address as a master polls it.
struct PollCycle {
    std::int64_t requests = 0;
    std::optional<Instant> lastRequest;
    Duration totalGap{0};  // between one request to the address and the next
    Duration longestGap{0};
    std::int64_t gaps = 0;
    Duration MeanGap() const { return gaps > 0 ? totalGap / gaps : Duration{0}; }
};

// Splits the characters of a line that another master drives, as they arrive with their stamps,
// into requests and their answers, and judges each exchange as the test cycle judges its own: a
// carriage return ends a frame; a frame that begins with an address character and a command
// character is a request to that address, and the next frame is that controller's answer. A
// write ("!") is followed by its value frame before the answer. Pure: fed stamped bytes and the
// passing of time, it gives exchanges; it never writes, so it serves any line.
class FrameSplitter {
public:
    explicit FrameSplitter(SplitterSettings settings);

    // A character whose last stop bit reached the host at `arrival`; arrivals never go back.
    void Feed(std::uint8_t byte, Instant arrival);
    // The time is now `now` (no character since the last one fed): windows that have expired
    // and frames cut by silence are judged.
    void Advance(Instant now);
    // When Advance must next be called if no character comes, for a verdict that time alone
    // brings; nothing while no verdict waits.
    std::optional<Instant> NextDeadline() const;

    // The exchanges judged since the last call, in the order of their verdicts.
    std::vector<Exchange> TakeExchanges();

    // What was heard of the line as a whole.
    std::int64_t Frames() const { return frames_; }  // carriage-return frames, of any kind
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
    const PollCycle& PollsOf(char address) const;
    const SplitterSettings& Settings() const { return settings_; }

    // A read request of the test cycle: "A?X  " and a carriage return.
    static bool IsReadRequest(const std::string& frame);

private:
    struct Pending {
        Request request;
        Instant end{};                // of the request's last carriage return
        bool awaitingValue = false;   // a write whose value frame has not come yet
        std::optional<Duration> gap;  // since the last request to the address, to its first CR
    };

    void FrameEnded();
    void CutFrame(Instant at);
    void HeardRequest(std::string frame, Instant end);
    void Judge(ExchangeVerdict verdict, Instant at, std::string answer,
               std::optional<Instant> first, std::optional<Instant> last);
    void Noise(std::size_t bytes) {
        noiseBytes_ += static_cast<std::int64_t>(bytes);
        noiseSinceRequest_ += static_cast<std::int64_t>(bytes);
    }
    Duration Silence() const {
        return std::max(settings_.characterTime * settings_.silenceCharacters,
                        settings_.hostDelayAllowance);
    }

    SplitterSettings settings_;
    std::string frame_;  // the characters of the frame under way
    Instant frameFirst_{};
    Instant frameLast_{};
    std::optional<Pending> pending_;
    std::vector<Exchange> judged_;
    std::array<PollCycle, 64> polls_{};
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
