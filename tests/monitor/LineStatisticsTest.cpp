// SPDX-License-Identifier: GPL-3.0-or-later
// Statistics, judgements, what a scan found, the failure rate of a minute not yet over, the
// traffic ring and the CSV texts, from exchange values made by hand.

#include <gtest/gtest.h>

#include "monitor/LineStatistics.h"
#include "monitor/MonitorCsv.h"
#include "monitor/TrafficLog.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;

const Instant kStart{std::chrono::hours(1)};

// An exchange with `address`, written at `at` after the start; a good one completes its answer
// `response` after the end of its 6-character request (1 ms a character here).
Exchange Made(char address, ExchangeVerdict verdict, Duration at = 0ms, Duration response = 10ms) {
    Exchange exchange;
    exchange.request.station = AddressIndexOf(address);
    exchange.request.stationText = std::string(1, address);
    exchange.request.frame = std::string(1, address) + "?X  \r";
    exchange.request.written = kStart + at;
    exchange.verdict = verdict;
    const Instant requestEnd = exchange.request.written + 6ms;
    if (verdict == ExchangeVerdict::Good) {
        exchange.answer = exchange.arrived = std::string(1, address) + "215\r";
        exchange.received = 5;
        exchange.firstArrival = requestEnd + response - 4ms;
        exchange.lastArrival = requestEnd + response;
        exchange.judged = *exchange.lastArrival;
    } else {
        exchange.judged = exchange.request.written + 201ms;
    }
    return exchange;
}

// The same, made by the line detector, which names its findings in words of its own.
Exchange Scanned(char address, ExchangeVerdict verdict, Duration at = 0ms,
                 Duration response = 10ms) {
    Exchange exchange = Made(address, verdict, at, response);
    exchange.kind = ExchangeKind::Probe;
    return exchange;
}

LineStatistics Begun(Duration window = 200ms) {
    LineStatistics statistics;
    statistics.Begin(kStart, 1ms, window);
    return statistics;
}

TEST(ResponseTimesTest, PercentilesOfAKnownSetAreTheNearestRank) {
    ResponseTimes times;
    for (int ms = 100; ms >= 1; --ms) {  // the order of arrival does not matter
        times.Add(std::chrono::milliseconds(ms));
    }
    EXPECT_EQ(times.Count(), 100);
    EXPECT_EQ(times.Minimum(), 1ms);
    EXPECT_EQ(times.Maximum(), 100ms);
    EXPECT_EQ(times.Mean(), 50500us);
    EXPECT_EQ(times.Percentile(0.95), 95ms);
    EXPECT_EQ(times.Percentile(0.50), 50ms);
    EXPECT_EQ(times.Percentile(1.0), 100ms);
    EXPECT_EQ(times.Percentile(0.0), 1ms);
}

TEST(ResponseTimesTest, TimesAreKeptToATenthOfAMillisecondAndLongOnesStayExact) {
    ResponseTimes times;
    times.Add(13041667ns);  // in the bin of 13.0
    times.Add(13050000ns);  // in the bin of 13.1 (half up)
    times.Add(13160000ns);  // in the bin of 13.2
    EXPECT_EQ(times.Percentile(0.5), 13100us);
    // A bin's rounded time never falls outside the exact extremes: the 95th percentile is never
    // shown above the maximum.
    EXPECT_EQ(times.Percentile(0.1), 13041667ns);
    EXPECT_EQ(times.Percentile(1.0), 13160000ns);
    EXPECT_EQ(Milliseconds(times.Minimum()), "13.0");
    EXPECT_EQ(Milliseconds(13050000ns), "13.1");
    EXPECT_EQ(Milliseconds(17250000ns), "17.3");
    EXPECT_EQ(Milliseconds(-17250000ns), "-17.3");
    EXPECT_EQ(Milliseconds(0ns), "0.0");
    EXPECT_EQ(OneDecimal(94.44), "94.4");
    EXPECT_EQ(OneDecimal(100.0), "100.0");

    ResponseTimes slow;
    slow.Add(2500ms);  // beyond the histogram
    slow.Add(-1ms);    // an arrival stamped before the request's end counts as 0
    EXPECT_EQ(slow.Minimum(), 0ms);
    EXPECT_EQ(slow.Percentile(1.0), 2500ms);
    EXPECT_EQ(slow.Histogram().size(), static_cast<std::size_t>(ResponseTimes::Bins));

    EXPECT_EQ(ResponseTimes{}.Percentile(0.95), 0ms);
    EXPECT_TRUE(ResponseTimes{}.Histogram().empty());
}

