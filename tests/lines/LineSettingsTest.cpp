// SPDX-License-Identifier: GPL-3.0-or-later
#include "lines/LineSettings.h"

#include <gtest/gtest.h>

namespace tarvel {
namespace {

using namespace std::chrono_literals;

TEST(LineSettings, ReadsNumbersIgnoringTheBlankBeforeThem) {
    EXPECT_EQ(ParseSettingsText(" 4800,N,8, 1"), (LineSettings{4800, Parity::None, 8, 1}));
    EXPECT_EQ(ParseSettingsText(" 9600,E,7, 2"), (LineSettings{9600, Parity::Even, 7, 2}));
    EXPECT_EQ(ParseSettingsText("150,O,7,1"), (LineSettings{150, Parity::Odd, 7, 1}));
}

TEST(LineSettings, RefusesTextsThatAreNotSettings) {
    for (const char* text :
         {"", " 4800,N,8", " 4800,N,8, 1,", "4800,X,8,1", "4800,NN,8,1", "0,N,8,1", "-9600,N,8,1",
          "4800,N,9,1", "4800,N,8,3", "4800 ,N,8,1", "fast,N,8,1", "99999999999,N,8,1"}) {
        EXPECT_FALSE(ParseSettingsText(text).has_value()) << text;
    }
}

TEST(LineSettings, ACharacterTakesStartDataParityAndStopBits) {
    EXPECT_EQ(CharacterTime({9600, Parity::None, 8, 1}), 1041666ns);                // 10 bits
    EXPECT_EQ(CharacterTime({4800, Parity::Even, 7, 2}), 11'000'000'000ns / 4800);  // 11 bits
    EXPECT_EQ(CharacterTime({150, Parity::Odd, 7, 1}), 10'000'000'000ns / 150);
}

}  // namespace
}  // namespace tarvel
