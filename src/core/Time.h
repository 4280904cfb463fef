#pragma once

#include <chrono>

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

}  // namespace tarvel