TEST(LineStatisticsTest, CountsEachVerdictPerControllerInTheOrderTheyFirstAnswer) {
    LineStatistics statistics = Begun();
    statistics.Add(Made('B', ExchangeVerdict::NoAnswer, 0ms));
    statistics.Add(Made('A', ExchangeVerdict::Good, 300ms, 12ms));
    statistics.Add(Made('A', ExchangeVerdict::WrongCount, 600ms));
    statistics.Add(Made('A', ExchangeVerdict::NoCr, 900ms));
    statistics.Add(Made('A', ExchangeVerdict::Good, 1200ms, 20ms));
    statistics.Add(Scanned('@', ExchangeVerdict::NoAnswer, 1500ms));
    statistics.Add(Scanned('@', ExchangeVerdict::NoCr, 1800ms));

    ASSERT_EQ(statistics.Controllers().size(), 3u);
    EXPECT_EQ(statistics.Controllers()[0].address, "B");
    const ControllerStatistics& a = *statistics.Find(AddressIndexOf('A'));
    EXPECT_EQ(a.requests, 4);
    EXPECT_EQ(a.good, 2);
    EXPECT_EQ(a.wrongCount, 1);
    EXPECT_EQ(a.noCr, 1);
    EXPECT_DOUBLE_EQ(a.SuccessRate(), 50.0);
    EXPECT_EQ(a.toLast.Minimum(), 12ms);
    EXPECT_EQ(a.toLast.Maximum(), 20ms);
    EXPECT_EQ(a.toFirst.Mean(), 12ms);  // (8 + 16) / 2
    ASSERT_TRUE(a.lastGood.has_value());
    const ControllerStatistics& at = *statistics.Find(AddressIndexOf('@'));
    EXPECT_EQ(at.notDetected, 1);
    EXPECT_EQ(at.unknownFormat, 1);
    EXPECT_EQ(at.noAnswer + at.noCr, 0);
    EXPECT_EQ(statistics.Find(AddressIndexOf('Z')), nullptr);

    EXPECT_EQ(statistics.Exchanges(), 7);
    EXPECT_EQ(statistics.Good(), 2);
    EXPECT_NEAR(statistics.SuccessRate(), 200.0 / 7, 1e-9);
    EXPECT_EQ(statistics.LongestFailureRun(), 2);
}

TEST(LineStatisticsTest, OnlyAsconsLineDetectorNamesItsFindingsApart) {
    LineStatistics statistics = Begun();
    Exchange missed = Scanned('@', ExchangeVerdict::NoAnswer, 0ms);
    missed.family = VerdictFamily::ModbusRtu;
    statistics.Add(missed);
    const ControllerStatistics& modbus = *statistics.Find(AddressIndexOf('@'));
    EXPECT_EQ(modbus.noAnswer, 1);
    EXPECT_EQ(modbus.notDetected, 0);
    EXPECT_EQ(VerdictMessage(missed), "No answer !");
    missed.family = VerdictFamily::Ascon;
    EXPECT_EQ(VerdictMessage(missed), "Not detected !");
}

TEST(LineStatisticsTest, TheLongestRunOfFailuresAndTheFailuresOfEachMinute) {
    LineStatistics statistics = Begun();
    const ExchangeVerdict pattern[] = {ExchangeVerdict::NoAnswer, ExchangeVerdict::NoAnswer,
                                       ExchangeVerdict::Good,     ExchangeVerdict::NoAnswer,
                                       ExchangeVerdict::NoCr,     ExchangeVerdict::NoAnswer,
                                       ExchangeVerdict::Good,     ExchangeVerdict::NoAnswer};
    Duration at = 0ms;
    for (const ExchangeVerdict verdict : pattern) {
        statistics.Add(Made('A', verdict, at));
        at += 25s;
    }
    EXPECT_EQ(statistics.LongestFailureRun(), 3);
    // Failures judged at 0:00, 0:25, 1:15, 1:40, 2:05 and 2:55.
    EXPECT_EQ(statistics.FailuresByMinute(), (std::vector<int>{2, 2, 2}));
    EXPECT_EQ(statistics.Find(AddressIndexOf('A'))->failuresByMinute, (std::vector<int>{2, 2, 2}));
    // Eight exchanges from the start to the last verdict, 175.201 s later.
    EXPECT_NEAR(statistics.ExchangesPerSecond(), 8 / 175.201, 1e-9);

    statistics.Begin(kStart + 1h, 1ms, 200ms);
    EXPECT_EQ(statistics.Exchanges(), 0);
    EXPECT_TRUE(statistics.Controllers().empty());
    EXPECT_TRUE(statistics.FailuresByMinute().empty());
    EXPECT_EQ(statistics.LongestFailureRun(), 0);
}

