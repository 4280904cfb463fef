// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

#include "core/Time.h"

namespace tarvel {

// A watch's traffic is kept in one file a day beside the name it was given, so that a year of
// watching keeps a bounded number of days on the disk: "traffic.csv" becomes
// "traffic-2026-12-10.csv" in the same folder.
std::string DailyFileName(const std::string& given, const CalendarDate& date);

// What clearing old days did: the files removed and those that could not be, with the host's
// reason.
struct OldDaysRemoved {
    std::vector<std::string> removed;
    std::vector<std::string> failures;  // "PATH: reason"
};

// Removes the daily files of `given` more than `keepDays` days old: `today`'s and the
// `keepDays` - 1 before it stay. Only names made by DailyFileName are touched.
OldDaysRemoved RemoveOldDays(const std::string& given, const CalendarDate& today, int keepDays);

}  // namespace tarvel
