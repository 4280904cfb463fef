// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/Time.h"

namespace tarvel {

class Clock {
public:
    virtual ~Clock() = default;
    virtual Instant Now() const = 0;
    // The local date and time with the offset from UTC, for the evidence an operator keeps.
    virtual LocalDateTime LocalNow() const = 0;
    // The local time of day, for the records an operator reads.
    TimeOfDay LocalTime() const { return LocalNow().time; }
};

// The host's monotonic clock and local wall time.
class SteadyClock final : public Clock {
public:
    Instant Now() const override;
    LocalDateTime LocalNow() const override;
};

}  // namespace tarvel