struct JudgementCase {
    const char* name;
    std::vector<ExchangeVerdict> verdicts;
    Duration response;
    Judgement expected;
    bool scanned = false;
};

TEST(ScanFindingsTest, TheAddressesTriedThoseFoundAndHowFastTheyAnswered) {
    LineStatistics scan = Begun(300ms);
    EXPECT_EQ(ScanFindingsText(FindingsOf(scan)), "0 addresses tried, no controller found");
    scan.Add(Scanned('A', ExchangeVerdict::Good, 0ms, 12ms));
    scan.Add(Scanned('B', ExchangeVerdict::NoAnswer, 1s));
    EXPECT_EQ(ScanFindingsText(FindingsOf(scan)),
              "2 addresses tried, 1 controller found (A), response 12.0 ms");
    scan.Add(Scanned('C', ExchangeVerdict::NoCr, 2s));  // an answer, but no controller
    scan.Add(Scanned('D', ExchangeVerdict::Good, 3s, 7300us));
    const ScanFindings findings = FindingsOf(scan);
    EXPECT_EQ(findings.addressesTried, 4);
    EXPECT_EQ(findings.found, (std::vector<std::string>{"A", "D"}));
    EXPECT_EQ(findings.fastest, 7300us);
    EXPECT_EQ(findings.slowest, 12ms);
    EXPECT_EQ(ScanFindingsText(findings),
              "4 addresses tried, 2 controllers found (A D), response 7.3\u201312.0 ms");
    scan.Clear();
    scan.Begin(kStart, 1ms, 300ms);
    scan.Add(Scanned('B', ExchangeVerdict::NoAnswer, 0ms));
    EXPECT_EQ(ScanFindingsText(FindingsOf(scan)), "1 address tried, no controller found");
}

TEST(FailureRateTest, TheMinuteNotYetOverIsScaledToAWholeMinute) {
    // A whole minute counts as it is; part of one is scaled, from no less than ten seconds.
    EXPECT_DOUBLE_EQ(FailuresPerMinute(3, 1min), 3);
    EXPECT_DOUBLE_EQ(FailuresPerMinute(3, 30s), 6);
    EXPECT_DOUBLE_EQ(FailuresPerMinute(3, 15s), 12);
    EXPECT_DOUBLE_EQ(FailuresPerMinute(1, 2s), 6);
    EXPECT_DOUBLE_EQ(FailuresPerMinute(0, 0s), 0);

    const auto minutes = [](Duration elapsed, std::size_t counted) {
        const RunMinutes run = MinutesOf(elapsed, counted);
        return std::pair(run.begun, run.coveredOfLast);
    };
    EXPECT_EQ(minutes(0s, 0), std::pair(std::size_t{1}, Duration{0s}));
    EXPECT_EQ(minutes(45s, 1), std::pair(std::size_t{1}, Duration{45s}));
    EXPECT_EQ(minutes(60s, 1), std::pair(std::size_t{1}, Duration{60s}));
    EXPECT_EQ(minutes(150s, 3), std::pair(std::size_t{3}, Duration{30s}));
    // A failure judged right at a minute's start has begun that minute.
    EXPECT_EQ(minutes(120s, 3), std::pair(std::size_t{3}, Duration{0s}));
    EXPECT_TRUE(MinutesOf(45s, 1).LastIsPartial());
    EXPECT_FALSE(MinutesOf(120s, 2).LastIsPartial());
}

