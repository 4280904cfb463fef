#include "serial/PortService.h"

#include <gtest/gtest.h>

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

TEST(SettleLine, ACharacterAfterTheLastReadStaysAndMidnightChangesNothing) {
    VirtualTime time(TimeOfDay{23, 59, 59});
    SimulatedSerialLine line(time);
    Primo primo = testing::Primo9600();
    PortService port(line, primo, time);
    ASSERT_FALSE(port.OpenPort());
    time.RunFor(900ms);  // 23:59:59.9
    line.DeliverAt(time.Now() + SettleTime + 1ms, 'x');
    RunToEnd(time, port.SettleLine());
    EXPECT_EQ(time.Now().time_since_epoch(), 1100ms);
    EXPECT_EQ(time.LocalTime(), (TimeOfDay{0, 0, 0}));
    time.RunFor(1ms);
    EXPECT_EQ(line.InBufferCount(), 1);
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
