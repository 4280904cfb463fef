// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoroTask>
#include <functional>
#include <optional>
#include <string>

#include "core/Exchange.h"
#include "core/Primo.h"
#include "serial/PortService.h"

namespace tarvel {

// What the loop that makes an exchange hears of it on the way.
struct ExchangeSteps {
    std::function<void(const Request&)> drained;  // the output has drained; the pause begins
    std::function<void(const Request&)> written;  // the request has been handed to the line
};

// An exchange as far as the line takes it, or why the line failed.
struct ExchangeOnLine {
    std::optional<Exchange> exchange;  // without its verdict: that is the loop's
    bool late = false;                 // the answer was not complete when the window ended
    std::string lineFailure;
};

// The one shape of an exchange of the test cycle and of the line detector: wait until the
// transmitter is idle, pause, write the Ascon request for `request.address` (kept in
// RequestText), wait for the answer within `window` from the write. A line that is lost or
// stuck ends it with the reason instead of an exchange.
QCoro::Task<ExchangeOnLine> MakeAsconExchange(PortService& port, Primo& primo, Request request,
                                              Duration pause, Duration window, ExchangeSteps steps);

// How the detector, and the search across settings, judge the answer to a read request: late is
// "Not detected !"; five characters ending in a carriage return are good and are read; five
// others are an unknown format; any other count is a wrong count, left in the input.
void JudgeProbe(SerialLine& line, Exchange& exchange, bool late);

}  // namespace tarvel