TEST(JudgementTest, EachMixOfExchangesHasItsJudgementAndAReason) {
    using V = ExchangeVerdict;
    const JudgementCase cases[] = {
        {"all good", {V::Good, V::Good, V::Good}, 10ms, Judgement::Healthy},
        {"never answered", {V::NoAnswer, V::NoAnswer}, 10ms, Judgement::Silent},
        {"never found by a scan", {V::NoAnswer, V::NoAnswer}, 10ms, Judgement::Silent, true},
        {"misses some", {V::Good, V::NoAnswer, V::Good}, 10ms, Judgement::Intermittent},
        {"a wrong length", {V::Good, V::WrongCount, V::NoAnswer}, 10ms, Judgement::Garbled},
        {"no CR only", {V::NoCr}, 10ms, Judgement::Garbled},
        {"a scan's unknown format", {V::Good, V::NoCr}, 10ms, Judgement::Garbled, true},
        // The 200 ms window leaves 194 ms after the 6 ms request; 75 % of that is 145.5 ms.
        {"late in the window", {V::Good, V::Good}, 145600us, Judgement::Slow},
        {"just in the limit", {V::Good, V::Good}, 145500us, Judgement::Healthy},
        {"slow and missing", {V::Good, V::NoAnswer}, 180ms, Judgement::Intermittent},
        {"nothing yet", {}, 10ms, Judgement::NotAsked},
    };
    for (const JudgementCase& mix : cases) {
        LineStatistics statistics = Begun();
        for (const ExchangeVerdict verdict : mix.verdicts) {
            statistics.Add(mix.scanned ? Scanned('C', verdict, 0ms, mix.response)
                                       : Made('C', verdict, 0ms, mix.response));
        }
        ControllerStatistics none;
        none.address = "C";
        const ControllerStatistics* controller = statistics.Find(AddressIndexOf('C'));
        const Assessment assessment = Assess(controller ? *controller : none, 200ms);
        EXPECT_EQ(assessment.judgement, mix.expected) << mix.name;
        EXPECT_FALSE(assessment.reason.empty()) << mix.name;
    }

    // One slow answer in twenty stays under the 95th percentile.
    LineStatistics mostlyFast = Begun();
    for (int i = 0; i < 19; ++i) {
        mostlyFast.Add(Made('C', V::Good, 0ms, 10ms));
    }
    mostlyFast.Add(Made('C', V::Good, 0ms, 190ms));
    EXPECT_EQ(Assess(*mostlyFast.Find(AddressIndexOf('C')), 200ms).judgement, Judgement::Healthy);
    mostlyFast.Add(Made('C', V::Good, 0ms, 190ms));
    const Assessment slow = Assess(*mostlyFast.Find(AddressIndexOf('C')), 200ms);
    EXPECT_EQ(slow.judgement, Judgement::Slow);
    EXPECT_NE(slow.reason.find("190.0 ms"), std::string::npos) << slow.reason;

    // A controller that misses answers and is late with the others: both are said.
    LineStatistics missingAndLate = Begun();
    missingAndLate.Add(Made('C', V::Good, 0ms, 180ms));
    missingAndLate.Add(Made('C', V::NoAnswer));
    const Assessment intermittent = Assess(*missingAndLate.Find(AddressIndexOf('C')), 200ms);
    EXPECT_EQ(intermittent.judgement, Judgement::Intermittent);
    EXPECT_NE(intermittent.reason.find("180.0 ms"), std::string::npos) << intermittent.reason;
}

TEST(JudgementTest, AtALowSpeedTheRequestsOwnTimeIsNotCountedAgainstTheController) {
    // 1200 baud 8N1: 8.33 ms a character, 50 ms for the request. Its answer can complete at
    // most 150 ms after the request's end; slow is from 112.5 ms on.
    LineStatistics statistics;
    statistics.Begin(kStart, 8333333ns, 200ms);
    const auto written = [](Duration response) {
        Exchange exchange = Made('C', ExchangeVerdict::Good, 0ms, response);
        const Instant requestEnd = exchange.request.written + 6 * 8333333ns;
        exchange.firstArrival = requestEnd + response - 4ms;
        exchange.lastArrival = exchange.judged = requestEnd + response;
        return exchange;
    };
    statistics.Add(written(100ms));
    EXPECT_EQ(Assess(*statistics.Find(AddressIndexOf('C')), 200ms).judgement, Judgement::Healthy);
    EXPECT_EQ(statistics.Find(AddressIndexOf('C'))->toLast.Maximum(), 100ms);
    statistics.Add(written(120ms));
    statistics.Add(written(120ms));
    const Assessment slow = Assess(*statistics.Find(AddressIndexOf('C')), 200ms);
    EXPECT_EQ(slow.judgement, Judgement::Slow);
    EXPECT_NE(slow.reason.find("112.5 ms"), std::string::npos) << slow.reason;
    EXPECT_NE(slow.reason.find("150.0 ms the answer window leaves"), std::string::npos)
        << slow.reason;
}

