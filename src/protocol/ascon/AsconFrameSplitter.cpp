// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/ascon/AsconFrameSplitter.h"

#include <algorithm>
#include <cstring>

#include "core/DeviceTable.h"
#include "protocol/ascon/AsconFrame.h"

namespace tarvel {
namespace {

constexpr std::size_t kLongestFrame = 64;

bool IsAddress(char c) {
    const int index = AddressIndexOf(c);
    return index >= 0 && index < kAddressCount;
}

bool IsCommand(char c) { return c != '\0' && std::strchr(AsconCommands, c) != nullptr; }

// A request begins at `at`: an address character, a command character, and the frame's
// carriage return after them at the earliest.
bool RequestAt(const std::string& frame, std::size_t at) {
    return frame.size() >= at + 3 && IsAddress(frame[at]) && IsCommand(frame[at + 1]);
}

}  // namespace

AsconFrameSplitter::AsconFrameSplitter(DecoderSettings settings) : FrameDecoder(settings) {}

bool AsconFrameSplitter::IsReadRequest(const std::string& frame) {
    return frame.size() == 6 && IsAddress(frame[0]) && frame == AsconRequest(frame[0]);
}

void AsconFrameSplitter::Feed(std::uint8_t byte, Instant arrival) {
    Advance(arrival);
    CountByte(arrival);
    if (frame_.empty()) {
        frameFirst_ = arrival;
    }
    frameLast_ = arrival;
    frame_.push_back(static_cast<char>(byte));
    if (byte == AsconFrameEnd) {
        FrameEnded();
    } else if (frame_.size() >= kLongestFrame) {
        // No Ascon frame is this long: a line at another speed, which may never show a carriage
        // return nor a silence, must not grow the frame without end.
        CutFrame(arrival);
    }
}

void AsconFrameSplitter::Advance(Instant now) {
    if (!frame_.empty() && now - frameLast_ > Silence()) {
        CutFrame(frameLast_ + Silence());
    }
    // An answer has begun once its first character is in; none came within the window.
    if (pending_ && frame_.empty() && now > pending_->end + settings_.answerWindow) {
        Judge(ExchangeVerdict::NoAnswer, pending_->end + settings_.answerWindow, std::string(),
              std::nullopt, std::nullopt);
    }
}

std::optional<Instant> AsconFrameSplitter::NextDeadline() const {
    if (!frame_.empty()) {
        return frameLast_ + Silence() + Duration{1};
    }
    if (pending_) {
        return pending_->end + settings_.answerWindow + Duration{1};
    }
    return std::nullopt;
}

void AsconFrameSplitter::CutFrame(Instant at) {
    std::string cut;
    cut.swap(frame_);
    // A request to another address whose carriage return noise took: the master has gone on,
    // and the waiting request had no answer.
    const bool otherRequest =
        pending_ && RequestAt(cut + '\r', 0) && cut[0] != pending_->request.stationText[0];
    if (pending_ && !pending_->awaitingValue && !otherRequest) {
        // An answer that stopped before its carriage return: garbled.
        Judge(ExchangeVerdict::NoCr, at, cut, frameFirst_, frameLast_);
        return;
    }
    if (otherRequest) {
        Judge(ExchangeVerdict::NoAnswer, at, std::string(), std::nullopt, std::nullopt);
    }
    Noise(cut.size());
}

void AsconFrameSplitter::FrameEnded() {
    CountFrame();
    std::string frame;
    frame.swap(frame_);
    const Instant first = frameFirst_;
    const Instant last = frameLast_;
    if (pending_ && pending_->awaitingValue && !RequestAt(frame, 0)) {
        // The value frame of a write: the request is whole at its carriage return, and the
        // window for the answer starts there.
        pending_->request.frame += frame;
        // A write ends at its value frame's carriage return, for its poll cycle too.
        PollCycle& polls = Polls(pending_->request.station);
        if (pending_->gap) {
            const Duration later = last - pending_->end;
            polls.totalGap += later;
            polls.longestGap = std::max(polls.longestGap, *pending_->gap + later);
        }
        polls.lastRequest = last;
        pending_->end = last;
        pending_->request.written =
            last -
            settings_.characterTime * static_cast<std::int64_t>(pending_->request.frame.size());
        pending_->awaitingValue = false;
        return;
    }
    // Within the answer window the line is the addressed controller's: a frame from its address
    // is its answer, even when noise has made its second character look like a command. Only the
    // same request again (the first frame of it, for a write) is the master's own retry.
    const bool repeated = pending_ && pending_->request.frame.compare(0, frame.size(), frame) == 0;
    const bool answerOfPending = pending_ && frame[0] == pending_->request.stationText[0] &&
                                 first <= pending_->end + settings_.answerWindow && !repeated;
    if (RequestAt(frame, 0) && !answerOfPending) {
        if (pending_) {
            // The master went on to the next request: the last one had no answer.
            Judge(ExchangeVerdict::NoAnswer, last, std::string(), std::nullopt, std::nullopt);
        }
        HeardRequest(std::move(frame), last);
        return;
    }
    if (pending_) {
        const bool wrongCount = IsReadRequest(pending_->request.frame) &&
                                frame.size() != static_cast<std::size_t>(AnswerLength);
        Judge(wrongCount ? ExchangeVerdict::WrongCount : ExchangeVerdict::Good, last, frame, first,
              last);
        return;
    }
    // Noise before a request, with no silence between them: the request is still heard.
    for (std::size_t at = 1; at < frame.size(); ++at) {
        if (RequestAt(frame, at)) {
            Noise(at);
            HeardRequest(frame.substr(at), last);
            return;
        }
    }
    Noise(frame.size());
}

void AsconFrameSplitter::HeardRequest(std::string frame, Instant end) {
    const char address = frame[0];
    const std::optional<Duration> gap = CountRequest(AddressIndexOf(address), end);

    Pending pending;
    pending.request.station = AddressIndexOf(address);
    pending.request.stationText = std::string(1, address);
    pending.request.position = AddressIndexOf(address);
    pending.request.attempt = 0;
    pending.request.written =
        end - settings_.characterTime * static_cast<std::int64_t>(frame.size());
    pending.end = end;
    pending.awaitingValue = frame[1] == '!';
    pending.gap = gap;
    pending.request.frame = std::move(frame);
    pending_ = std::move(pending);
}

void AsconFrameSplitter::Judge(ExchangeVerdict verdict, Instant at, std::string answer,
                               std::optional<Instant> first, std::optional<Instant> last) {
    Exchange exchange;
    exchange.request = std::move(pending_->request);
    pending_.reset();
    exchange.verdict = verdict;
    exchange.received = static_cast<int>(answer.size());
    exchange.arrived = answer;
    if (verdict == ExchangeVerdict::Good) {
        exchange.answer = std::move(answer);
    }
    exchange.judged = at;
    exchange.firstArrival = first;
    exchange.lastArrival = last;
    Judged(std::move(exchange));
}

}  // namespace tarvel
