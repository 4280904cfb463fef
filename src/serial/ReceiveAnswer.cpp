// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/ReceiveAnswer.h"

#include "serial/AnswerWait.h"

namespace tarvel {

QCoro::Task<std::string> ReceiveAnswer(PortService& port, std::int16_t expected, Duration timeout) {
    SerialLine& line = port.Line();
    const AnswerArrival arrival =
        co_await AwaitAnswer(line, port.Time(), port.Time().Now(), timeout, expected);
    std::string result;
    if (arrival.late) {
        result = kNoAnswer;
    } else if (arrival.count == expected) {
        // What had arrived by the end of the wait is read; only its last character is judged.
        std::string answer = line.InputFirst(arrival.count);
        if (!answer.empty() && answer.back() == '\r') {
            answer.pop_back();
            co_return answer;
        }
        result = kUnknownFormat;
    } else {
        line.Input();
        result = kWrongCount;
    }
    co_await port.SettleLine();
    co_return result;
}

}  // namespace tarvel
