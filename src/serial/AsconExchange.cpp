// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/AsconExchange.h"

#include "core/AsconFrame.h"
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

QCoro::Task<ExchangeOnLine> MakeAsconExchange(PortService& port, Primo& primo, Request request,
                                              Duration pause, Duration window,
                                              ExchangeSteps steps) {
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
    primo.RequestText = AsconRequest(request.address);
    request.frame = primo.RequestText;
    co_await Pause(time, pause);
    if (!line.PortOpen()) {
        co_return LineFailed(line);
    }
    line.Output(request.frame);
    request.written = time.Now();
    if (steps.written) {
        steps.written(request);
    }
    const AnswerArrival arrival =
        co_await AwaitAnswer(line, time, request.written, window, AnswerLength);
    if (!line.PortOpen()) {
        // What the wait saw is the loss, not the controller: nothing is judged for it.
        co_return LineFailed(line);
    }
    ExchangeOnLine done;
    done.exchange = ExchangeAfter(line, time, std::move(request), arrival);
    done.late = arrival.late;
    co_return done;
}

void JudgeProbe(SerialLine& line, Exchange& exchange, bool late) {
    // The time-out wins even when five characters came at the same moment.
    if (late) {
        exchange.verdict = ExchangeVerdict::NotDetected;
    } else if (exchange.received == AnswerLength) {
        exchange.answer = line.InputFirst(exchange.received);
        exchange.verdict =
            exchange.answer.back() == '\r' ? ExchangeVerdict::Good : ExchangeVerdict::UnknownFormat;
    } else {
        exchange.verdict = ExchangeVerdict::WrongCount;
    }
}

}  // namespace tarvel
