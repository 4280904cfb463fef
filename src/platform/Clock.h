#pragma once

#include "core/Time.h"

namespace tarvel {

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
