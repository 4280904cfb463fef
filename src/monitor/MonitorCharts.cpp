// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/MonitorCharts.h"

#include <QAreaSeries>
#include <QBoxLayout>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPainter>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

namespace tarvel {
namespace {

// Bins of the histogram as drawn, in steps of ResponseTimes::Resolution: 1 ms and wider, as
// many as keep the bars from turning into a comb.
constexpr int kBinSteps[] = {10, 20, 50, 100, 200, 500, 1000, 2000};
constexpr int kMostBins = 40;
// Steps of the failures chart at most, and lines of controllers in it beside the total.
constexpr std::size_t kMostSteps = 240;
constexpr std::size_t kMostFailureLines = 8;

QChartView* ChartView(QChart* chart, QWidget* parent) {
    chart->setMargins(QMargins(4, 4, 4, 4));
    chart->setBackgroundRoundness(0);
    auto* view = new QChartView(chart, parent);
    // Steps and bars are upright lines, sharp without antialiasing, which costs a good part of
    // each redraw.
    view->setRenderHint(QPainter::Antialiasing, false);
    // Small enough that the whole window still fits a screen of 960 x 540 (1920 x 1080 at
    // scale 2) at 90 %.
    view->setMinimumSize(300, 160);
    return view;
}

QValueAxis* Axis(const char* title, const char* format) {
    auto* axis = new QValueAxis;
    axis->setTitleText(title);
    axis->setLabelFormat(format);
    return axis;
}

// A chart with its two value axes, time along the bottom and counts up the left.
QChart* ChartOver(QValueAxis* x, QValueAxis* y) {
    auto* chart = new QChart;
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    return chart;
}

void Attach(QChart& chart, QAbstractSeries* series, QValueAxis* x, QValueAxis* y) {
    chart.addSeries(series);
    series->attachAxis(x);
    series->attachAxis(y);
}

// A nice upper end for a count axis, and a tick count that lands on whole numbers.
void CountRange(QValueAxis& axis, double highest) {
    const double top = std::max(4.0, std::ceil(highest * 1.1));
    axis.setRange(0, top);
    axis.applyNiceNumbers();
}

}  // namespace

MonitorCharts::MonitorCharts(const LineMonitor& monitor, QWidget* parent)
    : QWidget(parent), monitor_(monitor) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);

    minuteAxis_ = Axis("minutes since the run started", "%d");
    failureCountAxis_ = Axis("failures a minute", "%d");
    failuresChart_ = ChartOver(minuteAxis_, failureCountAxis_);
    failuresChart_->setTitle("Failures per minute of the run");
    failuresChart_->legend()->setAlignment(Qt::AlignRight);
    failuresTotal_ = new QLineSeries;
    failuresTotal_->setName("all");
    failuresTotal_->setPen(QPen(QColor(0x20, 0x20, 0x20), 3));
    Attach(*failuresChart_, failuresTotal_, minuteAxis_, failureCountAxis_);
    failuresPartial_ = new QLineSeries;
    failuresPartial_->setPen(QPen(QColor(0x80, 0x80, 0x80), 3, Qt::DashLine));
    Attach(*failuresChart_, failuresPartial_, minuteAxis_, failureCountAxis_);
    for (QLegendMarker* marker : failuresChart_->legend()->markers(failuresPartial_)) {
        marker->setVisible(false);
    }
    minuteAxis_->setRange(0, 1);
    CountRange(*failureCountAxis_, 0);
    failuresView_ = ChartView(failuresChart_, this);
    failuresView_->setToolTip("Failed exchanges in each minute of the last test run. The dashed "
                              "step is the minute not yet over, its failures so far as a rate a "
                              "minute; the controllers' lines show the minutes that are over.");
    row->addWidget(failuresView_, 1);

    auto* histogramPart = new QWidget(this);
    auto* histogramLayout = new QVBoxLayout(histogramPart);
    histogramLayout->setContentsMargins(0, 0, 0, 0);
    auto* choices = new QHBoxLayout;
    choices->addWidget(new QLabel("Response times of", histogramPart));
    controllerChoice_ = new QComboBox(histogramPart);
    controllerChoice_->setObjectName("controllerChoice");
    controllerChoice_->setMinimumContentsLength(3);
    choices->addWidget(controllerChoice_);
    choices->addWidget(new QLabel("to the", histogramPart));
    edgeChoice_ = new QComboBox(histogramPart);
    edgeChoice_->setObjectName("edgeChoice");
    edgeChoice_->addItems({"first character", "last character"});
    edgeChoice_->setCurrentIndex(1);
    choices->addWidget(edgeChoice_);
    choices->addStretch(1);
    histogramLayout->addLayout(choices);

    millisecondAxis_ = Axis("ms from the end of the request", "%.0f");
    answerCountAxis_ = Axis("good answers", "%d");
    histogramChart_ = ChartOver(millisecondAxis_, answerCountAxis_);
    histogramChart_->legend()->hide();
    // An area series does not own its outline: the chart does.
    histogramOutline_ = new QLineSeries(histogramChart_);
    histogramArea_ = new QAreaSeries(histogramOutline_);
    histogramArea_->setBrush(QColor(0x4a, 0x7e, 0xbb));
    histogramArea_->setPen(QPen(QColor(0x1f, 0x3f, 0x66), 1));
    Attach(*histogramChart_, histogramArea_, millisecondAxis_, answerCountAxis_);
    millisecondAxis_->setRange(0, 20);
    CountRange(*answerCountAxis_, 0);
    histogramView_ = ChartView(histogramChart_, histogramPart);
    histogramLayout->addWidget(histogramView_, 1);
    row->addWidget(histogramPart, 1);

    // Between refreshes, and only while the window is on show.
    const auto redraw = [this] {
        if (window()->isVisible()) {
            Redraw();
        }
    };
    connect(controllerChoice_, &QComboBox::activated, this, redraw);
    connect(edgeChoice_, &QComboBox::activated, this, redraw);
}

