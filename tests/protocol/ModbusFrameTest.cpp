// SPDX-License-Identifier: GPL-3.0-or-later
// The CRC of the serial line and the lengths frames have by their function, against values
// worked out apart from this program.

#include "protocol/modbus/ModbusFrame.h"

#include <gtest/gtest.h>

namespace tarvel::modbus {
namespace {

using namespace std::chrono_literals;

std::string Bytes(std::initializer_list<int> bytes) {
    std::string text;
    for (const int byte : bytes) {
        text += static_cast<char>(byte);
    }
    return text;
}

TEST(ModbusCrc, TheCheckValueOfTheDigitsIs4B37) { EXPECT_EQ(Crc16("123456789"), 0x4B37); }

TEST(ModbusCrc, ItGoesOnTheWireLowByteFirst) {
    const std::string request = Bytes({0x01, 0x03, 0x00, 0x00, 0x00, 0x01});
    EXPECT_EQ(WithCrc(request), request + Bytes({0x84, 0x0A}));
    EXPECT_TRUE(CrcHolds(Bytes({0x01, 0x03, 0x02, 0x00, 0x2A, 0x39, 0x9B})));
    EXPECT_FALSE(CrcHolds(Bytes({0x01, 0x03, 0x02, 0x00, 0x2A, 0x9B, 0x39})));
    EXPECT_FALSE(CrcHolds(Bytes({0x01, 0x83, 0xC0})));  // shorter than any frame
    EXPECT_EQ(ReadHoldingRequest(1, 0, 1), request + Bytes({0x84, 0x0A}));
}

TEST(ModbusFrameLength, RequestsOfEachFunction) {
    const auto length = [](std::initializer_list<int> head) {
        const auto hint = FrameLength(Bytes(head), Direction::Request);
        return hint && hint->whole ? hint->length : -1;
    };
    EXPECT_EQ(length({1, 1}), 8);
    EXPECT_EQ(length({1, 3}), 8);
    EXPECT_EQ(length({1, 6}), 8);
    EXPECT_EQ(length({1, 7}), 4);
    EXPECT_EQ(length({1, 8}), 8);
    EXPECT_EQ(length({1, 11}), 4);
    EXPECT_EQ(length({1, 17}), 4);
    // Multiple writes count their values in the seventh byte; read-write in the eleventh.
    EXPECT_EQ(length({1, 16, 0, 0, 0, 2, 4}), 7 + 4 + 2);
    EXPECT_EQ(length({1, 15, 0, 0, 0, 10, 2}), 7 + 2 + 2);
    EXPECT_EQ(length({1, 23, 0, 0, 0, 1, 0, 0, 0, 1, 2}), 11 + 2 + 2);
    // Too short to tell: how many bytes must come first.
    const auto hint = FrameLength(Bytes({1, 16, 0, 0}), Direction::Request);
    ASSERT_TRUE(hint);
    EXPECT_FALSE(hint->whole);
    EXPECT_EQ(hint->length, 7);
    // No request has the exception bit, and an unknown function has no length.
    EXPECT_FALSE(FrameLength(Bytes({1, 0x83}), Direction::Request));
    EXPECT_FALSE(FrameLength(Bytes({1, 0x14}), Direction::Request));
}

TEST(ModbusFrameLength, AnswersOfEachFunction) {
    const auto length = [](std::initializer_list<int> head) {
        const auto hint = FrameLength(Bytes(head), Direction::Answer);
        return hint && hint->whole ? hint->length : -1;
    };
    EXPECT_EQ(length({1, 3, 2}), 3 + 2 + 2);
    EXPECT_EQ(length({1, 1, 1}), 3 + 1 + 2);
    EXPECT_EQ(length({1, 17, 5}), 3 + 5 + 2);
    EXPECT_EQ(length({1, 23, 4}), 3 + 4 + 2);
    EXPECT_EQ(length({1, 5}), 8);
    EXPECT_EQ(length({1, 16}), 8);
    EXPECT_EQ(length({1, 7}), 5);
    EXPECT_EQ(length({1, 11}), 8);
    EXPECT_EQ(length({1, 0x83}), 5);  // an exception
    EXPECT_EQ(length({1, 3}), -1);    // its count not yet in
    const auto one = FrameLength(Bytes({1}), Direction::Answer);
    ASSERT_TRUE(one);
    EXPECT_FALSE(one->whole);
}

TEST(ModbusSilences, ThreeAndAHalfAndOneAndAHalfCharactersFixedAbove19200Baud) {
    // 11 bits at 9600 baud.
    const Duration character = std::chrono::nanoseconds(1'145'833);
    EXPECT_EQ(FrameGap(character), character * 7 / 2);
    EXPECT_EQ(CharacterGap(character), character * 3 / 2);
    // 11 bits at 38400 baud.
    const Duration fast = std::chrono::nanoseconds(286'458);
    EXPECT_EQ(FrameGap(fast), 1750us);
    EXPECT_EQ(CharacterGap(fast), 750us);
}

}  // namespace
}  // namespace tarvel::modbus
