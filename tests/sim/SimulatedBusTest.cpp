// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/SimulatedBus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace tarvel {
namespace {

using namespace std::chrono_literals;
constexpr Duration kChar = 1ms;

std::vector<TimedByte> Send(SimulatedBus& bus, const std::string& frame, Instant end = {},
                            std::optional<Framing> hostFraming = std::nullopt, int baud = 9600) {
    std::vector<TimedByte> answer;
    for (const char c : frame) {
        end += kChar;
        for (const auto& byte : bus.HostCharacter(static_cast<std::uint8_t>(c), end, kChar,
                                                  HostWire{baud, hostFraming})) {
            answer.push_back(byte);
        }
    }
    return answer;
}

std::string Text(const std::vector<TimedByte>& bytes) {
    std::string text;
    for (const auto& b : bytes) {
        text.push_back(static_cast<char>(b.byte));
    }
    return text;
}

TEST(SimulatedBus, AControllerOfAnotherSpeedDoesNotAnswerOneOfAnySpeedDoes) {
    SimulatedController slow{"A", 5ms};
    slow.baud = 2400;
    SimulatedBus bus({slow, {"B", 5ms}}, 0.0, 1);
    EXPECT_TRUE(Send(bus, "A?X  \r", {}, std::nullopt, 9600).empty());
    EXPECT_EQ(Text(Send(bus, "A?X  \r", {}, std::nullopt, 2400)).size(), 5u);
    EXPECT_EQ(Text(Send(bus, "B?X  \r", {}, std::nullopt, 2400)).size(), 5u);
}

TEST(SimulatedBus, AnEchoingAdapterGivesBackEachCharacterAsItEndsBeforeTheAnswer) {
    SimulatedBus bus({{"B", 5ms}}, 0.0, 1);
    bus.SetEcho(true);
    const auto back = Send(bus, "B?X  \r");
    ASSERT_EQ(back.size(), 11u);
    EXPECT_EQ(Text(back).substr(0, 6), "B?X  \r");
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(back[i].end, Instant{} + kChar * static_cast<int>(i + 1));
    }
    EXPECT_EQ(back[6].byte, 'B');
    EXPECT_GE(back[6].end, back[5].end + 5ms);
    // A frame that nobody answers still comes back.
    EXPECT_EQ(Text(Send(bus, "Z?X  \r")), "Z?X  \r");
}

TEST(SimulatedBus, AHealthyControllerAnswersItsAddressWithFiveCharactersAfterItsDelay) {
    SimulatedBus bus({{"B", 5ms}}, 0.0, 1);
    const auto answer = Send(bus, "B?X  \r");
    ASSERT_EQ(answer.size(), 5u);
    EXPECT_EQ(answer.front().byte, 'B');
    EXPECT_EQ(answer.back().byte, '\r');
    // The request's carriage return ends at 6 ms; the answer starts 5 ms later.
    for (std::size_t i = 0; i < answer.size(); ++i) {
        EXPECT_EQ(answer[i].end.time_since_epoch(), 11ms + kChar * static_cast<int>(i + 1));
    }
}

TEST(SimulatedBus, FramesForOtherAddressesAndLoneCarriageReturnsGetNoAnswer) {
    SimulatedBus bus({{"A"}}, 0.0, 1);
    EXPECT_TRUE(Send(bus, "\r").empty());
    EXPECT_TRUE(Send(bus, "C?X  \r").empty());
    EXPECT_EQ(Send(bus, "A?X  \r").size(), 5u);
    // A line that never closes a frame does not grow it without end.
    EXPECT_TRUE(Send(bus, std::string(10000, 'A')).empty());
}

TEST(SimulatedBus, AWriteIsAnsweredOnceAfterItsValueFrame) {
    SimulatedBus bus({{"A", 1ms}}, 0.0, 1);
    EXPECT_TRUE(Send(bus, "A!SP \r").empty());
    EXPECT_EQ(Text(Send(bus, "A0123\r")), "AACK\r");
    EXPECT_EQ(Text(Send(bus, "A!SP 0123\r")), "AACK\r");  // command and value in one frame
}

