// SPDX-License-Identifier: GPL-3.0-or-later
// The test cycle as a program without windows drives it: the engine, a sink that records what
// it hears, and the run awaited to its end.

#include <gtest/gtest.h>

#include "engine/TestCycle.h"
#include "protocol/ascon/AsconFrame.h"
#include "support/FramePeer.h"
#include "support/LineRig.h"
#include "support/Run.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;

// Everything the cycle reports, in order, as one line of text each.
struct RecordingSink final : CycleSink {
    std::vector<std::string> events;
    std::vector<Exchange> exchanges;
    std::vector<Request> requests;
    std::function<void(const Exchange&)> onJudged;
    std::function<void(const Request&)> onRequest;

    void RunStarted(int controllers) override {
        events.push_back("started " + std::to_string(controllers));
    }
    void AttemptStarting(int position) override {
        events.push_back("attempt at " + std::to_string(position));
    }
    void RequestWritten(const Request& request) override {
        requests.push_back(request);
        events.push_back("request " + request.frame.substr(0, 1));
        if (onRequest) {
            onRequest(request);
        }
    }
    void ExchangeJudged(const Exchange& exchange) override {
        exchanges.push_back(exchange);
        events.push_back(exchange.Failed() ? VerdictMessage(exchange.verdict) : "good");
        if (onJudged) {
            onJudged(exchange);
        }
    }
    void ErrorsCounted(int errors) override {
        events.push_back("errors " + std::to_string(errors));
    }
    void RunEnded(const RunEnd& end) override {
        events.push_back("ended " + std::to_string(end.errors) + (end.errorLimit ? " limit" : "") +
                         (end.lineFailure.empty() ? "" : " failed"));
    }
};

QCoro::Task<RunEnd> RunOnce(TestCycle& cycle, LineUse& lineUse) {
    co_return co_await cycle.TxAscon(co_await lineUse.Acquire());
}

struct TestCycleTest : ::testing::Test, testing::LineRig {
    LineUse lineUse{time};
    ControllerAddressTable table = StartupAddressTable();
    TestCycle cycle{primo, port, table};
    RecordingSink sink;
    // A answers after `answerDelay`, character after character (or all at once), B is silent.
    Duration answerDelay = 12ms;
    std::string answer = "A215\r";
    bool allAtOnce = false;
    testing::FramePeer peer{line, [this](const std::string& frame, Instant end) {
                                if (frame[0] != 'A') {
                                    return;
                                }
                                if (!allAtOnce) {
                                    line.DeliverFrom(end + answerDelay, answer);
                                    return;
                                }
                                for (const char c : answer) {
                                    line.DeliverAt(end + answerDelay, static_cast<std::uint8_t>(c));
                                }
                            }};

    TestCycleTest() {
        cycle.AddSink(sink);
        primo.DeviceCount = 2;
        primo.RetryCount = 1;
    }
    // Stops the run once `exchanges` exchanges have been judged.
    void StopAfter(std::size_t exchanges) {
        sink.onJudged = [this, exchanges](const Exchange&) {
            if (sink.exchanges.size() == exchanges) {
                primo.StopFlag = kTrue;
            }
        };
    }
};

TEST_F(TestCycleTest, AWholeRunIsReportedInOrderAndAwaitedToItsEnd) {
    StopAfter(3);
    const RunEnd end = testing::RunToEnd(time, RunOnce(cycle, lineUse));
    EXPECT_EQ(end.errors, 2);
    EXPECT_FALSE(end.errorLimit);
    EXPECT_TRUE(end.lineFailure.empty());
    EXPECT_FALSE(cycle.Running());
    EXPECT_FALSE(lineUse.Busy());
    const std::vector<std::string> expected = {
        "started 2",   "attempt at 0", "request A", "good",         "attempt at 1",
        "request B",   "No answer !",  "errors 1",  "attempt at 1", "request B",
        "No answer !", "errors 2",     "ended 2"};
    EXPECT_EQ(sink.events, expected);
}

