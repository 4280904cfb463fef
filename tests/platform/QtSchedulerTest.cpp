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

}  // namespace
}  // namespace tarvel
