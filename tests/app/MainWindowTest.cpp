// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QTemporaryDir>

#include <fstream>

#include "app/TarvelDlg.h"
#include "line/ListDlg.h"
#include "serial/SetPortDlg.h"
#include "support/ProgramRig.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;
using testing::ProgramRig;

QComboBox* ComboShowing(TarvelDlg& main, int count) {
    for (QComboBox* combo : main.findChildren<QComboBox*>()) {
        if (combo->count() == count) {
            return combo;
        }
    }
    return nullptr;
}

TEST(ControllerList, OpensBesideTheMainWindowAndKeepsItsLinesWhenHidden) {
    ProgramRig rig;
    TarvelDlg& main = rig.program.Tarvel();
    ListDlg& list = rig.program.List();
    list.AddLine("Controller  1  Address: A");
    EXPECT_FALSE(list.isVisible());  // adding a line does not show the window

    main.ViewBtn_Click();
    EXPECT_TRUE(list.isVisible());
    EXPECT_FALSE(list.isModal());
    EXPECT_EQ(list.windowTitle(), "Controller List");
    list.ExitMenu_Click();
    EXPECT_FALSE(list.isVisible());
    main.ViewBtn_Click();
    list.close();  // the frame's close control hides it like "E&xit !"
    EXPECT_FALSE(list.isVisible());
    main.ViewBtn_Click();
    ASSERT_EQ(list.List().Count(), 1);
    EXPECT_EQ(list.List().Item(0), "Controller  1  Address: A");
}

TEST(InfoBox, AClickOnThePictureShowsTheProductsIdentity) {
    ProgramRig rig;
    rig.program.Tarvel().Picture1_Click();
    ASSERT_EQ(rig.prompts.messages.size(), 1u);
    const MessageRequest& box = rig.prompts.messages[0];
    EXPECT_EQ(box.title, "Info Box");
    EXPECT_EQ(box.icon, MessageIcon::Information);
    EXPECT_EQ(box.buttons, MessageButtons::Ok);
    std::vector<std::string> lines;
    std::string::size_type start = 0;
    for (auto end = box.text.find('\n'); end != std::string::npos;
         start = end + 1, end = box.text.find('\n', start)) {
        lines.push_back(box.text.substr(start, end - start));
    }
    EXPECT_EQ(start, box.text.size()) << "every line ends with a line feed";
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "The Line Tarvel !");
    EXPECT_EQ(lines[1], "Version : 3.beta");
    for (std::size_t i = 2; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].substr(8, 2), ": ") << lines[i];
        EXPECT_GT(lines[i].size(), 10u);
    }
}

TEST(DeviceLists, TheOperatorsChoiceRunsTheCheckAndTheRestoringSelectionDoesNot) {
    ProgramRig rig;
    TarvelDlg& main = rig.program.Tarvel();
    QComboBox* count = ComboShowing(main, 64);
    ASSERT_NE(count, nullptr);
    count->setCurrentIndex(1);
    emit count->activated(1);
    EXPECT_EQ(rig.program.primo.DeviceCount, 2);
    main.DeviceTable().SelectController(0);

    QComboBox* address = nullptr;
    for (QComboBox* combo : main.findChildren<QComboBox*>()) {
        if (combo != count && combo->count() == 64) {
            address = combo;
        }
    }
    ASSERT_NE(address, nullptr);
    address->setCurrentIndex(1);
    emit address->activated(1);
    EXPECT_EQ(rig.prompts.Texts(), std::vector<std::string>{"The address has been already used !"});
    EXPECT_EQ(address->currentIndex(), 0);
    EXPECT_EQ(main.ControllerAddress()[0], 0);
}

