// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/VirtualTime.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/Waits.h"
#include "support/Run.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;

TEST(VirtualTime, RunsEventsInTimeOrderAndEqualTimesInSchedulingOrder) {
    VirtualTime time;
    std::string order;
    time.CallAt(time.Now() + 20ms, [&] { order += 'c'; });
    time.CallAt(time.Now() + 10ms, [&] { order += 'a'; });
    time.CallAt(time.Now() + 10ms, [&] { order += 'b'; });
    time.CallSoon([&] { order += '0'; });
    time.RunFor(1s);
    EXPECT_EQ(order, "0abc");
    EXPECT_EQ(time.Now().time_since_epoch(), 1s);
}

TEST(VirtualTime, CancelledEventsDoNotRunAndPastTimesRunAtOnce) {
    VirtualTime time;
    time.RunFor(5s);
    int runs = 0;
    const auto id = time.CallAt(time.Now() + 1ms, [&] { ++runs; });
    time.CallAt(time.Now() - 3s, [&] { runs += 10; });
    time.Cancel(id);
    time.Cancel(12345);
    time.RunDue();
    EXPECT_EQ(runs, 10);
    EXPECT_EQ(time.Now().time_since_epoch(), 5s);
    time.RunFor(1s);
    EXPECT_EQ(runs, 10);
}

TEST(VirtualTime, ANestedRunNeverMovesTheClockBack) {
    VirtualTime time;
    Instant seenAfterNested{};
    time.CallAt(time.Now() + 10ms, [&] {
        time.RunFor(5s);  // as the operator reading a modal box for five seconds
        seenAfterNested = time.Now();
    });
    time.CallAt(time.Now() + 2s, [] {});
    time.RunFor(1s);
    EXPECT_EQ(seenAfterNested.time_since_epoch(), 5010ms);
    EXPECT_GE(time.Now(), seenAfterNested);
}

TEST(VirtualTime, RunUntilGivesUpWhenNothingIsLeftOrTheLimitPasses) {
    VirtualTime time;
    EXPECT_FALSE(time.RunUntil([] { return false; }));
    time.CallAt(time.Now() + 2h, [] {});
    EXPECT_FALSE(time.RunUntil([] { return false; }, 1h));
    EXPECT_EQ(time.PendingEvents(), 1u);
}

TEST(VirtualTime, TimeOfDayRunsOnPastMidnight) {
    VirtualTime time(TimeOfDay{23, 59, 59});
    EXPECT_EQ(time.LocalTime(), (TimeOfDay{23, 59, 59}));
    time.RunFor(1500ms);
    EXPECT_EQ(time.LocalTime(), (TimeOfDay{0, 0, 0}));
    time.RunFor(3661s);
    EXPECT_EQ(time.LocalTime(), (TimeOfDay{1, 1, 1}));
}

QCoro::Task<> PauseTwice(Scheduler& time, std::vector<Instant>& seen) {
    co_await Pause(time, 200ms);
    seen.push_back(time.Now());
    co_await Yield(time);
    seen.push_back(time.Now());
}

TEST(Waits, APauseResumesExactlyAtItsEndAndAYieldDoesNotMoveTheClock) {
    VirtualTime time;
    std::vector<Instant> seen;
    testing::RunToEnd(time, PauseTwice(time, seen));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].time_since_epoch(), 200ms);
    EXPECT_EQ(seen[1].time_since_epoch(), 200ms);
}

QCoro::Task<> WaitOnce(Scheduler& time, Notifier& activity, std::optional<Instant> deadline,
                       Instant& resumedAt) {
    co_await NextActivity(time, activity, deadline);
    resumedAt = time.Now();
}

TEST(Waits, NextActivityResumesOnTheFirstNotificationOrAtTheDeadline) {
    VirtualTime time;
    Notifier activity;
    Instant resumedAt{};
    time.CallAt(time.Now() + 30ms, [&] { activity.Notify(); });
    time.CallAt(time.Now() + 40ms, [&] { activity.Notify(); });
    testing::RunToEnd(time, WaitOnce(time, activity, time.Now() + 100ms, resumedAt));
    EXPECT_EQ(resumedAt.time_since_epoch(), 30ms);

    testing::RunToEnd(time, WaitOnce(time, activity, time.Now() + 100ms, resumedAt));
    EXPECT_EQ(resumedAt.time_since_epoch(), 40ms);
    testing::RunToEnd(time, WaitOnce(time, activity, time.Now() + 100ms, resumedAt));
    EXPECT_EQ(resumedAt.time_since_epoch(), 140ms);
    // The deadline's timer went with the wake-up: nothing is left behind.
    EXPECT_EQ(time.PendingEvents(), 0u);
}

}  // namespace
}  // namespace tarvel