TEST_F(TestCycleTest, EachExchangeCarriesItsRequestTimeArrivalsAndAttempt) {
    StopAfter(3);
    testing::RunToEnd(time, RunOnce(cycle, lineUse));
    ASSERT_EQ(sink.exchanges.size(), 3u);
    const Duration character = CharacterTime();

    const Exchange& good = sink.exchanges[0];
    EXPECT_EQ(good.request.frame, AsconRequest('A'));
    EXPECT_EQ(good.answer, "A215\r");
    EXPECT_EQ(good.received, 5);
    // The request leaves the wire six characters after it was written; the controller waits
    // 12 ms, then its five characters arrive one after the other.
    const Instant requestEnd = good.request.written + character * 6;
    ASSERT_TRUE(good.firstArrival && good.lastArrival);
    EXPECT_EQ(*good.firstArrival - requestEnd, 12ms + character);
    EXPECT_EQ(*good.lastArrival - requestEnd, 12ms + character * 5);
    EXPECT_EQ(good.judged, *good.lastArrival);

    const Exchange& silent = sink.exchanges[2];
    EXPECT_EQ(silent.request.stationText, "B");
    EXPECT_EQ(silent.request.position, 1);
    EXPECT_EQ(silent.request.attempt, 1);
    EXPECT_EQ(silent.verdict, ExchangeVerdict::NoAnswer);
    EXPECT_FALSE(silent.firstArrival);
    EXPECT_GT(silent.judged - silent.request.written, AnswerWindow);
    EXPECT_EQ(ErrorRecord(silent), "B  08:00:00  No answer !   1");
}

TEST_F(TestCycleTest, WhatCameOverTheWireIsKeptWhateverTheVerdict) {
    primo.DeviceCount = 1;
    primo.RetryCount = 0;
    allAtOnce = true;
    const auto judged = [this](const std::string& sent) {
        answer = sent;
        sink.exchanges.clear();
        StopAfter(1);
        testing::RunToEnd(time, RunOnce(cycle, lineUse));
        return sink.exchanges.at(0);
    };
    const Exchange good = judged("A215\r");
    EXPECT_EQ(good.verdict, ExchangeVerdict::Good);
    EXPECT_EQ(good.arrived, "A215\r");
    const Exchange surplus = judged("A2150\r");
    EXPECT_EQ(surplus.verdict, ExchangeVerdict::WrongCount);
    EXPECT_EQ(surplus.arrived, "A2150\r");
    EXPECT_TRUE(surplus.answer.empty());
    const Exchange partial = judged("A21");
    EXPECT_EQ(partial.verdict, ExchangeVerdict::NoAnswer);
    EXPECT_EQ(partial.received, 3);
    EXPECT_EQ(partial.arrived, "A21");
    // Kept, not taken: the settle step still clears them from the line before the next request.
    const Exchange next = judged("A215\r");
    EXPECT_EQ(next.verdict, ExchangeVerdict::Good);
    EXPECT_EQ(next.arrived, "A215\r");
}

TEST_F(TestCycleTest, TheErrorLimitEndsTheRunByItselfAndTheCountCarriesOver) {
    table[0] = 1;  // both positions silent
    primo.RetryCount = 4;
    const RunEnd end = testing::RunToEnd(time, RunOnce(cycle, lineUse), 10h);
    EXPECT_EQ(end.errors, ErrorLimit);
    EXPECT_TRUE(end.errorLimit);
    EXPECT_EQ(primo.StopFlag, kTrue);
    EXPECT_EQ(cycle.Errors(), ErrorLimit);

    // A new run without a reset stops at its first failure; a reset starts the count again.
    EXPECT_EQ(testing::RunToEnd(time, RunOnce(cycle, lineUse)).errors, ErrorLimit + 1);
    cycle.ResetErrors();
    EXPECT_EQ(sink.events.back(), "errors 0");
    StopAfter(sink.exchanges.size() + 1);
    EXPECT_EQ(testing::RunToEnd(time, RunOnce(cycle, lineUse)).errors, 1);
}

