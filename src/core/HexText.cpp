// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/HexText.h"

#include <cctype>

namespace tarvel {

std::string HexText(std::string_view bytes) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(bytes.size() * 3);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (!hex.empty()) {
            hex += ' ';
        }
        hex += digits[byte >> 4];
        hex += digits[byte & 0x0F];
    }
    return hex;
}

std::optional<std::string> BytesOfHex(std::string_view text) {
    std::string bytes;
    int high = -1;
    for (const char c : text) {
        if (c == ' ') {
            if (high >= 0) {
                return std::nullopt;  // a blank inside a pair
            }
            continue;
        }
        if (std::isxdigit(static_cast<unsigned char>(c)) == 0) {
            return std::nullopt;
        }
        const int digit = std::isdigit(static_cast<unsigned char>(c)) != 0
                              ? c - '0'
                              : std::toupper(static_cast<unsigned char>(c)) - 'A' + 10;
        if (high < 0) {
            high = digit;
        } else {
            bytes += static_cast<char>(high << 4 | digit);
            high = -1;
        }
    }
    if (high >= 0 || bytes.empty()) {
        return std::nullopt;
    }
    return bytes;
}

}  // namespace tarvel
