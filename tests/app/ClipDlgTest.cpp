// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/ClipDlg.h"

#include <gtest/gtest.h>
#include <QListView>

#include "analysis/AnalizerDlg.h"
#include "app/TarvelDlg.h"
#include "serial/SetPortDlg.h"
#include "sim/SimulatedSerialLine.h"
#include "support/LineListClicks.h"
#include "support/ProgramRig.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;
using testing::ProgramRig;

using testing::Select;

TEST(ClipDlg, ReportOpensItModelesslyAndItsExitOrFrameCloseGiveReportBack) {
    ProgramRig rig;
    TarvelDlg& main = rig.program.Tarvel();
    main.ReportBtn_Click();
    ClipDlg& clip = rig.program.Clip();
    EXPECT_EQ(clip.windowTitle(), "ClipBoard");
    EXPECT_TRUE(clip.isVisible());
    EXPECT_FALSE(clip.isModal());
    EXPECT_FALSE(main.Ui().ReportBtn.Enabled());
    clip.CancelMenu_Click();
    EXPECT_FALSE(clip.isVisible());
    EXPECT_TRUE(main.Ui().ReportBtn.Enabled());
    main.ReportBtn_Click();
    clip.close();
    EXPECT_FALSE(clip.isVisible());
    EXPECT_TRUE(main.Ui().ReportBtn.Enabled());
}

TEST(ClipDlg, DeletingFollowsTheSelectionAndAnEmptiedListIsHidden) {
    ProgramRig rig;
    ClipDlg& clip = rig.program.Clip();
    clip.show();
    ListBox& list = clip.List();
    for (const char* record : {"A  08:00:00  No answer !   0", "B  08:00:01  No answer !   0"}) {
        list.AddItem(record);
    }
    list.SetVisible(true);
    clip.DelSelMenu_Click();  // nothing selected: nothing removed
    EXPECT_EQ(list.Count(), 2);
    Select(clip.ListView(), 1);
    clip.DelSelMenu_Click();
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.Item(0)[0], 'A');
    EXPECT_TRUE(list.Visible());
    Select(clip.ListView(), 0);
    clip.DelSelMenu_Click();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_FALSE(list.Visible());
    list.AddItem("C  08:00:02  No answer !   0");
    list.SetVisible(true);
    clip.DelAllMenu_Click();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_FALSE(list.Visible());
}

TEST(ClipDlg, AnalysisOfAnEmptyListOpensTheAnalyzerWithItsListHidden) {
    ProgramRig rig;
    TarvelDlg& main = rig.program.Tarvel();
    ClipDlg& clip = rig.program.Clip();
    clip.AnalisysMenu_Click();
    AnalizerDlg& analyzer = rig.program.Analizer();
    EXPECT_TRUE(analyzer.isVisible());
    EXPECT_FALSE(analyzer.List().Visible());
    EXPECT_FALSE(main.Ui().AnalizerBtn.Enabled());
    analyzer.ExitMenu_Click();
    EXPECT_TRUE(main.Ui().AnalizerBtn.Enabled());

    clip.List().AddItem("A  08:00:00  No answer !   0");
    main.AnalizerBtn_Click();
    ASSERT_EQ(analyzer.List().Count(), 1);
    EXPECT_TRUE(analyzer.List().Visible());
    EXPECT_TRUE(clip.List().Count() == 1);
}

TEST(MainWindowRun, FailuresOfARunLandInTheHiddenClipboardAndReportShowsThem) {
    ProgramRig rig;
    BusPeer peer(rig.line, SimulatedBus({{"A", 5ms}, {"B", 5ms, ControllerFault::Silent}}, 0.0, 1));
    rig.program.SetPort().OkBtn_Click();
    TarvelDlg& main = rig.program.Tarvel();
    main.DeviceTable().SelectCount(1);
    main.StartBtn_Click();
    ASSERT_TRUE(rig.time.RunUntil([&] { return main.Ui().ErrorLbl.Text() == "6"; }));
    main.StopBtn_Click();
    ASSERT_TRUE(rig.time.RunUntil([&] { return !main.Run().Active(); }));
    ClipDlg& clip = rig.program.Clip();
    EXPECT_FALSE(clip.isVisible());
    ASSERT_GE(clip.List().Count(), 6);
    EXPECT_EQ(clip.List().Item(0).substr(0, 1), "B");
    EXPECT_TRUE(main.Ui().ResetBtn.Enabled());
    main.ReportBtn_Click();
    EXPECT_TRUE(clip.isVisible());
    EXPECT_TRUE(clip.List().Visible());
    main.ResetBtn_Click();
    EXPECT_EQ(clip.List().Count(), 0);
    EXPECT_FALSE(clip.List().Visible());
    EXPECT_EQ(main.Ui().ErrorLbl.Text(), "0");
}

TEST(MainWindowRun, CommPressedWhileAStoppedRunFinishesOpensTheDialogOnceTheLineIsFree) {
    ProgramRig rig;
    rig.program.SetPort().OkBtn_Click();
    TarvelDlg& main = rig.program.Tarvel();
    main.StartBtn_Click();
    rig.time.RunFor(500ms);
    main.StopBtn_Click();
    ASSERT_TRUE(main.Run().Active());
    main.CommBtn_Click();
    EXPECT_FALSE(rig.program.SetPort().isVisible());
    bool shownAfterTheRun = false;
    testing::ModalScript script({[&](QWidget& dialog) {
        shownAfterTheRun = !main.Run().Active();
        static_cast<SetPortDlg&>(dialog).CancelBtn_Click();
    }});
    // The dialog's nested loop serves Qt events only; drive the run's virtual time until the
    // dialog has been answered.
    while (!script.Done()) {
        rig.time.RunFor(10ms);
        QCoreApplication::processEvents();
    }
    EXPECT_TRUE(shownAfterTheRun);
}

}  // namespace
}  // namespace tarvel
