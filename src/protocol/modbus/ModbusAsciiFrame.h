// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/Time.h"
#include "core/Verdict.h"

namespace tarvel::modbus {

// The ASCII framing of the serial line: ':', then each byte (address, function, data, LRC) as
// two hexadecimal characters, then CR LF. Slow, but readable on any terminal, and it survives
// lines whose modems or radios cannot keep RTU's silences.

// Two's complement of the 8-bit sum of `bytes`: the bytes and their LRC sum to zero.
std::uint8_t Lrc(std::string_view bytes);
// `bytes` (address, function, data) framed for the wire: upper-case hexadecimal, LRC added.
std::string AsciiFrame(std::string_view bytes);

// The most hexadecimal characters a frame holds between ':' and CR: 255 bytes and the LRC.
inline constexpr std::size_t LongestAsciiBody = 2 * 256;
// A frame may pause this long between two of its characters; a longer silence ends it.
inline constexpr Duration AsciiCharacterGap = std::chrono::seconds(1);

// What may be wrong with a frame that has ended.
enum class AsciiFault {
    None,
    NotHexadecimal,  // a character between ':' and CR that is no hexadecimal digit
    OddLength,       // an odd number of hexadecimal characters: half a byte
    TooShort,        // fewer than address, function and LRC
    TooLong,         // more than LongestAsciiBody characters without a CR
    LrcError,        // the bytes and their LRC do not sum to zero
    MissingLf,       // the CR is followed by something other than LF
};

// The first frame of `text`, as far as it has come.
struct AsciiReading {
    // Characters before the frame's ':' that belong to no frame: noise, or the start of a frame
    // that a later ':' cut short.
    std::size_t noise = 0;
    // The frame has ended: with its LF, with a fault that ends it, or (never here) by a silence,
    // which only the caller can tell.
    bool whole = false;
    // Characters of `text` the frame takes, from its ':' to its LF (to its CR when the LF is
    // missing, to the offending character when it is too long).
    std::size_t length = 0;
    AsciiFault fault = AsciiFault::None;
    // Address, function and data, the LRC taken off: only for a frame without a fault.
    std::string bytes;
};
AsciiReading ReadAsciiFrame(std::string_view text);

// The verdict on an answer whose frame was not sound: Good for none.
ExchangeVerdict AsciiFaultVerdict(AsciiFault fault);

// The two hexadecimal characters of a byte, as the frames write it.
std::string HexOf(int byte);
// Whether two runs of hexadecimal characters say the same, upper or lower case.
bool SameHexadecimal(std::string_view a, std::string_view b);

}  // namespace tarvel::modbus
