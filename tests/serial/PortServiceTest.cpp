// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/PortService.h"

#include <gtest/gtest.h>

#include "lines/LineFilter.h"
#include "protocol/ascon/AsconFrame.h"
#include "serial/PortChoices.h"
#include "support/LineRig.h"
#include "support/Run.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;
using testing::LineRig;
using testing::RunToEnd;

TEST(PortService, ThePresetChoicesOpenPortOneWithTheTwelveCharacterSettingsText) {
    VirtualTime time;
    SimulatedSerialLine line(time);
    Primo primo;
    PortService port(line, primo, time);
    ApplyPortChoices(PortChoices{}, primo);
    primo.DataBitsText = DataBitsFor(primo.ParityText);
    EXPECT_EQ(SettingsText(primo), " 4800,N,8, 1");
    EXPECT_EQ(SettingsText(primo).size(), 12u);

    EXPECT_FALSE(port.OpenPort());
    EXPECT_TRUE(line.PortOpen());
    EXPECT_EQ(line.CommPort(), 1);
    EXPECT_EQ(line.SettingsText(), " 4800,N,8, 1");
}

TEST(PortService, AnUnavailablePortFailsWithTheReasonAndOpensOnceItIsFree) {
    LineRig rig;
    rig.primo.PortNumber = 3;
    rig.line.SetPortAvailable(3, false, "Permission denied");
    EXPECT_TRUE(rig.port.OpenPort());
    EXPECT_FALSE(rig.line.PortOpen());
    EXPECT_NE(rig.port.OpenFailure().find("Permission denied"), std::string::npos);

    rig.line.SetPortAvailable(3, true);
    EXPECT_FALSE(rig.port.OpenPort());
    EXPECT_TRUE(rig.line.PortOpen());
    EXPECT_EQ(rig.line.CommPort(), 3);
    EXPECT_TRUE(rig.port.OpenFailure().empty());
}

TEST(PortService, RefusedSettingsLeaveTheLineClosed) {
    LineRig rig;
    rig.primo.BaudText = "";
    EXPECT_TRUE(rig.port.OpenPort());
    EXPECT_FALSE(rig.line.PortOpen());
}

TEST(PortService, ReopeningWithOtherSettingsClosesTheLineFirst) {
    LineRig rig;
    rig.primo.BaudText = " 2400";
    rig.primo.ParityText = "E";
    rig.primo.DataBitsText = DataBitsFor("E");
    rig.primo.StopBitsText = " 2";
    EXPECT_FALSE(rig.port.OpenPort());
    EXPECT_EQ(rig.line.TimesOpened(), 2);
    EXPECT_EQ(rig.line.SettingsText(), " 2400,E,7, 2");
    rig.port.ClosePort();
    rig.port.ClosePort();  // closing a closed line is no error
    EXPECT_FALSE(rig.line.PortOpen());
}

// A line that records the port operations OpenPort makes, and refuses the one it is told to.
class RecordingLine final : public LineFilter {
public:
    explicit RecordingLine(SimulatedSerialLine& line) : LineFilter(line), line_(line) {}
    std::vector<std::string> calls;
    std::string refuse;  // the name of the operation to refuse

    bool SetCommPort(std::int16_t n) override {
        return Call("SetCommPort " + std::to_string(n), [&] { return line_.SetCommPort(n); });
    }
    bool SetSettings(std::string_view s) override {
        return Call("SetSettings" + std::string(s), [&] { return line_.SetSettings(s); });
    }
    bool SetInputLen(std::int16_t n) override {
        return Call("SetInputLen " + std::to_string(n), [&] { return line_.SetInputLen(n); });
    }
    bool SetPortOpen(bool open) override {
        return Call(open ? "SetPortOpen true" : "SetPortOpen false",
                    [&] { return line_.SetPortOpen(open); });
    }
    std::string LastError() const override { return "refused"; }

private:
    // Records the operation, then refuses it or has the simulated line carry it out.
    template <typename Operation>
    bool Call(const std::string& call, Operation operation) {
        calls.push_back(call);
        if (!refuse.empty() && call.rfind(refuse, 0) == 0) {
            return false;
        }
        return operation();
    }
    SimulatedSerialLine& line_;
};

TEST(OpenPort, ClosesFirstThenSetsPortSettingsAndAnInputLengthOfZeroThenOpens) {
    LineRig rig;  // opened once already
    RecordingLine line(rig.line);
    PortService port(line, rig.primo, rig.time);
    line.SetInputLen(3);
    line.calls.clear();
    EXPECT_FALSE(port.OpenPort());
    EXPECT_EQ(line.calls, (std::vector<std::string>{"SetPortOpen false", "SetCommPort 1",
                                                    "SetSettings 9600,N,8, 1", "SetInputLen 0",
                                                    "SetPortOpen true"}));
    // The input length really is 0 again: a read takes everything waiting.
    rig.line.DeliverFrom(rig.time.Now(), "ABCDEFG");
    rig.time.RunFor(10ms);
    EXPECT_EQ(rig.line.Input(), "ABCDEFG");
}

TEST(OpenPort, NothingIsOpenedAfterAStepThatFailedAndEachAttemptClosesFirst) {
    for (const std::string step :
         {"SetCommPort", "SetSettings", "SetInputLen", "SetPortOpen true"}) {
        LineRig rig;
        RecordingLine line(rig.line);
        PortService port(line, rig.primo, rig.time);
        line.refuse = step;
        EXPECT_TRUE(port.OpenPort()) << step;
        EXPECT_FALSE(rig.line.PortOpen()) << step;
        EXPECT_EQ(line.calls.front(), "SetPortOpen false") << step;
        EXPECT_EQ(line.calls.back().rfind(step, 0), 0u) << step << ": nothing after it";
        EXPECT_EQ(port.OpenFailure(), "refused");
        // Retried, as the port dialog's Retry does: the line stays closed, nothing is left
        // half open between the attempts.
        line.calls.clear();
        EXPECT_TRUE(port.OpenPort());
        EXPECT_FALSE(rig.line.PortOpen());
        EXPECT_EQ(line.calls.back().rfind(step, 0), 0u) << step;
    }
}

TEST(SettleLine, SendsOneCarriageReturnPausesAndDropsAllInput) {
    LineRig rig;
    rig.line.DeliverFrom(rig.time.Now(), "old");
    rig.time.RunFor(10ms);
    // Arrives during the pause, and is dropped with it.
    rig.line.DeliverFrom(rig.time.Now() + 50ms, "late");
    const Duration start = rig.Elapsed();
    RunToEnd(rig.time, rig.port.SettleLine());
    EXPECT_EQ(rig.Elapsed() - start, SettleTime);
    EXPECT_EQ(rig.line.TransmittedText(), "\r");
    EXPECT_EQ(rig.line.InBufferCount(), 0);
}

TEST(SettleLine, ACharacterAfterTheLastReadStays) {
    LineRig rig;
    rig.line.DeliverAt(rig.time.Now() + SettleTime + 1ms, 'x');
    RunToEnd(rig.time, rig.port.SettleLine());
    rig.time.RunFor(1ms);
    EXPECT_EQ(rig.line.InBufferCount(), 1);
}

TEST(SettleLine, OnAClosedLineItNeitherHangsNorCrashes) {
    LineRig rig;
    rig.port.ClosePort();
    RunToEnd(rig.time, rig.port.SettleLine());
    EXPECT_EQ(rig.Elapsed(), SettleTime);
    EXPECT_EQ(rig.line.TransmittedText(), "");
}

}  // namespace
}  // namespace tarvel
