// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
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

// How many received characters a port at `settings` may have waiting unread: five seconds of
// what its wire carries, at least 16 KiB (an adapter delivers in bursts, a slow line still gets
// room for a few long answers) and at most 4 MiB. Whatever comes beyond it is no traffic of a
// bus at these settings.
std::size_t InputCapacity(const LineSettings& settings);
inline constexpr std::size_t kLeastInputCapacity = 16 * 1024;
inline constexpr std::size_t kMostInputCapacity = 4 * 1024 * 1024;
// For the operator, once input was dropped: "the port delivers far more than 9600 baud can
// carry: 1048576 bytes dropped; is this the right port and speed?"
std::string DroppedInputNotice(std::uint64_t dropped, int baud);

}  // namespace tarvel
