// SPDX-License-Identifier: GPL-3.0-or-later
// The terminal window with real widgets on a simulated line.

#include "serial/TerminalDlg.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>

#include "serial/SetPortDlg.h"
#include "serial/Terminal.h"
#include "sim/SimulatedSerialLine.h"
#include "support/ProgramRig.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;
using testing::ProgramRig;

int Px(int twips) { return (twips + 7) / 15; }

struct TerminalWindow : ::testing::Test {
    ProgramRig rig;
    BusPeer peer{rig.line, SimulatedBus({{"A", 5ms}}, 0.0, 1)};
    TerminalDlg* terminal = nullptr;
    QLineEdit* head = nullptr;
    QLineEdit* value = nullptr;
    QPushButton* send = nullptr;
    QLabel* answer = nullptr;

    void SetUp() override {
        rig.program.SetPort().OkBtn_Click();
        terminal = &rig.program.Terminal();
        for (QLineEdit* input : terminal->findChildren<QLineEdit*>()) {
            (input->y() < Px(500) ? head : value) = input;
        }
        send = terminal->findChild<QPushButton*>();
        for (QLabel* label : terminal->findChildren<QLabel*>()) {
            if (label->frameShape() != QFrame::NoFrame) {
                answer = label;
            }
        }
        ASSERT_TRUE(head && value && send && answer);
    }
    void SendAndWait() {
        terminal->SendBtn_Click();
        ASSERT_TRUE(rig.time.RunUntil([&] { return terminal->Exchanges().Running() == 0; }));
    }
};

TEST_F(TerminalWindow, HasItsCaptionMenusAndControlsWhereTheTableSays) {
    EXPECT_EQ(terminal->windowTitle(), "KeyBoard");
    QStringList menus;
    for (QAction* action : terminal->findChild<QMenuBar*>()->actions()) {
        menus << action->text();
    }
    EXPECT_EQ(menus, (QStringList{"&Info", "&Exit !"}));
    EXPECT_EQ(head->geometry(), QRect(Px(960), Px(240), Px(1215), Px(330)));
    EXPECT_EQ(value->geometry(), QRect(Px(960), Px(600), Px(1215), Px(330)));
    EXPECT_EQ(send->geometry(), QRect(Px(2460), Px(240), Px(555), Px(735)));
    EXPECT_EQ(send->text(), "Send");
    EXPECT_EQ(answer->geometry(), QRect(Px(960), Px(1320), Px(2052), Px(372)));
    EXPECT_EQ(answer->textFormat(), Qt::PlainText);
    EXPECT_TRUE(head->text().isEmpty() && value->text().isEmpty() && answer->text().isEmpty());
}

TEST_F(TerminalWindow, SendIsOffWhileItsExchangeRunsAndTheAnswerIsShown) {
    head->setText("A?X  ");
    terminal->SendBtn_Click();
    EXPECT_FALSE(send->isEnabled());
    terminal->SendBtn_Click();  // a second click meanwhile sends nothing more
    ASSERT_TRUE(rig.time.RunUntil([&] { return terminal->Exchanges().Running() == 0; }));
    EXPECT_TRUE(send->isEnabled());
    EXPECT_EQ(answer->text().size(), 4);
    EXPECT_EQ(answer->text()[0], 'A');
    EXPECT_EQ(rig.line.TransmittedText(), "A?X  \r");
}

TEST_F(TerminalWindow, ACharacterWithoutAnEightBitCodeIsRefusedAndNothingIsSent) {
    head->setText(QString::fromUtf8("A?X \u20ac"));
    const std::string before = rig.line.TransmittedText();
    terminal->SendBtn_Click();
    rig.time.RunFor(1s);
    EXPECT_EQ(rig.line.TransmittedText(), before);
    ASSERT_EQ(rig.prompts.messages.size(), 1u);
    EXPECT_NE(rig.prompts.messages[0].text.find("U+20AC"), std::string::npos);
    EXPECT_TRUE(send->isEnabled());

    head->setText(QString::fromUtf8("A\u00e0X"));  // Latin-1 goes out as its one byte
    SendAndWait();
    EXPECT_EQ(rig.line.TransmittedText().substr(before.size(), 4), "A\xe0X\r");
}

TEST_F(TerminalWindow, ExitAndTheFrameHideItAndInputsAndAnswerStay) {
    head->setText("A?X  ");
    value->setText("A 0001");
    SendAndWait();
    const QString shown = answer->text();
    terminal->show();
    terminal->ExitMenu_Click();
    EXPECT_FALSE(terminal->isVisible());
    terminal->show();
    terminal->reject();  // Escape or the frame's close control
    EXPECT_FALSE(terminal->isVisible());
    EXPECT_EQ(head->text(), "A?X  ");
    EXPECT_EQ(value->text(), "A 0001");
    EXPECT_EQ(answer->text(), shown);
}

TEST_F(TerminalWindow, InfoShowsTheEighteenLines) {
    terminal->InfoMenu_Click();
    ASSERT_EQ(rig.prompts.messages.size(), 1u);
    EXPECT_EQ(rig.prompts.messages[0].text, TerminalInfoText());
    EXPECT_EQ(rig.prompts.messages[0].title, "Info Box");
    EXPECT_EQ(rig.prompts.messages[0].icon, MessageIcon::Information);
    EXPECT_EQ(rig.prompts.messages[0].buttons, MessageButtons::Ok);
}

}  // namespace
}  // namespace tarvel
