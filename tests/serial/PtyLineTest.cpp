// The real serial path in real time: the program's QSerialPort line on one side of a
// pseudo-terminal, the simulated bus on the other.

#include <gtest/gtest.h>

#include "serial/ReceiveAnswer.h"
#include "support/PtyRig.h"
#include "support/RealTime.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;
using testing::RunInEventLoop;

struct PtyLine : ::testing::Test, testing::PtyRig {
    PtyLine() : PtyRig({{'A', 5ms}, {'C', 5ms, ControllerFault::Silent}}) {}
    void SetUp() override { ASSERT_TRUE(Ready()) << failure; }
    std::string ReceivedText() const {
        std::string text;
        for (const auto& byte : host->Received()) {
            text.push_back(static_cast<char>(byte.byte));
        }
        return text;
    }
};

// Settles, then writes a request at once; returns how long the settling took on the
// program's own clock.
QCoro::Task<Duration> SettleThenRequest(PortService& port) {
    const Instant start = port.Time().Now();
    co_await port.SettleLine();
    const Duration took = port.Time().Now() - start;
    port.Line().Output("A?X  \r");
    co_return took;
}

TEST_F(PtyLine, SettleLineSendsOneCarriageReturnAndPausesTwoTenthsOnTheWire) {
    const Duration settling = RunInEventLoop(SettleThenRequest(*port));
    EXPECT_GE(settling, SettleTime);  // the program's pause is never short
    const auto until = std::chrono::steady_clock::now() + 1s;
    while (host->Received().size() < 7 && std::chrono::steady_clock::now() < until) {
        QEventLoop loop;
        QTimer::singleShot(10ms, &loop, &QEventLoop::quit);
        loop.exec();
    }
    const auto received = host->Received();
    ASSERT_EQ(ReceivedText(), "\rA?X  \r");
    const Duration pause = received[1].end - received[0].end;
    // As the far end sees it, both ends of the pause carry its own reading latency; the margins
    // are for a loaded machine (bench/ prints the exact figure).
    EXPECT_GE(pause, 195ms) << pause.count() << " ns";
    EXPECT_LT(pause, 225ms) << pause.count() << " ns";
}

TEST_F(PtyLine, AHealthyControllerAnswersThroughTheRealPort) {
    line->Output("A?X  \r");
    const std::string answer = RunInEventLoop(ReceiveAnswer(*port, 5, 300ms));
    ASSERT_EQ(answer.size(), 4u);
    EXPECT_EQ(answer[0], 'A');
    EXPECT_EQ(ReceivedText(), "A?X  \r");  // no settling after a good answer
}

TEST_F(PtyLine, ASilentControllerGivesNoAnswerAndTheLineIsSettledAfterTheTimeOut) {
    line->Output("C?X  \r");
    const Instant start = scheduler.Now();
    EXPECT_EQ(RunInEventLoop(ReceiveAnswer(*port, 5, 300ms)), kNoAnswer);
    const Duration took = scheduler.Now() - start;
    EXPECT_GE(took, 500ms);
    EXPECT_LT(took, 550ms);
    const auto received = host->Received();
    ASSERT_EQ(ReceivedText(), "C?X  \r\r");
    const Duration toSettle = received.back().end - received.front().end;
    // Seen from the far end, with its own reading latency at both ends.
    EXPECT_GE(toSettle, 295ms) << toSettle.count() << " ns";
    EXPECT_LT(toSettle, 325ms) << toSettle.count() << " ns";
}

}  // namespace
}  // namespace tarvel
