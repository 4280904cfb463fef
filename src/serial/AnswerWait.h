#pragma once

#include <QCoroTask>

#include "platform/Scheduler.h"
#include "platform/SerialLine.h"

namespace tarvel {

// The wait for an answer that every exchange makes, right after its request was written: pass
// after pass, measure the time elapsed since the start, hand the thread to the event loop, then
// count the characters received. It ends after the pass whose elapsed time was more than
// `window`, or whose count reached `expected`. Returns true when the answer came too late, that
// is when the elapsed time of its last pass (measured before the hand-over, not after) exceeded
// the window; the caller counts the characters again and judges the answer. A character counts as
// in time when it arrived no later than `window` after the start.
//
// Between passes the wait sleeps until a character arrives or the window runs out, so it costs
// nothing while the line is quiet.
QCoro::Task<bool> AwaitAnswer(SerialLine& line, Scheduler& scheduler, Duration window,
                              int expected);

}  // namespace tarvel
