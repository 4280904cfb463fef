// SPDX-License-Identifier: GPL-3.0-or-later
// The analyzer window and the list files of both list windows, with real widgets.

#include "analysis/AnalizerDlg.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QFontMetrics>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>

#include "analysis/ClipDlg.h"
#include "app/TarvelDlg.h"
#include "core/Analysis.h"
#include "serial/SetPortDlg.h"
#include "sim/SimulatedSerialLine.h"
#include "support/LineListClicks.h"
#include "support/ProgramRig.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;
using testing::ProgramRig;

const std::vector<std::string> kRecords = {"A  08:00:00  No answer !   0",
                                           "B  08:00:01  CR not received !   0",
                                           "A  08:00:02  No answer !   1"};

QStringList Menu(QMenuBar& bar) {
    QStringList texts;
    for (QAction* action : bar.actions()) {
        texts << action->text();
        if (action->menu() != nullptr) {
            for (QAction* item : action->menu()->actions()) {
                texts << "  " + item->text() + (item->isEnabled() ? "" : " (greyed)");
            }
        }
    }
    return texts;
}

using testing::Select;

TEST(AnalizerDlg, HasItsCaptionMenusInOrderAndABoldBlackList) {
    ProgramRig rig;
    AnalizerDlg& analyzer = rig.program.Analizer();
    EXPECT_EQ(analyzer.windowTitle(), "The tarvel's opinions");
    QMenuBar* bar = analyzer.findChild<QMenuBar*>();
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(Menu(*bar), (QStringList{"&File", "  Save Analisys", "  Load Analisys",
                                       "  Load Error List", "  Del Select Item", "  Delete All",
                                       "&Analisys", "  Start Analisys", "E&xit !"}));
    const QListView& view = analyzer.ListView().View();
    EXPECT_EQ(view.font().family(), "Arial");
    EXPECT_TRUE(view.font().bold());
    EXPECT_DOUBLE_EQ(view.font().pointSizeF(), 9.75);
    EXPECT_EQ(view.palette().color(QPalette::Text), QColor(Qt::black));
    EXPECT_EQ(view.palette().color(QPalette::Base), QColor(Qt::white));

    ClipDlg& clip = rig.program.Clip();
    QMenuBar* clipBar = clip.findChild<QMenuBar*>();
    ASSERT_NE(clipBar, nullptr);
    EXPECT_EQ(Menu(*clipBar),
              (QStringList{"&File", "  Save Error List", "  Load Error List", "&ListError",
                           "  Delete Selected", "  Delete All", "&Analisys !", "E&xit !"}));
}

TEST(AnalizerDlg, AnalizeCopiesTheListDisablesItselfAndExitOrTheFrameGiveItBack) {
    ProgramRig rig;
    TarvelDlg& main = rig.program.Tarvel();
    ClipDlg& clip = rig.program.Clip();
    clip.List().ReplaceAll(kRecords);
    main.AnalizerBtn_Click();
    AnalizerDlg& analyzer = rig.program.Analizer();
    EXPECT_TRUE(analyzer.isVisible());
    EXPECT_FALSE(analyzer.isModal());
    EXPECT_FALSE(main.Ui().AnalizerBtn.Enabled());
    EXPECT_EQ(analyzer.List().Items(), kRecords);
    analyzer.ExitMenu_Click();
    EXPECT_FALSE(analyzer.isVisible());
    EXPECT_TRUE(main.Ui().AnalizerBtn.Enabled());

    clip.AnalisysMenu_Click();  // the clipboard's "&Analisys !" does the same
    EXPECT_FALSE(main.Ui().AnalizerBtn.Enabled());
    analyzer.close();
    EXPECT_FALSE(analyzer.isVisible());
    EXPECT_TRUE(main.Ui().AnalizerBtn.Enabled());
    EXPECT_EQ(analyzer.List().Items(), kRecords);  // hidden, not emptied
}

TEST(AnalizerDlg, StartAnalisysReplacesTheRecordsWithTheReport) {
    ProgramRig rig;
    AnalizerDlg& analyzer = rig.program.Analizer();
    analyzer.List().ReplaceAll(kRecords);
    analyzer.StartMenu_Click();
    EXPECT_EQ(analyzer.List().Items(), Analyse(kRecords).lines);
    EXPECT_TRUE(rig.prompts.messages.empty());
}

