// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <variant>
#include <vector>

#include "core/DeviceTable.h"

// The line configuration file (.cfg): the number of controllers, then the address index of each,
// one number a line, each written as a blank, the digits, a blank and CR LF. Plain C++ only, so
// that tools and the fuzz target use it as it is.

namespace tarvel {

struct LineConfiguration {
    std::int16_t deviceCount = 0;
    std::vector<std::int16_t> addresses;  // positions 0 to deviceCount - 1
};

struct ConfigProblem {
    std::string text;  // what is wrong, for the operator
};

// The file for the positions in use: three controllers at 0, 2 and 63 give the 21 bytes
// " 3 \r\n 0 \r\n 2 \r\n 63 \r\n".
std::string FormatLineConfiguration(std::int16_t deviceCount, const ControllerAddressTable& table);

// Reads the count and then as many address indices, each number surrounded by any blanks and
// separated by line ends, blanks or a comma; whatever follows them is not read. Every value is
// checked: a count outside 1 to 64, an index outside 0 to 63, or a number that is missing or
// unreadable makes the whole file a problem.
std::variant<LineConfiguration, ConfigProblem> ReadLineConfiguration(std::istream& in);

}  // namespace tarvel
