// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>
#include <cstdint>
#include <memory>
#include <vector>

#include "monitor/LineMonitor.h"
#include "monitor/ListenControl.h"
#include "monitor/MonitorCharts.h"
#include "monitor/MonitorFiles.h"
#include "monitor/MonitorModels.h"
#include "platform/Tasks.h"

class QLabel;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;

namespace tarvel {

class MonitorRunControl;
class MonitorRunDlg;
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
    // Adds the window's own "Test" and "Scan", for the protocols the main window does not run,
    // above the search.
    void AttachMonitorRun(MonitorRunControl& control);
    // Nothing until a run control is attached.
    MonitorRunDlg* MonitorRun() { return run_; }
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
    int ChartRedraws() const { return charts_->Redraws(); }
    const QChart& FailuresChart() const { return charts_->FailuresChart(); }
    const QChart& HistogramChart() const { return charts_->HistogramChart(); }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void BuildLayout();
    void Tick();
    void Refresh();
    void RefreshSummary();
    void RefreshListenButtons();
    bool Listening() const;
    void FitScreen();
    void RefreshTrafficCaption();
    void FollowTraffic();
    void FitStatisticsColumns();

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
    MonitorRunDlg* run_ = nullptr;
    MonitorCharts* charts_;

    Scheduler::TimerId tick_ = 0;
    std::uint64_t shownRevision_ = ~std::uint64_t{0};
    // The longest text so far in each column of the statistics, in characters.
    std::vector<std::size_t> widest_;
    // Fitted to its screen when first shown; after that, the size is the operator's.
    bool fitted_ = false;
    bool paused_ = false;
    // The operator has left the traffic view at its end: new rows scroll into view.
    bool following_ = true;
};

}  // namespace tarvel
