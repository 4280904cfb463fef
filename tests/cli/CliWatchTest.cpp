// SPDX-License-Identifier: GPL-3.0-or-later
// `watch` on virtual time and the simulated line (A, B, E healthy, C silent, D noisy): its
// metrics against its statistics, a port lost and given back, the end on a signal, the day's
// files.

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <filesystem>
#include <sstream>

#include "cli/CliSession.h"
#include "cli/CliSessionFixture.h"
#include "monitor/LineStatistics.h"
#include "watch/WatchMetrics.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;

// The value of one series of the exposition, such as
// linetarvel_requests_total{address="A"}; nothing when it is not there.
std::optional<double> Sample(const std::string& exposition, const std::string& series) {
    std::istringstream lines(exposition);
    for (std::string line; std::getline(lines, line);) {
        if (line.size() > series.size() && line.compare(0, series.size(), series) == 0 &&
            line[series.size()] == ' ') {
            return std::stod(line.substr(series.size() + 1));
        }
    }
    return std::nullopt;
}

struct CliWatchTest : CliSessionTest {
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
    // C alone, silent: 900 failures end a test run; a watch goes on past them.
    const int status = Watch({"--addresses", "C", "--metrics", "127.0.0.1:0", "--retry", "0"},
                             [](CliSession& session) { return Judged(session, 1000); });
    EXPECT_EQ(status, kAllWell) << err.str();
    EXPECT_GE(ErrorLimit, 900);
    EXPECT_NE(err.str().find("the watch ended by SIGTERM; its files are complete"),
              std::string::npos)
        << err.str();
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

}  // namespace
}  // namespace tarvel
