// SPDX-License-Identifier: GPL-3.0-or-later
// A watch's metrics from made-up exchanges: the counts, the reasons present from the start, the
// state judged on the recent exchanges, the histogram's slow edge, the line's own counts.

#include <gtest/gtest.h>

#include <sstream>

#include "support/Exposition.h"

#include "watch/WatchMetrics.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;

using testing::Sample;

struct WatchMetricsTest : ::testing::Test {
    Instant start{};
    WatchedLine line = [] {
        WatchedLine made;
        made.port = "/dev/ttyUSB0";
        made.protocol = "modbus-rtu";
        made.settings = "9600 8E1";
        made.verdicts = VerdictFamily::ModbusRtu;
        made.addresses = {"1", "2"};
        made.characterTime = 1ms;
        made.slowFrom = 150ms;
        return made;
    }();
    WatchMetrics metrics{line, "1.2.3", start};
    Instant now = start + 1s;

    // An exchange with `address`, its request 8 characters long, its answer's last character
    // `responseTime` after the end of the request.
    void Exchange(const std::string& address, ExchangeVerdict verdict,
                  Duration responseTime = 20ms) {
        tarvel::Exchange exchange;
        exchange.request.stationText = address;
        exchange.request.frame = std::string(8, 'r');
        exchange.request.written = now;
        exchange.family = VerdictFamily::ModbusRtu;
        exchange.verdict = verdict;
        exchange.judgedAt = LocalDateTime{{2026, 12, 10}, {1, 0, 0}, 60};
        if (verdict != ExchangeVerdict::NoAnswer) {
            exchange.arrived = std::string(7, 'a');
            exchange.lastArrival = now + 8ms + responseTime;
        }
        metrics.Judged(exchange);
        now += 250ms;
    }
    std::string Text() const { return metrics.Exposition(); }
    std::optional<double> State(const std::string& address, const std::string& state) const {
        return Sample(Text(), "linetarvel_controller_state{address=\"" + address + "\",state=\"" +
                                  state + "\"}");
    }
};

TEST_F(WatchMetricsTest, EveryReasonOfTheProtocolIsThereAtZeroForEveryControllerFromTheStart) {
    const std::string text = Text();
    for (const std::string address : {"1", "2"}) {
        for (const char* reason : {"no_answer", "bad_crc", "wrong_length", "wrong_source", "cut"}) {
            EXPECT_EQ(Sample(text, "linetarvel_request_failures_total{address=\"" + address +
                                       "\",reason=\"" + reason + "\"}"),
                      0)
                << address << " " << reason;
        }
        EXPECT_EQ(Sample(text, "linetarvel_requests_total{address=\"" + address + "\"}"), 0);
        EXPECT_EQ(State(address, "not_asked"), 1);
    }
    // Ascon's reasons are not RTU's.
    EXPECT_EQ(text.find("reason=\"no_cr\""), std::string::npos);
    EXPECT_EQ(Sample(text, "linetarvel_line_info{port=\"/dev/ttyUSB0\",protocol=\"modbus-rtu\","
                           "settings=\"9600 8E1\"}"),
              1);
    EXPECT_EQ(Sample(text, "linetarvel_build_info{version=\"1.2.3\"}"), 1);
    EXPECT_EQ(Sample(text, "linetarvel_line_up"), 0);
    // Nothing Prometheus makes itself, and nothing without the prefix.
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const std::string name =
            line.rfind("# ", 0) == 0 ? line.substr(line.find(' ', 2) + 1) : line;
        EXPECT_EQ(name.rfind("linetarvel_", 0), 0U) << line;
    }
}

TEST_F(WatchMetricsTest, ExchangesAreCountedByControllerAndReasonWithTheirTimes) {
    Exchange("1", ExchangeVerdict::Good, 20ms);
    Exchange("1", ExchangeVerdict::Good, 40ms);
    Exchange("1", ExchangeVerdict::BadCrc);
    Exchange("2", ExchangeVerdict::NoAnswer);
    const std::string text = Text();
    EXPECT_EQ(Sample(text, "linetarvel_requests_total{address=\"1\"}"), 3);
    EXPECT_EQ(Sample(text, "linetarvel_request_failures_total{address=\"1\",reason=\"bad_crc\"}"),
              1);
    EXPECT_EQ(Sample(text, "linetarvel_request_failures_total{address=\"2\",reason=\"no_answer\"}"),
              1);
    EXPECT_EQ(Sample(text, "linetarvel_response_seconds_count{address=\"1\"}"), 2);
    EXPECT_NEAR(*Sample(text, "linetarvel_response_seconds_sum{address=\"1\"}"), 0.060, 1e-9);
    // The slow threshold is an edge: both answers below it, none above.
    EXPECT_EQ(Sample(text, "linetarvel_response_seconds_bucket{address=\"1\",le=\"0.15\"}"), 2);
    EXPECT_EQ(Sample(text, "linetarvel_slow_threshold_seconds"), 0.15);
    // Unix time of 01:00 at UTC+1 on 2026-12-10, for the good answer only.
    EXPECT_EQ(Sample(text, "linetarvel_last_good_answer_timestamp_seconds{address=\"1\"}"),
              1796860800.0);
    EXPECT_FALSE(Sample(text, "linetarvel_last_good_answer_timestamp_seconds{address=\"2\"}"));
    // Requests and the answers that came: 4 requests, 3 answers of 7 bytes, the garbled one
    // noise.
    EXPECT_EQ(Sample(text, "linetarvel_frames_total"), 7);
    EXPECT_EQ(Sample(text, "linetarvel_noise_bytes_total"), 7);
    EXPECT_NEAR(*Sample(text, "linetarvel_busy_seconds_total"), (4 * 8 + 3 * 7) * 0.001, 1e-9);

    const std::vector<ControllerReading> readings = metrics.Readings();
    ASSERT_EQ(readings.size(), 2U);
    EXPECT_EQ(readings[0].requests, 3);
    EXPECT_EQ(readings[0].failuresByReason.at("bad_crc"), 1);
    EXPECT_EQ(readings[0].failuresByReason.at("no_answer"), 0);
}

