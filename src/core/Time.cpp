// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/Time.h"

#include <cstdio>
#include <cstdlib>

namespace tarvel {

std::string Iso8601(const LocalDateTime& moment) {
    const int offset = std::abs(moment.utcOffsetMinutes);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", moment.date.year,
                  moment.date.month, moment.date.day, moment.time.hours, moment.time.minutes,
                  moment.time.seconds, moment.utcOffsetMinutes < 0 ? '-' : '+', offset / 60,
                  offset % 60);
    return text;
}

LocalDateTime Later(const LocalDateTime& moment, std::chrono::seconds span) {
    using namespace std::chrono;
    const sys_days day{year{moment.date.year} / month{static_cast<unsigned>(moment.date.month)} /
                       static_cast<unsigned>(moment.date.day)};
    const sys_seconds then = day + hours{moment.time.hours} + minutes{moment.time.minutes} +
                             seconds{moment.time.seconds} + span;
    const sys_days thenDay = floor<days>(then);
    const year_month_day date{thenDay};
    const hh_mm_ss<seconds> time{then - thenDay};
    return LocalDateTime{
        {static_cast<int>(date.year()), static_cast<int>(static_cast<unsigned>(date.month())),
         static_cast<int>(static_cast<unsigned>(date.day()))},
        {static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
         static_cast<int>(time.seconds().count())},
        moment.utcOffsetMinutes};
}

}  // namespace tarvel
