// SPDX-License-Identifier: GPL-3.0-or-later
// The Line Monitor's charts, fed straight from the monitor on virtual time: a long run drawn in
// wider steps with the worst controllers' lines, and the minute still running drawn apart.

#include <gtest/gtest.h>
#include <QChart>
#include <QLineSeries>
#include <QValueAxis>

#include "monitor/MonitorDlg.h"
#include "support/ProgramRig.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;
using testing::ProgramRig;

// Five hours of a line of ten failing controllers, fed straight to the monitor.
TEST(MonitorCharts, ALongRunIsDrawnInWiderStepsWithTheWorstControllersLines) {
    ProgramRig rig;
    LineMonitor monitor(
        rig.time, [] { return Duration{0}; }, [] { return std::nullopt; });
    MonitorDlg window(monitor, rig.prompts, rig.time);
    window.show();
    monitor.CycleEvents().RunStarted(10);
    const Instant start = rig.time.Now();
    for (int minute = 0; minute < 300; ++minute) {
        for (int i = 0; i < 10; ++i) {
            Exchange exchange;
            exchange.request.station = AddressIndexOf(static_cast<char>('A' + i));
            exchange.request.stationText = std::string(1, static_cast<char>('A' + i));
            exchange.request.frame = exchange.request.stationText + "?X  \r";
            // Controller A fails once a minute, B twice, ... J ten times; all in the minute.
            for (int failure = 0; failure <= i; ++failure) {
                exchange.request.written = start + std::chrono::minutes(minute) + failure * 1s;
                exchange.judged = exchange.request.written + 201ms;
                exchange.verdict = ExchangeVerdict::NoAnswer;
                monitor.CycleEvents().ExchangeJudged(exchange);
            }
        }
    }
    rig.time.RunFor(MonitorDlg::RefreshPeriod);

    QStringList lines;
    const QLineSeries* total = nullptr;
    QStringList partialLines;
    for (QAbstractSeries* series : window.FailuresChart().series()) {
        (series->name().contains("as a rate") ? partialLines : lines) << series->name();
        if (series->name() == "all") {
            total = static_cast<const QLineSeries*>(series);
        }
    }
    lines.sort();
    EXPECT_EQ(lines, (QStringList{"C", "D", "E", "F", "G", "H", "I", "J", "all"}));
    // The minute in progress, of the total and of each line.
    EXPECT_EQ(partialLines.size(), 9);
    EXPECT_TRUE(partialLines.contains("this minute so far, as a rate"));
    EXPECT_TRUE(partialLines.contains("J, this minute as a rate"));
    ASSERT_NE(total, nullptr);
    // The 299 minutes that are over in steps of two, the last alone: 150 steps of two points,
    // each at 55 failures a minute.
    ASSERT_EQ(total->count(), 300);
    EXPECT_EQ(total->at(0), QPointF(0, 55));
    EXPECT_EQ(total->at(297), QPointF(298, 55));
    EXPECT_EQ(total->at(298), QPointF(298, 55));
    EXPECT_EQ(total->at(299), QPointF(299, 55));
    const auto* counts =
        static_cast<const QValueAxis*>(window.FailuresChart().axes(Qt::Vertical).value(0));
    ASSERT_NE(counts, nullptr);
    EXPECT_TRUE(counts->titleText().contains("mean of 2")) << counts->titleText().toStdString();
    EXPECT_GE(counts->max(), 55);
}

// The minute still running is drawn as a rate, apart, and not as a whole minute with fewer
// failures than the others.
TEST(MonitorCharts, TheMinuteStillRunningIsARateDrawnApart) {
    ProgramRig rig;
    LineMonitor monitor(
        rig.time, [] { return Duration{0}; }, [] { return std::nullopt; });
    MonitorDlg window(monitor, rig.prompts, rig.time);
    window.show();
    monitor.CycleEvents().RunStarted(1);
    const Instant start = rig.time.Now();
    // Six failures a minute for two minutes, then two in the first 20 s of the third.
    const auto fail = [&](Duration at) {
        Exchange exchange;
        exchange.request.station = AddressIndexOf('A');
        exchange.request.stationText = std::string(1, 'A');
        exchange.request.frame = "A?X  \r";
        exchange.request.written = start + at;
        exchange.judged = exchange.request.written + 201ms;
        exchange.verdict = ExchangeVerdict::NoAnswer;
        monitor.CycleEvents().ExchangeJudged(exchange);
    };
    for (int i = 0; i < 12; ++i) {
        fail(i * 10s);
    }
    fail(2min + 5s);
    fail(2min + 20s - 201ms);
    rig.time.RunFor(MonitorDlg::RefreshPeriod);

    const QLineSeries* total = nullptr;
    const QLineSeries* partial = nullptr;
    const QLineSeries* partialOfA = nullptr;
    for (QAbstractSeries* series : window.FailuresChart().series()) {
        const auto* line = static_cast<const QLineSeries*>(series);
        if (series->name() == "all") {
            total = line;
        } else if (series->name() == "A, this minute as a rate") {
            partialOfA = line;
        } else if (series->name().contains("as a rate")) {
            partial = line;
        }
    }
    ASSERT_NE(total, nullptr);
    ASSERT_NE(partial, nullptr);
    ASSERT_NE(partialOfA, nullptr);
    EXPECT_EQ(total->points(), (QList<QPointF>{{0, 6}, {1, 6}, {1, 6}, {2, 6}}));
    // Two failures in 20 s: six a minute, not two.
    EXPECT_EQ(partial->points(), (QList<QPointF>{{2, 6}, {3, 6}}));
    EXPECT_EQ(partialOfA->points(), partial->points());
    EXPECT_EQ(partialOfA->pen().style(), Qt::DashLine);
    EXPECT_EQ(partial->name(), "this minute so far, as a rate");
    EXPECT_EQ(partial->pen().style(), Qt::DashLine);

    monitor.CycleEvents().RunEnded({});
    rig.time.RunFor(MonitorDlg::RefreshPeriod);
    EXPECT_EQ(partial->name(), "last minute, cut short, as a rate");
}

}  // namespace
}  // namespace tarvel
