// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

namespace tarvel {

// A number as the program joins it into texts: one blank in the sign position before the
// digits of a positive number or zero, the minus sign otherwise (3 gives " 3", -3 gives "-3").
inline std::string SignedNumberText(long long value) {
    return value < 0 ? std::to_string(value) : " " + std::to_string(value);
}

// The numeric value at the start of a text, after blanks, as captions and list entries are read
// as numbers: "12" and " 12 errors" give 12, a text without digits gives 0.
inline long long LeadingNumber(std::string_view text) {
    std::size_t at = text.find_first_not_of(' ');
    long long value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9' && value < 1'000'000'000; ++at) {
        value = value * 10 + (text[at] - '0');
    }
    return value;
}

}  // namespace tarvel