TEST_F(TestCycleTest, ALostLineEndsTheRunWithItsReasonAndNoRecord) {
    sink.onJudged = [this](const Exchange& exchange) {
        if (!exchange.Failed()) {
            time.CallAt(time.Now() + 30ms, [this] { line.Lose("unplugged"); });
        }
    };
    const RunEnd end = testing::RunToEnd(time, RunOnce(cycle, lineUse));
    EXPECT_EQ(end.errors, 0);
    EXPECT_NE(end.lineFailure.find("unplugged"), std::string::npos);
    EXPECT_EQ(sink.events.back(), "ended 0 failed");
    EXPECT_FALSE(lineUse.Busy());
}

// The program's thread is kept busy for 300 ms from 1 ms after each request (a long repaint, a
// big list being filled): the verdict is the one an idle thread would reach.
struct BusyWindow : TestCycleTest {
    BusyWindow() {
        primo.DeviceCount = 1;
        primo.RetryCount = 0;
        StopAfter(1);
        sink.onRequest = [this](const Request& request) {
            time.CallAt(request.written + 1ms, [this] { time.Stall(300ms); });
        };
    }
};

TEST_F(BusyWindow, AnAnswerThatCameInTimeIsGoodHoweverLateTheThreadLooks) {
    answerDelay = 10ms;
    const RunEnd end = testing::RunToEnd(time, RunOnce(cycle, lineUse));
    ASSERT_EQ(sink.exchanges.size(), 1u);
    const Exchange& exchange = sink.exchanges[0];
    EXPECT_EQ(exchange.verdict, ExchangeVerdict::Good);
    EXPECT_EQ(exchange.answer, "A215\r");
    EXPECT_EQ(end.errors, 0);
    EXPECT_GT(exchange.judged - exchange.request.written, 300ms);  // it was judged late ...
    EXPECT_LT(*exchange.lastArrival - exchange.request.written, AnswerWindow);  // ... but fairly
}

TEST_F(BusyWindow, AnAnswerThatCameAfterTheWindowIsNoAnswerEvenIfSeenAtTheSameMoment) {
    answerDelay = 250ms;
    const RunEnd end = testing::RunToEnd(time, RunOnce(cycle, lineUse));
    ASSERT_EQ(sink.exchanges.size(), 1u);
    EXPECT_EQ(sink.exchanges[0].verdict, ExchangeVerdict::NoAnswer);
    EXPECT_EQ(sink.exchanges[0].received, 0);
    EXPECT_EQ(end.errors, 1);
}

TEST_F(BusyWindow, SurplusCharactersThatCameInTimeAreStillAWrongCount) {
    answerDelay = 10ms;
    answer = "A2150\r";
    allAtOnce = true;
    testing::RunToEnd(time, RunOnce(cycle, lineUse));
    ASSERT_EQ(sink.exchanges.size(), 1u);
    EXPECT_EQ(sink.exchanges[0].verdict, ExchangeVerdict::WrongCount);
}

TEST_F(BusyWindow, AnAnswerCompletingAtTheWindowsEndIsGoodANanosecondLaterIsNot) {
    const Duration character = CharacterTime();
    for (const auto& [late, verdict] : {std::pair{Duration::zero(), ExchangeVerdict::Good},
                                        std::pair{Duration(1), ExchangeVerdict::NoAnswer}}) {
        // The window runs from the write; the request takes six characters, the answer five.
        answerDelay = AnswerWindow - character * 11 + late;
        sink.exchanges.clear();
        StopAfter(1);
        testing::RunToEnd(time, RunOnce(cycle, lineUse));
        ASSERT_EQ(sink.exchanges.size(), 1u);
        EXPECT_EQ(sink.exchanges[0].verdict, verdict) << late.count() << " ns late";
        testing::RunToEnd(time, port.SettleLine());
    }
}

}  // namespace
}  // namespace tarvel
