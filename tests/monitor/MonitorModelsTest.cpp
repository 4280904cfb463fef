// SPDX-License-Identifier: GPL-3.0-or-later
// The traffic table over a ring that wraps: rows leave the top as the ring drops exchanges,
// a view that is not brought up to date keeps showing what it showed, and "Res" empties it.
// The statistics table and the files keep the decimal point in any locale. The monitor's window
// fits the screen it opens on.

#include "monitor/MonitorModels.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <string>

#include "monitor/MonitorCsv.h"
#include "monitor/WindowFit.h"

#include "platform/VirtualTime.h"
#include "support/MissingTool.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;

struct TrafficTable : ::testing::Test {
    VirtualTime time;
    LineMonitor monitor{time, [] { return Duration{0}; }, [] { return std::nullopt; }, 5};
    TrafficModel model{monitor.Traffic()};
    int sent = 0;

    TrafficTable() { monitor.CycleEvents().RunStarted(1); }

    // Exchanges with addresses A, B, C, ... in turn, every other one failed.
    void Exchanges(int count) {
        for (int i = 0; i < count; ++i, ++sent) {
            Exchange exchange;
            exchange.request.station = AddressIndexOf(static_cast<char>('A' + sent % 26));
            exchange.request.stationText = std::string(1, static_cast<char>('A' + sent % 26));
            exchange.request.frame = exchange.request.stationText + "?X  \r";
            exchange.request.written = time.Now();
            exchange.verdict = sent % 2 == 0 ? ExchangeVerdict::Good : ExchangeVerdict::NoAnswer;
            exchange.judged = time.Now() + 10ms;
            monitor.CycleEvents().ExchangeJudged(exchange);
            time.RunFor(20ms);
        }
    }
    QString Cell(int row, int column) const {
        return model.data(model.index(row, column), Qt::DisplayRole).toString();
    }
};

TEST_F(TrafficTable, RowsLeaveTheTopAsTheRingDropsExchangesAndJoinAtTheEnd) {
    Exchanges(3);
    EXPECT_EQ(model.Follow(), 0);
    ASSERT_EQ(model.rowCount(), 6);
    EXPECT_EQ(Cell(0, 0), "1");
    EXPECT_EQ(Cell(0, 3), "request");
    EXPECT_EQ(Cell(1, 3), "answer");
    EXPECT_EQ(Cell(5, 4), "C");

    Exchanges(4);  // the ring of five now holds exchanges 3 to 7
    EXPECT_EQ(model.Follow(), 4);
    ASSERT_EQ(model.rowCount(), 10);
    EXPECT_EQ(Cell(0, 0), "3");
    EXPECT_EQ(Cell(0, 4), "C");
    EXPECT_EQ(Cell(9, 0), "7");
    EXPECT_EQ(Cell(9, 4), "G");
    EXPECT_EQ(Cell(9, 8), "good");
    EXPECT_EQ(Cell(7, 8), "No answer !");
}

TEST_F(TrafficTable, RowsNotBroughtUpToDateShowTheirOwnExchangesUntilTheRingDropsThem) {
    Exchanges(5);
    model.Follow();
    Exchanges(2);  // exchanges 1 and 2 leave the ring; the rows still stand for 1 to 5
    ASSERT_EQ(model.rowCount(), 10);
    EXPECT_EQ(Cell(0, 0), "");
    EXPECT_EQ(Cell(1, 8), "(dropped from the log)");
    EXPECT_EQ(Cell(4, 0), "3");
    EXPECT_EQ(Cell(4, 4), "C");
    EXPECT_EQ(Cell(8, 4), "E");

    Exchanges(20);  // everything the rows stood for is gone: they are made anew
    EXPECT_EQ(model.Follow(), 0);
    ASSERT_EQ(model.rowCount(), 10);
    EXPECT_EQ(Cell(0, 0), "23");
    EXPECT_EQ(Cell(8, 0), "27");
}

TEST_F(TrafficTable, ResEmptiesItEvenWhenExchangesFollowBeforeItIsBroughtUpToDate) {
    Exchanges(4);
    model.Follow();
    monitor.Reset();
    EXPECT_TRUE(model.LogCleared());
    EXPECT_EQ(Cell(0, 0), "");  // no row shows an exchange of before
    Exchanges(2);
    model.Follow();
    ASSERT_EQ(model.rowCount(), 4);
    EXPECT_EQ(Cell(0, 0), "1");
    EXPECT_EQ(Cell(0, 4), "E");
}

