// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "monitor/LineMonitor.h"
#include "monitor/ListenControl.h"
#include "monitor/MonitorFiles.h"
#include "monitor/MonitorModels.h"
#include "platform/Tasks.h"

class QAreaSeries;
class QChart;
class QChartView;
class QComboBox;
class QLabel;
class QLineSeries;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;
class QValueAxis;

namespace tarvel {

class SettingsSearchControl;
class SettingsSearchDlg;

// The window "Line Monitor": what the line monitor knows of the run, shown while the run goes
// on. It only reads the monitor, never the line, so it can stay open through runs and scans;
// "Listen" hands over to the listen control, which holds the line as a run does.
// While it is visible it catches up with the monitor once a second, and only with what changed.
class MonitorDlg final : public QWidget {
    Q_OBJECT
public:
    // Once a second: through a run at the full rate the window then costs the program's thread
    // well under one percent of a core. Rows pass faster than anyone reads them either way;
    // "Pause" is there for reading.
    static constexpr Duration RefreshPeriod = std::chrono::seconds(1);

    // Without a listen control the window only shows the monitor, and has no "Listen".
    MonitorDlg(const LineMonitor& monitor, Prompts& prompts, Scheduler& scheduler,
               ListenControl* listen = nullptr, QWidget* parent = nullptr);
    ~MonitorDlg() override;

    void SaveTrafficBtn_Click();
    void SaveStatisticsBtn_Click();
    // The traffic view stands still while paused; the monitor goes on recording, and the view
    // catches up once the pause ends.
    void PauseBtn_Click(bool paused);
    void ListenBtn_Click();
    void StopListeningBtn_Click();
    // Adds "Search all settings..." and what the search finds, under the summaries.
    void AttachSettingsSearch(SettingsSearchControl& control);
    // Nothing until a search control is attached.
    SettingsSearchDlg* SettingsSearch() { return search_; }
    // A save still formatting or writing its file.
    TaskOwner& FileTasks() { return tasks_; }

    // The size it would like, before it is fitted to its screen.
    static constexpr int PreferredWidth = 1240;
    static constexpr int PreferredHeight = 900;

    // What the window shows: the last test run's summary, and apart what the last scan found.
    QString SummaryText() const;
    QString ScanSummaryText() const;
    // The figures of the current or last listen; empty before the first.
    QString ListenSummaryText() const;
    QPushButton& ListenButton() { return *listenBtn_; }
    QPushButton& StopListeningButton() { return *stopListeningBtn_; }
    QTableView& StatisticsView() { return *statisticsView_; }
    QTableView& TrafficView() { return *trafficView_; }
    const StatisticsModel& StatisticsTable() const { return *statistics_; }
    const TrafficModel& TrafficTable() const { return *traffic_; }
    QPushButton& PauseButton() { return *pauseBtn_; }
    // Times the charts have been drawn anew.
    int ChartRedraws() const { return chartRedraws_; }
    const QChart& FailuresChart() const { return *failuresChart_; }
    const QChart& HistogramChart() const { return *histogramChart_; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void BuildLayout();
    QWidget* BuildCharts();
    void Tick();
    void Refresh();
    void RefreshSummary();
    void RefreshListenButtons();
    bool Listening() const;
    void FitScreen();
    void RefreshTrafficCaption();
    void FollowTraffic();
    void FillControllerChoice();
    void FitStatisticsColumns();
    RunMinutes MinutesOfRun() const;
    void RedrawCharts();
    void RedrawFailures();
    void RedrawHistogram();

    const LineMonitor& monitor_;
    ListenControl* listen_;
    Scheduler& scheduler_;
    MonitorFiles files_;
    TaskOwner tasks_;

    StatisticsModel* statistics_;
    TrafficModel* traffic_;
    QSortFilterProxyModel* sorted_;
    QLabel* summary_;
    QLabel* scanSummary_;
    QLabel* listenSummary_;
    QLabel* trafficCaption_;
    QTableView* statisticsView_;
    QTableView* trafficView_;
    QPushButton* pauseBtn_;
    QPushButton* saveTrafficBtn_;
    QPushButton* saveStatisticsBtn_;
    QPushButton* listenBtn_;
    QPushButton* stopListeningBtn_;
    SettingsSearchDlg* search_ = nullptr;

    QChart* failuresChart_;
    QChartView* failuresView_;
    QLineSeries* failuresTotal_;
    // The run's last minute while it is not over, as a rate: dashed, apart from the whole ones.
    QLineSeries* failuresPartial_;
    // A controller's line over the minutes that are over, and its minute in progress dashed.
    struct ControllerLines {
        QLineSeries* whole = nullptr;
        QLineSeries* partial = nullptr;
    };
    std::map<char, ControllerLines> failuresOf_;
    QValueAxis* minuteAxis_;
    QValueAxis* failureCountAxis_;
    QChart* histogramChart_;
    QChartView* histogramView_;
    QLineSeries* histogramOutline_;
    QAreaSeries* histogramArea_;
    QValueAxis* millisecondAxis_;
    QValueAxis* answerCountAxis_;
    QComboBox* controllerChoice_;
    QComboBox* edgeChoice_;
    std::string choiceAddresses_;

    Scheduler::TimerId tick_ = 0;
    std::uint64_t shownRevision_ = ~std::uint64_t{0};
    // What each chart shows, in a few numbers: it is drawn again only when they change.
    struct FailuresContent {
        std::int64_t runStart = -1;
        std::size_t minutes = 0;
        int failures = -1;
        // The rate of the minute in progress falls as it goes on without failures.
        double partialRate = -1;
        bool running = false;  // names that minute
        friend bool operator==(const FailuresContent&, const FailuresContent&) = default;
    };
    struct HistogramContent {
        std::int64_t runStart = -1;
        int address = -1;
        std::int64_t answers = -1;
        int edge = -1;
        friend bool operator==(const HistogramContent&, const HistogramContent&) = default;
    };
    FailuresContent failuresShown_;
    HistogramContent histogramShown_;
    // The longest text so far in each column of the statistics, in characters.
    std::vector<std::size_t> widest_;
    int chartRedraws_ = 0;
    // Fitted to its screen when first shown; after that, the size is the operator's.
    bool fitted_ = false;
    bool paused_ = false;
    // The operator has left the traffic view at its end: new rows scroll into view.
    bool following_ = true;
};

}  // namespace tarvel
