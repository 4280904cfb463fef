// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Clock.h"

#include <ctime>

namespace tarvel {

Instant SteadyClock::Now() const {
    return std::chrono::time_point_cast<Duration>(std::chrono::steady_clock::now());
}

LocalDateTime SteadyClock::LocalNow() const {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return LocalDateTime{{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday},
                         {local.tm_hour, local.tm_min, local.tm_sec},
                         static_cast<int>(local.tm_gmtoff / 60)};
}

}  // namespace tarvel
