// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoroTask>
#include <functional>
#include <optional>
#include <string>

#include "core/Exchange.h"
#include "core/Primo.h"
#include "protocol/Protocol.h"
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

// Whether the answer to `request` may be its very bytes again, as a Modbus write of one
// register is answered: the protocol would take the request itself for a good answer.
bool AnswerMayRepeat(const Protocol& protocol, const Request& request, ExchangeKind kind);

// The one shape of an exchange of the test cycle, the line detector and the search across
// settings: wait until the transmitter is idle, pause, write the protocol's request of `kind`
// for `request.station` (kept in RequestText), wait for the answer within the window from the
// write. A line that is lost or stuck ends it with the reason instead of an exchange.
QCoro::Task<ExchangeOnLine> MakeExchange(PortService& port, Primo& primo, const Protocol& protocol,
                                         Request request, ExchangeKind kind,
                                         ExchangeTimings timings, ExchangeSteps steps);

// Gives the exchange the protocol's verdict on what the wait left in the input, and reads the
// answer from it; what the protocol does not take stays for the settle to throw away.
void JudgeAnswer(PortService& port, const Protocol& protocol, ExchangeKind kind, Exchange& exchange,
                 bool late);

}  // namespace tarvel
