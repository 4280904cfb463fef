#include "serial/ReceiveAnswer.h"

#include "serial/AnswerWait.h"

namespace tarvel {

QCoro::Task<std::string> ReceiveAnswer(PortService& port, std::int16_t expected, Duration timeout) {
    SerialLine& line = port.Line();
    const bool timedOut = co_await AwaitAnswer(line, port.Time(), timeout, expected);
    const int count = line.InBufferCount();
    std::string result;
    if (timedOut) {
        result = kNoAnswer;
    } else if (count == expected) {
        // A character that arrived since the count is read too; only the last one is judged.
        std::string answer = line.Input();
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
