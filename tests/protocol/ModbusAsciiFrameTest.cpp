// SPDX-License-Identifier: GPL-3.0-or-later
// The ASCII framing: the LRC, the frame as it goes on the wire, and how a stream of characters
// is read into frames, noise and faults.

#include "protocol/modbus/ModbusAsciiFrame.h"

#include <gtest/gtest.h>

namespace tarvel::modbus {
namespace {

// Read three holding registers from 0x6B of controller 0x11.
const std::string kRead("\x11\x03\x00\x6B\x00\x03", 6);
const std::string kReadFrame = ":1103006B00037E\r\n";

TEST(ModbusAsciiFrame, TheFrameCarriesTheBytesInUpperCaseHexWithTheirLrc) {
    EXPECT_EQ(Lrc(kRead), 0x7E);
    EXPECT_EQ(Lrc(""), 0);
    // A sum that wraps: 0xFF + 0x02 is 0x01 in eight bits.
    EXPECT_EQ(Lrc(std::string("\xFF\x02", 2)), 0xFF);
    EXPECT_EQ(AsciiFrame(kRead), kReadFrame);
    EXPECT_EQ(AsciiFrame(std::string("\x0A\xBC\xDE\x00", 4)), ":0ABCDE005C\r\n");

    const AsciiReading read = ReadAsciiFrame(kReadFrame);
    EXPECT_TRUE(read.whole);
    EXPECT_EQ(read.fault, AsciiFault::None);
    EXPECT_EQ(read.bytes, kRead);
    EXPECT_EQ(read.length, kReadFrame.size());
    EXPECT_EQ(read.noise, 0u);
    // Lower case carries the same bytes.
    EXPECT_EQ(ReadAsciiFrame(":1103006b00037e\r\n").bytes, kRead);
}

TEST(ModbusAsciiFrame, EachFaultOfAnEndedFrameIsNamedAndGivesNoBytes) {
    const auto fault = [](std::string_view text) {
        const AsciiReading read = ReadAsciiFrame(text);
        EXPECT_TRUE(read.whole) << text;
        EXPECT_TRUE(read.fault == AsciiFault::None || read.bytes.empty()) << text;
        return read.fault;
    };
    EXPECT_EQ(fault(":1103006B00037F\r\n"), AsciiFault::LrcError);
    EXPECT_EQ(fault(":1103006B0G037E\r\n"), AsciiFault::NotHexadecimal);
    EXPECT_EQ(fault(":1103006B00037\r\n"), AsciiFault::OddLength);
    // Two bytes that sum to zero: an LRC, but no function before it.
    EXPECT_EQ(fault(":01FF\r\n"), AsciiFault::TooShort);
    EXPECT_EQ(fault(":\r\n"), AsciiFault::TooShort);
    // The smallest frame: address, function, LRC.
    EXPECT_EQ(fault(":0108F7\r\n"), AsciiFault::None);
}

TEST(ModbusAsciiFrame, AColonAlwaysBeginsAFrameAndWhatCameBeforeIsNoise) {
    // Characters before the first colon.
    AsciiReading read = ReadAsciiFrame(std::string("\x7F\x00zz", 4) + kReadFrame);
    EXPECT_EQ(read.noise, 4u);
    EXPECT_EQ(read.bytes, kRead);
    // A frame cut short by the next colon is noise too, up to that colon.
    read = ReadAsciiFrame(":11030" + kReadFrame);
    EXPECT_EQ(read.noise, 6u);
    EXPECT_EQ(read.length, kReadFrame.size());
    EXPECT_EQ(read.bytes, kRead);
    // Nothing but noise: all of it, and no frame yet.
    read = ReadAsciiFrame("no frame here");
    EXPECT_EQ(read.noise, 13u);
    EXPECT_FALSE(read.whole);
}

TEST(ModbusAsciiFrame, AFrameEndsWithItsLfOrWithWhatTakesItsPlace) {
    // Without its CR, or with the CR the last character so far, the frame has not ended.
    for (const std::string_view unfinished : {":1103006B00037E", ":1103006B00037E\r", ":"}) {
        const AsciiReading read = ReadAsciiFrame(unfinished);
        EXPECT_FALSE(read.whole) << unfinished;
        EXPECT_EQ(read.noise, 0u);
    }
    // Another character in the LF's place ends it at the CR; the next frame starts there.
    const std::string missing = ":1103006B00037E\r" + kReadFrame;
    AsciiReading read = ReadAsciiFrame(missing);
    EXPECT_TRUE(read.whole);
    EXPECT_EQ(read.fault, AsciiFault::MissingLf);
    EXPECT_EQ(read.length, 16u);
    read = ReadAsciiFrame(std::string_view(missing).substr(16));
    EXPECT_EQ(read.bytes, kRead);
    // A frame that never ends is given up once it holds more than any frame can.
    const std::string endless = ":" + std::string(LongestAsciiBody, '0');
    EXPECT_FALSE(ReadAsciiFrame(endless).whole);
    read = ReadAsciiFrame(endless + "0");
    EXPECT_TRUE(read.whole);
    EXPECT_EQ(read.fault, AsciiFault::TooLong);
    EXPECT_EQ(read.length, LongestAsciiBody + 2);
}

}  // namespace
}  // namespace tarvel::modbus
