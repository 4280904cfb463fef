// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gtest/gtest.h>
#include <QCoroTask>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <functional>
#include <optional>

#include "support/Run.h"

namespace tarvel::testing {

// Runs a coroutine on Qt's event loop, in real time, until it has finished.
template <typename T>
T RunInEventLoop(QCoro::Task<T> task, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    std::optional<T> result;
    QEventLoop loop;
    QTimer::singleShot(limit, &loop, &QEventLoop::quit);
    auto waiter = [](QCoro::Task<T> inner, std::optional<T>& out, QEventLoop& l) -> QCoro::Task<> {
        out = co_await inner;
        l.quit();
    };
    auto running = waiter(std::move(task), result, loop);
    if (!result) {
        loop.exec();
    }
    EXPECT_TRUE(result.has_value()) << "the coroutine did not finish in time";
    return std::move(result).value_or(T{});
}

// Lets Qt's event loop run for `span` of real time.
inline void Wait(std::chrono::milliseconds span) {
    QEventLoop loop;
    QTimer::singleShot(span, &loop, &QEventLoop::quit);
    loop.exec();
}

// Lets the event loop run until `done` holds or `limit` has passed; whether it holds.
inline bool WaitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < until) {
        Wait(std::chrono::milliseconds(5));
    }
    return done();
}

}  // namespace tarvel::testing