TEST(SimulatedBus, EachFaultShowsInTheAnswer) {
    SimulatedBus bus({{"A", 1ms, ControllerFault::Silent},
                      {"B", 1ms, ControllerFault::GarbledLastChar},
                      {"C", 1ms, ControllerFault::ExtraChars},
                      {"D", 1ms, ControllerFault::ShortAnswer}},
                     0.0, 1);
    EXPECT_TRUE(Send(bus, "A?X  \r").empty());
    const std::string garbled = Text(Send(bus, "B?X  \r"));
    EXPECT_EQ(garbled.size(), 5u);
    EXPECT_NE(garbled.back(), '\r');
    EXPECT_GT(Text(Send(bus, "C?X  \r")).size(), 5u);
    EXPECT_EQ(Text(Send(bus, "D?X  \r")).size(), 3u);
}

TEST(SimulatedBus, AControllerAnswersOnlyAHostAtItsOwnFraming) {
    const Framing sevenEven{7, Parity::Even};
    const Framing eightNone{8, Parity::None};
    SimulatedBus bus({{"A", 1ms, ControllerFault::None, 0.0, 0.0, sevenEven}, {"B", 1ms}}, 0.0, 1);
    EXPECT_EQ(Send(bus, "A?X  \r", {}, sevenEven).size(), 5u);
    EXPECT_TRUE(Send(bus, "A?X  \r", {}, eightNone).empty());
    EXPECT_TRUE(Send(bus, "A?X  \r", {}, Framing{7, Parity::Odd}).empty());
    // A host whose framing nobody knows (a pty opened by another program) is taken at its word.
    EXPECT_EQ(Send(bus, "A?X  \r").size(), 5u);
    // A controller of no set framing understands the host at any.
    EXPECT_EQ(Send(bus, "B?X  \r", {}, sevenEven).size(), 5u);
    EXPECT_EQ(Send(bus, "B?X  \r", {}, eightNone).size(), 5u);
    // The stop bits are no part of it.
    EXPECT_EQ(FramingOf(LineSettings{9600, Parity::Even, 7, 2}), sevenEven);
}

TEST(SimulatedBus, TheSameSeedGivesTheSameNoisyLine) {
    auto run = [](std::uint64_t seed) {
        SimulatedBus bus({{"A", 1ms, ControllerFault::None, 0.0, 0.3}}, 0.0, seed);
        std::string all;
        for (int i = 0; i < 50; ++i) {
            all += Text(Send(bus, "A?X  \r", Instant{} + 100ms * i)) + "|";
        }
        return all;
    };
    EXPECT_EQ(run(7), run(7));
    EXPECT_NE(run(7), run(8));
    SimulatedBus clean({{"A"}}, 0.0, 7);
    EXPECT_EQ(Text(Send(clean, "A?X  \r")).substr(0, 1), "A");
}

TEST(SimulatedBus, AnswersNeverOverlapOnTheWire) {
    SimulatedBus bus({{"A", 0ms}, {"B", 0ms}}, 0.0, 1);
    auto first = Send(bus, "A?X  \r");
    auto second = Send(bus, "B?X  \r");  // sent at once, while A still answers
    ASSERT_EQ(second.size(), 5u);
    EXPECT_GE(second.front().end, first.back().end + kChar);
}

TEST(SimulatedBus, TheDemoLineHasHealthySilentAndNoisyControllers) {
    const auto controllers = DemoControllers();
    auto has = [&](auto predicate) {
        return std::any_of(controllers.begin(), controllers.end(), predicate);
    };
    EXPECT_TRUE(has([](const auto& c) { return c.fault == ControllerFault::Silent; }));
    EXPECT_TRUE(has([](const auto& c) { return c.noise > 0.0; }));
    EXPECT_TRUE(
        has([](const auto& c) { return c.fault == ControllerFault::None && c.noise == 0; }));
    // A first try answers at whatever parity the program starts with.
    EXPECT_FALSE(has([](const auto& c) { return c.framing.has_value(); }));
}

}  // namespace
}  // namespace tarvel
