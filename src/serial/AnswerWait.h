// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoroTask>
#include <functional>
#include <string_view>
#include <vector>

#include "core/Exchange.h"
#include "lines/SerialLine.h"
#include "platform/Scheduler.h"

namespace tarvel {

// How an answer wait ended.
struct AnswerArrival {
    // The expected characters had not all arrived when the window ran out.
    bool late = true;
    // Characters that had arrived by the moment the wait ended: the arrival of the character
    // that completed the answer, or the end of the window for a late one.
    int count = 0;
};

// How many characters make the whole answer, as far as those that have arrived tell; 0 for an
// answer with no length of its own, which ends with the line's silence.
using AnswerLengthOf = std::function<int(std::string_view arrived)>;

// The wait for an answer that every exchange makes, right after its request was written at
// `start`. It ends as soon as the characters that `lengthOf` asks for have arrived, or once more
// than `window` has elapsed since `start`.
//
// It judges by the time each character reached the host, as the line stamped it, not by when
// this thread got round to looking: an answer whose completing character arrived no later than
// start + window is in time, even when a busy window kept the thread from resuming until long
// after. So the verdict is the one that looking again and again, with nothing else to do, would
// reach: a polling loop that measures the elapsed time at the start of each pass, hands the
// thread over, then counts.
//
// An answer with no length of its own ends once the line has been silent for `endingSilence`
// after its last character (with no such silence given, at its first character).
//
// Between passes the wait sleeps until a character arrives or the window runs out, so it costs
// nothing while the line is quiet.
QCoro::Task<AnswerArrival> AwaitAnswer(SerialLine& line, Scheduler& scheduler, Instant start,
                                       Duration window, const AnswerLengthOf& lengthOf,
                                       Duration endingSilence = Duration{0});

// The exchange as an answer wait leaves it: how many characters had arrived by its end, when
// the first and the last of them did, and when and at what time of day it was judged. The
// verdict, and the answer read, are the caller's.
Exchange ExchangeAfter(const SerialLine& line, const Scheduler& scheduler, Request request,
                       const AnswerArrival& arrival);

// When each of the first `count` waiting characters reached the host, for telling the line's
// silences; none where the line cannot tell for every one of them, and none across the network:
// a device server packs the line's characters into segments as it likes, and a pause between
// two of them is no silence of the line.
std::vector<Instant> ArrivalsOf(const SerialLine& line, int count);

// The wait before every request: it hands the thread over once, then waits until the line has
// sent everything it was given. False when the transmitter has sent nothing for two seconds
// (a driver that is stuck): the caller treats that as a failed line.
QCoro::Task<bool> AwaitOutputDrained(SerialLine& line, Scheduler& scheduler);

}  // namespace tarvel
