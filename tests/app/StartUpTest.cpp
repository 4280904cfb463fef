// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "app/IntroDlg.h"
#include "app/TarvelDlg.h"
#include "serial/SetPortDlg.h"
#include "support/ProgramRig.h"
#include "ui/StatusPanels.h"

namespace tarvel {
namespace {

using testing::ModalScript;
using testing::ProgramRig;

void Accept(QWidget& dialog) { static_cast<QDialog&>(dialog).accept(); }
void PressOk(QWidget& dialog) { static_cast<SetPortDlg&>(dialog).OkBtn_Click(); }
void PressCancel(QWidget& dialog) { static_cast<SetPortDlg&>(dialog).CancelBtn_Click(); }

TEST(StartUp, CancelInThePortDialogEndsTheProgramBeforeAnyMainWindowExists) {
    ProgramRig rig;
    ModalScript script({Accept, PressCancel});
    EXPECT_FALSE(rig.program.StartUp());
    EXPECT_TRUE(script.Done());
    EXPECT_EQ(rig.program.primo.PortAccepted, kFalse);
    EXPECT_FALSE(rig.program.HasTarvel());
    EXPECT_FALSE(rig.line.PortOpen());
}

TEST(StartUp, OkShowsTheMainWindowInItsStartUpState) {
    ProgramRig rig;
    ModalScript script({Accept, PressOk});
    ASSERT_TRUE(rig.program.StartUp());
    const Primo& primo = rig.program.primo;
    EXPECT_EQ(primo.PortAccepted, kTrue);
    EXPECT_TRUE(rig.line.PortOpen());
    EXPECT_EQ(rig.line.SettingsText(), " 4800,N,8, 1");

    TarvelDlg& main = rig.program.Tarvel();
    EXPECT_TRUE(main.isVisible());
    EXPECT_EQ(main.windowTitle(), "Tarvel at work");
    auto& ui = main.Ui();
    EXPECT_EQ(ui.MaxNumCmb.Item(ui.MaxNumCmb.Index()), "1");
    EXPECT_EQ(ui.MaxNumCmb.Count(), 64);
    EXPECT_EQ(ui.ControllerCmb.Count(), 1);
    EXPECT_EQ(ui.ControllerCmb.Item(ui.ControllerCmb.Index()), "1");
    EXPECT_EQ(ui.AddressCmb.Count(), 64);
    EXPECT_EQ(ui.AddressCmb.Item(ui.AddressCmb.Index()), "0");
    EXPECT_EQ(ui.ErrorLbl.Text(), "0");
    EXPECT_EQ(ui.TxLbl.Text(), "");
    EXPECT_EQ(ui.RxLbl.Text(), "");
    EXPECT_TRUE(ui.StartBtn.Enabled());
    EXPECT_FALSE(ui.StopBtn.Enabled());
    EXPECT_FALSE(ui.ResetBtn.Enabled());
    EXPECT_EQ(main.StatusBar().ShownText(1), "");
    EXPECT_EQ(main.StatusBar().ShownText(2), "Ascon");
    EXPECT_EQ(primo.DeviceCount, 1);
    for (int i = 0; i < 64; ++i) {
        EXPECT_EQ(main.ControllerAddress()[i], i);
    }
}

TEST(StartUp, CommShowsTheLastChoicesAndItsCancelKeepsTheProgramRunning) {
    ProgramRig rig;
    ModalScript start({Accept, [](QWidget& dialog) {
                           auto& port = static_cast<SetPortDlg&>(dialog);
                           port.SetChoices(PortChoices{1, 6, 1, 1, 0, 5});
                           port.OkBtn_Click();
                       }});
    ASSERT_TRUE(rig.program.StartUp());
    EXPECT_EQ(rig.program.Tarvel().StatusBar().ShownText(2), "Pyromat");
    EXPECT_EQ(rig.line.SettingsText(), " 9600,E,7, 2");

    PortChoices shown;
    ModalScript comm({[&](QWidget& dialog) {
        auto& port = static_cast<SetPortDlg&>(dialog);
        shown = port.Choices();
        port.SetChoices(PortChoices{});
        port.CancelBtn_Click();
    }});
    rig.program.Tarvel().CommBtn_Click();
    EXPECT_EQ(shown.port, 1);
    EXPECT_EQ(shown.baud, 6);
    EXPECT_EQ(shown.protocol, 5);
    // Cancel changed no setting, and the dialog keeps what the operator left in it.
    EXPECT_EQ(rig.program.primo.ProtocolIndex, 5);
    EXPECT_EQ(rig.program.SetPort().Choices().baud, PortChoices{}.baud);
    EXPECT_TRUE(rig.line.PortOpen());
    EXPECT_EQ(rig.processEnds, 0);
}

TEST(StartUp, ExitAndTheFrameCloseControlCloseTheLineAndEndTheProcess) {
    ProgramRig rig;
    rig.program.SetPort().OkBtn_Click();
    TarvelDlg& main = rig.program.Tarvel();
    main.show();
    main.close();
    EXPECT_EQ(rig.processEnds, 1);
    EXPECT_FALSE(rig.line.PortOpen());
    // Again with the line already closed: no error.
    main.ExitMenu_Click();
    EXPECT_EQ(rig.processEnds, 2);
}

TEST(StartUp, TheIntroWindowClosedWithItsFrameGoesOnLikeOk) {
    ProgramRig rig;
    ModalScript script({[](QWidget& intro) { intro.close(); }, PressCancel});
    EXPECT_FALSE(rig.program.StartUp());
    EXPECT_TRUE(script.Done());
    EXPECT_FALSE(rig.program.Intro().isVisible());
}

}  // namespace
}  // namespace tarvel
