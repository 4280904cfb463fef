// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/ReceiveAnswer.h"

#include "serial/AnswerWait.h"

namespace tarvel {

QCoro::Task<TerminalAnswer> ReceiveTerminalAnswer(PortService& port, Duration timeout,
                                                  Request request) {
    SerialLine& line = port.Line();
    const Protocol& protocol = port.LineProtocol();
    const Duration characterTime = port.CharacterTime();
    // Named before the co_await: g++ 12 frees a temporary that lives across a suspension twice.
    const AnswerLengthOf lengthOf = [&protocol, &request](std::string_view arrived) {
        return protocol.AnswerLength(request, arrived);
    };
    const AnswerArrival arrival =
        co_await AwaitAnswer(line, port.Time(), port.Time().Now(), timeout, lengthOf,
                             protocol.AnswerEndingSilence(characterTime, kHostDelayAllowance));
    TerminalAnswer result;
    result.arrived = line.Peek(arrival.count);
    const AnswerCheck check = protocol.CheckAnswer(
        request, ExchangeKind::Terminal, arrival.late,
        ArrivedAnswer{result.arrived, ArrivalsOf(line, arrival.count), characterTime});
    result.verdict = check.verdict;
    // What had arrived by the end of the wait is read; the protocol judges all of it.
    const std::string answer = check.take > 0 ? line.InputFirst(check.take) : std::string();
    if (check.verdict == ExchangeVerdict::Good) {
        result.shown = protocol.AnswerShown(answer);
        result.answer = answer;
        co_return result;
    }
    if (!arrival.late && check.take == 0) {
        line.Input();
    }
    co_await port.SettleLine();
    result.shown = VerdictMessage(check.verdict, ExchangeKind::Terminal, protocol.Verdicts());
    co_return result;
}

QCoro::Task<std::string> ReceiveAnswer(PortService& port, Duration timeout, Request request) {
    const TerminalAnswer answer = co_await ReceiveTerminalAnswer(port, timeout, std::move(request));
    co_return answer.shown;
}

}  // namespace tarvel
