// SPDX-License-Identifier: GPL-3.0-or-later
// The line monitor's window in the whole program, on virtual time and the simulated line: its
// menu entry and its size on the screen, what it shows during a run and after a scan, Pause,
// the CSV files, "Res", and how often it redraws. Its charts and listening have files of their
// own.

#include "monitor/MonitorDlg.h"

#include <gtest/gtest.h>
#include <QAbstractItemModel>
#include <QApplication>
#include <QBrush>
#include <QHeaderView>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <algorithm>
#include <map>
#include <optional>
#include <set>

#include "app/TarvelDlg.h"
#include "lines/LineSettings.h"
#include "monitor/MonitorCsv.h"
#include "platform/TextFiles.h"
#include "serial/SetPortDlg.h"
#include "sim/SimulatedSerialLine.h"
#include "support/ProgramRig.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;
using testing::ProgramRig;

QString Cell(const QAbstractItemModel& model, int row, int column, int role = Qt::DisplayRole) {
    return model.data(model.index(row, column), role).toString();
}

int ColumnTitled(const std::string& title) {
    const auto& columns = StatisticsColumns();
    return static_cast<int>(std::find(columns.begin(), columns.end(), title) - columns.begin());
}

// The program with the line monitor's window open on a line of three controllers: A answers,
// B never does, C garbles the end of half its answers.
struct MonitorWindow : ::testing::Test {
    ProgramRig rig;
    BusPeer peer{rig.line, SimulatedBus({{"A", 5ms},
                                         {"B", 5ms, ControllerFault::Silent},
                                         {"C", 5ms, ControllerFault::GarbledLastChar, 0.5}},
                                        0.0, 1)};
    TarvelDlg& main = rig.program.Tarvel();
    LineMonitor& monitor = main.Monitor();

    MonitorWindow() {
        rig.program.SetPort().OkBtn_Click();
        main.DeviceTable().SelectCount(2);
    }
    MonitorDlg& Open() {
        for (QAction* action : main.menuBar()->actions()) {
            if (action->text() == "&Monitor") {
                action->trigger();
            }
        }
        return rig.program.Monitor();
    }
    // Runs until the monitor has judged `exchanges` more exchanges.
    void RunExchanges(int exchanges) {
        const std::uint64_t until = monitor.Traffic().Added() + exchanges;
        ASSERT_TRUE(rig.time.RunUntil([&] { return monitor.Traffic().Added() >= until; }));
    }
    void Stop() {
        main.StopBtn_Click();
        ASSERT_TRUE(rig.time.RunUntil([&] { return !main.Run().Active(); }));
        rig.time.RunFor(MonitorDlg::RefreshPeriod);  // a refresh after the run's end
    }
    std::string Read(const std::string& path) {
        std::string bytes;
        EXPECT_EQ(ReadWholeFile(path, bytes), std::nullopt);
        return bytes;
    }
};

TEST_F(MonitorWindow, ALineThatEchoesIsToldInTheSummaryWithTheCollisionsOnTheWire) {
    MonitorDlg& window = Open();
    main.StartBtn_Click();
    RunExchanges(6);
    rig.time.RunFor(MonitorDlg::RefreshPeriod);
    EXPECT_FALSE(window.SummaryText().contains("echo")) << window.SummaryText().toStdString();
    Stop();

    // Another adapter, one that echoes, and noise that now and then changes a character of the
    // request on the wire: a collision, which the echo shows.
    SimulatedBus bus({{"A", 5ms}, {"B", 5ms, ControllerFault::Silent}}, 0.02, 3);
    bus.SetEcho(true);
    BusPeer echoing{rig.line, std::move(bus)};
    main.StartBtn_Click();
    RunExchanges(200);
    Stop();
    const QString summary = window.SummaryText();
    EXPECT_TRUE(summary.contains(QString("Echo: ") + kEchoNotice)) << summary.toStdString();
    const std::optional<EchoReport> echo = monitor.EchoSinceStart();
    ASSERT_TRUE(echo);
    EXPECT_TRUE(echo->echoes);
    EXPECT_GT(echo->differed, 0);
    EXPECT_TRUE(
        summary.contains(QString::asprintf("%ld echoes unlike what was sent", echo->differed)))
        << summary.toStdString();
}

