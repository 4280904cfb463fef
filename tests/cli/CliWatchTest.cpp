// SPDX-License-Identifier: GPL-3.0-or-later
// `watch` on virtual time and the simulated line (A, B, E healthy, C silent, D noisy): its
// metrics against its statistics, a port lost and given back, the end on a signal, the day's
// files.

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/Exposition.h"

#include "cli/CliSession.h"
#include "cli/CliSessionFixture.h"
#include "lines/LineSettings.h"
#include "monitor/LineStatistics.h"
#include "sim/SimulatedMaster.h"
#include "watch/WatchMetrics.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;

using testing::Sample;

struct CliWatchTest : CliSessionTest {
    explicit CliWatchTest(TimeOfDay startOfDay = {8, 0, 0}) : CliSessionTest(startOfDay) {}

    // Runs the watch until `until` says so, then stops it as SIGTERM would and lets it end;
    // `meanwhile` is called on every judged exchange's turn of the clock.
    int Watch(std::vector<std::string> arguments, const std::function<bool(CliSession&)>& until,
              const std::function<void(CliSession&)>& atEnd = {}) {
        arguments.insert(arguments.begin(), {"watch", "--simulate"});
        const CliOptions options = ParseCliArguments(arguments);
        EXPECT_EQ(options.error, "");
        CliSession session(options, CliHost{time, *hostLine, *output, err, false, "/dev/ttyS9"});
        std::optional<int> status;
        auto task = testing::StoreResult(session.Run(), status);
        EXPECT_TRUE(time.RunUntil([&] { return until(session) || status.has_value(); }, 48h));
        session.Stop("SIGTERM");
        EXPECT_TRUE(time.RunUntil([&] { return status.has_value(); }, 1min));
        if (atEnd) {
            atEnd(session);
        }
        return status.value_or(-1);
    }
    static bool Judged(const CliSession& session, int exchanges) {
        return session.Monitor().Statistics().Exchanges() >= exchanges;
    }
};

TEST_F(CliWatchTest, ItsMetricsEqualItsStatisticsAfterAKnownRun) {
    std::string exposition;
    LineStatistics statistics;
    const int status = Watch(
        {"--addresses", "A-E", "--metrics", "127.0.0.1:0", "--stats", File("stats.csv")},
        [](CliSession& session) { return Judged(session, 400); },
        [&](CliSession& session) {
            ASSERT_NE(session.Metrics(), nullptr);
            EXPECT_GT(session.MetricsPort(), 0);
            exposition = session.Metrics()->Exposition();
            statistics = session.Monitor().Statistics();
        });
    EXPECT_EQ(status, kAllWell) << err.str();

    ASSERT_EQ(statistics.Controllers().size(), 5U);
    for (const ControllerStatistics& controller : statistics.Controllers()) {
        const std::string address = "{address=\"" + controller.address + "\"";
        const auto reason = [&](const char* name) {
            return Sample(exposition, "linetarvel_request_failures_total" + address + ",reason=\"" +
                                          name + "\"}");
        };
        EXPECT_EQ(Sample(exposition, "linetarvel_requests_total" + address + "}"),
                  controller.requests)
            << controller.address;
        EXPECT_EQ(reason("no_answer"), controller.noAnswer) << controller.address;
        EXPECT_EQ(reason("wrong_count"), controller.wrongCount) << controller.address;
        EXPECT_EQ(reason("no_cr"), controller.noCr) << controller.address;
        EXPECT_EQ(Sample(exposition, "linetarvel_response_seconds_count" + address + "}"),
                  controller.toLast.Count())
            << controller.address;
    }
    // The judgements, on the recent exchanges.
    const auto state = [&](const char* address, const char* name) {
        return Sample(exposition, std::string("linetarvel_controller_state{address=\"") + address +
                                      "\",state=\"" + name + "\"}");
    };
    EXPECT_EQ(state("A", "healthy"), 1);
    EXPECT_EQ(state("A", "silent"), 0);
    EXPECT_EQ(state("C", "silent"), 1);
    EXPECT_EQ(state("C", "healthy"), 0);
    EXPECT_EQ(Sample(exposition, "linetarvel_line_up"), 0);  // closed at the end
    EXPECT_EQ(Sample(exposition, "linetarvel_line_opens_total"), 1);
    EXPECT_FALSE(Sample(exposition, "linetarvel_round_trip_seconds").has_value());
    // The good answers' times are in the histogram, and its slow edge is one of its buckets.
    const std::optional<double> slow = Sample(exposition, "linetarvel_slow_threshold_seconds");
    ASSERT_TRUE(slow && *slow > 0);
    EXPECT_NE(exposition.find("linetarvel_response_seconds_bucket{address=\"A\",le=\"" +
                              [&] {
                                  std::ostringstream text;
                                  text.precision(17);
                                  text << *slow;
                                  return text.str();
                              }()),
              std::string::npos)
        << exposition;
    // The statistics file was written with the same run.
    EXPECT_NE(Read("stats.csv").find("\nC,"), std::string::npos);
}

