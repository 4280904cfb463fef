// SPDX-License-Identifier: GPL-3.0-or-later
// The search across settings in the Line Monitor of the whole program, on virtual time: the
// button, the progress and Stop, the results with their settings, the warning, and the port
// dialog's choice unchanged afterwards.

#include "monitor/SettingsSearchDlg.h"

#include <gtest/gtest.h>
#include <QMenuBar>
#include <QPushButton>
#include <QTableWidget>

#include "app/TarvelDlg.h"
#include "monitor/MonitorDlg.h"
#include "serial/SetPortDlg.h"
#include "support/ProgramRig.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;

struct SettingsSearchWindow : ::testing::Test {
    testing::ProgramRig rig;
    BusPeer peer{rig.line, SimulatedBus({ControllerAt("A", 4800, Parity::None),
                                         ControllerAt("B", 4800, Parity::None),
                                         ControllerAt("D", 2400, Parity::Even)},
                                        0.0, 1)};
    TarvelDlg& main = rig.program.Tarvel();

    SettingsSearchWindow() { rig.program.SetPort().OkBtn_Click(); }
    SettingsSearchDlg& Open() {
        for (QAction* action : main.menuBar()->actions()) {
            if (action->text() == "&Monitor") {
                action->trigger();
            }
        }
        SettingsSearchDlg* search = rig.program.Monitor().SettingsSearch();
        EXPECT_NE(search, nullptr);
        return *search;
    }
    void Refreshed() { rig.time.RunFor(MonitorDlg::RefreshPeriod); }
};

TEST_F(SettingsSearchWindow, FindsEachControllerAtItsSettingsAndWarnsInThePortDialogsTerms) {
    SettingsSearchDlg& search = Open();
    EXPECT_EQ(search.SearchButton().text(), "Search all settings...");
    EXPECT_TRUE(search.SearchButton().isEnabled());
    EXPECT_FALSE(search.Results().isVisible());
    const std::string settingsBefore = rig.line.SettingsText();

    search.SearchButton().click();
    EXPECT_FALSE(search.SearchButton().isEnabled());
    EXPECT_TRUE(search.StopButton().isEnabled());
    ASSERT_TRUE(rig.time.RunUntil([&] { return rig.line.Settings().baud == 2400; }, 1h));
    Refreshed();
    EXPECT_TRUE(search.ProgressText().startsWith("Searching: 2400 8N1 (7 of 21), address "))
        << search.ProgressText().toStdString();
    ASSERT_TRUE(rig.time.RunUntil([&] { return search.SearchButton().isEnabled(); }, 2h));
    Refreshed();

    const QTableWidget& results = search.Results();
    ASSERT_EQ(results.rowCount(), 3);
    EXPECT_EQ(results.item(0, 0)->text(), "A");
    EXPECT_EQ(results.item(0, 1)->text(), "4800 8N1");
    EXPECT_EQ(results.item(0, 2)->text(), "yes");
    EXPECT_EQ(results.item(2, 0)->text(), "D");
    EXPECT_EQ(results.item(2, 1)->text(), "2400 7E1");
    EXPECT_TRUE(search.ProgressText().startsWith("Search finished: 21 of 21 settings tried, 3 "
                                                 "controllers found"));
    EXPECT_TRUE(search.AdviceText().contains(
        "4800 8N1: A B (in \"Comm\": Baud 4800, Parity None, StopBit 1)"))
        << search.AdviceText().toStdString();
    EXPECT_TRUE(search.AdviceText().contains("2400 7E1: D"));
    EXPECT_FALSE(search.StopButton().isEnabled());
    // The port runs at the dialog's choice again, and the main window's table is its own.
    EXPECT_EQ(rig.line.SettingsText(), settingsBefore);
    EXPECT_EQ(rig.program.primo.BaudText, " 4800");
    EXPECT_TRUE(rig.prompts.messages.empty());
}

TEST_F(SettingsSearchWindow, WhileItRunsTheMainWindowsLineButtonsSayWhyInsteadOfWaiting) {
    SettingsSearchDlg& search = Open();
    search.SearchButton().click();
    ASSERT_TRUE(rig.time.RunUntil([&] { return rig.line.Settings().baud == 9600; }, 1h));
    main.StartBtn_Click();
    main.ConsolleBtn_Click();
    rig.time.RunFor(1s);
    ASSERT_EQ(rig.prompts.messages.size(), 2u);
    for (const MessageRequest& message : rig.prompts.messages) {
        EXPECT_EQ(message.text, SearchingRefusal);
    }
    EXPECT_FALSE(main.Run().Active());
    search.StopButton().click();
    ASSERT_TRUE(rig.time.RunUntil([&] { return search.SearchButton().isEnabled(); }, 1h));
    // Once it is over the line is free again.
    main.StartBtn_Click();
    rig.time.RunFor(1s);
    EXPECT_TRUE(main.Run().Active());
    main.StopBtn_Click();
    ASSERT_TRUE(rig.time.RunUntil([&] { return !main.Run().Active(); }));
}

TEST_F(SettingsSearchWindow, StopEndsTheSearchAfterTheAddressInProgress) {
    SettingsSearchDlg& search = Open();
    search.SearchButton().click();
    // From the fastest down: 4800, the dialog's own, comes fourth.
    ASSERT_TRUE(rig.time.RunUntil([&] { return rig.line.Settings().baud == 9600; }, 1h));
    ASSERT_TRUE(rig.time.RunUntil([&] { return rig.line.Settings().baud == 4800; }, 1h));
    search.StopButton().click();
    EXPECT_FALSE(search.StopButton().isEnabled());
    ASSERT_TRUE(rig.time.RunUntil([&] { return search.SearchButton().isEnabled(); }, 1h));
    Refreshed();
    EXPECT_TRUE(search.ProgressText().startsWith(
        "Search stopped: 4 of 21 settings tried, 1 controller found"))
        << search.ProgressText().toStdString();
    EXPECT_EQ(rig.program.primo.BaudText, " 4800");
}

}  // namespace
}  // namespace tarvel
