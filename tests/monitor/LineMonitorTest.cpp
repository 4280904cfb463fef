// SPDX-License-Identifier: GPL-3.0-or-later
// The line monitor listening to real runs and scans on virtual time: response times as the wire
// makes them, "Res", new runs, scans kept apart from runs, and the driver's error counts.

#include <gtest/gtest.h>

#include <map>

#include "line/LineDetector.h"
#include "monitor/LineMonitor.h"
#include "protocol/ascon/AsconFrame.h"
#include "support/EngineRig.h"
#include "support/FramePeer.h"
#include "support/Run.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;

struct LineMonitorTest : ::testing::Test, testing::EngineRig {
    std::optional<UartErrorCounts> driverCounts;
    LineMonitor monitor{time, [this] { return CharacterTime(); }, [this] { return driverCounts; }};
    // What each address answers, 12 ms after the request, character after character.
    std::map<char, std::string> answers{{'A', "A215\r"}};
    testing::FramePeer peer{line, [this](const std::string& frame, Instant end) {
                                const auto found = answers.find(frame[0]);
                                if (found != answers.end()) {
                                    line.DeliverFrom(end + 12ms, found->second);
                                }
                            }};

    LineMonitorTest() {
        cycle.AddSink(monitor.CycleEvents());
        Configure(2, 0);  // A answers, B is silent
    }

    // Starts a run and stops it once `exchanges` more exchanges have been judged.
    void RunFor(int exchanges) {
        run.StartBtn_Click();
        const std::uint64_t until = monitor.Traffic().Added() + exchanges;
        ASSERT_TRUE(RunUntil([&] { return monitor.Traffic().Added() >= until; }));
        run.StopBtn_Click();
        ASSERT_TRUE(RunToEnd());
    }
};

TEST_F(LineMonitorTest, ResponseTimesFollowFromTheWireTime) {
    RunFor(20);
    const LineStatistics& statistics = monitor.Statistics();
    const ControllerStatistics* a = statistics.Find(AddressIndexOf('A'));
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->good, a->requests);
    EXPECT_GE(a->requests, 10);
    // At 9600 8N1 a character takes 1.0417 ms: the first arrives one character after the 12 ms,
    // the last five.
    const Duration character = CharacterTime();
    EXPECT_EQ(a->toFirst.Minimum(), 12ms + character);
    EXPECT_EQ(a->toFirst.Maximum(), 12ms + character);
    EXPECT_EQ(a->toLast.Minimum(), 12ms + 5 * character);
    EXPECT_EQ(a->toLast.Maximum(), 12ms + 5 * character);
    EXPECT_EQ(Milliseconds(a->toFirst.Percentile(0.95)), "13.0");
    EXPECT_EQ(Milliseconds(a->toLast.Mean()), "17.2");
    EXPECT_EQ(Assess(*a, statistics.AnswerWindow()).judgement, Judgement::Healthy);

    const ControllerStatistics* b = statistics.Find(AddressIndexOf('B'));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->noAnswer, b->requests);
    EXPECT_EQ(Assess(*b, statistics.AnswerWindow()).judgement, Judgement::Silent);
    EXPECT_EQ(statistics.Exchanges(), a->requests + b->requests);
    EXPECT_EQ(statistics.LongestFailureRun(), 1);
    const TrafficEntry& last = monitor.Traffic().At(monitor.Traffic().Size() - 1);
    const double seconds =
        std::chrono::duration<double>(last.exchange.judged - last.runStart).count();
    EXPECT_DOUBLE_EQ(statistics.ExchangesPerSecond(), statistics.Exchanges() / seconds);
    EXPECT_FALSE(monitor.Running());
    EXPECT_EQ(monitor.Traffic().Size(), static_cast<std::size_t>(statistics.Exchanges()));
}

TEST_F(LineMonitorTest, ANewRunStartsNewStatisticsButResClearsTheTrafficToo) {
    RunFor(6);
    const std::size_t firstRun = monitor.Traffic().Size();
    EXPECT_GE(firstRun, 6u);

    run.StartBtn_Click();
    ASSERT_TRUE(RunUntil([&] { return monitor.Running(); }));
    EXPECT_EQ(monitor.Statistics().Exchanges(), 0);
    EXPECT_EQ(monitor.Traffic().Size(), firstRun);
    ASSERT_TRUE(RunUntil([&] { return monitor.Statistics().Exchanges() == 3; }));
    EXPECT_EQ(monitor.Traffic().Size(), firstRun + 3);
    // The new run's times count from its own start.
    const TrafficRow newest = RequestRow(monitor.Traffic(), monitor.Traffic().Size() - 1);
    EXPECT_LT(newest.sinceRunStart, 2s);

    const std::uint64_t revision = monitor.Revision();
    run.ResetBtn_Click();
    EXPECT_GT(monitor.Revision(), revision);
    EXPECT_EQ(monitor.Traffic().Size(), 0u);
    EXPECT_EQ(monitor.Statistics().Exchanges(), 0);
    // The run goes on, and so does the counting.
    ASSERT_TRUE(RunUntil([&] { return monitor.Statistics().Exchanges() == 2; }));
    EXPECT_EQ(monitor.Traffic().Size(), 2u);
    run.StopBtn_Click();
    ASSERT_TRUE(RunToEnd());
}

