// SPDX-License-Identifier: GPL-3.0-or-later
// The diagnostics requests that read a controller's own counters, their answers, and the drop
// where noise enters the line.

#include "protocol/modbus/ModbusCounters.h"

#include <gtest/gtest.h>

#include "protocol/modbus/ModbusFrame.h"

namespace tarvel::modbus {
namespace {

TEST(ModbusCounters, EachCounterIsReadWithItsOwnSubFunction) {
    const std::vector<CounterKind>& counters = ControllerCounters();
    ASSERT_EQ(counters.size(), 8u);
    EXPECT_EQ(counters.front().subFunction, 0x0B);
    EXPECT_EQ(counters.back().subFunction, 0x12);
    EXPECT_EQ(std::string(counters[1].key), "crcErrors");
    // Return bus CRC error count of controller 17; clear the counters of controller 1, its CRC
    // (low byte first) computed apart from this program.
    const std::string request = DiagnosticsRequest(17, BusCrcErrorCount);
    EXPECT_EQ(request, std::string("\x11\x08\x00\x0C\x00\x00", 6));
    EXPECT_EQ(WithCrc(DiagnosticsRequest(1, ClearCountersSubFunction)),
              std::string("\x01\x08\x00\x0A\x00\x00\xC0\x09", 8));
}

TEST(ModbusCounters, AnAnswerGivesTheCounterAnExceptionItsCodeAndAnythingElseNothing) {
    const std::string request = DiagnosticsRequest(17, BusCrcErrorCount);
    const auto value = ReadCounterAnswer(request, std::string("\x11\x08\x00\x0C\x01\x2C", 6));
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->value, 300);
    EXPECT_FALSE(value->exceptionCode);
    const auto refused = ReadCounterAnswer(request, std::string("\x11\x88\x01", 3));
    ASSERT_TRUE(refused.has_value());
    EXPECT_EQ(refused->exceptionCode, 1);
    EXPECT_FALSE(refused->value);
    // Another sub-function's answer, another controller's, a cut answer: no reading.
    EXPECT_FALSE(ReadCounterAnswer(request, std::string("\x11\x08\x00\x0B\x01\x2C", 6)));
    EXPECT_FALSE(ReadCounterAnswer(request, std::string("\x12\x08\x00\x0C\x01\x2C", 6)));
    EXPECT_FALSE(ReadCounterAnswer(request, std::string("\x11\x08\x00\x0C", 4)));
}

TEST(ModbusCounters, TheNoiseIsLocatedWhereTheRateFirstRisesToTheMedian) {
    EXPECT_EQ(CrcErrorsPerThousand(3, 1500), 2.0);
    EXPECT_FALSE(CrcErrorsPerThousand(0, 0));
    using Rates = std::vector<std::optional<double>>;
    // Noise enters after the third drop.
    EXPECT_EQ(FirstDropAboveMedian(Rates{0, 0, 0, 5, 6, 5}), 3u);
    // It reaches most of them: the median is a noisy drop's rate.
    EXPECT_EQ(FirstDropAboveMedian(Rates{0, 0.1, 5, 6, 5, 5}), 2u);
    // A drop that cannot tell is passed over.
    EXPECT_EQ(FirstDropAboveMedian(Rates{0, std::nullopt, 0, 4}), 3u);
    // A quiet line, noise alike everywhere, nothing known: nowhere.
    EXPECT_FALSE(FirstDropAboveMedian(Rates{0, 0, 0}));
    EXPECT_FALSE(FirstDropAboveMedian(Rates{5, 5, 5}));
    EXPECT_FALSE(FirstDropAboveMedian(Rates{std::nullopt}));
}

}  // namespace
}  // namespace tarvel::modbus
