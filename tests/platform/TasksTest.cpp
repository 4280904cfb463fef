// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Tasks.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/VirtualTime.h"
#include "platform/Waits.h"
#include "support/Run.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;

QCoro::Task<> PauseThen(Scheduler& time, Duration span, std::string* log, const char* what) {
    co_await Pause(time, span);
    *log += what;
}

QCoro::Task<> FailAfter(Scheduler& time, Duration span) {
    if (span > Duration::zero()) {
        co_await Pause(time, span);
    }
    throw std::runtime_error("the table has no position 70");
}

QCoro::Task<> AwaitAll(TaskOwner& owner, std::string* log) {
    co_await owner.AllFinished();
    *log += "|all";
}

struct TaskOwnerTest : ::testing::Test {
    VirtualTime time;
    std::vector<std::string> failures;
    TaskOwner owner{time, [this](const std::string& what) { failures.push_back(what); }};
    std::string log;
};

TEST_F(TaskOwnerTest, CountsItsTasksAndLetsAnyoneAwaitTheLastOne) {
    owner.Start(PauseThen(time, 2s, &log, "b"));
    owner.Start(PauseThen(time, 1s, &log, "a"));
    EXPECT_EQ(owner.Running(), 2);
    testing::RunToEnd(time, AwaitAll(owner, &log));
    EXPECT_EQ(log, "ab|all");
    EXPECT_EQ(owner.Running(), 0);
    EXPECT_EQ(time.Now().time_since_epoch(), 2s);
    // With nothing running the wait ends at once.
    testing::RunToEnd(time, AwaitAll(owner, &log), 0s);
    EXPECT_TRUE(failures.empty());
}

TEST_F(TaskOwnerTest, AnExceptionIsReportedByItsTextWhetherThrownAtOnceOrAfterAWait) {
    owner.Start(FailAfter(time, 0s));
    EXPECT_EQ(failures, std::vector<std::string>{"the table has no position 70"});
    EXPECT_EQ(owner.Running(), 0);

    owner.Start(FailAfter(time, 1s));
    owner.Start(PauseThen(time, 3s, &log, "survivor"));
    testing::RunToEnd(time, AwaitAll(owner, &log));
    EXPECT_EQ(failures.size(), 2u);
    EXPECT_EQ(log, "survivor|all");
}

}  // namespace
}  // namespace tarvel
