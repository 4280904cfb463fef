// SPDX-License-Identifier: GPL-3.0-or-later
#include "watch/DailyFiles.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace tarvel {
namespace {

namespace fs = std::filesystem;

// The name's folder, its stem and its extension ("", "traffic", ".csv").
struct NameParts {
    fs::path folder;
    std::string stem;
    std::string extension;
};

NameParts PartsOf(const std::string& given) {
    const fs::path path(given);
    return {path.parent_path(), path.stem().string(), path.extension().string()};
}

std::string DateText(const CalendarDate& date) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", date.year, date.month, date.day);
    return text;
}

bool Valid(const CalendarDate& date) {
    using namespace std::chrono;
    return date.month >= 1 && date.month <= 12 && date.day >= 1 && date.day <= 31 &&
           year_month_day(year{date.year}, month{static_cast<unsigned>(date.month)},
                          day{static_cast<unsigned>(date.day)})
               .ok();
}

std::chrono::sys_days DayOf(const CalendarDate& date) {
    using namespace std::chrono;
    return sys_days{year{date.year} / month{static_cast<unsigned>(date.month)} /
                    static_cast<unsigned>(date.day)};
}

}  // namespace

std::string DailyFileName(const std::string& given, const CalendarDate& date) {
    const NameParts parts = PartsOf(given);
    return (parts.folder / (parts.stem + "-" + DateText(date) + parts.extension)).string();
}

OldDaysRemoved RemoveOldDays(const std::string& given, const CalendarDate& today, int keepDays) {
    OldDaysRemoved done;
    const NameParts parts = PartsOf(given);
    const fs::path folder = parts.folder.empty() ? fs::path(".") : parts.folder;
    const auto oldestKept = DayOf(today) - std::chrono::days(std::max(keepDays, 1) - 1);
    const std::string prefix = parts.stem + "-";
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        // "stem-YYYY-MM-DD.ext", nothing more and nothing less.
        if (name.size() != prefix.size() + 10 + parts.extension.size() ||
            name.compare(0, prefix.size(), prefix) != 0 ||
            name.compare(name.size() - parts.extension.size(), parts.extension.size(),
                         parts.extension) != 0) {
            continue;
        }
        CalendarDate date;
        if (std::sscanf(name.c_str() + prefix.size(), "%4d-%2d-%2d", &date.year, &date.month,
                        &date.day) != 3 ||
            name.substr(prefix.size(), 10) != DateText(date) || !Valid(date)) {
            continue;
        }
        if (DayOf(date) >= oldestKept || !entry->is_regular_file(error)) {
            continue;
        }
        std::error_code removal;
        if (fs::remove(entry->path(), removal)) {
            done.removed.push_back(entry->path().string());
        } else if (removal) {
            done.failures.push_back(entry->path().string() + ": " + removal.message());
        }
    }
    if (error) {
        done.failures.push_back(folder.string() + ": " + error.message());
    }
    return done;
}

}  // namespace tarvel
