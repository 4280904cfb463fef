// SPDX-License-Identifier: GPL-3.0-or-later
// The Line Monitor's own test and scan in the whole program, on virtual time: shown for the
// protocols the main window does not run, and what they find shown as any run is.

#include <gtest/gtest.h>

#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

#include "app/TarvelDlg.h"
#include "monitor/ControllerCountersDlg.h"
#include "monitor/MonitorDlg.h"
#include "monitor/MonitorRunDlg.h"
#include "serial/SetPortDlg.h"
#include "sim/SimulatedSerialLine.h"
#include "support/ProgramRig.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;

void ChooseProtocol(testing::ProgramRig& rig, int protocol) {
    PortChoices choices = rig.program.SetPort().Choices();
    choices.protocol = protocol;
    rig.program.SetPort().SetChoices(choices);
    rig.program.SetPort().OkBtn_Click();
}

TEST(MonitorRunWindow, IsOfferedForModbusOnlyAndScansThenTestsWhatItFound) {
    testing::ProgramRig rig;
    ChooseProtocol(rig, 1);  // "MB RTU"
    SimulatedController controller;
    controller.address = "4";
    BusPeer bus(rig.line, SimulatedBus({controller}, 0.0, 1, *ProtocolAt(1)));
    MonitorDlg& window = rig.program.Monitor();
    window.show();
    rig.time.RunFor(MonitorDlg::RefreshPeriod);
    MonitorRunDlg& run = *window.MonitorRun();
    ASSERT_TRUE(run.isVisible());
    EXPECT_EQ(run.AddressesEdit().text(), "1-247");

    run.AddressesEdit().setText("3-5");
    run.ScanButton().click();
    EXPECT_FALSE(run.TestButton().isEnabled());
    EXPECT_TRUE(run.StopButton().isEnabled());
    // The terminal is told where the line is, rather than left waiting for it.
    rig.program.Tarvel().ConsolleBtn_Click();
    EXPECT_EQ(rig.prompts.Texts().back(), MonitorRunRefusal);
    rig.time.RunFor(10s);
    EXPECT_EQ(run.ProgressText().left(40), "Scan finished: 1 of 3 addresses answer (");
    EXPECT_TRUE(window.ScanSummaryText().contains("4")) << window.ScanSummaryText().toStdString();

    run.AddressesEdit().setText("4");
    run.TestButton().click();
    rig.time.RunFor(5s);
    run.StopButton().click();
    rig.time.RunFor(MonitorDlg::RefreshPeriod);
    EXPECT_TRUE(run.ProgressText().startsWith("Test run over 1 address: "))
        << run.ProgressText().toStdString();
    const ControllerStatistics* four = rig.program.Tarvel().Monitor().Statistics().Find(4);
    ASSERT_NE(four, nullptr);
    EXPECT_GT(four->good, 5);
    EXPECT_EQ(four->good, four->requests);
    EXPECT_EQ(window.StatisticsTable().Field(0, 0), "4");

    // An ASCII line waits its own second for an answer, until the operator chooses a window.
    ChooseProtocol(rig, 4);  // "JB ASCII"
    rig.time.RunFor(MonitorDlg::RefreshPeriod);
    EXPECT_EQ(run.WindowBox().value(), 1.0);
    EXPECT_EQ(run.AddressesEdit().text(), "4");  // the operator's own
    run.WindowBox().setValue(0.8);
    ChooseProtocol(rig, 1);
    rig.time.RunFor(MonitorDlg::RefreshPeriod);
    EXPECT_EQ(run.WindowBox().value(), 0.8);

    // Back on Ascon, the main window's own Start and "&Search!" are the way: the part goes.
    ChooseProtocol(rig, 0);
    rig.time.RunFor(MonitorDlg::RefreshPeriod);
    EXPECT_FALSE(run.isVisible());
}

TEST(MonitorRunWindow, ControllerCountersAreReadClearedOnConfirmationAndTheNoisyDropMarked) {
    testing::ProgramRig rig;
    ChooseProtocol(rig, 1);  // "MB RTU"
    std::vector<SimulatedController> controllers(4);
    for (std::size_t i = 0; i < controllers.size(); ++i) {
        controllers[i].address = std::to_string(i + 1);
        controllers[i].position = 300.0 * static_cast<double>(i);
    }
    controllers[0].vendor = "Acme Controls";
    SimulatedBus simulated(controllers, 0.004, 3, *ProtocolAt(1));
    simulated.SetNoisePosition(500.0);
    BusPeer bus(rig.line, std::move(simulated));
    MonitorDlg& window = rig.program.Monitor();
    window.show();
    rig.time.RunFor(MonitorDlg::RefreshPeriod);
    MonitorRunDlg& run = *window.MonitorRun();
    run.AddressesEdit().setText("1-4");
    run.TestButton().click();
    rig.time.RunFor(3min);
    run.StopButton().click();
    rig.time.RunFor(MonitorDlg::RefreshPeriod);

    run.CountersButton().click();
    ControllerCountersDlg& counters = *run.CountersWindow();
    EXPECT_TRUE(counters.isVisible());
    counters.ReadButton().click();
    EXPECT_FALSE(counters.ReadButton().isEnabled());
    rig.time.RunFor(10s);
    QTableWidget& table = counters.Table();
    ASSERT_EQ(table.rowCount(), 4);
    EXPECT_EQ(table.horizontalHeaderItem(2)->text(), "CRC errors");
    EXPECT_EQ(table.item(1, 2)->text(), "0");  // before the noise
    EXPECT_NE(table.item(2, 2)->text(), "0");
    EXPECT_TRUE(counters.MarkText().contains("at address 3")) << counters.MarkText().toStdString();
    EXPECT_TRUE(counters.StatusText().startsWith("Counters read: 4 controllers at "));

    counters.IdentifyButton().click();
    rig.time.RunFor(10s);
    EXPECT_EQ(table.item(0, 10)->text(), "Acme Controls");
    // The time of the reading stays beside the table it goes with.
    EXPECT_TRUE(counters.MarkText().startsWith("Counters read at "))
        << counters.MarkText().toStdString();

    // Clearing is confirmed first; cancelled, nothing is sent.
    rig.prompts.answers.push_back(MessageAnswer::Cancel);
    counters.ClearButton().click();
    EXPECT_TRUE(rig.prompts.Texts().back().rfind("Set every counter of 4 controllers", 0) == 0);
    EXPECT_TRUE(counters.ReadButton().isEnabled());
    rig.prompts.answers.push_back(MessageAnswer::Ok);
    counters.ClearButton().click();
    rig.time.RunFor(10s);
    EXPECT_EQ(table.item(0, 1)->text(), "4");  // the four frames since all were cleared
    EXPECT_TRUE(counters.StatusText().startsWith("Counters cleared and read: "));
}

}  // namespace
}  // namespace tarvel