TEST_F(MonitorWindow, ItsMenuEntryComesAfterTheOthersAndOpensOneWindowThatLeavesTheMainFree) {
    const QList<QAction*> menus = main.menuBar()->actions();
    ASSERT_FALSE(menus.isEmpty());
    EXPECT_EQ(menus.back()->text(), "&Monitor");
    MonitorDlg& window = Open();
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isModal());
    EXPECT_EQ(window.windowTitle(), "Line Monitor");
    window.close();
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(&Open(), &window);
    EXPECT_TRUE(window.isVisible());
    int monitors = 0;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        monitors += top->windowTitle() == "Line Monitor";
    }
    EXPECT_EQ(monitors, 1);
    // A run starts and goes on with the window open: it never holds the line.
    EXPECT_TRUE(main.Ui().StartBtn.Enabled());
    main.StartBtn_Click();
    RunExchanges(6);
    EXPECT_TRUE(main.Run().Active());
    Stop();
}

TEST_F(MonitorWindow, DuringARunItShowsEachControllerItsJudgementTheSummaryAndEveryExchange) {
    MonitorDlg& window = Open();
    main.StartBtn_Click();
    RunExchanges(30);
    rig.time.RunFor(MonitorDlg::RefreshPeriod);
    const QAbstractItemModel& table = *window.StatisticsView().model();
    ASSERT_EQ(table.rowCount(), 3);
    ASSERT_EQ(table.columnCount(), static_cast<int>(StatisticsColumns().size()));
    const int judgement = ColumnTitled("Judgement");
    std::map<QString, int> rowOf;
    for (int row = 0; row < table.rowCount(); ++row) {
        rowOf[Cell(table, row, 0)] = row;
    }
    ASSERT_EQ(rowOf.size(), 3u);
    EXPECT_EQ(Cell(table, rowOf["A"], judgement), "healthy");
    EXPECT_EQ(Cell(table, rowOf["B"], judgement), "silent");
    EXPECT_EQ(Cell(table, rowOf["C"], judgement), "garbled");
    // Why, on the judgement itself, and a colour of its own for each.
    EXPECT_TRUE(Cell(table, rowOf["B"], judgement, Qt::ToolTipRole).startsWith("No answer to any"))
        << Cell(table, rowOf["B"], judgement, Qt::ToolTipRole).toStdString();
    std::set<QRgb> colours;
    for (const auto& [address, row] : rowOf) {
        const auto brush = table.data(table.index(row, judgement), Qt::BackgroundRole);
        ASSERT_TRUE(brush.canConvert<QBrush>()) << address.toStdString();
        colours.insert(brush.value<QBrush>().color().rgb());
    }
    EXPECT_EQ(colours.size(), 3u);

    // The line's summary, refreshed with the table; the simulated line has no driver counts.
    const QString summary = window.SummaryText();
    int requests = 0;
    int good = 0;
    for (int row = 0; row < table.rowCount(); ++row) {
        requests += Cell(table, row, ColumnTitled("Requests")).toInt();
        good += Cell(table, row, ColumnTitled("Good")).toInt();
    }
    ASSERT_GT(requests, 0);
    EXPECT_TRUE(summary.contains(QString("Exchanges counted: %1").arg(requests)))
        << summary.toStdString();
    EXPECT_TRUE(summary.contains(QString::asprintf("Success: %.1f %%", 100.0 * good / requests)))
        << summary.toStdString();
    EXPECT_TRUE(summary.contains("not reported by this port")) << summary.toStdString();
    const LineStatistics& statistics = monitor.Statistics();

    // The run went on meanwhile; once it has ended, every exchange is in the traffic view.
    RunExchanges(30);
    Stop();
    const QAbstractItemModel& traffic = *window.TrafficView().model();
    const int exchanges = statistics.Exchanges();
    ASSERT_EQ(traffic.rowCount(), 2 * exchanges);
    EXPECT_EQ(Cell(traffic, 2 * exchanges - 2, 3), "request");
    EXPECT_EQ(Cell(traffic, 2 * exchanges - 1, 3), "answer");
    EXPECT_EQ(Cell(traffic, 2 * exchanges - 1, 0).toInt(), exchanges);
    const TrafficRow last = AnswerRow(monitor.Traffic(), monitor.Traffic().Size() - 1);
    EXPECT_EQ(Cell(traffic, 2 * exchanges - 1, 4), QString::fromStdString(last.address));
    EXPECT_EQ(Cell(traffic, 2 * exchanges - 1, 8).toStdString(), last.verdict);
}

