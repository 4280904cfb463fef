// SPDX-License-Identifier: GPL-3.0-or-later
// The line as a stack on virtual time: a filter that changes nothing hides nothing of the
// layers below it, and the stack the programs build puts its filters in their places.

#include "lines/LineStack.h"

#include <gtest/gtest.h>

#include "lines/LineFilter.h"
#include "platform/VirtualTime.h"
#include "sim/SimulatedSerialLine.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;

// A port across the network in miniature: the simulated line, with a round trip to report and
// the purges counted.
struct FarLine final : LineFilter {
    explicit FarLine(SerialLine& line) : LineFilter(line) {}
    void PurgeReceived() override { ++purges; }
    void Diagnose(LineDiagnostics& report) const override {
        LineFilter::Diagnose(report);
        report.roundTrip = 40ms;
        report.uart = UartErrorCounts{1, 2, 3, 4};
    }
    int purges = 0;
};

// A filter that overrides nothing.
struct PlainFilter final : LineFilter {
    using LineFilter::LineFilter;
};

struct LineStackTest : ::testing::Test {
    VirtualTime time;
    SimulatedSerialLine sim{time};

    static void OpenAt9600(SerialLine& line) {
        ASSERT_TRUE(line.SetSettings(" 9600,N,8, 1"));
        ASSERT_TRUE(line.SetPortOpen(true));
    }
};

TEST_F(LineStackTest, AFilterThatOverridesNothingPassesTheControlAndTheReportsOfTheLayersBelow) {
    FarLine far(sim);
    PlainFilter plain(far);
    EchoCancellingLine echo(plain, time, EchoMode::On);
    OpenAt9600(echo);

    const LineDiagnostics report = echo.Diagnostics();
    EXPECT_EQ(report.roundTrip, 40ms);
    EXPECT_EQ(report.uart, (UartErrorCounts{1, 2, 3, 4}));
    ASSERT_TRUE(report.echo.has_value());
    EXPECT_TRUE(report.echo->echoes);
    EXPECT_EQ(report.rs485, std::nullopt);
    EXPECT_EQ(echo.RoundTrip(), 40ms);

    echo.PurgeReceived();
    EXPECT_EQ(far.purges, 1);
    EXPECT_TRUE(sim.RequestToSend());
    echo.LowerRequestToSend();
    EXPECT_FALSE(sim.RequestToSend());
}

TEST_F(LineStackTest, AFilterWakesItsReadersOnlyOnceTheirCountIsWaiting) {
    PlainFilter plain(sim);
    OpenAt9600(plain);
    int wakes = 0;
    auto woken = plain.InputActivity().Subscribe([&] { ++wakes; });
    plain.WakeOnInputCount(3);
    sim.DeliverFrom(time.Now(), "AB");
    time.RunFor(10ms);
    EXPECT_EQ(wakes, 0);
    sim.DeliverFrom(time.Now(), "C");
    time.RunFor(10ms);
    EXPECT_EQ(wakes, 1);
    EXPECT_EQ(plain.Input(), "ABC");
}

TEST_F(LineStackTest, TheProgramsSeeTheLineBehindTheEchoFilter) {
    LineStack stack(sim, time, LineStackOptions{std::nullopt, EchoMode::On});
    OpenAt9600(stack.Line());
    EXPECT_EQ(&stack.Line(), static_cast<const SerialLine*>(&stack.EchoLayer()));
    EXPECT_EQ(stack.EchoLayer().Mode(), EchoMode::On);
    stack.Line().Output("A?X  \r");
    time.RunFor(50ms);
    EXPECT_EQ(sim.TransmittedText(), "A?X  \r");
    ASSERT_TRUE(stack.Line().Echo().has_value());
    EXPECT_TRUE(stack.Line().Echo()->echoes);
}

TEST_F(LineStackTest, AListeningProgramsLineReadsEverythingAndSendsNothing) {
    LineStack stack(sim, time, LineStackOptions{std::nullopt, EchoMode::Auto, true});
    OpenAt9600(stack.Line());
    stack.Line().Output("A?X  \r");
    time.RunFor(50ms);
    EXPECT_EQ(sim.TransmittedText(), "");
    EXPECT_EQ(stack.Line().OutBufferCount(), 0);

    sim.DeliverFrom(time.Now(), "A215\r");
    time.RunFor(50ms);
    const std::vector<ReadOnlyLine::StampedByte> heard = stack.Receiving().Take(time.Now());
    ASSERT_EQ(heard.size(), 5u);
    EXPECT_EQ(heard[0].byte, 'A');
    // The echo filter is there below, reporting as in every other program.
    ASSERT_TRUE(stack.Line().Echo().has_value());
    EXPECT_FALSE(stack.Line().Echo()->echoes);
}

}  // namespace
}  // namespace tarvel
