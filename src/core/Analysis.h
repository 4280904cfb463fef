// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/DeviceTable.h"

namespace tarvel {

// What the analysis counts for one address. The counts are wide enough for any list a file can
// bring, not only for the 900 records a run stops at.
struct ErrorTally {
    int total = 0;          // records of this address
    int crCount = 0;        // of them, "CR not received !"
    int wrongCount = 0;     // of them, "Wrong # of characters !"
    int noAnswerCount = 0;  // of them, "No answer !"
};

struct AnalysisReport {
    std::vector<std::string> lines;  // what the analyzer's list holds afterwards
    std::array<ErrorTally, kAddressCount> tally{};
    int records = 0;  // lines counted as error records
    int skipped = 0;  // lines left out because they are no error record
};

// Whether `line` has the shape of an error record: an address character, two blanks, a time of
// day "00:00:00", two blanks, and the message from column 14 on. Its kind is the message's
// first letter, whatever it is.
bool IsErrorRecord(std::string_view line);

// The analysis of an error list: the total line, one line per controller with records (its
// share of all errors and the split into the three kinds, each rounded to a whole per cent on
// its own), and one verdict line per controller: " Isn't working" when every record was
// "No answer !", " Ther is noise on line !" otherwise. An empty list gives the single line
// "There is nothing to analyze !". Lines that are no error record (a report's own lines, an
// empty line) count nowhere; `skipped` says how many there were.
AnalysisReport Analyse(const std::vector<std::string>& lines);

}  // namespace tarvel
