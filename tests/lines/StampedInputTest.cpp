// SPDX-License-Identifier: GPL-3.0-or-later
// What a line keeps of its input: each character with its arrival, never more than its
// capacity, the rest dropped and counted.

#include "lines/StampedInput.h"

#include <gtest/gtest.h>

#include "lines/LineSettings.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;

TEST(StampedInput, EachCharacterKeepsItsArrivalAsItIsTakenBitByBit) {
    StampedInput input;
    const Instant first{1s};
    const Instant second{2s};
    input.Append("abc", first);
    input.Append("de", second);
    input.Append("f", second);  // the same moment: one run
    EXPECT_EQ(input.Count(), 6);
    EXPECT_EQ(input.ArrivalOf(2), first);
    EXPECT_EQ(input.ArrivalOf(3), second);
    EXPECT_EQ(input.ArrivalOf(5), second);
    EXPECT_EQ(input.ArrivalOf(6), std::nullopt);
    EXPECT_EQ(input.ArrivalOf(-1), std::nullopt);
    EXPECT_EQ(input.Take(2), "ab");
    EXPECT_EQ(input.ArrivalOf(0), first);  // "c"
    EXPECT_EQ(input.ArrivalOf(1), second);
    EXPECT_EQ(input.Peek(10), "cdef");
    EXPECT_EQ(input.Take(-3), "");
    EXPECT_EQ(input.Take(100), "cdef");
    EXPECT_EQ(input.Count(), 0);
    EXPECT_EQ(input.ArrivalOf(0), std::nullopt);
}

TEST(StampedInput, BeyondItsCapacityInputIsDroppedAndCountedAndWhatIsKeptStaysExact) {
    StampedInput input;
    input.SetCapacity(8);
    input.Append("0123", Instant{1s});
    input.Append("456789", Instant{2s});  // two of them find no room
    EXPECT_EQ(input.Count(), 8);
    EXPECT_EQ(input.Dropped(), 2u);
    EXPECT_EQ(input.Peek(8), "01234567");
    EXPECT_EQ(input.ArrivalOf(7), Instant{2s});
    input.Append("x", Instant{3s});
    EXPECT_EQ(input.Dropped(), 3u);
    // Read, the room comes back.
    EXPECT_EQ(input.Take(5), "01234");
    input.Append("abcdef", Instant{4s});
    EXPECT_EQ(input.Peek(8), "567abcde");
    EXPECT_EQ(input.ArrivalOf(3), Instant{4s});
    EXPECT_EQ(input.Dropped(), 4u);
    input.Clear();
    EXPECT_EQ(input.Count(), 0);
    EXPECT_EQ(input.Dropped(), 4u);  // counted since the start, not since the last clear
}

TEST(StampedInput, AReaderTakingALittleAtATimeKeepsUpWithAFullBuffer) {
    // Taking from the front must not move what stays: a million single takes of a full 4 MiB
    // buffer would otherwise move terabytes.
    StampedInput input;
    input.SetCapacity(kMostInputCapacity);
    const std::string block(64 * 1024, 'x');
    for (std::size_t i = 0; i < kMostInputCapacity / block.size(); ++i) {
        input.Append(block, Instant{std::chrono::milliseconds(i)});
    }
    std::size_t taken = 0;
    while (input.Count() > 0) {
        taken += input.Take(3).size();
        if (taken % 65536 == 0) {
            input.Append("y", Instant{1h});
        }
    }
    EXPECT_GE(taken, kMostInputCapacity);
    EXPECT_EQ(input.Dropped(), 0u);
}

TEST(StampedInput, ALineKeepsAFewSecondsOfItsWireWithinBounds) {
    EXPECT_EQ(InputCapacity(LineSettings{9600, Parity::None, 8, 1}), kLeastInputCapacity);
    // 115200 8N1 carries 11520 characters a second: five seconds of them.
    EXPECT_EQ(InputCapacity(LineSettings{115200, Parity::None, 8, 1}), 57600u);
    EXPECT_EQ(InputCapacity(LineSettings{10000000, Parity::None, 8, 1}), kMostInputCapacity);
    EXPECT_EQ(DroppedInputNotice(1048576, 9600),
              "the port delivers far more than 9600 baud can carry: 1048576 bytes dropped; is "
              "this the right port and speed?");
}

}  // namespace
}  // namespace tarvel
