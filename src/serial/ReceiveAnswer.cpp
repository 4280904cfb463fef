// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/ReceiveAnswer.h"

#include "serial/AnswerWait.h"

namespace tarvel {

QCoro::Task<std::string> ReceiveAnswer(PortService& port, Duration timeout, Request request) {
    SerialLine& line = port.Line();
    const Protocol& protocol = port.LineProtocol();
    // Named before the co_await: g++ 12 frees a temporary that lives across a suspension twice.
    const AnswerLengthOf lengthOf = [&protocol, &request](std::string_view arrived) {
        return protocol.AnswerLength(request, arrived);
    };
    const AnswerArrival arrival =
        co_await AwaitAnswer(line, port.Time(), port.Time().Now(), timeout, lengthOf);
    const AnswerCheck check = protocol.CheckAnswer(request, ExchangeKind::Terminal, arrival.late,
                                                   line.Peek(arrival.count));
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
