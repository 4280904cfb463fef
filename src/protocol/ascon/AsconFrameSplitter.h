// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>

#include "protocol/FrameDecoder.h"

namespace tarvel {

// The Ascon line as a listener hears it: a carriage return ends a frame; a frame that begins
// with an address character and a command character is a request to that address, and the next
// frame is that controller's answer. A write ("!") is followed by its value frame before the
// answer.
class AsconFrameSplitter final : public FrameDecoder {
public:
    explicit AsconFrameSplitter(DecoderSettings settings);

    std::string_view ProtocolName() const override { return "Ascon"; }

    void Feed(std::uint8_t byte, Instant arrival) override;
    void Advance(Instant now) override;
    std::optional<Instant> NextDeadline() const override;

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
    Duration Silence() const {
        return std::max(settings_.characterTime * settings_.silenceCharacters,
                        settings_.hostDelayAllowance);
    }

    std::string frame_;  // the characters of the frame under way
    Instant frameFirst_{};
    Instant frameLast_{};
    std::optional<Pending> pending_;
};

}  // namespace tarvel