TEST(TrafficLogTest, TheRingKeepsExactlyItsLastEntriesInOrder) {
    TrafficLog log;
    ASSERT_EQ(log.Capacity(), 100000u);
    const int added = 100000 + 7;
    for (int i = 0; i < added; ++i) {
        Exchange exchange = Made('A', ExchangeVerdict::Good, std::chrono::milliseconds(i));
        exchange.request.attempt = i;  // marks the entry
        log.Add(exchange, kStart, {});
    }
    EXPECT_EQ(log.Size(), 100000u);
    EXPECT_EQ(log.Added(), static_cast<std::uint64_t>(added));
    EXPECT_EQ(log.At(0).exchange.request.attempt, 7);
    EXPECT_EQ(log.NumberOf(0), 8u);
    EXPECT_EQ(log.At(99999).exchange.request.attempt, added - 1);
    EXPECT_EQ(log.NumberOf(99999), static_cast<std::uint64_t>(added));
    for (std::size_t i = 1; i < log.Size(); i += 997) {
        EXPECT_EQ(log.At(i).exchange.request.attempt, log.At(i - 1).exchange.request.attempt + 1);
    }
    log.Clear();
    EXPECT_EQ(log.Size(), 0u);
    EXPECT_EQ(log.Added(), 0u);
}

TEST(TrafficLogTest, RowsShowTimesBytesAndVerdicts) {
    TrafficLog log(4);
    Exchange good = Made('A', ExchangeVerdict::Good, 1500ms, 12ms);
    good.judgedAt = {{2026, 12, 9}, {9, 15, 2}, 60};
    log.Add(good, kStart, {{2026, 12, 9}, {9, 15, 1}, 60});
    // Three characters and then nothing: they are shown, though the verdict is "No answer !".
    Exchange partial = Made('B', ExchangeVerdict::NoAnswer, 1800ms);
    partial.arrived = "B2\x85";
    partial.received = 3;
    partial.firstArrival = partial.request.written + 9ms;
    log.Add(partial, kStart, {{2026, 12, 9}, {9, 15, 2}, 60});

    const TrafficRow request = RequestRow(log, 0);
    EXPECT_FALSE(request.answer);
    EXPECT_EQ(request.sinceRunStart, 1500ms);
    EXPECT_EQ(request.hex, "41 3F 58 20 20 0D");
    EXPECT_EQ(request.text, "A?X  <CR>");
    EXPECT_EQ(request.characters, 6);
    EXPECT_TRUE(request.verdict.empty());
    EXPECT_EQ(request.at.time, (TimeOfDay{9, 15, 1}));  // its own, not its verdict's
    const TrafficRow answer = AnswerRow(log, 0);
    EXPECT_EQ(answer.sinceRunStart, 1500ms + 6ms + 8ms);  // the first character's arrival
    EXPECT_EQ(answer.text, "A215<CR>");
    EXPECT_EQ(answer.verdict, "good");
    EXPECT_EQ(answer.at.time, (TimeOfDay{9, 15, 2}));
    const TrafficRow partialAnswer = AnswerRow(log, 1);
    EXPECT_EQ(partialAnswer.sinceRunStart, 1800ms + 9ms);  // its first character's arrival
    EXPECT_EQ(partialAnswer.characters, 3);
    EXPECT_EQ(partialAnswer.hex, "42 32 85");
    EXPECT_EQ(partialAnswer.text, "B2<85>");
    EXPECT_EQ(partialAnswer.verdict, "No answer !");
    log.Add(Made('C', ExchangeVerdict::NoAnswer, 2100ms), kStart, {});
    const TrafficRow silence = AnswerRow(log, 2);
    EXPECT_EQ(silence.sinceRunStart, 2100ms + 201ms);  // when it was judged
    EXPECT_EQ(silence.hex, "");
    EXPECT_EQ(silence.text, "");

    EXPECT_EQ(VisibleText(std::string("\x00\n\x1F\x7F \xE9\x9F\xA0", 8)),
              "<NUL><LF><US><DEL> \u00E9<9F>\u00A0");
    EXPECT_EQ(HexText(std::string("\x00\xFF", 2)), "00 FF");
}

TEST(MonitorCsvTest, FieldsAreQuotedOnlyWhenTheyMustBe) {
    EXPECT_EQ(CsvField("No answer !"), "No answer !");
    EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
    EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(CsvField("two\r\nlines"), "\"two\r\nlines\"");
    EXPECT_EQ(CsvField("lone\rCR"), "\"lone\rCR\"");
    EXPECT_EQ(CsvField("lone\nLF"), "\"lone\nLF\"");
    EXPECT_EQ(CsvField(""), "");
    EXPECT_EQ(CsvRecord({"a", "b,c", ""}), "a,\"b,c\",\r\n");
}