// The lists answer the operator's choice (`activated`, which comes also when the entry shown is
// chosen again), not every change of the entry shown (`currentIndexChanged`, which comes also
// when the program shows an entry, and not when the same one is chosen again).
TEST(DeviceLists, TheHandlersRunForTheOperatorsChoiceEvenOfTheSameEntryAndNotForTheProgramsOwn) {
    ProgramRig rig;
    TarvelDlg& main = rig.program.Tarvel();
    QComboBox* count = ComboShowing(main, 64);
    ASSERT_NE(count, nullptr);
    count->setCurrentIndex(2);
    emit count->activated(2);
    ASSERT_EQ(rig.program.primo.DeviceCount, 3);
    auto& ui = main.Ui();
    main.DeviceTable().SelectController(0);
    ASSERT_EQ(ui.ControllerCmb.Index(), 0);

    // The same count chosen again: its handler runs and shows the last controller once more.
    emit count->activated(2);
    EXPECT_EQ(ui.ControllerCmb.Index(), 2);

    // The program showing another entry is no choice: no handler runs, so the address already
    // used by controller 1 raises no message and changes nothing.
    QComboBox* address = nullptr;
    for (QComboBox* combo : main.findChildren<QComboBox*>()) {
        if (combo != count && combo->count() == 64) {
            address = combo;
        }
    }
    ASSERT_NE(address, nullptr);
    address->setCurrentIndex(0);
    count->setCurrentIndex(0);
    EXPECT_TRUE(rig.prompts.messages.empty());
    EXPECT_EQ(rig.program.primo.DeviceCount, 3);
    EXPECT_EQ(main.ControllerAddress()[2], 2);
}

TEST(DeviceLists, LoadingAConfigurationFromTheFileMenuUpdatesTheLists) {
    ProgramRig rig;
    TarvelDlg& main = rig.program.Tarvel();
    QTemporaryDir folder;
    const std::string path = folder.filePath("line.cfg").toStdString();
    std::ofstream(path, std::ios::binary) << " 3 \r\n 0 \r\n 2 \r\n 63 \r\n";
    rig.prompts.files = {path};
    main.LoadMenu_Click();
    auto& ui = main.Ui();
    EXPECT_EQ(ui.MaxNumCmb.Item(ui.MaxNumCmb.Index()), "3");
    EXPECT_EQ(ui.ControllerCmb.Item(ui.ControllerCmb.Index()), "3");
    EXPECT_EQ(ui.AddressCmb.Item(ui.AddressCmb.Index()), "63");
    main.ResetMenu_Click();
    EXPECT_EQ(ui.MaxNumCmb.Item(ui.MaxNumCmb.Index()), "1");
    EXPECT_EQ(ui.ProgressBar.Value(), 0);
}

TEST(MainWindowRun, NothingOfTheRunSetCanBePressedWhileTheRunSettlesBeforeItsFirstRequest) {
    ProgramRig rig;
    rig.program.SetPort().OkBtn_Click();
    TarvelDlg& main = rig.program.Tarvel();
    main.show();
    main.StartBtn_Click();
    rig.time.RunFor(50ms);  // inside the first settle
    int dialogs = 0;
    testing::ModalScript script({[&](QWidget& dialog) {
        ++dialogs;
        static_cast<QDialog&>(dialog).reject();
    }});
    for (QPushButton* button : main.findChildren<QPushButton*>()) {
        const QString caption = button->text();
        if (caption == "Comm" || caption == "Terminal" || caption == "Start" || caption == "Stop") {
            EXPECT_FALSE(button->isEnabled()) << caption.toStdString();
            button->click();
        }
    }
    for (QComboBox* list : main.findChildren<QComboBox*>()) {
        EXPECT_FALSE(list->isEnabled());
    }
    for (QAction* action : main.menuBar()->actions()) {
        if (action->text() == "&Search!") {
            EXPECT_FALSE(action->isEnabled());
            action->trigger();
        }
    }
    rig.time.RunFor(300ms);
    EXPECT_TRUE(main.Ui().StopBtn.Enabled());
    main.StopBtn_Click();
    ASSERT_TRUE(rig.time.RunUntil([&] { return !main.Run().Active(); }));
    for (int i = 0; i < 20; ++i) {
        rig.time.RunFor(10ms);
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(dialogs, 0);
}

}  // namespace
}  // namespace tarvel
