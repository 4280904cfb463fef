// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target for the frame splitter: any bytes, at any gaps, must give exchanges that each
// belong to a request heard, in the order of their verdicts, with every byte either in a frame
// or counted as noise, never more.

#include <cstdint>
#include <cstdlib>

#include "protocol/ascon/AsconFrameSplitter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarvel;
    using namespace std::chrono_literals;
    AsconFrameSplitter splitter(DecoderSettings{1ms, 200ms, 10, 0ms});
    Instant now{};
    std::int64_t judged = 0;
    Instant lastVerdict{};
    // Pairs of bytes: a character and the gap before it, in milliseconds (0 to 255).
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        now += Duration(std::chrono::milliseconds(data[i + 1])) + 1ms;
        splitter.Feed(data[i], now);
        if (data[i + 1] > 250) {
            splitter.Advance(now + 1s);
            now += 1s;
        }
        for (const Exchange& exchange : splitter.TakeExchanges()) {
            ++judged;
            if (exchange.judged < lastVerdict || exchange.request.frame.size() < 3 ||
                (exchange.verdict == ExchangeVerdict::Good && exchange.answer.empty()) ||
                (exchange.firstArrival && exchange.lastArrival &&
                 *exchange.lastArrival < *exchange.firstArrival)) {
                std::abort();
            }
            lastVerdict = exchange.judged;
        }
    }
    if (judged > splitter.Requests() || splitter.NoiseBytes() > splitter.Bytes() ||
        splitter.Requests() > splitter.Frames()) {
        std::abort();
    }
    return 0;
}