TEST_F(MonitorWindow, ItOpensWithinItsScreenAndAtMostNineTenthsOfIt) {
    MonitorDlg& window = Open();
    ASSERT_NE(window.screen(), nullptr);
    const QRect available = window.screen()->availableGeometry();
    EXPECT_LE(window.width(), available.width() * 0.9);
    EXPECT_LE(window.height(), available.height() * 0.9);
    EXPECT_TRUE(available.contains(window.geometry()))
        << window.geometry().x() << "," << window.geometry().y();
    // What the operator makes of it stays while the program runs.
    const QSize chosen = window.size() - QSize(4, 4);
    window.resize(chosen);
    window.hide();
    Open();
    EXPECT_EQ(window.size(), chosen);
}

// A scan's silent addresses are what is on the line, not failures of it: the summary, the table
// and the charts stay the run's; the scan has its own line, and the file says which is which.
TEST_F(MonitorWindow, AScanHasItsOwnLineAndLeavesTheRunsSummaryTableAndChartsAlone) {
    MonitorDlg& window = Open();
    EXPECT_TRUE(window.SummaryText().contains(QString("Success: ") + QChar(0x2013) + " "))
        << window.SummaryText().toStdString();
    EXPECT_EQ(window.ScanSummaryText(), "Last scan: none yet");

    main.SearchMenu_Click();
    ASSERT_TRUE(rig.time.RunUntil([&] { return monitor.Scanning(); }));
    rig.time.RunFor(2 * MonitorDlg::RefreshPeriod);
    EXPECT_TRUE(window.ScanSummaryText().startsWith("Scan going on: "))
        << window.ScanSummaryText().toStdString();
    ASSERT_TRUE(rig.time.RunUntil([&] { return !main.Scan().Active(); }, 10min));
    rig.time.RunFor(MonitorDlg::RefreshPeriod);
    const QString scanLine = window.ScanSummaryText();
    EXPECT_TRUE(scanLine.startsWith("Last scan: 64 addresses tried, 2 controllers found (A C), "
                                    "response "))
        << scanLine.toStdString();
    EXPECT_TRUE(scanLine.endsWith(" ms")) << scanLine.toStdString();
    EXPECT_TRUE(window.SummaryText().contains(QString("Success: ") + QChar(0x2013) + " "))
        << window.SummaryText().toStdString();
    EXPECT_TRUE(window.SummaryText().contains("Longest run of failures: 0"));
    EXPECT_EQ(window.StatisticsView().model()->rowCount(), 0);
    // The traffic has every probe, with its retries.
    EXPECT_EQ(window.TrafficView().model()->rowCount(), 2 * monitor.ScanStatistics().Exchanges());

    // A run over the two controllers found.
    main.StartBtn_Click();
    RunExchanges(20);
    Stop();
    EXPECT_EQ(window.StatisticsView().model()->rowCount(), 2);
    EXPECT_EQ(window.ScanSummaryText(), scanLine);
    EXPECT_FALSE(window.SummaryText().contains(QChar(0x2013)));

    QTemporaryDir folder;
    const std::string statistics = folder.filePath("statistics.csv").toStdString();
    rig.prompts.files = {statistics};
    window.SaveStatisticsBtn_Click();
    ASSERT_TRUE(rig.time.RunUntil([&] { return window.FileTasks().Running() == 0; }));
    const std::string csv = Read(statistics);
    EXPECT_EQ(csv.rfind("Address,", 0), 0u);
    int runRows = 0;
    int scanRows = 0;
    for (std::size_t end = csv.find("\r\n"); end != std::string::npos;
         end = csv.find("\r\n", end + 2)) {
        runRows += end >= 4 && csv.compare(end - 4, 4, ",run") == 0;
        scanRows += end >= 5 && csv.compare(end - 5, 5, ",scan") == 0;
    }
    EXPECT_EQ(runRows, 2);
    EXPECT_EQ(scanRows, 64);
}

TEST_F(MonitorWindow, NumbersSortAsNumbers) {
    MonitorDlg& window = Open();
    main.StartBtn_Click();
    RunExchanges(60);
    Stop();
    // Success rates of 100.0, 0.0 and about 50: as texts "100.0" would come before "50.0".
    const int success = ColumnTitled("Success %");
    window.StatisticsView().sortByColumn(success, Qt::AscendingOrder);
    const QAbstractItemModel& table = *window.StatisticsView().model();
    ASSERT_EQ(table.rowCount(), 3);
    EXPECT_EQ(Cell(table, 0, 0), "B");
    EXPECT_EQ(Cell(table, 1, 0), "C");
    EXPECT_EQ(Cell(table, 2, 0), "A");
    EXPECT_LT(Cell(table, 1, success).toDouble(), 100.0);
    EXPECT_GT(Cell(table, 1, success).toDouble(), 0.0);
}

