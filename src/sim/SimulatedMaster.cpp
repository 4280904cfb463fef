// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/SimulatedMaster.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "protocol/ascon/AsconFrame.h"

namespace tarvel {

ExchangeVerdict CycleVerdictOf(const MasterPoll& poll) {
    if (poll.answer.empty()) {
        return ExchangeVerdict::NoAnswer;
    }
    const std::size_t cr = poll.answer.find('\r');
    if (cr == std::string::npos) {
        return ExchangeVerdict::NoCr;
    }
    return !poll.write && cr + 1 != static_cast<std::size_t>(AnswerLength)
               ? ExchangeVerdict::WrongCount
               : ExchangeVerdict::Good;
}

SimulatedMaster::SimulatedMaster(SimulatedBus bus, MasterSchedule schedule, LineSettings settings)
    : bus_(std::move(bus)),
      schedule_(std::move(schedule)),
      settings_(settings),
      characterTime_(CharacterTime(settings)),
      addresses_(schedule_.addresses) {
    // The master's own adapter is not the listener's: what it might echo never reaches the line.
    bus_.SetEcho(false);
    if (addresses_.empty()) {
        for (const SimulatedController& controller : bus_.Controllers()) {
            addresses_.push_back(controller.address[0]);
        }
    }
}

void SimulatedMaster::Send(const std::string& frame, Instant start, MasterPoll& poll,
                           std::vector<TimedByte>& wire) {
    Instant at = start;
    for (const char c : frame) {
        at += characterTime_;
        const auto byte = static_cast<std::uint8_t>(c);
        wire.push_back({at, byte});
        poll.request.push_back(c);
        for (const TimedByte& answer : bus_.HostCharacter(
                 byte, at, characterTime_, HostWire{settings_.baud, FramingOf(settings_)})) {
            wire.push_back(answer);
            poll.answer.push_back(static_cast<char>(answer.byte));
            if (!poll.answerFirst) {
                poll.answerFirst = answer.end;
            }
            poll.answerLast = answer.end;
        }
    }
    poll.requestEnd = at;
}

std::vector<TimedByte> SimulatedMaster::NextPoll(Instant start) {
    std::vector<TimedByte> wire;
    if (addresses_.empty()) {
        return wire;
    }
    const Instant begin = std::max(start, readyAt_);
    MasterPoll poll;
    poll.address =
        addresses_[static_cast<std::size_t>(polls_ % static_cast<long long>(addresses_.size()))];
    ++polls_;
    poll.write = schedule_.writeEvery > 0 && polls_ % schedule_.writeEvery == 0;
    if (!poll.write) {
        Send(AsconRequest(poll.address), begin, poll, wire);
    } else {
        Send(std::string(1, poll.address) + '!' + schedule_.writeParameter + '\r', begin, poll,
             wire);
        // The value frame is handed over a value delay after the command frame, and goes out
        // once the transmitter (and the line, should a controller have answered) is free.
        const Instant valueStart = std::max(begin + schedule_.valueDelay, wire.back().end);
        char value[8];
        std::snprintf(value, sizeof value, "%04d", writeValue_);
        writeValue_ = (writeValue_ + 37) % 10000;
        Send(std::string(1, poll.address) + value + '\r', valueStart, poll, wire);
    }
    // A master waits for the closing carriage return or the time-out, and never talks over an
    // answer that runs past it.
    Instant waitEnd = poll.requestEnd + schedule_.answerTimeout;
    if (poll.answerLast) {
        waitEnd =
            poll.answer.back() == '\r' ? *poll.answerLast : std::max(waitEnd, *poll.answerLast);
    }
    readyAt_ = waitEnd + schedule_.pollGap;
    std::stable_sort(wire.begin(), wire.end(),
                     [](const TimedByte& a, const TimedByte& b) { return a.end < b.end; });
    log_.push_back(std::move(poll));
    return wire;
}

MasterOnLine::MasterOnLine(SimulatedMaster& master, SimulatedSerialLine& line, Scheduler& scheduler)
    : master_(master), line_(line), scheduler_(scheduler) {
    next_ = scheduler_.CallAt(scheduler_.Now(), [this, alive = alive_] {
        if (*alive) {
            Poll();
        }
    });
}

MasterOnLine::~MasterOnLine() {
    *alive_ = false;
    scheduler_.Cancel(next_);
}

void MasterOnLine::Poll() {
    const std::vector<TimedByte> wire = master_.NextPoll(scheduler_.Now());
    if (wire.empty()) {
        return;  // a master of no controllers
    }
    for (const TimedByte& byte : wire) {
        line_.DeliverAt(byte.end, byte.byte);
    }
    // The next poll is made when it starts, so that a test sees the traffic as it happens.
    next_ = scheduler_.CallAt(master_.ReadyAt(), [this, alive = alive_] {
        if (*alive) {
            Poll();
        }
    });
}

}  // namespace tarvel
