// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>
#include <cstdint>
#include <map>
#include <string>

#include "monitor/LineMonitor.h"

class QAreaSeries;
class QChart;
class QChartView;
class QComboBox;
class QLineSeries;
class QValueAxis;

namespace tarvel {

// The Line Monitor's two charts, side by side: failures per minute of the last test run, and
// the response times of one controller, chosen beside it. Part of the window: it reads the
// monitor only when the window refreshes, and redraws a chart only when what it shows changed.
class MonitorCharts final : public QWidget {
public:
    MonitorCharts(const LineMonitor& monitor, QWidget* parent);

    // The controllers the histogram may show: those of the statistics, the choice kept.
    void FillControllerChoice();
    // Each chart whose content changed since it was last drawn.
    void Redraw();

    // Times the charts have been drawn anew.
    int Redraws() const { return redraws_; }
    const QChart& FailuresChart() const { return *failuresChart_; }
    const QChart& HistogramChart() const { return *histogramChart_; }

private:
    RunMinutes MinutesOfRun() const;
    void RedrawFailures();
    void RedrawHistogram();

    const LineMonitor& monitor_;

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
    std::map<Station, ControllerLines> failuresOf_;
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
    std::vector<Station> choiceStations_;

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
    int redraws_ = 0;
};

}  // namespace tarvel