TEST_F(MonitorWindow, PauseHoldsTheTrafficViewWhileRecordingGoesOnAndItCatchesUpAfter) {
    MonitorDlg& window = Open();
    main.StartBtn_Click();
    RunExchanges(10);
    rig.time.RunFor(MonitorDlg::RefreshPeriod);
    QTableView& view = window.TrafficView();
    const int rowsBefore = view.model()->rowCount();
    ASSERT_GT(rowsBefore, 0);
    const QString firstBefore = Cell(*view.model(), 0, 0);

    window.PauseButton().click();
    EXPECT_TRUE(window.PauseButton().isChecked());
    RunExchanges(20);
    rig.time.RunFor(MonitorDlg::RefreshPeriod);
    EXPECT_EQ(view.model()->rowCount(), rowsBefore);
    EXPECT_EQ(Cell(*view.model(), rowsBefore - 1, 0).toInt(), rowsBefore / 2);
    EXPECT_GE(monitor.Traffic().Size(), static_cast<std::size_t>(rowsBefore / 2 + 20));
    // The statistics are not paused: the summary counts what the traffic view holds back.
    const QRegularExpressionMatch counted =
        QRegularExpression("Exchanges counted: (\\d+)").match(window.SummaryText());
    ASSERT_TRUE(counted.hasMatch()) << window.SummaryText().toStdString();
    EXPECT_GE(counted.captured(1).toInt(), rowsBefore / 2 + 20);

    window.PauseButton().click();
    EXPECT_EQ(view.model()->rowCount(), static_cast<int>(2 * monitor.Traffic().Size()));
    EXPECT_EQ(Cell(*view.model(), 0, 0), firstBefore);
    Stop();
}

TEST_F(MonitorWindow, TheTrafficViewFollowsTheEndUnlessTheOperatorScrolledAway) {
    MonitorDlg& window = Open();
    QTableView& view = window.TrafficView();
    main.StartBtn_Click();
    // Enough rows to scroll through several pages.
    const int page = view.viewport()->height() / view.verticalHeader()->defaultSectionSize();
    RunExchanges(2 * page);
    rig.time.RunFor(MonitorDlg::RefreshPeriod);
    QApplication::processEvents();
    QScrollBar& bar = *view.verticalScrollBar();
    ASSERT_GT(bar.maximum(), 0);
    EXPECT_EQ(bar.value(), bar.maximum());
    const auto lastRowShown = [&] {
        const int last = view.model()->rowCount() - 1;
        return view.rowAt(view.viewport()->height() - 1) == last ||
               view.visualRect(view.model()->index(last, 0)).bottom() < view.viewport()->height();
    };
    EXPECT_TRUE(lastRowShown());

    bar.setValue(0);  // the operator scrolls up to the first exchanges
    RunExchanges(page);
    rig.time.RunFor(MonitorDlg::RefreshPeriod);
    QApplication::processEvents();
    EXPECT_EQ(bar.value(), 0);
    EXPECT_EQ(view.rowAt(0), 0);

    bar.setValue(bar.maximum());  // and back to the end: following again
    RunExchanges(page);
    rig.time.RunFor(MonitorDlg::RefreshPeriod);
    QApplication::processEvents();
    EXPECT_EQ(bar.value(), bar.maximum());
    EXPECT_TRUE(lastRowShown());
    Stop();
}

