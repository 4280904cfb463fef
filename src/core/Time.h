// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <string>

namespace tarvel {

using Duration = std::chrono::nanoseconds;

// A reading of a clock that only moves forward. Only differences between two readings mean
// anything, so a wait that straddles midnight or a change of the wall clock lasts as long as it
// should.
using Instant = std::chrono::time_point<std::chrono::steady_clock, Duration>;

struct TimeOfDay {
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
    friend bool operator==(const TimeOfDay&, const TimeOfDay&) = default;
};

struct CalendarDate {
    int year = 1970;
    int month = 1;
    int day = 1;
    friend bool operator==(const CalendarDate&, const CalendarDate&) = default;
};

// A moment of the wall clock where the program runs: what an archived report needs so that a
// run across midnight, or one read in another time zone, is not ambiguous.
struct LocalDateTime {
    CalendarDate date;
    TimeOfDay time;
    int utcOffsetMinutes = 0;  // east of UTC: +60 for 01:00 ahead
    friend bool operator==(const LocalDateTime&, const LocalDateTime&) = default;
};

// ISO 8601 with the offset: "2026-12-09T02:11:05+01:00".
std::string Iso8601(const LocalDateTime& moment);

// The moment `span` later on the same wall clock (its offset kept).
LocalDateTime Later(const LocalDateTime& moment, std::chrono::seconds span);

}  // namespace tarvel
