// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ConfigFile.h"

#include <gtest/gtest.h>

#include <sstream>

namespace tarvel {
namespace {

std::variant<LineConfiguration, ConfigProblem> Read(const std::string& text) {
    std::istringstream in(text);
    return ReadLineConfiguration(in);
}

LineConfiguration ReadGood(const std::string& text) {
    const auto read = Read(text);
    if (const auto* problem = std::get_if<ConfigProblem>(&read)) {
        ADD_FAILURE() << problem->text;
        return {};
    }
    return std::get<LineConfiguration>(read);
}

std::string ProblemWith(const std::string& text) {
    const auto read = Read(text);
    EXPECT_TRUE(std::holds_alternative<ConfigProblem>(read)) << text;
    return std::holds_alternative<ConfigProblem>(read) ? std::get<ConfigProblem>(read).text : "";
}

TEST(ConfigFile, ThreeControllersAtZeroTwoAndSixtyThreeAreTwentyOneBytes) {
    ControllerAddressTable table{};
    table[0] = 0;
    table[1] = 2;
    table[2] = 63;
    table[3] = 9;  // not in use: not written
    const std::string file = FormatLineConfiguration(3, table);
    EXPECT_EQ(file, std::string(" 3 \r\n 0 \r\n 2 \r\n 63 \r\n"));
    EXPECT_EQ(file.size(), 21u);
}

TEST(ConfigFile, WhatIsWrittenReadsBack) {
    ControllerAddressTable table{};
    for (int i = 0; i < 64; ++i) {
        table[i] = static_cast<std::int16_t>(63 - i);
    }
    const auto read = ReadGood(FormatLineConfiguration(64, table));
    EXPECT_EQ(read.deviceCount, 64);
    ASSERT_EQ(read.addresses.size(), 64u);
    EXPECT_EQ(read.addresses.front(), 63);
    EXPECT_EQ(read.addresses.back(), 0);
}

TEST(ConfigFile, NumbersMayStandAnyWaySeparatedByBlanksCommasAndLineEnds) {
    const auto read = ReadGood("  3\n0,2 ,  63\r\n");
    EXPECT_EQ(read.deviceCount, 3);
    EXPECT_EQ(read.addresses, (std::vector<std::int16_t>{0, 2, 63}));
    EXPECT_EQ(ReadGood("2\t5\t\t7").addresses, (std::vector<std::int16_t>{5, 7}));
    EXPECT_EQ(ReadGood("+1 +4").addresses, (std::vector<std::int16_t>{4}));
}

TEST(ConfigFile, NothingAfterTheAnnouncedNumbersIsRead) {
    const auto read = ReadGood(" 2 \r\n 1 \r\n 3 \r\n 99 \r\n garbage \x01\x02");
    EXPECT_EQ(read.addresses, (std::vector<std::int16_t>{1, 3}));
    std::string thousands = "1\n5\n";
    for (int i = 0; i < 5000; ++i) {
        thousands += "70000\n";
    }
    EXPECT_EQ(ReadGood(thousands).addresses, (std::vector<std::int16_t>{5}));
}

TEST(ConfigFile, CountsAndAddressesOutsideTheTableAreRefused) {
    EXPECT_NE(ProblemWith("0\n").find("0 controllers"), std::string::npos);
    EXPECT_NE(ProblemWith("65\n1\n").find("65 controllers"), std::string::npos);
    EXPECT_NE(ProblemWith("-3\n").find("-3"), std::string::npos);
    EXPECT_NE(ProblemWith("99999999999999999999999\n").find("controllers"), std::string::npos);
    const std::string wrongAddress = ProblemWith(" 2 \r\n 5 \r\n 64 \r\n");
    EXPECT_NE(wrongAddress.find("controller 2"), std::string::npos);
    EXPECT_NE(wrongAddress.find("line 3"), std::string::npos);
    EXPECT_FALSE(ProblemWith("1\n-1\n").empty());
}

TEST(ConfigFile, MissingOrUnreadableNumbersAreRefused) {
    EXPECT_NE(ProblemWith("").find("ends"), std::string::npos);
    EXPECT_NE(ProblemWith("   \r\n\r\n").find("ends"), std::string::npos);
    EXPECT_NE(ProblemWith(" 3 \r\n 1 \r\n 2 \r\n").find("controller 3"), std::string::npos);
    EXPECT_NE(ProblemWith("3\n1\nx\n2").find("\"x\""), std::string::npos);
    EXPECT_FALSE(ProblemWith("3.0\n1\n2\n3\n").empty());
    EXPECT_FALSE(ProblemWith("2\n1,,2\n").empty());
    EXPECT_FALSE(ProblemWith(std::string("\x7f\x45\x4c\x46\x02\x01\x01\0\0\xff", 10)).empty());
    EXPECT_FALSE(ProblemWith("-\n").empty());
}

TEST(ConfigFile, ALongNumberIsOneFieldHoweverManyDigitsItHas) {
    // Forty-five zeros and a one are the number 1, not two numbers.
    const auto read = ReadGood(" 2 \r\n " + std::string(45, '0') + "1 \r\n 5 \r\n");
    EXPECT_EQ(read.addresses, (std::vector<std::int16_t>{1, 5}));
    // A huge value is refused as what it is, not wrapped round into range.
    const std::string tooBig = ProblemWith(" 1 \r\n " + std::string(60, '9') + " \r\n");
    EXPECT_NE(tooBig.find("addresses run from 0 to 63"), std::string::npos) << tooBig;
    // A long field with a letter at its end is named by its start.
    const std::string garbled = ProblemWith(" 1 \r\n " + std::string(50, '1') + "x \r\n");
    EXPECT_NE(garbled.find(std::string(20, '1') + "..."), std::string::npos) << garbled;
}

}  // namespace
}  // namespace tarvel