void MonitorCharts::FillControllerChoice() {
    std::vector<Station> stations;
    for (const ControllerStatistics& controller : monitor_.Statistics().Controllers()) {
        stations.push_back(controller.station);
    }
    if (stations == choiceStations_) {
        return;
    }
    const QVariant chosen = controllerChoice_->currentData();
    choiceStations_ = stations;
    controllerChoice_->clear();
    for (const ControllerStatistics& controller : monitor_.Statistics().Controllers()) {
        controllerChoice_->addItem(QString::fromLatin1(controller.address), controller.station);
    }
    const int again = chosen.isValid() ? controllerChoice_->findData(chosen) : -1;
    controllerChoice_->setCurrentIndex(again >= 0 ? again : 0);
}

void MonitorCharts::Redraw() {
    // Each chart only when what it shows has changed: on a healthy line the failures do not
    // move for hours, and a histogram only with the answers of its controller.
    const LineStatistics& statistics = monitor_.Statistics();
    const auto runStart = statistics.Start().time_since_epoch().count();
    const RunMinutes minutes = MinutesOfRun();
    const std::vector<int>& byMinute = statistics.FailuresByMinute();
    const int failuresOfLast = byMinute.size() >= minutes.begun ? byMinute[minutes.begun - 1] : 0;
    const FailuresContent failures{
        runStart, minutes.begun, statistics.Exchanges() - statistics.Good(),
        minutes.LastIsPartial() ? FailuresPerMinute(failuresOfLast, minutes.coveredOfLast) : -1,
        monitor_.Running()};
    const QVariant chosen = controllerChoice_->currentData();
    const ControllerStatistics* controller =
        chosen.isValid() ? statistics.Find(chosen.toInt()) : nullptr;
    const HistogramContent histogram{
        runStart, chosen.isValid() ? chosen.toInt() : -1,
        controller ? controller->toFirst.Count() + controller->toLast.Count() : -1,
        edgeChoice_->currentIndex()};
    bool redrawn = false;
    if (failures != failuresShown_) {
        failuresShown_ = failures;
        RedrawFailures();
        redrawn = true;
    }
    if (histogram != histogramShown_) {
        histogramShown_ = histogram;
        RedrawHistogram();
        redrawn = true;
    }
    redraws_ += redrawn;
}

