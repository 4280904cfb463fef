// SPDX-License-Identifier: GPL-3.0-or-later
// The listener on virtual time: what another master and its controllers put on the line is
// reported exchange by exchange with the times it reached the host, and nothing is ever sent.

#include "engine/Listener.h"

#include <gtest/gtest.h>

#include "serial/LineUse.h"
#include "support/LineRig.h"
#include "support/Run.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;

struct Heard final : ListenSink {
    std::vector<Exchange> exchanges;
    int requests = 0;
    std::optional<Duration> window;
    std::optional<ListenEnd> end;
    void ListenStarted(Duration answerWindow) override { window = answerWindow; }
    void RequestWritten(const Request&) override { ++requests; }
    void ExchangeJudged(const Exchange& exchange) override { exchanges.push_back(exchange); }
    void ListenEnded(const ListenEnd& ended) override { end = ended; }
};

struct ListenerTest : ::testing::Test {
    testing::LineRig rig;
    LineUse lineUse{rig.time};
    Heard heard;
    Listener listener{ReadOnlyLine(rig.line), rig.time,
                      DecoderSettings{rig.CharacterTime(), 200ms, 10, 25ms}};
    std::optional<ListenEnd> end;
    std::optional<QCoro::Task<>> task;

    ListenerTest() {
        listener.AddSink(heard);
        EXPECT_TRUE(rig.line.RequestToSend());  // as the host raises it at the open
    }
    void Begin() { task.emplace(Listening()); }
    QCoro::Task<> Listening() { end = co_await listener.Listen(co_await lineUse.Acquire()); }
};

TEST_F(ListenerTest, ExchangesOnTheLineAreReportedWithTheirArrivalAndNothingIsSent) {
    Begin();
    rig.time.RunFor(10ms);
    ASSERT_TRUE(heard.window);
    EXPECT_EQ(*heard.window, 200ms);
    EXPECT_TRUE(listener.Listening());
    EXPECT_TRUE(lineUse.Busy());  // no run, scan or terminal exchange meanwhile
    // The port's own transmitter is kept off the bus: RTS, raised at the open, is low.
    EXPECT_FALSE(rig.line.RequestToSend());

    const Duration c = rig.CharacterTime();
    const Instant requestStart = rig.time.Now() + 5ms;
    rig.line.DeliverFrom(requestStart, "A?X  \r");
    const Instant requestEnd = requestStart + 6 * c;
    rig.line.DeliverFrom(requestEnd + 7ms, "A215\r");
    // Silent C: the window passes while the listener sleeps; its verdict comes by time alone.
    rig.line.DeliverFrom(requestEnd + 100ms, "C?X  \r");
    rig.time.RunFor(1s);
    ASSERT_EQ(heard.exchanges.size(), 2u);
    EXPECT_EQ(heard.requests, 2);
    const Exchange& a = heard.exchanges[0];
    EXPECT_EQ(a.verdict, ExchangeVerdict::Good);
    EXPECT_EQ(*a.firstArrival - requestEnd, 7ms + c);
    EXPECT_EQ(*a.lastArrival - requestEnd, 7ms + 5 * c);
    EXPECT_EQ(heard.exchanges[1].request.stationText, "C");
    EXPECT_EQ(heard.exchanges[1].verdict, ExchangeVerdict::NoAnswer);
    EXPECT_EQ(heard.exchanges[1].judged, requestEnd + 100ms + 6 * c + 200ms);

    // Stop ends it at once, with nothing waited for and nothing sent.
    const Instant stopped = rig.time.Now();
    listener.Stop();
    rig.time.RunDue();
    ASSERT_TRUE(end);
    EXPECT_EQ(rig.time.Now(), stopped);
    EXPECT_TRUE(end->lineFailure.empty());
    EXPECT_TRUE(heard.end);
    EXPECT_FALSE(lineUse.Busy());
    EXPECT_TRUE(rig.line.Transmitted().empty());
    EXPECT_EQ(rig.line.OutBufferCount(), 0);
}

TEST_F(ListenerTest, ALostLineEndsTheListeningAndSaysWhy) {
    Begin();
    rig.time.RunFor(50ms);
    rig.line.Lose("the adapter was pulled out");
    rig.time.RunFor(10ms);
    ASSERT_TRUE(end);
    EXPECT_NE(end->lineFailure.find("the adapter was pulled out"), std::string::npos)
        << end->lineFailure;
    EXPECT_FALSE(listener.Listening());
}

TEST_F(ListenerTest, AStopAskedBeforeTheListeningBeganIsKept) {
    // Ctrl+C while the port was being opened.
    listener.Stop();
    Begin();
    rig.time.RunFor(10ms);
    ASSERT_TRUE(end);
    EXPECT_FALSE(listener.Listening());
}

TEST_F(ListenerTest, AnIdleLineCostsNoWakeUps) {
    Begin();
    rig.time.RunFor(10ms);
    // Nothing on the line and no verdict waiting: the listener waits on no timer at all.
    EXPECT_EQ(rig.time.PendingEvents(), 0u);
    listener.Stop();
    rig.time.RunDue();
    EXPECT_TRUE(end);
}

}  // namespace
}  // namespace tarvel