TEST_F(CliWatchTest, TheErrorLimitDoesNotEndAWatch) {
    // C alone, silent: 900 failures end a test run; a watch goes on past them in one run.
    std::string exposition;
    const int status = Watch(
        {"--addresses", "C", "--metrics", "127.0.0.1:0", "--retry", "0"},
        [](CliSession& session) { return Judged(session, ErrorLimit + 100); },
        [&](CliSession& session) { exposition = session.Metrics()->Exposition(); });
    EXPECT_EQ(status, kAllWell) << err.str();
    EXPECT_EQ(Sample(exposition, "linetarvel_line_opens_total"), 1);
    EXPECT_GE(*Sample(exposition,
                      "linetarvel_request_failures_total{address=\"C\",reason=\"no_answer\"}"),
              ErrorLimit + 100);
    EXPECT_EQ(err.str().find("reopening"), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("the watch ended by SIGTERM; its files are complete"),
              std::string::npos)
        << err.str();
}

TEST_F(CliWatchTest, ListeningCountsTheLinesFramesOnceAndTheControllersAsHeard) {
    bus.reset();  // another master drives the line
    SimulatedMaster master(SimulatedBus(DemoControllers(), 0.0, 7), MasterSchedule{},
                           *ParseSettingsText(" 4800,N,8, 1"));
    std::optional<MasterOnLine> playing(std::in_place, master, line, time);
    std::string exposition;
    LineStatistics statistics;
    const int status = Watch(
        {"--listen", "--metrics", "127.0.0.1:0"},
        [](CliSession& session) { return Judged(session, 300); },
        [&](CliSession& session) {
            exposition = session.Metrics()->Exposition();
            statistics = session.Monitor().Statistics();
        });
    EXPECT_EQ(status, kAllWell) << err.str();
    EXPECT_TRUE(line.Transmitted().empty());  // not a byte sent
    ASSERT_EQ(statistics.Controllers().size(), 5U);
    int answers = 0;
    for (const ControllerStatistics& controller : statistics.Controllers()) {
        EXPECT_EQ(
            Sample(exposition, "linetarvel_requests_total{address=\"" + controller.address + "\"}"),
            controller.requests);
        answers += controller.requests - controller.noAnswer;
    }
    // Every request and every answer heard, each once: not once more for the exchange.
    const std::optional<double> frames = Sample(exposition, "linetarvel_frames_total");
    ASSERT_TRUE(frames);
    // Frames heard but not yet judged, and noise that made a frame, come on top; counted twice
    // they would be about twice as many.
    EXPECT_GE(*frames, statistics.Exchanges() + answers);
    EXPECT_LT(*frames, 1.2 * (statistics.Exchanges() + answers));
    EXPECT_EQ(Sample(exposition, "linetarvel_controller_state{address=\"C\",state=\"silent\"}"), 1);
}

struct CliWatchBeforeMidnightTest : CliWatchTest {
    CliWatchBeforeMidnightTest() : CliWatchTest({23, 55, 0}) {}
};

TEST_F(CliWatchBeforeMidnightTest, TheDayKeepsItsStatisticsAndTheTrafficGoesOnInANewFile) {
    // 5 minutes to midnight on 2026-12-09, on virtual time.
    const Instant midnight = time.Now() + 5min;
    std::string exposition;
    const int status = Watch(
        {"--addresses", "A,C", "--metrics", "127.0.0.1:0", "--traffic", File("traffic.csv"),
         "--stats", File("stats.csv"), "--keep-days", "2"},
        [&](CliSession& session) {
            // The simulated line's record of what was sent is no part of the watch.
            line.ClearTransmitted();
            return time.Now() > midnight + 10s && Judged(session, 5);
        },
        [&](CliSession& session) { exposition = session.Metrics()->Exposition(); });
    EXPECT_EQ(status, kAllWell) << err.str();
    // Yesterday's statistics stay in a file of their own; today's start again.
    const std::string yesterday = Read("stats-2026-12-09.csv");
    const std::string today = Read("stats.csv");
    const auto requestsOf = [](const std::string& csv, const std::string& address) {
        const std::size_t row = csv.find("\n" + address + ",");
        return row == std::string::npos ? -1 : std::stoi(csv.substr(csv.find(',', row) + 1));
    };
    EXPECT_GT(requestsOf(yesterday, "A"), 200);
    EXPECT_GT(requestsOf(today, "A"), 0);
    EXPECT_LT(requestsOf(today, "A"), 100);
    // The metrics count across the day.
    EXPECT_EQ(*Sample(exposition, "linetarvel_requests_total{address=\"A\"}"),
              requestsOf(yesterday, "A") + requestsOf(today, "A"));
    // Each day's traffic in its file, each with its header, the new day's numbered from 1.
    const std::string before = Read("traffic-2026-12-09.csv");
    const std::string after = Read("traffic-2026-12-10.csv");
    EXPECT_EQ(before.rfind("exchange,ms from run start", 0), 0U);
    EXPECT_EQ(after.rfind("exchange,ms from run start", 0), 0U);
    EXPECT_NE(after.find("\n1,"), std::string::npos) << after.substr(0, 400);
    EXPECT_EQ(line.TimesOpened(), 1);
}

