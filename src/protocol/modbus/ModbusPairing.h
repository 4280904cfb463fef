// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/FrameDecoder.h"

namespace tarvel {

// What the Modbus framings' listeners share once a frame has been found: a request to one
// controller awaits its answer for the answer window, an answer is judged against the request
// (address, function, the count its function asks for), and a master that goes on to its next
// request, or a window that runs out, leaves the request without an answer. Each framing finds
// its frames its own way and hands them here with the bytes they carry (address, function,
// data; a check may follow them).
class ModbusPairing : public FrameDecoder {
public:
    ModbusPairing(DecoderSettings settings, VerdictFamily family)
        : FrameDecoder(settings), family_(family) {}

    // Requests to address 0, which every controller takes and none answers.
    std::int64_t Broadcasts() const { return broadcasts_; }

protected:
    struct Pending {
        Request request;
        std::string bytes;  // what the request carries, as the answer is judged against it
        Instant end{};      // of the request's last character
        int address = 0;
        int function = 0;
    };

    Instant WindowEnd() const { return pending_->end + settings_.answerWindow; }
    bool AnswerAwaitedAt(Instant first) const { return pending_ && first <= WindowEnd(); }
    // The awaited answer's first bytes: the address asked and the function (with or without the
    // exception bit).
    bool LikeTheAnswer(std::string_view bytes) const;

    // A request whose last character reached the host at `end`; `frame` as it went on the wire.
    // A request still awaiting its answer had none: the master went on.
    void HeardRequest(std::string frame, std::string bytes, Instant end);
    // The byte count of `answer`, if its function has one, is what the awaited request asks for.
    bool CountFits(std::string_view answer) const;
    void HeardAnswer(std::string frame, std::string_view bytes, Instant first, Instant last);
    // The window has run out by `now` with nothing of an answer begun before its end.
    void NoAnswerBy(Instant now) {
        if (pending_ && now > WindowEnd()) {
            Judge(ExchangeVerdict::NoAnswer, WindowEnd(), std::string(), std::nullopt,
                  std::nullopt);
        }
    }
    void Judge(ExchangeVerdict verdict, Instant at, std::string arrived,
               std::optional<Instant> first, std::optional<Instant> last,
               std::optional<int> exceptionCode = std::nullopt);

    std::optional<Pending> pending_;

private:
    VerdictFamily family_;
    std::int64_t broadcasts_ = 0;
};

}  // namespace tarvel