TEST(AnalizerDlg, TheLongestControllerLineFitsTheList) {
    ProgramRig rig;
    AnalizerDlg& analyzer = rig.program.Analizer();
    const QListView& view = analyzer.ListView().View();
    const QString longest =
        " Instrument # W -  1000000 Errors ( 100%) - C( 100%) - W( 100%) - N( 100%)";
    // The list's inside: its width less its frame and a few pixels of margin each side.
    EXPECT_LT(QFontMetrics(view.font()).horizontalAdvance(longest),
              view.width() - 2 * view.frameWidth() - 8);
}

TEST(AnalizerDlg, DelSelectItemRemovesTheLineSelectedInTheAnalyzerItself) {
    ProgramRig rig;
    AnalizerDlg& analyzer = rig.program.Analizer();
    ClipDlg& clip = rig.program.Clip();
    clip.List().ReplaceAll(kRecords);
    analyzer.List().ReplaceAll(kRecords);
    Select(clip.ListView(), 0);  // a selection over there must not count here
    analyzer.DelErrSelMenu_Click();
    EXPECT_EQ(analyzer.List().Count(), 3);
    Select(analyzer.ListView(), 1);
    analyzer.DelErrSelMenu_Click();
    EXPECT_EQ(analyzer.List().Items(), (std::vector<std::string>{kRecords[0], kRecords[2]}));
    EXPECT_EQ(clip.List().Count(), 3);
    Select(analyzer.ListView(), 0);
    analyzer.DelErrSelMenu_Click();
    Select(analyzer.ListView(), 0);
    analyzer.DelErrSelMenu_Click();
    EXPECT_EQ(analyzer.List().Count(), 0);
    EXPECT_FALSE(analyzer.List().Visible());

    analyzer.List().ReplaceAll(kRecords);
    analyzer.List().SetVisible(true);
    analyzer.DelErrMenu_Click();
    EXPECT_EQ(analyzer.List().Count(), 0);
    EXPECT_FALSE(analyzer.List().Visible());
}

TEST(AnalizerDlg, AnErrorListSavedFromTheClipboardAndLoadedHereGivesTheReportOfAnalize) {
    ProgramRig rig;
    BusPeer peer(rig.line, SimulatedBus({{"A", 5ms},
                                         {"B", 5ms, ControllerFault::Silent},
                                         {"C", 5ms, ControllerFault::GarbledLastChar}},
                                        0.0, 1));
    rig.program.SetPort().OkBtn_Click();
    TarvelDlg& main = rig.program.Tarvel();
    main.DeviceTable().SelectCount(2);
    main.StartBtn_Click();
    ASSERT_TRUE(
        rig.time.RunUntil([&] { return main.Run().Active() && main.Cycle().Errors() >= 12; }));
    main.StopBtn_Click();
    ASSERT_TRUE(rig.time.RunUntil([&] { return !main.Run().Active(); }));

    // "Analize", then "Start Analisys": the report of the run.
    main.AnalizerBtn_Click();
    AnalizerDlg& analyzer = rig.program.Analizer();
    analyzer.StartMenu_Click();
    const std::vector<std::string> report = analyzer.List().Items();
    ASSERT_GE(report.size(), 5u);
    EXPECT_EQ(report.back(), "C Ther is noise on line !");

    // The error list saved, loaded into the analyzer, analysed: the same report.
    QTemporaryDir folder;
    const std::string path = folder.filePath("run.lst").toStdString();
    rig.prompts.files = {path, path};
    auto filesDone = [&] {
        return rig.program.Clip().FileTasks().Running() == 0 && analyzer.FileTasks().Running() == 0;
    };
    rig.program.Clip().SaveMEnu_Click();
    ASSERT_TRUE(rig.time.RunUntil(filesDone));
    analyzer.DelErrMenu_Click();
    analyzer.LoadErrMenu_Click();
    ASSERT_TRUE(rig.time.RunUntil(filesDone));
    EXPECT_TRUE(analyzer.List().Visible());
    EXPECT_EQ(analyzer.List().Items(), rig.program.Clip().List().Items());
    analyzer.StartMenu_Click();
    EXPECT_EQ(analyzer.List().Items(), report);
    EXPECT_TRUE(rig.prompts.messages.empty());
    ASSERT_EQ(rig.prompts.fileRequests.size(), 2u);
    EXPECT_EQ(rig.prompts.fileRequests[0].title, "Save Error List");
    EXPECT_EQ(rig.prompts.fileRequests[1].title, "Load Error List");
}

}  // namespace
}  // namespace tarvel