TEST_F(TrafficTable, AddressSixtyTwoShowsByItsName) {
    Exchange exchange;
    exchange.request.station = AddressIndexOf('\x7f');
    exchange.request.stationText = std::string(1, '\x7f');  // DEL, which no font draws
    exchange.request.frame = "\x7f?X  \r";
    exchange.request.written = time.Now();
    exchange.judged = time.Now() + 300ms;
    exchange.kind = ExchangeKind::Probe;
    exchange.verdict = ExchangeVerdict::NoAnswer;
    monitor.CycleEvents().ExchangeJudged(exchange);
    model.Follow();
    EXPECT_EQ(Cell(0, 4), "<DEL>");
    StatisticsModel table(monitor);
    table.Refresh();
    EXPECT_EQ(table.data(table.index(0, 0), Qt::DisplayRole).toString(), "<DEL>");
}

// The host's locale, as Qt sets it for the program, may want a decimal comma: the table, its
// sorting and the files keep the point.
TEST(DecimalComma, NeitherTheTableNorItsSortingNorTheFilesTakeIt) {
    const std::string before = std::setlocale(LC_NUMERIC, nullptr);
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr) {
        TARVEL_SKIP_MISSING_TOOL("no de_DE.UTF-8 locale here (scripts/setup.sh makes one)");
    }
    char comma[8];
    std::snprintf(comma, sizeof comma, "%.1f", 1.5);
    EXPECT_STREQ(comma, "1,5");

    VirtualTime time;
    LineMonitor monitor{time, [] { return 1ms; }, [] { return std::nullopt; }};
    monitor.CycleEvents().RunStarted(1);
    Exchange exchange;
    exchange.request.station = AddressIndexOf('A');
    exchange.request.stationText = std::string(1, 'A');
    exchange.request.frame = "A?X  \r";
    exchange.request.written = time.Now();
    exchange.answer = exchange.arrived = "A215\r";
    exchange.received = 5;
    exchange.firstArrival = time.Now() + 6ms + 9250us;
    exchange.lastArrival = exchange.judged = time.Now() + 6ms + 13250us;
    monitor.CycleEvents().ExchangeJudged(exchange);
    exchange.verdict = ExchangeVerdict::NoAnswer;
    monitor.CycleEvents().ExchangeJudged(exchange);

    StatisticsModel table(monitor);
    table.Refresh();
    const auto column = [](const std::string& title) {
        const auto& columns = StatisticsColumns();
        return static_cast<int>(std::find(columns.begin(), columns.end(), title) - columns.begin());
    };
    EXPECT_EQ(table.Field(0, column("Success %")), "50.0");
    EXPECT_EQ(table.Field(0, column("Last max ms")), "13.3");
    EXPECT_EQ(table.data(table.index(0, column("Last max ms")), SortRole).toDouble(), 13.3);
    const std::string csv = StatisticsCsv(monitor, time.LocalNow());
    EXPECT_NE(csv.find(",50.0,9.3,9.3,9.3,9.3,13.3,"), std::string::npos) << csv;
    EXPECT_NE(TrafficCsv(monitor.Traffic()).find(",15.3,"), std::string::npos);

    std::setlocale(LC_NUMERIC, before.c_str());
}

TEST(WindowFit, AWindowOpensAtItsOwnSizeButNeverOverNineTenthsOfTheFreeArea) {
    const QSize preferred(1240, 900);
    EXPECT_EQ(FittingSize(preferred, {2560, 1400}), preferred);
    EXPECT_EQ(FittingSize(preferred, {1366, 740}), QSize(1229, 666));  // a laptop with its panel
    EXPECT_EQ(FittingSize(preferred, {960, 540}), QSize(864, 486));    // 1920 x 1080 at scale 2
    EXPECT_EQ(FittingSize(preferred, {1920, 1040}), QSize(1240, 900));

    // It stays where it is when it fits there, else goes to the middle of the free area.
    const QRect laptop(0, 28, 1366, 740);
    EXPECT_EQ(FittingPlace({100, 100, 10, 10}, {1000, 600}, laptop), QPoint(100, 100));
    EXPECT_EQ(FittingPlace({0, 0, 10, 10}, {1000, 600}, laptop), QPoint(183, 98));
    EXPECT_EQ(FittingPlace({900, 300, 10, 10}, {1000, 600}, laptop), QPoint(183, 98));
}

}  // namespace
}  // namespace tarvel