TEST_F(LineMonitorTest, DriverErrorsCountFromTheStartOfTheRunWhereThePortReportsThem) {
    EXPECT_FALSE(monitor.ErrorsSinceStart().has_value());
    driverCounts = UartErrorCounts{3, 1, 0, 0};
    run.StartBtn_Click();
    ASSERT_TRUE(RunUntil([&] { return monitor.Running(); }));
    driverCounts = UartErrorCounts{5, 1, 2, 1};
    EXPECT_EQ(monitor.ErrorsSinceStart(), (UartErrorCounts{2, 0, 2, 1}));
    driverCounts.reset();  // the port was closed, say
    EXPECT_FALSE(monitor.ErrorsSinceStart().has_value());
    run.StopBtn_Click();
    ASSERT_TRUE(RunToEnd());

    // A port that never counts (a pseudo-terminal) reports nothing from the start.
    run.StartBtn_Click();
    ASSERT_TRUE(RunUntil([&] { return monitor.Running(); }));
    driverCounts = UartErrorCounts{};
    EXPECT_FALSE(monitor.ErrorsSinceStart().has_value());
    run.StopBtn_Click();
    ASSERT_TRUE(RunToEnd());
}

QCoro::Task<ScanEnd> ScanOnce(LineDetector& detector, LineUse& lineUse) {
    co_return co_await detector.Scan(co_await lineUse.Acquire());
}

TEST_F(LineMonitorTest, AScanIsCountedApartFromTheRunsWithTheDetectorsVerdictsAndWindow) {
    RunFor(6);
    const int runExchanges = monitor.Statistics().Exchanges();
    const std::size_t runTraffic = monitor.Traffic().Size();

    answers['E'] = "E215X";  // five characters, no carriage return
    LineDetector detector{primo, port, table};
    detector.AddSink(monitor.ScanEvents());
    const ScanEnd end = testing::RunToEnd(time, ScanOnce(detector, lineUse));
    EXPECT_EQ(end.found, (std::vector<std::int16_t>{0}));

    const LineStatistics& scan = monitor.ScanStatistics();
    EXPECT_EQ(scan.AnswerWindow(), ScanAnswerWindow);
    EXPECT_EQ(scan.Exchanges(), 64);
    EXPECT_EQ(scan.Controllers().size(), 64u);
    EXPECT_EQ(scan.Find(AddressIndexOf('A'))->good, 1);
    EXPECT_EQ(scan.Find(AddressIndexOf('E'))->unknownFormat, 1);
    EXPECT_EQ(Assess(*scan.Find(AddressIndexOf('E')), ScanAnswerWindow).judgement,
              Judgement::Garbled);
    EXPECT_EQ(scan.Find(AddressIndexOf('@'))->notDetected, 1);
    EXPECT_EQ(scan.LongestFailureRun(), 63);
    EXPECT_EQ(FindingsOf(scan).found, std::vector<std::string>{"A"});

    // The run's statistics are the run's, as it left them; the traffic has both.
    EXPECT_EQ(monitor.Statistics().Exchanges(), runExchanges);
    EXPECT_EQ(monitor.Statistics().AnswerWindow(), AnswerWindow);
    EXPECT_EQ(monitor.Traffic().Size(), runTraffic + 64);

    // "Res" clears the run and the traffic; what the scan found stays. The next run starts its
    // own statistics and leaves the scan's alone.
    run.ResetBtn_Click();
    EXPECT_EQ(monitor.ScanStatistics().Exchanges(), 64);
    RunFor(4);
    EXPECT_EQ(monitor.Statistics().AnswerWindow(), AnswerWindow);
    EXPECT_LE(monitor.Statistics().Controllers().size(), 2u);
    EXPECT_EQ(monitor.ScanStatistics().Exchanges(), 64);
}

}  // namespace
}  // namespace tarvel