TEST(MonitorCsvTest, TrafficAndStatisticsHaveAHeaderAndOneRecordPerLine) {
    TrafficLog log;
    Exchange comma = Made(',', ExchangeVerdict::NoCr, 0ms);  // an address that needs quoting
    comma.arrived = ",21\"";
    comma.received = 4;
    // Written just before midnight, judged just after: each row has its own date.
    comma.judgedAt = {{2026, 12, 31}, {0, 0, 0}, -300};
    const auto line = std::make_shared<const LineDescription>(
        LineDescription{"/dev/ttyUSB0", "COM2", 9600, 'E', 7, 1, 2});
    log.Add(comma, kStart, {{2026, 12, 30}, {23, 59, 59}, -300}, line);
    // A scan that said nothing of its line.
    log.Add(comma, kStart, {{2026, 12, 30}, {23, 59, 59}, -300}, nullptr, Activity::Scan);
    EXPECT_EQ(TrafficCsv(log),
              "exchange,ms from run start,time of day,direction,address,characters,hex,text,"
              "verdict,date-time,port,settings,exchange of\r\n"
              "1,0.0,23:59:59,request,\",\",6,2C 3F 58 20 20 0D,\",?X  <CR>\",,"
              "2026-12-30T23:59:59-05:00,/dev/ttyUSB0 (COM2),\"9600 7E1, retry 2\",run\r\n"
              "1,201.0,00:00:00,answer,\",\",4,2C 32 31 22,\",21\"\"\",CR not received !,"
              "2026-12-31T00:00:00-05:00,/dev/ttyUSB0 (COM2),\"9600 7E1, retry 2\",run\r\n"
              "2,0.0,23:59:59,request,\",\",6,2C 3F 58 20 20 0D,\",?X  <CR>\",,"
              "2026-12-30T23:59:59-05:00,,,scan\r\n"
              "2,201.0,00:00:00,answer,\",\",4,2C 32 31 22,\",21\"\"\",CR not received !,"
              "2026-12-31T00:00:00-05:00,,,scan\r\n");
    EXPECT_EQ(
        TrafficCsvHeader() + TrafficCsvRecords(log.At(0), 1) + TrafficCsvRecords(log.At(1), 2),
        TrafficCsv(log));

    LineStatistics statistics = Begun();
    statistics.Add(Made('A', ExchangeVerdict::Good, 0ms, 12ms));
    statistics.Add(Made('B', ExchangeVerdict::NoAnswer, 0ms));
    const LocalDateTime madeAt{{2027, 1, 2}, {3, 4, 5}, 90};
    const std::string csv =
        StatisticsCsvHeader() + StatisticsCsvRecords(Activity::Run, statistics, *line, madeAt);
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 3);
    EXPECT_EQ(csv.rfind("Address,Requests,Good,No answer,", 0), 0u);
    EXPECT_NE(csv.find(",Judgement,Why,date-time,port,settings,statistics of\r\n"),
              std::string::npos)
        << csv;
    EXPECT_NE(
        csv.find(",2027-01-02T03:04:05+01:30,/dev/ttyUSB0 (COM2),\"9600 7E1, retry 2\",run\r\n"),
        std::string::npos)
        << csv;
    EXPECT_NE(csv.find("\r\nA,1,1,0,0,0,0,0,100.0,8.0,8.0,8.0,8.0,12.0,12.0,12.0,12.0,"),
              std::string::npos)
        << csv;
    EXPECT_NE(csv.find("\r\nB,1,0,1,0,0,0,0,0.0,,,,,,,,,,silent,No answer to its only request."),
              std::string::npos)
        << csv;
    // A scan's rows, and those of listening, say so in the same column.
    for (const Activity activity : {Activity::Scan, Activity::Listen}) {
        const std::string other = StatisticsCsvRecords(activity, statistics, *line, madeAt);
        std::string rows = csv.substr(csv.find("\r\n") + 2);
        for (std::size_t end = rows.find(",run\r\n"); end != std::string::npos;
             end = rows.find(",run\r\n", end)) {
            rows.replace(end + 1, 3, ActivityName(activity));
            end = rows.find("\r\n", end) + 2;
        }
        EXPECT_EQ(other, rows);
    }
}

}  // namespace
}  // namespace tarvel