RunMinutes MonitorCharts::MinutesOfRun() const {
    const LineStatistics& statistics = monitor_.Statistics();
    return MinutesOf(statistics.Exchanges() > 0 ? statistics.Elapsed() : Duration{0},
                     statistics.FailuresByMinute().size());
}

void MonitorCharts::RedrawFailures() {
    const LineStatistics& statistics = monitor_.Statistics();
    const RunMinutes minutes = MinutesOfRun();
    // The last minute, not over yet, is no minute like the others: drawn apart as a rate, so
    // that its few seconds without failures do not look like a good minute. Before the first
    // exchange there is nothing to scale.
    const bool partial = minutes.LastIsPartial() && statistics.Exchanges() > 0;
    const std::size_t whole = partial ? minutes.begun - 1 : minutes.begun;
    // A step per minute, from its start to its end, so that the first minute shows as a line
    // too. A long run is drawn in steps of several minutes, each at its mean per minute: a day
    // would otherwise be thousands of points per line, redrawn every second.
    const std::size_t width = std::max<std::size_t>(1, (whole + kMostSteps - 1) / kMostSteps);
    double highest = 0;
    const auto steps = [&](const std::vector<int>& byMinute) {
        QList<QPointF> list;
        list.reserve(static_cast<qsizetype>(2 * (whole / width + 1)));
        for (std::size_t first = 0; first < whole; first += width) {
            const std::size_t end = std::min(first + width, whole);
            int failures = 0;
            for (std::size_t minute = first; minute < std::min(end, byMinute.size()); ++minute) {
                failures += byMinute[minute];
            }
            const double perMinute =
                static_cast<double>(failures) / static_cast<double>(end - first);
            highest = std::max(highest, perMinute);
            list.append(QPointF(static_cast<double>(first), perMinute));
            list.append(QPointF(static_cast<double>(end), perMinute));
        }
        return list;
    };
    // The minute in progress as a rate, from its start to its end; nothing when it is over.
    const std::size_t last = minutes.begun - 1;
    const auto partialStep = [&](const std::vector<int>& byMinute) {
        if (!partial) {
            return QList<QPointF>();
        }
        const double rate =
            FailuresPerMinute(last < byMinute.size() ? byMinute[last] : 0, minutes.coveredOfLast);
        highest = std::max(highest, rate);
        return QList<QPointF>{QPointF(static_cast<double>(last), rate),
                              QPointF(static_cast<double>(minutes.begun), rate)};
    };
    const auto hideFromLegend = [this](QLineSeries* series, bool hidden) {
        for (QLegendMarker* marker : failuresChart_->legend()->markers(series)) {
            marker->setVisible(!hidden);
        }
    };
    failuresTotal_->replace(steps(statistics.FailuresByMinute()));
    failuresPartial_->replace(partialStep(statistics.FailuresByMinute()));
    failuresPartial_->setName(monitor_.Running() && !monitor_.Scanning()
                                  ? "this minute so far, as a rate"
                                  : "last minute, cut short, as a rate");
    hideFromLegend(failuresPartial_, !partial);

    // The controllers with the most failures have a line each; more would hide one another.
    std::vector<const ControllerStatistics*> failing;
    for (const ControllerStatistics& controller : statistics.Controllers()) {
        if (controller.Failures() > 0) {
            failing.push_back(&controller);
        }
    }
    std::stable_sort(failing.begin(), failing.end(),
                     [](const auto* a, const auto* b) { return a->Failures() > b->Failures(); });
    failing.resize(std::min(failing.size(), kMostFailureLines));
    std::map<Station, ControllerLines> kept;
    for (const ControllerStatistics* controller : failing) {
        ControllerLines& lines = failuresOf_[controller->station];
        if (lines.whole == nullptr) {
            lines.whole = new QLineSeries;
            lines.whole->setName(QString::fromLatin1(controller->address));
            Attach(*failuresChart_, lines.whole, minuteAxis_, failureCountAxis_);
            // In the colour the chart gave the line, dashed like the total's minute in progress.
            lines.partial = new QLineSeries;
            lines.partial->setName(lines.whole->name() + ", this minute as a rate");
            Attach(*failuresChart_, lines.partial, minuteAxis_, failureCountAxis_);
            lines.partial->setPen(QPen(lines.whole->color(), 2, Qt::DashLine));
            hideFromLegend(lines.partial, true);
        }
        lines.whole->replace(steps(controller->failuresByMinute));
        lines.partial->replace(partialStep(controller->failuresByMinute));
        kept[controller->station] = lines;
        failuresOf_.erase(controller->station);
    }
    // Lines of controllers gone with a new run or "Res", or outdone by others, are taken away.
    for (auto& [station, lines] : failuresOf_) {
        for (QLineSeries* series : {lines.whole, lines.partial}) {
            failuresChart_->removeSeries(series);
            delete series;
        }
    }
    failuresOf_ = std::move(kept);
    failureCountAxis_->setTitleText(
        width == 1 ? QString("failures a minute")
                   : QString("failures a minute, mean of %1").arg(static_cast<qulonglong>(width)));
    minuteAxis_->setRange(0, static_cast<double>(minutes.begun));
    minuteAxis_->setTickCount(static_cast<int>(std::min<std::size_t>(minutes.begun, 10)) + 1);
    CountRange(*failureCountAxis_, highest);
}

