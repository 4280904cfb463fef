#include "platform/Clock.h"

#include <ctime>

namespace tarvel {

Instant SteadyClock::Now() const {
    return std::chrono::time_point_cast<Duration>(std::chrono::steady_clock::now());
}

TimeOfDay SteadyClock::LocalTime() const {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return TimeOfDay{local.tm_hour, local.tm_min, local.tm_sec};
}

}  // namespace tarvel