TEST_F(CliWatchTest, APortPulledAndGivenBackIsReopenedAndItsDownTimeCounted) {
    Instant pulledAt{};
    Instant givenBackAt{};
    std::string exposition;
    bool pulled = false;
    const int status = Watch(
        {"--addresses", "A,B", "--metrics", "127.0.0.1:0", "--traffic", File("traffic.csv")},
        [&](CliSession& session) {
            if (!pulled && Judged(session, 20)) {
                pulled = true;
                pulledAt = time.Now();
                line.SetPortAvailable(1, false, "No such file or directory");
                line.Lose("the adapter was pulled out");
                // Given back after 10 s: the reopenings 1, 3 and 7 s after the loss fail, the
                // one at 15 s succeeds.
                time.CallAt(time.Now() + 10s, [&] {
                    givenBackAt = time.Now();
                    line.SetPortAvailable(1, true);
                });
            }
            return pulled && givenBackAt != Instant{} && Judged(session, 60);
        },
        [&](CliSession& session) { exposition = session.Metrics()->Exposition(); });
    EXPECT_EQ(status, kAllWell) << err.str();
    EXPECT_EQ(Sample(exposition, "linetarvel_line_opens_total"), 2);
    // Down from the loss to the reopening 1 + 2 + 4 + 8 = 15 s after it.
    const std::optional<double> down = Sample(exposition, "linetarvel_line_down_seconds_total");
    ASSERT_TRUE(down);
    EXPECT_NEAR(*down, 15, 0.5);
    const std::string log = err.str();
    EXPECT_NE(log.find("<4>line-tarvel-cli: COM1 was lost: the adapter was pulled out; "
                       "reopening in 1 s"),
              std::string::npos)
        << log;
    // Told once, not at every attempt.
    const std::string refused = "cannot open the port:";
    EXPECT_EQ(log.find(refused), log.rfind(refused)) << log;
    EXPECT_NE(log.find("<5>line-tarvel-cli: the port /dev/ttyS9 is open"), std::string::npos)
        << log;
    // The traffic of before and after the loss is in the day's file.
    const std::string traffic = Read("traffic-2026-12-09.csv");
    EXPECT_NE(traffic.find("exchange,ms from run start"), std::string::npos);
    EXPECT_EQ(traffic.find("exchange,ms from run start"),
              traffic.rfind("exchange,ms from run start"));
}

TEST_F(CliWatchTest, TargetsArePrintedFromTheConfsAndABrokenOneIsToldButDoesNotHideTheOthers) {
    std::filesystem::create_directories(folder / "confs");
    std::ofstream(folder / "confs" / "kiln.conf")
        << "ARGS=\"--port /dev/ttyUSB0 --addresses 1-8 --metrics 127.0.0.1:9781\"\n";
    std::ofstream(folder / "confs" / "boiler.conf")
        << "SITE=south\nARGS=\"--listen --metrics 9780\"\n";
    std::ofstream(folder / "confs" / "broken.conf") << "ARGS=\"--listen\"\n";
    const int status = Run({"watch", "--targets", (folder / "confs").string(), "--site", "north"});
    EXPECT_EQ(status, kLineFailures);
    const QJsonDocument targets = QJsonDocument::fromJson(QByteArray::fromStdString(out.str()));
    ASSERT_TRUE(targets.isArray()) << out.str();
    ASSERT_EQ(targets.array().size(), 2);
    const QJsonObject boiler = targets.array()[0].toObject();
    EXPECT_EQ(boiler["targets"].toArray()[0].toString(), "127.0.0.1:9780");
    EXPECT_EQ(boiler["labels"].toObject()["line"].toString(), "boiler");
    EXPECT_EQ(boiler["labels"].toObject()["site"].toString(), "south");
    EXPECT_EQ(targets.array()[1].toObject()["labels"].toObject()["site"].toString(), "north");
    EXPECT_NE(err.str().find("broken.conf"), std::string::npos) << err.str();
    EXPECT_EQ(err.str().find("<3>"), std::string::npos) << err.str();
}

}  // namespace
}  // namespace tarvel
