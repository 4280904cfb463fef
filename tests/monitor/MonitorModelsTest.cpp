// The traffic table over a ring that wraps: rows leave the top as the ring drops exchanges,
// a view that is not brought up to date keeps showing what it showed, and "Res" empties it.

#include "monitor/MonitorModels.h"

#include <gtest/gtest.h>

#include "platform/VirtualTime.h"

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
            exchange.request.address = static_cast<char>('A' + sent % 26);
            exchange.request.frame = std::string(1, exchange.request.address) + "?X  \r";
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

}  // namespace
}  // namespace tarvel
