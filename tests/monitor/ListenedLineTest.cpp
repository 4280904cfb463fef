// SPDX-License-Identifier: GPL-3.0-or-later
// What listening tells of the line as a whole: a speed or parity that does not match says so,
// and how busy the wire was.

#include "monitor/ListenedLine.h"

#include "protocol/ascon/AsconFrameSplitter.h"

#include <gtest/gtest.h>

namespace tarvel {
namespace {

using namespace std::chrono_literals;

const LineDescription k9600{"/dev/ttyUSB0", "COM1", 9600, 'N', 8, 1, 0};

// Characters every 5 ms from `from` for `span`: what a UART at the wrong speed makes of a bus.
void Garbage(AsconFrameSplitter& splitter, Instant from, Duration span) {
    for (Instant at = from; at < from + span; at += 5ms) {
        splitter.Feed(0x9F, at);
    }
}

TEST(WrongSpeed, CharactersThatDecodeAsNoRequestForAFewSecondsAreTold) {
    AsconFrameSplitter splitter(DecoderSettings{1ms, 200ms, 10, 0ms});
    Garbage(splitter, Instant{}, 2900ms);
    EXPECT_FALSE(WrongSpeedWarning(splitter, std::nullopt, k9600));
    Garbage(splitter, Instant{} + 2900ms, 200ms);
    EXPECT_EQ(WrongSpeedWarning(splitter, std::nullopt, k9600),
              "the line does not look like Ascon traffic at 9600 8N1: check the speed and the "
              "parity");
}

TEST(WrongSpeed, ALineThatDecodesOrSaysNothingIsNotSuspect) {
    AsconFrameSplitter splitter(DecoderSettings{1ms, 200ms, 10, 0ms});
    EXPECT_FALSE(WrongSpeedWarning(splitter, std::nullopt, k9600));  // silence: nothing heard
    Instant at{};
    for (int poll = 0; poll < 20; ++poll) {
        for (const char c : std::string("A?X  \r")) {
            splitter.Feed(static_cast<std::uint8_t>(c), at += 1ms);
        }
        for (const char c : std::string("A215\r")) {
            splitter.Feed(static_cast<std::uint8_t>(c), at += 1ms);
        }
        at += 300ms;
    }
    EXPECT_FALSE(WrongSpeedWarning(splitter, UartErrorCounts{}, k9600));
    // A noisy drop has framing errors too: they count only where nothing decodes.
    EXPECT_FALSE(WrongSpeedWarning(splitter, UartErrorCounts{3, 0, 0, 0}, k9600));
    // The master pauses, and a few stray bytes come long after: no wrong speed either.
    splitter.Feed(0x9F, at += 5s);
    splitter.Feed('\r', at += 1ms);
    splitter.Feed(0x85, at += 1s);
    splitter.Feed('\r', at += 1ms);
    EXPECT_EQ(splitter.NoiseSinceRequest(), 4);
    EXPECT_FALSE(WrongSpeedWarning(splitter, std::nullopt, k9600));
    // Framing errors while characters arrive that make no request: the speed is wrong.
    AsconFrameSplitter garbled(DecoderSettings{1ms, 200ms, 10, 0ms});
    garbled.Feed('x', Instant{});
    garbled.Feed('\r', Instant{} + 4s);
    EXPECT_TRUE(WrongSpeedWarning(garbled, UartErrorCounts{3, 0, 0, 0}, k9600));
}

// A port that delivers far more than the wire can carry: the wire was busy all the time, no
// more; what it could not have carried is the dropped count's to tell.
TEST(LineBusy, IsTheShareOfTheTimeListenedAndNeverMoreThanAllOfIt) {
    AsconFrameSplitter splitter(DecoderSettings{1ms, 200ms, 10, 0ms});
    Garbage(splitter, Instant{}, 1000ms);  // 200 characters of 1 ms in a second
    EXPECT_DOUBLE_EQ(BusyPercent(splitter, 1000ms), 20.0);
    EXPECT_DOUBLE_EQ(BusyPercent(splitter, 100ms), 100.0);
    EXPECT_DOUBLE_EQ(BusyPercent(splitter, Duration{0}), 0.0);
}

}  // namespace
}  // namespace tarvel
