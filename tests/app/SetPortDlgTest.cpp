// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/SetPortDlg.h"

#include <gtest/gtest.h>

#include <QComboBox>

#include "app/TarvelDlg.h"
#include "support/ProgramRig.h"
#include "ui/StatusPanels.h"

namespace tarvel {
namespace {

using testing::ProgramRig;

TEST(SetPortDlg, OkWritesTheSharedSettingsAndTheProtocolPanelBeforeTryingThePort) {
    ProgramRig rig;
    SetPortDlg& dialog = rig.program.SetPort();
    EXPECT_EQ(dialog.windowTitle(), "Configuration Port");
    dialog.SetChoices(PortChoices{2, 4, 2, 0, 3, 3});
    rig.line.SetPortAvailable(3, false, "Permission denied");
    rig.prompts.answers = {MessageAnswer::Cancel};
    dialog.show();
    dialog.OkBtn_Click();

    const Primo& primo = rig.program.primo;
    EXPECT_EQ(primo.PortNumber, 3);
    EXPECT_EQ(primo.BaudText, " 2400");
    EXPECT_EQ(primo.ParityText, "O");
    EXPECT_EQ(primo.DataBitsText, "7");
    EXPECT_EQ(primo.RetryCount, 3);
    EXPECT_EQ(primo.ProtocolIndex, 3);
    EXPECT_EQ(rig.program.Tarvel().StatusBar().ShownText(2), "MB ASCII");
    EXPECT_EQ(primo.PortAccepted, kFalse);
    EXPECT_FALSE(rig.line.PortOpen());
    EXPECT_TRUE(dialog.isVisible());

    ASSERT_EQ(rig.prompts.messages.size(), 1u);
    const MessageRequest& box = rig.prompts.messages[0];
    EXPECT_EQ(box.text, "Not available port !");
    EXPECT_EQ(box.title, "Info Box");
    EXPECT_EQ(box.icon, MessageIcon::Critical);
    EXPECT_EQ(box.buttons, MessageButtons::RetryCancel);
    EXPECT_NE(box.detail.find("Permission denied"), std::string::npos);
}

TEST(SetPortDlg, RetryTriesAgainWithTheSameSettingsUntilThePortOpens) {
    ProgramRig rig;
    SetPortDlg& dialog = rig.program.SetPort();
    rig.line.SetPortAvailable(1, false, "busy");
    rig.prompts.answers = {MessageAnswer::Retry, MessageAnswer::Retry, MessageAnswer::Retry};
    int boxes = 0;
    rig.prompts.whileOpen = [&] {
        if (++boxes == 2) {
            rig.line.SetPortAvailable(1, true);  // the other program let go of the port
        }
    };
    dialog.show();
    dialog.OkBtn_Click();
    EXPECT_EQ(boxes, 2);
    EXPECT_TRUE(rig.line.PortOpen());
    EXPECT_EQ(rig.program.primo.PortAccepted, kTrue);
    EXPECT_FALSE(dialog.isVisible());
}

TEST(SetPortDlg, CancelAndEscapeChangeNoSettingAndLeaveTheLineAsItWas) {
    ProgramRig rig;
    SetPortDlg& dialog = rig.program.SetPort();
    dialog.OkBtn_Click();
    ASSERT_TRUE(rig.line.PortOpen());
    const Primo before = rig.program.primo;
    dialog.show();
    dialog.SetChoices(PortChoices{3, 0, 1, 1, 0, 2});
    dialog.reject();  // Escape, or the frame's close control
    EXPECT_EQ(rig.program.primo.PortAccepted, kFalse);
    EXPECT_EQ(rig.program.primo.BaudText, before.BaudText);
    EXPECT_EQ(rig.program.primo.ProtocolIndex, before.ProtocolIndex);
    EXPECT_TRUE(rig.line.PortOpen());
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.Choices().port, 3);
}

TEST(SetPortDlg, AFailedReopenFollowedByCancelLeavesTheLineClosed) {
    ProgramRig rig;
    SetPortDlg& dialog = rig.program.SetPort();
    dialog.OkBtn_Click();
    rig.line.SetPortAvailable(2, false, "no such device");
    dialog.SetChoices(PortChoices{1, 5, 0, 0, 2, 0});
    dialog.OkBtn_Click();  // the box is answered with Cancel
    EXPECT_FALSE(rig.line.PortOpen());
    EXPECT_EQ(rig.program.primo.PortAccepted, kTrue);  // keeps its previous value
}

TEST(SetPortDlg, EachShowingNamesTheDeviceBehindEachPortEntryInItsTooltip) {
    ProgramRig rig;
    rig.hostPorts.ports = {{"/dev/ttyUSB0", "FT232R USB UART", "A10K3XYZ", "usb-FTDI-if00", true}};
    SetPortDlg& dialog = rig.program.SetPort();
    dialog.show();
    QComboBox* ports = nullptr;
    for (QComboBox* list : dialog.findChildren<QComboBox*>()) {
        if (list->itemText(0) == "COM1") {
            ports = list;
        }
    }
    ASSERT_NE(ports, nullptr);
    EXPECT_EQ(ports->itemData(0, Qt::ToolTipRole).toString(),
              "COM1: /dev/ttyUSB0, FT232R USB UART, serial A10K3XYZ");
    EXPECT_EQ(ports->itemData(1, Qt::ToolTipRole).toString(), "COM2: no serial port");
    dialog.hide();

    // Plugged in while the program runs: there at the next showing, the entries unchanged.
    rig.hostPorts.ports.push_back({"/dev/ttyS0", "", "", "", false});
    dialog.show();
    EXPECT_EQ(ports->itemData(1, Qt::ToolTipRole).toString(), "COM2: /dev/ttyS0");
    EXPECT_EQ(ports->count(), 4);
    EXPECT_EQ(ports->itemText(1), "COM2");
    dialog.hide();
}

}  // namespace
}  // namespace tarvel
