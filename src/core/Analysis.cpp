// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/Analysis.h"

#include <cmath>

#include "core/NumberText.h"

namespace tarvel {
namespace {

// Column 14 of a record, counted from 1.
constexpr std::size_t kKindColumn = 13;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsAddressCharacter(char c) {
    const int index = AddressIndexOf(c);
    return index >= 0 && index < kAddressCount && AddressCharacter(index) == c;
}

// A share in whole per cent, halves away from zero, without blank or sign.
std::string Percent(double share) {
    return std::to_string(static_cast<long long>(std::round(share)));
}

// Both counts as single-precision numbers, divided, then times 100 in single precision.
std::string KindPercent(int count, int total) {
    const float quotient = static_cast<float>(count) / static_cast<float>(total);
    const float share = quotient * 100.0F;
    return std::to_string(static_cast<long long>(std::round(share)));
}

}  // namespace

bool IsErrorRecord(std::string_view line) {
    if (line.size() <= kKindColumn || !IsAddressCharacter(line[0]) || line.substr(1, 2) != "  " ||
        line.substr(11, 2) != "  ") {
        return false;
    }
    const std::string_view time = line.substr(3, 8);
    for (std::size_t i = 0; i < time.size(); ++i) {
        const bool colon = i == 2 || i == 5;
        if (colon ? time[i] != ':' : !IsDigit(time[i])) {
            return false;
        }
    }
    return true;
}

AnalysisReport Analyse(const std::vector<std::string>& lines) {
    AnalysisReport report;
    if (lines.empty()) {
        report.lines.push_back("There is nothing to analyze !");
        return report;
    }
    for (const std::string& line : lines) {
        if (!IsErrorRecord(line)) {
            ++report.skipped;
            continue;
        }
        ++report.records;
        ErrorTally& tally = report.tally[static_cast<std::size_t>(AddressIndexOf(line[0]))];
        ++tally.total;
        switch (line[kKindColumn]) {
            case 'C': ++tally.crCount; break;
            case 'W': ++tally.wrongCount; break;
            case 'N': ++tally.noAnswerCount; break;
            default: break;  // an unknown kind counts toward the total alone
        }
    }
    if (report.records == 0) {
        return report;
    }
    report.lines.push_back(" The total numbers of Errors is:  " + SignedNumberText(report.records));
    for (int index = 0; index < kAddressCount; ++index) {
        const ErrorTally& tally = report.tally[static_cast<std::size_t>(index)];
        if (tally.total == 0) {
            continue;
        }
        const double share = static_cast<double>(tally.total) / report.records * 100.0;
        report.lines.push_back(" Instrument # " + std::string(1, AddressCharacter(index)) + " - " +
                               SignedNumberText(tally.total) + " Errors ( " + Percent(share) +
                               "%) - C( " + KindPercent(tally.crCount, tally.total) + "%) - W( " +
                               KindPercent(tally.wrongCount, tally.total) + "%) - N( " +
                               KindPercent(tally.noAnswerCount, tally.total) + "%)");
    }
    for (int index = 0; index < kAddressCount; ++index) {
        const ErrorTally& tally = report.tally[static_cast<std::size_t>(index)];
        if (tally.total == 0) {
            continue;
        }
        report.lines.push_back(
            std::string(1, AddressCharacter(index)) +
            (tally.noAnswerCount == tally.total ? " Isn't working" : " Ther is noise on line !"));
    }
    return report;
}

}  // namespace tarvel
