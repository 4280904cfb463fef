// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarvel {

// Bytes as two upper-case hexadecimal digits each, separated by blanks: "41 3F 58 20 20 0D".
std::string HexText(std::string_view bytes);
// The bytes of "01 03 00 00" or "0103 0000": pairs of hexadecimal digits, blanks between pairs
// allowed; nothing for anything else, or for no pair at all.
std::optional<std::string> BytesOfHex(std::string_view text);

}  // namespace tarvel
