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

class Clock {
public:
    virtual ~Clock() = default;
    virtual Instant Now() const = 0;
    // The local time of day, for the records an operator reads.
    virtual TimeOfDay LocalTime() const = 0;
};

// The host's monotonic clock and local wall time.
class SteadyClock final : public Clock {
public:
    Instant Now() const override;
    TimeOfDay LocalTime() const override;
};

}  // namespace tarvel
