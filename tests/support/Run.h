// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gtest/gtest.h>
#include <QCoroTask>
#include <optional>
#include <stdexcept>

#include "platform/VirtualTime.h"

namespace tarvel::testing {

template <typename T>
QCoro::Task<> StoreResult(QCoro::Task<T> task, std::optional<T>& result) {
    result = co_await task;
}

inline QCoro::Task<> MarkFinished(QCoro::Task<> task, bool& finished) {
    co_await task;
    finished = true;
}

// Runs a coroutine on virtual time until it has finished and returns its result.
template <typename T>
T RunToEnd(VirtualTime& time, QCoro::Task<T> task, Duration limit = std::chrono::hours(1)) {
    std::optional<T> result;
    auto waiter = StoreResult(std::move(task), result);
    if (!time.RunUntil([&] { return result.has_value(); }, limit)) {
        ADD_FAILURE() << "the coroutine did not finish";
        throw std::runtime_error("the coroutine did not finish");
    }
    return std::move(*result);
}

inline void RunToEnd(VirtualTime& time, QCoro::Task<> task,
                     Duration limit = std::chrono::hours(1)) {
    bool finished = false;
    auto waiter = MarkFinished(std::move(task), finished);
    EXPECT_TRUE(time.RunUntil([&] { return finished; }, limit)) << "the coroutine did not finish";
}

}  // namespace tarvel::testing