void MonitorCharts::RedrawHistogram() {
    const QVariant chosen = controllerChoice_->currentData();
    const ControllerStatistics* controller =
        chosen.isValid() ? monitor_.Statistics().Find(chosen.toInt()) : nullptr;
    const bool toLast = edgeChoice_->currentIndex() == 1;
    const ResponseTimes* times = controller == nullptr ? nullptr
                                 : toLast              ? &controller->toLast
                                                       : &controller->toFirst;
    if (times == nullptr || times->Count() == 0) {
        histogramOutline_->clear();
        histogramChart_->setTitle(controller == nullptr
                                      ? QString("Response times: no exchange yet")
                                      : QString("Response times of %1: no good answer yet")
                                            .arg(QString::fromLatin1(controller->address)));
        return;
    }
    const std::vector<std::uint32_t>& bins = times->Histogram();
    const auto first = std::find_if(bins.begin(), bins.end(), [](auto n) { return n > 0; });
    const auto last = std::find_if(bins.rbegin(), bins.rend(), [](auto n) { return n > 0; });
    const int lowest = static_cast<int>(first - bins.begin());
    const int highest = static_cast<int>(bins.rend() - last) - 1;
    int step = kBinSteps[std::size(kBinSteps) - 1];
    for (const int candidate : kBinSteps) {
        if (highest / candidate - lowest / candidate + 1 <= kMostBins) {
            step = candidate;
            break;
        }
    }
    // One empty bin either side, so the outermost bars stand clear of the frame.
    const int from = std::max(0, (lowest / step - 1) * step);
    const int to = (highest / step + 2) * step;
    const double millisecondsPerStep =
        std::chrono::duration<double, std::milli>(ResponseTimes::Resolution).count();
    QList<QPointF> outline;
    outline.append(QPointF(from * millisecondsPerStep, 0));
    std::uint32_t tallest = 0;
    for (int bin = from; bin < to; bin += step) {
        std::uint32_t count = 0;
        for (int i = bin; i < std::min(bin + step, ResponseTimes::Bins); ++i) {
            count += bins[static_cast<std::size_t>(i)];
        }
        tallest = std::max(tallest, count);
        outline.append(QPointF(bin * millisecondsPerStep, count));
        outline.append(QPointF((bin + step) * millisecondsPerStep, count));
    }
    outline.append(QPointF(to * millisecondsPerStep, 0));
    histogramOutline_->replace(outline);
    millisecondAxis_->setRange(from * millisecondsPerStep, to * millisecondsPerStep);
    CountRange(*answerCountAxis_, tallest);
    histogramChart_->setTitle(
        QString("Response times of %1 to the %2 character: %3 good answers, %4 ms bins")
            .arg(QString::fromLatin1(controller->address))
            .arg(toLast ? "last" : "first")
            .arg(times->Count())
            .arg(step * millisecondsPerStep));
}

}  // namespace tarvel
