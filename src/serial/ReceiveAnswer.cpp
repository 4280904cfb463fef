// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/ReceiveAnswer.h"

#include "serial/AnswerWait.h"

namespace tarvel {

QCoro::Task<std::string> ReceiveAnswer(PortService& port, Duration timeout) {
    SerialLine& line = port.Line();
    const Protocol& protocol = port.LineProtocol();
    // Worked out before the co_await: g++ 12 frees a temporary that lives across a suspension
    // twice.
    const int expected = protocol.AnswerLength(Request{});
    const AnswerArrival arrival =
        co_await AwaitAnswer(line, port.Time(), port.Time().Now(), timeout, expected);
    const AnswerCheck check =
        protocol.CheckAnswer(ExchangeKind::Terminal, arrival.late,
                             arrival.late ? std::string() : line.Peek(arrival.count));
    // What had arrived by the end of the wait is read; the protocol judges all of it.
    const std::string answer = check.take > 0 ? line.InputFirst(check.take) : std::string();
    if (check.verdict == ExchangeVerdict::Good) {
        co_return protocol.AnswerShown(answer);
    }
    if (!arrival.late && check.take == 0) {
        line.Input();
    }
    co_await port.SettleLine();
    co_return VerdictMessage(check.verdict);
}

}  // namespace tarvel
