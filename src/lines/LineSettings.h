// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string_view>

#include "core/Time.h"

namespace tarvel {

enum class Parity { None, Even, Odd };

// What a settings text such as " 9600,E,7, 2" says: speed, parity, data bits and stop bits.
struct LineSettings {
    int baud = 9600;
    Parity parity = Parity::None;
    int dataBits = 8;
    int stopBits = 1;
    friend bool operator==(const LineSettings&, const LineSettings&) = default;
};

// Reads "speed,parity letter,data bits,stop bits"; blanks before a number are ignored. Returns
// nothing for a text that is not of this form or holds values no serial line takes.
std::optional<LineSettings> ParseSettingsText(std::string_view text);

// The time one character takes on the wire: start bit, data bits, parity bit, stop bits.
Duration CharacterTime(const LineSettings& settings);

}  // namespace tarvel
