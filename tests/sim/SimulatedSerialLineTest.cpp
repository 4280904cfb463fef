// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/SimulatedSerialLine.h"

#include <gtest/gtest.h>

#include "platform/VirtualTime.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;

struct OpenLine : ::testing::Test {
    VirtualTime time;
    SimulatedSerialLine line{time};
    void SetUp() override {
        ASSERT_TRUE(line.SetSettings(" 9600,N,8, 1"));
        ASSERT_TRUE(line.SetPortOpen(true));
    }
};

TEST_F(OpenLine, TheTransmitterSendsOneCharacterAfterTheOtherAtTheLineSpeed) {
    const Duration character = CharacterTime(line.Settings());
    line.Output("A?X  \r");
    EXPECT_EQ(line.OutBufferCount(), 6);
    time.RunFor(character * 3);
    EXPECT_EQ(line.OutBufferCount(), 3);
    time.RunFor(character * 3);
    EXPECT_EQ(line.OutBufferCount(), 0);
    EXPECT_EQ(line.TransmittedText(), "A?X  \r");
    EXPECT_EQ(line.Transmitted().back().end.time_since_epoch(), character * 6);
    // A second write queues behind the first.
    line.Output("ab");
    line.Output("c");
    time.RunFor(1s);
    EXPECT_EQ(line.Transmitted().back().end.time_since_epoch(), character * 9);
}

// A clock that has moved on five milliseconds each time it is read, as a real one has for a thread
// that is paused between two readings.
class SlippingClock final : public Scheduler {
public:
    explicit SlippingClock(VirtualTime& time) : time_(time) {}
    Instant Now() const override {
        slipped_ += 5ms;
        return time_.Now() + slipped_;
    }
    LocalDateTime LocalNow() const override { return time_.LocalNow(); }
    TimerId CallAt(Instant when, std::function<void()> task) override {
        return time_.CallAt(when, std::move(task));
    }
    void CallSoon(std::function<void()> task) override { time_.CallSoon(std::move(task)); }
    void Cancel(TimerId id) override { time_.Cancel(id); }
    void RunAside(std::function<void()> work, std::function<void()> done) override {
        time_.RunAside(std::move(work), std::move(done));
    }

private:
    VirtualTime& time_;
    mutable Duration slipped_{0};
};

TEST(SimulatedSerialLine, AWriteLeavesNoGapBetweenItsCharactersHoweverLateTheThreadIs) {
    VirtualTime time;
    SlippingClock slipping(time);
    SimulatedSerialLine line(slipping);
    ASSERT_TRUE(line.SetSettings(" 9600,N,8, 1"));
    ASSERT_TRUE(line.SetPortOpen(true));
    const Duration character = CharacterTime(line.Settings());
    line.Output(std::string("\x01\x03\x00\x00\x00\x01\x84\x0a", 8));
    time.RunFor(1s);
    ASSERT_EQ(line.Transmitted().size(), 8u);
    for (std::size_t i = 1; i < 8; ++i) {
        EXPECT_EQ(line.Transmitted()[i].end - line.Transmitted()[i - 1].end, character) << i;
    }
}

TEST_F(OpenLine, FarEndCharactersArriveWithTheirLastStopBit) {
    int notified = 0;
    auto subscription = line.InputActivity().Subscribe([&] { ++notified; });
    line.DeliverFrom(time.Now() + 10ms, "AB");
    time.RunFor(10ms + CharacterTime(line.Settings()));
    EXPECT_EQ(line.InBufferCount(), 1);
    time.RunFor(1s);
    EXPECT_EQ(line.Input(), "AB");
    EXPECT_EQ(line.InBufferCount(), 0);
    EXPECT_EQ(notified, 2);
}

TEST_F(OpenLine, AClosedLineDropsWritesHasNothingToReadAndLosesWhatWasOnItsWay) {
    line.Output("AAAA");
    line.DeliverFrom(time.Now(), "xyz");
    ASSERT_TRUE(line.SetPortOpen(false));
    time.RunFor(1s);
    line.Output("B");
    time.RunFor(1s);
    EXPECT_EQ(line.TransmittedText(), "");
    EXPECT_EQ(line.Input(), "");
    EXPECT_EQ(line.InBufferCount(), 0);
    EXPECT_EQ(line.OutBufferCount(), 0);
}

TEST_F(OpenLine, APortNumberChangesOnlyWhileClosedAndARefusedPortSaysWhy) {
    EXPECT_FALSE(line.SetCommPort(2));
    line.SetPortOpen(false);
    EXPECT_TRUE(line.SetCommPort(2));
    line.SetPortAvailable(2, false, "in use by another program");
    EXPECT_FALSE(line.SetPortOpen(true));
    EXPECT_NE(line.LastError().find("in use by another program"), std::string::npos);
    line.SetPortAvailable(2, true);
    EXPECT_TRUE(line.SetPortOpen(true));
    EXPECT_FALSE(line.SetSettings(" 9600,Q,8, 1"));
}

TEST_F(OpenLine, ALostLineClosesAndTellsItsListeners) {
    bool told = false;
    auto subscription = line.OutputActivity().Subscribe([&] { told = true; });
    line.Lose("adapter unplugged");
    EXPECT_FALSE(line.PortOpen());
    time.RunDue();
    EXPECT_TRUE(told);
    EXPECT_NE(line.LastError().find("adapter unplugged"), std::string::npos);
}

TEST_F(OpenLine, ABusPeerAnswersRequestsOnTheWire) {
    BusPeer peer(line, SimulatedBus({{"A", 5ms}}, 0.0, 1));
    line.Output("A?X  \r");
    time.RunFor(1s);
    const std::string answer = line.Input();
    ASSERT_EQ(answer.size(), 5u);
    EXPECT_EQ(answer.front(), 'A');
    EXPECT_EQ(answer.back(), '\r');
}

TEST_F(OpenLine, AControllerAt7E1AnswersTheLineAt7E1AndNotAt8N1) {
    BusPeer peer(
        line, SimulatedBus({{"A", 5ms, ControllerFault::None, 0.0, 0.0, Framing{7, Parity::Even}}},
                           0.0, 1));
    line.Output("A?X  \r");
    time.RunFor(1s);
    EXPECT_EQ(line.Input(), "");
    ASSERT_TRUE(line.SetSettings(" 9600,E,7, 1"));
    line.Output("A?X  \r");
    time.RunFor(1s);
    EXPECT_EQ(line.Input().size(), 5u);
}

}  // namespace
}  // namespace tarvel
