// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/LineExchange.h"

#include <algorithm>

#include "platform/Waits.h"
#include "serial/AnswerWait.h"

namespace tarvel {
namespace {

ExchangeOnLine LineFailed(const SerialLine& line) {
    ExchangeOnLine failed;
    failed.lineFailure = line.LastError().empty() ? "the port was closed" : line.LastError();
    return failed;
}

}  // namespace

bool AnswerMayRepeat(const Protocol& protocol, const Request& request, ExchangeKind kind) {
    return protocol.CheckAnswer(request, kind, false, request.frame).verdict ==
           ExchangeVerdict::Good;
}

QCoro::Task<ExchangeOnLine> MakeExchange(PortService& port, Primo& primo, const Protocol& protocol,
                                         Request request, ExchangeKind kind,
                                         ExchangeTimings timings, ExchangeSteps steps) {
    SerialLine& line = port.Line();
    Scheduler& time = port.Time();
    if (!co_await AwaitOutputDrained(line, time)) {
        ExchangeOnLine failed;
        failed.lineFailure = "the serial port has not sent its output for two seconds";
        co_return failed;
    }
    if (steps.drained) {
        steps.drained(request);
    }
    primo.RequestText = protocol.RequestFor(request.station, kind);
    request.frame = primo.RequestText;
    Duration pause = timings.pause;
    if (const std::optional<Instant> heard = port.LastHeard(); timings.silence && heard) {
        pause = std::clamp(*heard + timings.pause - time.Now(), Duration::zero(), timings.pause);
    }
    co_await Pause(time, pause);
    if (!line.PortOpen()) {
        co_return LineFailed(line);
    }
    line.OutputRequest(request.frame, AnswerMayRepeat(protocol, request, kind));
    request.written = time.Now();
    // Until an answer is heard, the request's own last character is the last on the line.
    port.Heard(request.written + port.CharacterTime() * static_cast<int>(request.frame.size()));
    if (steps.written) {
        steps.written(request);
    }
    const AnswerLengthOf lengthOf = [&protocol, &request](std::string_view arrived) {
        return protocol.AnswerLength(request, arrived);
    };
    const AnswerArrival arrival = co_await AwaitAnswer(
        line, time, request.written, timings.window, lengthOf,
        protocol.AnswerEndingSilence(port.CharacterTime(), kHostDelayAllowance));
    if (!line.PortOpen()) {
        // What the wait saw is the loss, not the controller: nothing is judged for it.
        co_return LineFailed(line);
    }
    ExchangeOnLine done;
    done.exchange = ExchangeAfter(line, time, std::move(request), arrival);
    if (arrival.late) {
        // More of it may still come: no silence is known to have begun.
        port.ForgetHeard();
    } else if (done.exchange->lastArrival && *done.exchange->lastArrival > *port.LastHeard()) {
        port.Heard(*done.exchange->lastArrival);
    }
    done.late = arrival.late;
    co_return done;
}

void JudgeAnswer(PortService& port, const Protocol& protocol, ExchangeKind kind, Exchange& exchange,
                 bool late) {
    SerialLine& line = port.Line();
    const std::string arrived = line.Peek(exchange.received);
    const AnswerCheck check = protocol.CheckAnswer(
        exchange.request, kind, late,
        ArrivedAnswer{arrived, ArrivalsOf(line, exchange.received), port.CharacterTime()});
    exchange.kind = kind;
    exchange.family = protocol.Verdicts();
    exchange.verdict = check.verdict;
    exchange.exceptionCode = check.exceptionCode;
    if (check.take > 0) {
        exchange.answer = line.InputFirst(check.take);
    }
}

}  // namespace tarvel
