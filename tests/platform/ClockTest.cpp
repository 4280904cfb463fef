// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Clock.h"

#include <gtest/gtest.h>
#include <time.h>

#include <type_traits>

namespace tarvel {
namespace {

// Waits are measured on the host's steady clock, which never jumps (not at midnight, not when
// the wall clock is set): a reading of the program's clock is one of the steady clock.
TEST(SteadyClock, ReadsTheHostsSteadyClock) {
    static_assert(std::is_same_v<Instant::clock, std::chrono::steady_clock>);
    static_assert(std::chrono::steady_clock::is_steady);
    const SteadyClock clock;
    const auto before = std::chrono::steady_clock::now();
    const Instant reading = clock.Now();
    const auto after = std::chrono::steady_clock::now();
    EXPECT_LE(before, reading);
    EXPECT_LE(reading, after);
    const TimeOfDay now = clock.LocalTime();
    EXPECT_TRUE(now.hours >= 0 && now.hours < 24 && now.minutes >= 0 && now.minutes < 60 &&
                now.seconds >= 0 && now.seconds < 61);
}

// The program's timers count on CLOCK_MONOTONIC: its readings and the steady clock's are one.
TEST(SteadyClock, IsTheHostsMonotonicClock) {
    const SteadyClock clock;
    timespec before{};
    timespec after{};
    clock_gettime(CLOCK_MONOTONIC, &before);
    const Instant reading = clock.Now();
    clock_gettime(CLOCK_MONOTONIC, &after);
    const auto at = [](const timespec& t) {
        return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
    };
    EXPECT_LE(at(before), reading.time_since_epoch());
    EXPECT_LE(reading.time_since_epoch(), at(after));
}

}  // namespace
}  // namespace tarvel
