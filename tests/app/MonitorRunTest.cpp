// SPDX-License-Identifier: GPL-3.0-or-later
// The Line Monitor's own test and scan in the whole program, on virtual time: shown for the
// protocols the main window does not run, and what they find shown as any run is.

#include <gtest/gtest.h>

#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QPushButton>

#include "app/TarvelDlg.h"
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

}  // namespace
}  // namespace tarvel
