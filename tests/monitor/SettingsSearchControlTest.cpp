// SPDX-License-Identifier: GPL-3.0-or-later
// "Search all settings..." and its Stop without a window, on virtual time: when it is refused,
// what the monitor shows while it goes on and after, and the warning in the port dialog's terms.

#include "monitor/SettingsSearchControl.h"

#include <gtest/gtest.h>

#include "sim/SimulatedSerialLine.h"
#include "support/LineRig.h"
#include "support/ScriptedPrompts.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;

struct SettingsSearchControlTest : ::testing::Test, testing::LineRig {
    LineUse lineUse{time};
    testing::ScriptedPrompts prompts;
    SettingsSearchControl control{primo, port, lineUse, prompts};
    std::optional<BusPeer> bus;

    SettingsSearchControlTest() { primo.PortAccepted = kTrue; }
    void Controllers(std::vector<SimulatedController> controllers) {
        bus.emplace(line, SimulatedBus(std::move(controllers), 0.0, 1));
    }
    bool SearchToEnd() {
        control.SearchBtn_Click();
        return time.RunUntil([this] { return !control.Searching(); }, 2h);
    }
};

TEST_F(SettingsSearchControlTest, IsRefusedWithTheReasonOnAClosedPortABusyLineOrAnotherProtocol) {
    Controllers({});
    {
        auto lease = lineUse.Acquire();  // a run, a scan, the terminal or listening
        time.RunDue();
        control.SearchBtn_Click();
        EXPECT_FALSE(control.Searching());
        ASSERT_EQ(prompts.messages.size(), 1u);
        EXPECT_NE(prompts.messages.back().text.find("in use"), std::string::npos);
    }
    time.RunDue();
    primo.ProtocolIndex = 5;  // "Pyromat"
    control.SearchBtn_Click();
    EXPECT_FALSE(control.Searching());
    ASSERT_EQ(prompts.messages.size(), 2u);
    EXPECT_NE(prompts.messages.back().text.find("Ascon, MB RTU, JB RTU, MB ASCII and JB ASCII."),
              std::string::npos);
    primo.ProtocolIndex = 0;
    port.ClosePort();
    control.SearchBtn_Click();
    EXPECT_FALSE(control.Searching());
    ASSERT_EQ(prompts.messages.size(), 3u);
    EXPECT_NE(prompts.messages.back().text.find("closed"), std::string::npos);
    EXPECT_FALSE(control.Searched());
    EXPECT_EQ(control.ProgressText(), "");
}

TEST_F(SettingsSearchControlTest, ShowsWhereItStandsThenWhatItFoundWithThePortDialogsChoices) {
    Controllers({ControllerAt("A", 9600, Parity::None), ControllerAt("C", 2400, Parity::Even)});
    control.SearchBtn_Click();
    ASSERT_TRUE(control.Searching());
    // A second click while it searches asks for nothing more.
    control.SearchBtn_Click();
    ASSERT_TRUE(time.RunUntil([&] { return control.Finds().size() == 1; }));
    EXPECT_NE(control.ProgressText().find("Searching: 9600 8N1 (1 of 21), address B (2 of 64), 1 "
                                          "found"),
              std::string::npos)
        << control.ProgressText();
    ASSERT_TRUE(time.RunUntil([&] { return !control.Searching(); }, 2h));
    EXPECT_TRUE(prompts.messages.empty());
    EXPECT_EQ(control.Finds().size(), 2u);
    EXPECT_NE(control.ProgressText().find("Search finished: 21 of 21 settings tried, 2 "
                                          "controllers found in "),
              std::string::npos)
        << control.ProgressText();
    const std::string advice = control.AdviceText();
    EXPECT_NE(advice.find("Warning: "), std::string::npos);
    EXPECT_NE(advice.find("9600 8N1: A (in \"Comm\": Baud 9600, Parity None, StopBit 1)"),
              std::string::npos)
        << advice;
    EXPECT_NE(advice.find("2400 7E1: C (in \"Comm\": Baud 2400, Parity Even, StopBit 1)"),
              std::string::npos);
    // The port dialog's choice stands.
    EXPECT_EQ(line.SettingsText(), " 9600,N,8, 1");
    EXPECT_FALSE(lineUse.Busy());
}

TEST_F(SettingsSearchControlTest, FindsAllAtOneSettingSayWhatToChooseAndStopEndsItEarly) {
    Controllers({ControllerAt("B", 4800, Parity::Odd)});
    ASSERT_TRUE(SearchToEnd());
    EXPECT_EQ(control.AdviceText(),
              "All found answer at 4800 7O1: choose Baud 4800, Parity Odd, StopBit 1 in "
              "\"Comm\", then \"&Search!\" makes them the device table.");

    control.SearchBtn_Click();
    ASSERT_TRUE(time.RunUntil([&] { return control.Finds().size() == 1; }));
    control.StopBtn_Click();
    EXPECT_TRUE(control.Stopping());
    EXPECT_EQ(control.ProgressText().rfind("Stopping after this address: 4800 7O1", 0), 0u)
        << control.ProgressText();
    ASSERT_TRUE(time.RunUntil([&] { return !control.Searching(); }));
    EXPECT_EQ(control.ProgressText().rfind("Search stopped: 6 of 21 settings tried, 1 controller "
                                           "found",
                                           0),
              0u)
        << control.ProgressText();
}

TEST_F(SettingsSearchControlTest, AModbusLineIsSearchedWithItsOwnSpeedsAndAddresses) {
    primo.ProtocolIndex = 1;  // "MB RTU"
    const Protocol& modbus = *ProtocolAt(1);
    SimulatedController fast;
    fast.address = "17";
    fast.baud = 19200;
    fast.framing = Framing{8, Parity::Even};
    bus.emplace(line, SimulatedBus({fast}, 0.0, 1, modbus));
    control.SearchBtn_Click();
    ASSERT_TRUE(control.Searching());
    ASSERT_TRUE(time.RunUntil([&] { return control.Finds().size() == 1; }, 2h));
    EXPECT_NE(control.ProgressText().find("address 18 (18 of 247)"), std::string::npos)
        << control.ProgressText();
    control.StopBtn_Click();
    ASSERT_TRUE(time.RunUntil([&] { return !control.Searching(); }, 2h));
    EXPECT_EQ(control.StationText(control.Finds()[0].index), "17");
    EXPECT_EQ(control.Finds()[0].setting.Name(), "19200 8E1");
    // "Comm" stops at 9600: the command line reaches the faster line.
    EXPECT_EQ(control.AdviceText(),
              "All found answer at 19200 8E1: \"Comm\" does not offer 19200 baud; reach them "
              "with line-tarvel-cli scan --protocol modbus-rtu --baud 19200 --parity even.");
    // The line speaks what it spoke before, at the port dialog's settings.
    EXPECT_EQ(port.LineProtocol().Name(), "Ascon");
    EXPECT_EQ(line.SettingsText(), " 9600,N,8, 1");
}

}  // namespace
}  // namespace tarvel
