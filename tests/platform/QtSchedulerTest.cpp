// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/QtScheduler.h"

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

namespace tarvel {
namespace {

using namespace std::chrono_literals;

// Real time: a deadline is never met early and is met within a few milliseconds.
TEST(QtScheduler, RunsATimedTaskAtItsTimeNeverBefore) {
    QtScheduler scheduler;
    QEventLoop loop;
    std::vector<Duration> lateness;
    const Instant start = scheduler.Now();
    for (const auto delay : {20ms, 37ms, 5ms}) {
        const Instant due = start + delay;
        scheduler.CallAt(due, [&, due] {
            lateness.push_back(scheduler.Now() - due);
            if (lateness.size() == 3) {
                loop.quit();
            }
        });
    }
    QTimer::singleShot(2s, &loop, &QEventLoop::quit);
    loop.exec();
    ASSERT_EQ(lateness.size(), 3u);
    for (const Duration late : lateness) {
        EXPECT_GE(late, Duration::zero());
        EXPECT_LT(late, 15ms);
    }
}

TEST(QtScheduler, CancelledTasksDoNotRunAndSoonTasksRunInOrder) {
    QtScheduler scheduler;
    QEventLoop loop;
    std::string order;
    const auto id = scheduler.CallAt(scheduler.Now() + 5ms, [&] { order += 'x'; });
    scheduler.Cancel(id);
    scheduler.CallSoon([&] { order += '1'; });
    scheduler.CallSoon([&] { order += '2'; });
    scheduler.CallAt(scheduler.Now() + 20ms, [&] { loop.quit(); });
    loop.exec();
    EXPECT_EQ(order, "12");
}

// Tasks due at the same time run in the order they were asked for; one due long ago runs at
// once; cancelling the earliest leaves the later ones to run, even when done from a task.
TEST(QtScheduler, RunsTasksInTheirOrderAndCancelLeavesTheRest) {
    QtScheduler scheduler;
    QEventLoop loop;
    std::string order;
    const Instant soon = scheduler.Now() + 3ms;
    scheduler.CallAt(soon, [&] { order += 'a'; });
    scheduler.CallAt(soon, [&] { order += 'b'; });
    scheduler.CallAt(Instant{}, [&] { order += '0'; });
    const auto earliest = scheduler.CallAt(scheduler.Now() + 1ms, [&] { order += 'x'; });
    scheduler.Cancel(earliest);
    scheduler.Cancel(earliest);  // no longer known: ignored
    Scheduler::TimerId later = 0;
    scheduler.CallAt(soon, [&] {
        order += 'c';
        scheduler.Cancel(later);
    });
    later = scheduler.CallAt(soon + 1ms, [&] { order += 'y'; });
    scheduler.CallAt(soon + 5ms, [&] {
        order += 'd';
        loop.quit();
    });
    QTimer::singleShot(2s, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_EQ(order, "0abcd");
}

// A task that opens a nested event loop (a modal dialog does) holds up no other task.
TEST(QtScheduler, ATaskInANestedEventLoopDoesNotHoldUpTheOthers) {
    QtScheduler scheduler;
    QEventLoop loop;
    std::vector<Duration> lateness;
    const Instant start = scheduler.Now();
    scheduler.CallAt(start + 2ms, [&] {
        QEventLoop nested;
        const Instant due = start + 10ms;
        scheduler.CallAt(due, [&, due] {
            lateness.push_back(scheduler.Now() - due);
            nested.quit();
        });
        QTimer::singleShot(2s, &nested, &QEventLoop::quit);
        nested.exec();
        loop.quit();
    });
    QTimer::singleShot(3s, &loop, &QEventLoop::quit);
    loop.exec();
    ASSERT_EQ(lateness.size(), 1u);
    EXPECT_GE(lateness[0], Duration::zero());
    EXPECT_LT(lateness[0], 1s);
}

}  // namespace
}  // namespace tarvel
