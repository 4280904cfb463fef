// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target for the Modbus listeners (RTU and ASCII): any characters at any pace. The
// first input byte chooses the decoder; then each pair is a pause and a character (a pause of
// 255 lets two seconds pass, with the decoder told of the time). No input may read outside what
// it was given, judge an exchange it never heard a request for, or count more than it was fed.

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "protocol/modbus/ModbusAsciiDecoder.h"
#include "protocol/modbus/ModbusRtuDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarvel;
    using namespace std::chrono_literals;
    if (size == 0) {
        return 0;
    }
    const DecoderSettings settings{1ms, 200ms, 10, 0ms};
    std::unique_ptr<FrameDecoder> decoder;
    if (data[0] % 2 == 0) {
        decoder = std::make_unique<ModbusRtuDecoder>(settings, "MB RTU", 247);
    } else {
        decoder = std::make_unique<ModbusAsciiDecoder>(settings, "MB ASCII", 247);
    }
    Instant now{};
    std::int64_t fed = 0;
    const auto check = [&] {
        for (const Exchange& exchange : decoder->TakeExchanges()) {
            if (exchange.request.frame.empty() ||
                exchange.received != std::ssize(exchange.arrived) ||
                exchange.judged < exchange.request.written) {
                std::abort();
            }
        }
        if (decoder->NoiseBytes() > fed || decoder->Bytes() != fed ||
            decoder->Requests() > decoder->Frames()) {
            std::abort();
        }
    };
    for (std::size_t i = 1; i + 1 < size; i += 2) {
        if (data[i] == 255) {
            now += 2s;
            decoder->Advance(now);
        } else {
            now += 1ms + data[i] * 100us;
        }
        decoder->Feed(data[i + 1], now);
        ++fed;
        check();
    }
    while (const auto deadline = decoder->NextDeadline()) {
        if (*deadline <= now) {
            std::abort();  // a deadline that is already past would be asked for again and again
        }
        now = *deadline;
        decoder->Advance(now);
        check();
    }
    return 0;
}