TEST_F(WatchMetricsTest, TheStateFollowsTheRecentExchangesOnly) {
    Exchange("1", ExchangeVerdict::NoAnswer);
    EXPECT_EQ(State("1", "silent"), 1);
    EXPECT_EQ(State("1", "not_asked"), 0);
    Exchange("1", ExchangeVerdict::Good);
    EXPECT_EQ(State("1", "intermittent"), 1);
    EXPECT_EQ(State("1", "silent"), 0);
    Exchange("1", ExchangeVerdict::WrongSource);
    EXPECT_EQ(State("1", "garbled"), 1);
    // A run of good answers pushes the old failures out of the judgement.
    for (std::size_t i = 0; i < WatchMetrics::kRecentExchanges; ++i) {
        Exchange("1", ExchangeVerdict::Good, 30ms);
    }
    EXPECT_EQ(State("1", "healthy"), 1);
    EXPECT_EQ(State("1", "garbled"), 0);
    // Answers later than the threshold, all of them: slow.
    for (std::size_t i = 0; i < WatchMetrics::kRecentExchanges; ++i) {
        Exchange("1", ExchangeVerdict::Good, 160ms);
    }
    EXPECT_EQ(State("1", "slow"), 1);
    EXPECT_EQ(metrics.Readings()[0].state, "slow");
    EXPECT_NEAR(metrics.Readings()[0].responseP95Seconds, 0.160, 1e-9);
    // Its counters kept everything.
    EXPECT_EQ(metrics.Readings()[0].requests, 3 + 2 * WatchMetrics::kRecentExchanges);
    // A controller heard but not configured (listening) joins with its first exchange.
    Exchange("7", ExchangeVerdict::Good);
    EXPECT_EQ(State("7", "healthy"), 1);
    EXPECT_EQ(Sample(Text(), "linetarvel_request_failures_total{address=\"7\",reason=\"cut\"}"), 0);
}

TEST_F(WatchMetricsTest, DownTimeAndTheLinesOwnCountsGoOnAcrossReopenings) {
    metrics.LineUp(start + 2s);  // the first opening took 2 s
    EXPECT_EQ(Sample(Text(), "linetarvel_line_up"), 1);
    metrics.SetUartErrors({3, 0, 1, 0});
    metrics.SetUartErrors({5, 0, 1, 0});
    metrics.SetEcho({true, 10, 2, 1, 0});
    metrics.LineDown(start + 10s);
    metrics.Tick(start + 15s);
    EXPECT_EQ(Sample(Text(), "linetarvel_line_down_seconds_total"), 7);
    metrics.LineUp(start + 20s);
    // A pulled adapter's driver starts its counts again.
    metrics.SetUartErrors({1, 0, 0, 0});
    metrics.SetEcho({true, 12, 2, 3, 0});
    metrics.Tick(start + 30s);
    const std::string text = Text();
    EXPECT_EQ(Sample(text, "linetarvel_line_down_seconds_total"), 12);
    EXPECT_EQ(Sample(text, "linetarvel_line_opens_total"), 2);
    EXPECT_EQ(Sample(text, "linetarvel_uart_errors_total{kind=\"framing\"}"), 6);
    EXPECT_EQ(Sample(text, "linetarvel_uart_errors_total{kind=\"overrun\"}"), 1);
    EXPECT_EQ(Sample(text, "linetarvel_echo_faults_total{kind=\"differed\"}"), 2);
    EXPECT_EQ(Sample(text, "linetarvel_echo_faults_total{kind=\"missing\"}"), 3);
    EXPECT_FALSE(Sample(text, "linetarvel_round_trip_seconds"));
    metrics.SetRoundTrip(3ms);
    EXPECT_EQ(Sample(Text(), "linetarvel_round_trip_seconds"), 0.003);
}

}  // namespace
}  // namespace tarvel