TEST_F(MonitorWindow, SavesWriteTheCsvAndAFailedSaveNamesTheFileAndWhy) {
    MonitorDlg& window = Open();
    main.StartBtn_Click();
    RunExchanges(20);
    Stop();
    QTemporaryDir folder;
    const std::string statistics = folder.filePath("statistics.csv").toStdString();
    const std::string traffic = folder.filePath("traffic.csv").toStdString();
    const std::string nowhere = folder.filePath("no such folder/traffic.csv").toStdString();
    rig.prompts.files = {statistics, traffic, nowhere};
    const auto saved = [&] {
        return rig.time.RunUntil([&] { return window.FileTasks().Running() == 0; });
    };

    for (QPushButton* button : window.findChildren<QPushButton*>()) {
        if (button->text() == "Save Statistics...") {
            button->click();
        }
    }
    ASSERT_TRUE(saved());
    EXPECT_EQ(Read(statistics), StatisticsCsv(monitor, rig.time.LocalNow()));
    ASSERT_EQ(rig.prompts.fileRequests.size(), 1u);
    EXPECT_EQ(rig.prompts.fileRequests[0].defaultExtension, "csv");

    window.SaveTrafficBtn_Click();
    ASSERT_TRUE(saved());
    const std::string csv = Read(traffic);
    EXPECT_EQ(csv, TrafficCsv(monitor.Traffic()));
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 1 + 2 * monitor.Statistics().Exchanges());
    EXPECT_TRUE(rig.prompts.messages.empty());

    window.SaveTrafficBtn_Click();
    ASSERT_TRUE(saved());
    ASSERT_EQ(rig.prompts.messages.size(), 1u);
    const std::string& told = rig.prompts.messages[0].text;
    EXPECT_NE(told.find("could not be saved"), std::string::npos) << told;
    EXPECT_NE(told.find(ShownPath(nowhere)), std::string::npos) << told;
    // The host's reason comes after the name.
    EXPECT_GT(told.size(), told.find(ShownPath(nowhere)) + ShownPath(nowhere).size() + 20) << told;
    std::string bytes;
    EXPECT_NE(ReadWholeFile(nowhere, bytes), std::nullopt);
}

TEST_F(MonitorWindow, ResClearsTheTableTheSummaryAndTheTrafficEvenWhilePaused) {
    MonitorDlg& window = Open();
    main.StartBtn_Click();
    RunExchanges(20);
    Stop();
    ASSERT_EQ(window.StatisticsView().model()->rowCount(), 3);
    ASSERT_GT(window.TrafficView().model()->rowCount(), 0);
    window.PauseButton().click();
    main.ResetBtn_Click();
    rig.time.RunFor(MonitorDlg::RefreshPeriod);
    EXPECT_EQ(window.StatisticsView().model()->rowCount(), 0);
    EXPECT_EQ(window.TrafficView().model()->rowCount(), 0);
    EXPECT_TRUE(window.SummaryText().contains("Exchanges counted: 0"))
        << window.SummaryText().toStdString();

    // The next run fills them again from its first exchange.
    window.PauseButton().click();
    main.StartBtn_Click();
    RunExchanges(6);
    Stop();
    EXPECT_EQ(window.StatisticsView().model()->rowCount(), 3);
    EXPECT_EQ(window.TrafficView().model()->rowCount(), 2 * monitor.Statistics().Exchanges());
    EXPECT_EQ(Cell(*window.TrafficView().model(), 0, 0), "1");
}

TEST_F(MonitorWindow, AHiddenWindowDrawsNothingAndAVisibleOneRedrawsItsChartsAtMostOnceASecond) {
    MonitorDlg& window = Open();
    window.hide();
    const int redrawsHidden = window.ChartRedraws();
    main.StartBtn_Click();
    RunExchanges(20);
    EXPECT_EQ(window.ChartRedraws(), redrawsHidden);
    EXPECT_EQ(window.StatisticsView().model()->rowCount(), 0);

    Open();  // shows what it missed at once
    EXPECT_EQ(window.StatisticsView().model()->rowCount(), 3);
    const int redrawsShown = window.ChartRedraws();
    EXPECT_EQ(redrawsShown, redrawsHidden + 1);
    rig.time.RunFor(10s);
    EXPECT_GE(window.ChartRedraws() - redrawsShown, 8);
    EXPECT_LE(window.ChartRedraws() - redrawsShown, 10);
    Stop();
}

// A port whose driver counts line errors: the summary shows those since the run started.
TEST(MonitorSummary, ShowsTheDriversLineErrorsSinceTheRunStarted) {
    ProgramRig rig;
    UartErrorCounts counts{3, 1, 0, 7};
    LineMonitor monitor(
        rig.time, [] { return Duration{0}; }, [&counts] { return counts; });
    MonitorDlg window(monitor, rig.prompts, rig.time);
    window.show();
    EXPECT_TRUE(window.SummaryText().contains("none yet, counted from the start of a run"))
        << window.SummaryText().toStdString();

    monitor.CycleEvents().RunStarted(1);
    counts = {5, 1, 2, 7};  // noise on the line meanwhile
    rig.time.RunFor(MonitorDlg::RefreshPeriod);
    EXPECT_TRUE(window.SummaryText().contains("framing 2, parity 0, overrun 2, break 0"))
        << window.SummaryText().toStdString();
    EXPECT_FALSE(window.SummaryText().contains("not reported"));
}

}  // namespace
}  // namespace tarvel
