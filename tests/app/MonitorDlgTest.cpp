// SPDX-License-Identifier: GPL-3.0-or-later
// The line monitor's window in the whole program, on virtual time and the simulated line: its
// menu entry and its size on the screen, what it shows during a run and after a scan, Pause,
// the CSV files, "Res", the minute still running in the chart, and listening.

#include "monitor/MonitorDlg.h"

#include <gtest/gtest.h>
#include <QAbstractItemModel>
#include <QApplication>
#include <QBrush>
#include <QChart>
#include <QHeaderView>
#include <QLineSeries>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QValueAxis>
#include <algorithm>
#include <map>
#include <optional>
#include <set>

#include "app/TarvelDlg.h"
#include "lines/LineSettings.h"
#include "monitor/MonitorCsv.h"
#include "platform/TextFiles.h"
#include "serial/SetPortDlg.h"
#include "sim/SimulatedMaster.h"
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
    BusPeer peer{rig.line, SimulatedBus({{'A', 5ms},
                                         {'B', 5ms, ControllerFault::Silent},
                                         {'C', 5ms, ControllerFault::GarbledLastChar, 0.5}},
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
    SimulatedBus bus({{'A', 5ms}, {'B', 5ms, ControllerFault::Silent}}, 0.02, 3);
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
    EXPECT_EQ(Cell(traffic, 2 * exchanges - 1, 4), QString(QLatin1Char(last.address)));
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

// Five hours of a line of ten failing controllers, fed straight to the monitor.
TEST(MonitorCharts, ALongRunIsDrawnInWiderStepsWithTheWorstControllersLines) {
    ProgramRig rig;
    LineMonitor monitor(
        rig.time, [] { return Duration{0}; }, [] { return std::nullopt; });
    MonitorDlg window(monitor, rig.prompts, rig.time);
    window.show();
    monitor.CycleEvents().RunStarted(10);
    const Instant start = rig.time.Now();
    for (int minute = 0; minute < 300; ++minute) {
        for (int i = 0; i < 10; ++i) {
            Exchange exchange;
            exchange.request.address = static_cast<char>('A' + i);
            exchange.request.frame = std::string(1, exchange.request.address) + "?X  \r";
            // Controller A fails once a minute, B twice, ... J ten times; all in the minute.
            for (int failure = 0; failure <= i; ++failure) {
                exchange.request.written = start + std::chrono::minutes(minute) + failure * 1s;
                exchange.judged = exchange.request.written + 201ms;
                exchange.verdict = ExchangeVerdict::NoAnswer;
                monitor.CycleEvents().ExchangeJudged(exchange);
            }
        }
    }
    rig.time.RunFor(MonitorDlg::RefreshPeriod);

    QStringList lines;
    const QLineSeries* total = nullptr;
    QStringList partialLines;
    for (QAbstractSeries* series : window.FailuresChart().series()) {
        (series->name().contains("as a rate") ? partialLines : lines) << series->name();
        if (series->name() == "all") {
            total = static_cast<const QLineSeries*>(series);
        }
    }
    lines.sort();
    EXPECT_EQ(lines, (QStringList{"C", "D", "E", "F", "G", "H", "I", "J", "all"}));
    // The minute in progress, of the total and of each line.
    EXPECT_EQ(partialLines.size(), 9);
    EXPECT_TRUE(partialLines.contains("this minute so far, as a rate"));
    EXPECT_TRUE(partialLines.contains("J, this minute as a rate"));
    ASSERT_NE(total, nullptr);
    // The 299 minutes that are over in steps of two, the last alone: 150 steps of two points,
    // each at 55 failures a minute.
    ASSERT_EQ(total->count(), 300);
    EXPECT_EQ(total->at(0), QPointF(0, 55));
    EXPECT_EQ(total->at(297), QPointF(298, 55));
    EXPECT_EQ(total->at(298), QPointF(298, 55));
    EXPECT_EQ(total->at(299), QPointF(299, 55));
    const auto* counts =
        static_cast<const QValueAxis*>(window.FailuresChart().axes(Qt::Vertical).value(0));
    ASSERT_NE(counts, nullptr);
    EXPECT_TRUE(counts->titleText().contains("mean of 2")) << counts->titleText().toStdString();
    EXPECT_GE(counts->max(), 55);
}

// The minute still running is drawn as a rate, apart, and not as a whole minute with fewer
// failures than the others.
TEST(MonitorCharts, TheMinuteStillRunningIsARateDrawnApart) {
    ProgramRig rig;
    LineMonitor monitor(
        rig.time, [] { return Duration{0}; }, [] { return std::nullopt; });
    MonitorDlg window(monitor, rig.prompts, rig.time);
    window.show();
    monitor.CycleEvents().RunStarted(1);
    const Instant start = rig.time.Now();
    // Six failures a minute for two minutes, then two in the first 20 s of the third.
    const auto fail = [&](Duration at) {
        Exchange exchange;
        exchange.request.address = 'A';
        exchange.request.frame = "A?X  \r";
        exchange.request.written = start + at;
        exchange.judged = exchange.request.written + 201ms;
        exchange.verdict = ExchangeVerdict::NoAnswer;
        monitor.CycleEvents().ExchangeJudged(exchange);
    };
    for (int i = 0; i < 12; ++i) {
        fail(i * 10s);
    }
    fail(2min + 5s);
    fail(2min + 20s - 201ms);
    rig.time.RunFor(MonitorDlg::RefreshPeriod);

    const QLineSeries* total = nullptr;
    const QLineSeries* partial = nullptr;
    const QLineSeries* partialOfA = nullptr;
    for (QAbstractSeries* series : window.FailuresChart().series()) {
        const auto* line = static_cast<const QLineSeries*>(series);
        if (series->name() == "all") {
            total = line;
        } else if (series->name() == "A, this minute as a rate") {
            partialOfA = line;
        } else if (series->name().contains("as a rate")) {
            partial = line;
        }
    }
    ASSERT_NE(total, nullptr);
    ASSERT_NE(partial, nullptr);
    ASSERT_NE(partialOfA, nullptr);
    EXPECT_EQ(total->points(), (QList<QPointF>{{0, 6}, {1, 6}, {1, 6}, {2, 6}}));
    // Two failures in 20 s: six a minute, not two.
    EXPECT_EQ(partial->points(), (QList<QPointF>{{2, 6}, {3, 6}}));
    EXPECT_EQ(partialOfA->points(), partial->points());
    EXPECT_EQ(partialOfA->pen().style(), Qt::DashLine);
    EXPECT_EQ(partial->name(), "this minute so far, as a rate");
    EXPECT_EQ(partial->pen().style(), Qt::DashLine);

    monitor.CycleEvents().RunEnded({});
    rig.time.RunFor(MonitorDlg::RefreshPeriod);
    EXPECT_EQ(partial->name(), "last minute, cut short, as a rate");
}

// Listening from the Line Monitor, on a simulated line that no controller answers by itself: the
// plant's master is played by characters delivered on virtual time.
struct ListeningWindow : ::testing::Test {
    ProgramRig rig;
    TarvelDlg& main = rig.program.Tarvel();
    LineMonitor& monitor = main.Monitor();
    MonitorDlg* window = nullptr;

    ListeningWindow() {
        rig.program.SetPort().OkBtn_Click();
        rig.line.ClearTransmitted();
        MonitorDlg& shown = rig.program.Monitor();
        shown.show();
        window = &shown;
    }
    ~ListeningWindow() override {
        window->StopListeningBtn_Click();
        rig.time.RunFor(MonitorDlg::RefreshPeriod);
    }
    // Every 250 ms a read of A, answered 20 ms after its carriage return, and halfway a read
    // of B that nothing answers. Returns when the last of them has been judged.
    Instant MasterPolls(int cycles) {
        const Duration character = CharacterTime(rig.line.Settings());
        const Instant first = rig.time.Now() + 10ms;
        for (int cycle = 0; cycle < cycles; ++cycle) {
            const Instant at = first + cycle * 250ms;
            rig.line.DeliverFrom(at, "A?X  \r");
            rig.line.DeliverFrom(at + 6 * character + 20ms, "A215\r");
            rig.line.DeliverFrom(at + 125ms, "B?X  \r");
        }
        return first + cycles * 250ms + 500ms;
    }
    int Refusals() const {
        const auto texts = rig.prompts.Texts();
        return static_cast<int>(std::count(texts.begin(), texts.end(), ListeningRefusal));
    }
};

TEST_F(ListeningWindow, ListenCountsWhatTheMasterAndControllersSaidAndStopGivesTheLineBack) {
    ASSERT_TRUE(window->ListenButton().isEnabled());
    ASSERT_FALSE(window->StopListeningButton().isEnabled());
    EXPECT_TRUE(window->ListenSummaryText().isEmpty());
    window->ListenButton().click();
    EXPECT_TRUE(main.Listening().Listening());
    EXPECT_TRUE(rig.program.LineUser().HeldByListening());
    EXPECT_FALSE(window->ListenButton().isEnabled());
    EXPECT_TRUE(window->StopListeningButton().isEnabled());
    EXPECT_TRUE(monitor.Running());
    EXPECT_EQ(monitor.RunActivity(), Activity::Listen);

    constexpr int kCycles = 40;
    rig.time.RunFor(MasterPolls(kCycles) - rig.time.Now());
    rig.time.RunFor(MonitorDlg::RefreshPeriod);
    const LineStatistics& statistics = monitor.Statistics();
    const ControllerStatistics* a = statistics.Find('A');
    const ControllerStatistics* b = statistics.Find('B');
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(a->requests, kCycles);
    EXPECT_EQ(a->good, kCycles);
    EXPECT_EQ(b->requests, kCycles);
    EXPECT_EQ(b->noAnswer, kCycles);
    // The table, the summary and the traffic show what was heard.
    EXPECT_EQ(window->StatisticsView().model()->rowCount(), 2);
    EXPECT_EQ(window->TrafficView().model()->rowCount(), 2 * 2 * kCycles);
    const QString summary = window->SummaryText();
    EXPECT_TRUE(summary.startsWith("Listened line:")) << summary.toStdString();
    EXPECT_TRUE(summary.contains(QString("Exchanges counted: %1").arg(2 * kCycles)))
        << summary.toStdString();
    const QString heard = window->ListenSummaryText();
    EXPECT_TRUE(heard.startsWith("Listening, nothing is sent. Heard: 120 frames, "))
        << heard.toStdString();
    EXPECT_TRUE(heard.contains("0 bytes of noise")) << heard.toStdString();
    EXPECT_TRUE(heard.contains("A mean 250.0, longest 250.0; B mean 250.0, longest 250.0"))
        << heard.toStdString();
    EXPECT_FALSE(heard.contains("Warning")) << heard.toStdString();

    window->StopListeningButton().click();
    EXPECT_FALSE(window->StopListeningButton().isEnabled());
    ASSERT_TRUE(rig.time.RunUntil([&] { return !main.Listening().Listening(); }));
    rig.time.RunFor(MonitorDlg::RefreshPeriod);
    EXPECT_FALSE(rig.program.LineUser().Busy());
    EXPECT_FALSE(rig.program.LineUser().HeldByListening());
    EXPECT_FALSE(monitor.Running());
    EXPECT_TRUE(window->ListenButton().isEnabled());
    EXPECT_FALSE(window->StopListeningButton().isEnabled());
    // What was heard stays on show.
    EXPECT_TRUE(window->ListenSummaryText().startsWith("Listened, nothing was sent. Heard: 120"))
        << window->ListenSummaryText().toStdString();
    EXPECT_TRUE(rig.line.Transmitted().empty()) << rig.line.TransmittedText();
    EXPECT_TRUE(rig.prompts.messages.empty());

    // The line is the run's again.
    main.StartBtn_Click();
    EXPECT_TRUE(rig.time.RunUntil([&] { return !rig.line.Transmitted().empty(); }));
    main.StopBtn_Click();
    ASSERT_TRUE(rig.time.RunUntil([&] { return !main.Run().Active(); }));
    EXPECT_EQ(monitor.RunActivity(), Activity::Run);
    rig.time.RunFor(MonitorDlg::RefreshPeriod);
    EXPECT_TRUE(window->SummaryText().startsWith("Test run:"));
    EXPECT_TRUE(window->ListenSummaryText().isEmpty());
}

// The simulated plant master polls the demo line, reads and writes, at the port's settings.
TEST_F(ListeningWindow, EveryPollOfASimulatedMasterIsCountedForItsController) {
    SimulatedMaster master(SimulatedBus(DemoControllers(), 0.0, 5), MasterSchedule{},
                           rig.line.Settings());
    window->ListenBtn_Click();
    std::optional<MasterOnLine> playing(std::in_place, master, rig.line, rig.time);
    rig.time.RunFor(60s);
    playing.reset();
    rig.time.RunFor(1s);  // the last poll's window
    window->StopListeningBtn_Click();
    ASSERT_TRUE(rig.time.RunUntil([&] { return !main.Listening().Listening(); }));

    std::map<char, int> polls;
    std::map<char, int> unanswered;
    for (const MasterPoll& poll : master.Log()) {
        ++polls[poll.address];
        unanswered[poll.address] += poll.answer.empty();
    }
    ASSERT_GT(master.Log().size(), 200u);
    const LineStatistics& statistics = monitor.Statistics();
    EXPECT_EQ(statistics.Exchanges(), static_cast<int>(master.Log().size()));
    ASSERT_EQ(statistics.Controllers().size(), polls.size());
    for (const ControllerStatistics& controller : statistics.Controllers()) {
        EXPECT_EQ(controller.requests, polls[controller.address]) << controller.address;
        EXPECT_EQ(controller.noAnswer, unanswered[controller.address]) << controller.address;
    }
    EXPECT_EQ(statistics.Find('C')->noAnswer, polls['C']);  // the demo line's silent one
    rig.time.RunFor(MonitorDlg::RefreshPeriod);
    EXPECT_EQ(window->StatisticsView().model()->rowCount(), static_cast<int>(polls.size()));
    EXPECT_TRUE(window->ListenSummaryText().contains("Poll cycle"))
        << window->ListenSummaryText().toStdString();
    EXPECT_TRUE(rig.line.Transmitted().empty()) << rig.line.TransmittedText();
}

// A listen has no end of its own: whatever asks for the line meanwhile is refused at once, and
// says why, rather than waiting.
TEST_F(ListeningWindow, WhileListeningStartSearchTerminalAndCommAreRefusedAndNothingIsSent) {
    window->ListenBtn_Click();
    ASSERT_TRUE(main.Listening().Listening());
    // Were a dialog opened all the same, it is closed again, and the test fails below.
    testing::ModalScript closeAny(
        {[](QWidget& modal) { modal.close(); }, [](QWidget& modal) { modal.close(); }});
    MasterPolls(8);
    main.StartBtn_Click();
    main.SearchMenu_Click();
    main.ConsolleBtn_Click();
    main.CommBtn_Click();
    rig.time.RunFor(3s);
    EXPECT_EQ(Refusals(), 4) << ::testing::PrintToString(rig.prompts.Texts());
    EXPECT_EQ(rig.prompts.messages.size(), 4u);
    EXPECT_FALSE(main.Run().Active());
    EXPECT_FALSE(main.Scan().Active());
    EXPECT_TRUE(main.Listening().Listening());
    EXPECT_TRUE(rig.line.Transmitted().empty()) << rig.line.TransmittedText();
    EXPECT_EQ(monitor.Statistics().Exchanges(), 16);
    // The main window keeps its controls as they are.
    EXPECT_TRUE(main.Ui().StartBtn.Enabled());
    EXPECT_TRUE(main.Ui().CommBtn.Enabled());

    window->StopListeningBtn_Click();
    ASSERT_TRUE(rig.time.RunUntil([&] { return !main.Listening().Listening(); }));
    main.SearchMenu_Click();
    EXPECT_TRUE(main.Scan().Active());
    EXPECT_EQ(Refusals(), 4);
    // Ended before the window goes, so that no scan is left waiting.
    main.StopBtn_Click();
    EXPECT_TRUE(rig.time.RunUntil([&] { return !main.Scan().Active(); }));
}

TEST_F(ListeningWindow, ListenIsRefusedWhileARunHoldsTheLineOrThePortIsClosed) {
    main.StartBtn_Click();
    ASSERT_TRUE(rig.program.LineUser().Busy());
    window->ListenBtn_Click();
    EXPECT_FALSE(main.Listening().Listening());
    ASSERT_EQ(rig.prompts.messages.size(), 1u);
    EXPECT_EQ(rig.prompts.messages[0].text,
              "The line is in use by a test run, a scan or the terminal.\nStop it first, then "
              "listen.");
    main.StopBtn_Click();
    ASSERT_TRUE(rig.time.RunUntil([&] { return !main.Run().Active(); }));

    rig.program.Port().ClosePort();
    window->ListenBtn_Click();
    EXPECT_FALSE(main.Listening().Listening());
    ASSERT_EQ(rig.prompts.messages.size(), 2u);
    EXPECT_TRUE(rig.prompts.messages[1].text.starts_with("The serial port is closed"))
        << rig.prompts.messages[1].text;
    EXPECT_TRUE(window->ListenButton().isEnabled());
}

TEST_F(ListeningWindow, AQuietLineSaysNothingWasHeardAndCharactersThatMakeNoFrameAWrongSpeed) {
    window->ListenBtn_Click();
    rig.time.RunFor(5s);
    EXPECT_TRUE(window->ListenSummaryText().contains("Nothing heard on the line"))
        << window->ListenSummaryText().toStdString();
    EXPECT_TRUE(window->ListenSummaryText().contains("Heard: 0 frames, 0.00 frames/s"))
        << window->ListenSummaryText().toStdString();

    // What a line at another speed looks like: characters, and never a request among them.
    const Instant from = rig.time.Now();
    for (int burst = 0; burst < 40; ++burst) {
        rig.line.DeliverFrom(from + burst * 100ms, "\xf3\x9c\xe1\x0f");
    }
    rig.time.RunFor(5s);
    const QString heard = window->ListenSummaryText();
    EXPECT_FALSE(heard.contains("Nothing heard")) << heard.toStdString();
    EXPECT_TRUE(heard.contains("160 bytes of noise")) << heard.toStdString();
    EXPECT_TRUE(heard.contains("Warning: the line does not look like Ascon traffic at "))
        << heard.toStdString();
    EXPECT_TRUE(rig.line.Transmitted().empty());
}

// "E&xit !" ends the process at once, listening or not.
TEST_F(ListeningWindow, ExitWhileListeningEndsAtOnce) {
    window->ListenBtn_Click();
    main.ExitMenu_Click();
    EXPECT_EQ(rig.processEnds, 1);
    EXPECT_TRUE(rig.prompts.messages.empty());
    EXPECT_TRUE(rig.line.Transmitted().empty());
}

}  // namespace
}  // namespace tarvel
