// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target for the ASCII frame reader: read frame after frame from any characters, each
// reading must stay inside what it was given, move on, and give bytes only to a frame whose
// LRC holds, whose framing gives them back.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "protocol/modbus/ModbusAsciiFrame.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarvel::modbus;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    while (!text.empty()) {
        const AsciiReading read = ReadAsciiFrame(text);
        if (read.noise + read.length > text.size() || read.length > LongestAsciiBody + 3) {
            std::abort();
        }
        if (!read.whole) {
            break;
        }
        if (read.length == 0 || (read.fault != AsciiFault::None && !read.bytes.empty())) {
            std::abort();
        }
        if (read.fault == AsciiFault::None) {
            // Lower case reads as upper: compare the frames case-blind.
            const std::string again = AsciiFrame(read.bytes);
            const std::string_view taken = text.substr(read.noise, read.length);
            if (again.size() != taken.size()) {
                std::abort();
            }
            for (std::size_t i = 0; i < again.size(); ++i) {
                const char a = again[i];
                const char b = taken[i] >= 'a' && taken[i] <= 'f' ? taken[i] - 32 : taken[i];
                if (a != b) {
                    std::abort();
                }
            }
        }
        text.remove_prefix(read.noise + read.length);
    }
    return 0;
}
