// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "core/Exchange.h"

namespace tarvel {

// What every loop that talks to the controllers reports, exchange by exchange: the test cycle
// and the line detector alike. Statistics and logs listen here.
class ExchangeSink {
public:
    virtual ~ExchangeSink() = default;
    // A request has been handed to the line.
    virtual void RequestWritten(const Request& /*request*/) {}
    // An exchange has its verdict, good or failed.
    virtual void ExchangeJudged(const Exchange& /*exchange*/) {}
};

// How a run ended.
struct RunEnd {
    int errors = 0;           // the error counter at the end
    bool errorLimit = false;  // the counter reached the error limit during this run
    std::string lineFailure;  // why the serial line failed, when it did; empty otherwise
};

// What the test cycle reports, in the order it happens. The main window shows it; a program
// without windows prints it.
class CycleSink : public ExchangeSink {
public:
    // The first settle is done and StopFlag is 0: the run is under way over `controllers`.
    virtual void RunStarted(int /*controllers*/) {}
    // An attempt at the controller at `position` (counted from 0) begins.
    virtual void AttemptStarting(int /*position*/) {}
    // The error counter has a new value: after a failed exchange, or after a reset.
    virtual void ErrorsCounted(int /*errors*/) {}
    // "Res": the error counter and everything counted with it start again from nothing. Comes
    // after the counter's new value, 0.
    virtual void ErrorsReset() {}
    virtual void RunEnded(const RunEnd& /*end*/) {}
};

}  // namespace tarvel
