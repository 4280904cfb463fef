// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/modbus/ModbusAsciiFrame.h"

#include <algorithm>
#include <cctype>

namespace tarvel::modbus {
namespace {

// 0 to 15, or -1 for a character that is no hexadecimal digit. Lower case is read too: some
// controllers send it, and the bytes are the same.
int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// The bytes of the hexadecimal characters between ':' and CR, the LRC included.
AsciiFault Decode(std::string_view body, std::string& bytes) {
    for (const char c : body) {
        if (HexValue(c) < 0) {
            return AsciiFault::NotHexadecimal;
        }
    }
    if (body.size() % 2 != 0) {
        return AsciiFault::OddLength;
    }
    if (body.size() < 6) {
        return AsciiFault::TooShort;
    }
    for (std::size_t at = 0; at < body.size(); at += 2) {
        bytes.push_back(static_cast<char>(HexValue(body[at]) << 4 | HexValue(body[at + 1])));
    }
    if (Lrc(bytes) != 0) {
        bytes.clear();
        return AsciiFault::LrcError;
    }
    bytes.pop_back();
    return AsciiFault::None;
}

}  // namespace

std::uint8_t Lrc(std::string_view bytes) {
    std::uint8_t sum = 0;
    for (const char c : bytes) {
        sum = static_cast<std::uint8_t>(sum + static_cast<std::uint8_t>(c));
    }
    return static_cast<std::uint8_t>(-sum);
}

std::string AsciiFrame(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string frame = ":";
    const auto put = [&frame](std::uint8_t byte) {
        frame += kDigits[byte >> 4];
        frame += kDigits[byte & 0x0F];
    };
    for (const char c : bytes) {
        put(static_cast<std::uint8_t>(c));
    }
    put(Lrc(bytes));
    frame += "\r\n";
    return frame;
}

AsciiReading ReadAsciiFrame(std::string_view text) {
    AsciiReading reading;
    std::size_t start = text.find(':');
    if (start == std::string_view::npos) {
        reading.noise = text.size();
        return reading;
    }
    for (std::size_t at = start + 1; at < text.size(); ++at) {
        const char c = text[at];
        if (c == ':') {
            // A colon always begins a frame: the one before it never ended.
            start = at;
        } else if (c == '\r') {
            reading.noise = start;
            if (at + 1 == text.size()) {
                return reading;  // the LF may still come
            }
            reading.whole = true;
            if (text[at + 1] != '\n') {
                reading.length = at + 1 - start;
                reading.fault = AsciiFault::MissingLf;
                return reading;
            }
            reading.length = at + 2 - start;
            reading.fault = Decode(text.substr(start + 1, at - start - 1), reading.bytes);
            return reading;
        } else if (at - start > LongestAsciiBody) {
            reading.noise = start;
            reading.whole = true;
            reading.length = at + 1 - start;
            reading.fault = AsciiFault::TooLong;
            return reading;
        }
    }
    reading.noise = start;
    return reading;
}

ExchangeVerdict AsciiFaultVerdict(AsciiFault fault) {
    switch (fault) {
        case AsciiFault::NotHexadecimal: return ExchangeVerdict::NotHex;
        case AsciiFault::OddLength: return ExchangeVerdict::OddLength;
        case AsciiFault::LrcError: return ExchangeVerdict::BadLrc;
        case AsciiFault::MissingLf: return ExchangeVerdict::NoLf;
        // Fewer bytes than any frame has, or more than any may.
        case AsciiFault::TooShort:
        case AsciiFault::TooLong: return ExchangeVerdict::WrongLength;
        case AsciiFault::None: break;
    }
    return ExchangeVerdict::Good;
}

std::string HexOf(int byte) {
    return AsciiFrame(std::string(1, static_cast<char>(byte))).substr(1, 2);
}

bool SameHexadecimal(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::toupper(static_cast<unsigned char>(x)) ==
               std::toupper(static_cast<unsigned char>(y));
    });
}

}  // namespace tarvel::modbus
