// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <istream>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// The list file of the error list (.lst) and of the analysis (.dat): 8-bit text, one byte a
// character, every line ended by CR LF; a count line (a blank, the number, a blank), then one
// line per item. Plain C++ only, so that tools and the fuzz target use it as it is.

namespace tarvel {

struct ListFileProblem {
    std::string text;  // what is wrong, for the operator
};

// Three items "a", "b", "c" give " 3 \r\na\r\nb\r\nc\r\n".
std::string FormatListFile(const std::vector<std::string>& items);

// Reads the count, then as many items, one a line; whatever follows them is not read. An item
// loses the blanks before it and ends at its first comma, or, when it starts with a double
// quote, runs to the next one (both quotes dropped). A count that is no number, or fewer item
// lines than the count, make the whole file a problem.
std::variant<std::vector<std::string>, ListFileProblem> ReadListFile(std::string_view bytes);

}  // namespace tarvel
