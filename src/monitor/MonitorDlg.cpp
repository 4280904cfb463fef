// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/MonitorDlg.h"

#include <QAreaSeries>
#include <QBoxLayout>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QFontDatabase>
#include <QHeaderView>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

#include "lines/EchoCancellingLine.h"
#include "monitor/SettingsSearchDlg.h"
#include "monitor/WindowFit.h"
#include "ui/Artwork.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;

// Bins of the histogram as drawn, in steps of ResponseTimes::Resolution: 1 ms and wider, as
// many as keep the bars from turning into a comb.
constexpr int kBinSteps[] = {10, 20, 50, 100, 200, 500, 1000, 2000};
constexpr int kMostBins = 40;
// Steps of the failures chart at most, and lines of controllers in it beside the total.
constexpr std::size_t kMostSteps = 240;
constexpr std::size_t kMostFailureLines = 8;

struct Look {
    QColor back;
    QColor text;
};

// Colours an operator tells apart at a glance, with dark text that stays readable on each.
Look LookOf(Judgement judgement) {
    switch (judgement) {
        case Judgement::Healthy: return {QColor(0xc6, 0xef, 0xce), QColor(0x00, 0x55, 0x00)};
        case Judgement::Intermittent: return {QColor(0xff, 0xc8, 0x57), QColor(0x5a, 0x38, 0x00)};
        case Judgement::Slow: return {QColor(0xff, 0xf1, 0x8c), QColor(0x5a, 0x4a, 0x00)};
        case Judgement::Garbled: return {QColor(0xf4, 0xa6, 0xa6), QColor(0x78, 0x00, 0x00)};
        case Judgement::Silent: return {QColor(0xc8, 0xc8, 0xc8), QColor(0x8b, 0x00, 0x00)};
        case Judgement::NotAsked: break;
    }
    return {};
}

QVariant JudgementLook(Judgement judgement, int role) {
    const Look look = LookOf(judgement);
    if (!look.back.isValid()) {
        return {};
    }
    switch (role) {
        case Qt::BackgroundRole: return QBrush(look.back);
        case Qt::ForegroundRole: return QBrush(look.text);
        case Qt::FontRole: {
            QFont bold;
            bold.setBold(true);
            return bold;
        }
        default: return {};
    }
}

QVariant FailedAnswerLook(int role) {
    return role == Qt::ForegroundRole ? QVariant(QBrush(QColor(0xa0, 0x00, 0x00))) : QVariant();
}

// A cell as plain text on its colours. The style's own item painting lays every text out
// several times to place icons, check boxes and elision these tables never have; with the
// tables redrawn through a run, that was most of the window's cost.
class PlainCell final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const bool selected = option.state & QStyle::State_Selected;
        const QPalette::ColorGroup group =
            option.state & QStyle::State_Active ? QPalette::Active : QPalette::Inactive;
        const QVariant background = index.data(Qt::BackgroundRole);
        if (selected) {
            painter->fillRect(option.rect, option.palette.brush(group, QPalette::Highlight));
        } else if (background.canConvert<QBrush>()) {
            painter->fillRect(option.rect, background.value<QBrush>());
        }
        const QVariant foreground = index.data(Qt::ForegroundRole);
        painter->setPen(selected ? option.palette.color(group, QPalette::HighlightedText)
                        : foreground.canConvert<QBrush>()
                            ? foreground.value<QBrush>().color()
                            : option.palette.color(group, QPalette::Text));
        const QVariant font = index.data(Qt::FontRole);
        painter->setFont(font.canConvert<QFont>() ? font.value<QFont>() : option.font);
        const QVariant alignment = index.data(Qt::TextAlignmentRole);
        const int flags =
            alignment.isValid() ? alignment.toInt() : int(Qt::AlignLeft | Qt::AlignVCenter);
        painter->drawText(option.rect.adjusted(4, 0, -4, 0), flags | Qt::TextSingleLine,
                          index.data(Qt::DisplayRole).toString());
    }
};

// A label is laid out and painted again whenever it is given a text, the same or not.
void SetText(QLabel& label, const QString& text) {
    if (label.text() != text) {
        label.setText(text);
    }
}

QTableView* Table(QWidget* parent, const char* name) {
    auto* view = new QTableView(parent);
    view->setItemDelegate(new PlainCell(view));
    view->setObjectName(name);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setWordWrap(false);
    view->setTextElideMode(Qt::ElideNone);
    view->verticalHeader()->hide();
    // One line of one font per row: the view never measures a row, however many there are.
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
    return view;
}

QPushButton* Button(QWidget* parent, const char* text) {
    auto* button = new QPushButton(text, parent);
    button->setAutoDefault(false);
    return button;
}

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

MonitorDlg::MonitorDlg(const LineMonitor& monitor, Prompts& prompts, Scheduler& scheduler,
                       ListenControl* listen, QWidget* parent)
    : QWidget(parent, Qt::Window),
      monitor_(monitor),
      listen_(listen),
      scheduler_(scheduler),
      files_(monitor, prompts, scheduler),
      tasks_(scheduler, [&prompts](const std::string& what) {
          prompts.ShowMessage({"The line monitor's file could not be handled: " + what,
                               "Line Monitor", MessageIcon::Critical, MessageButtons::Ok,
                               std::string()});
      }) {
    setWindowTitle("Line Monitor");
    setObjectName("MonitorDlg");
    setFont(FormFont());
    BuildLayout();
    // Until it is shown on a screen, and fitted to it.
    resize(PreferredWidth, PreferredHeight);
}

MonitorDlg::~MonitorDlg() { scheduler_.Cancel(tick_); }

void MonitorDlg::BuildLayout() {
    statistics_ = new StatisticsModel(monitor_, this);
    statistics_->StyleJudgementsBy(&JudgementLook);
    sorted_ = new QSortFilterProxyModel(this);
    sorted_->setSourceModel(statistics_);
    sorted_->setSortRole(SortRole);
    sorted_->setDynamicSortFilter(true);
    traffic_ = new TrafficModel(monitor_.Traffic(), this);
    traffic_->StyleFailuresBy(&FailedAnswerLook);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);

    auto* top = new QHBoxLayout;
    auto* summaries = new QVBoxLayout;
    summaries->setSpacing(2);
    summary_ = new QLabel(this);
    summary_->setObjectName("summary");
    summary_->setTextFormat(Qt::PlainText);
    summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    summaries->addWidget(summary_);
    scanSummary_ = new QLabel(this);
    scanSummary_->setObjectName("scanSummary");
    scanSummary_->setTextFormat(Qt::PlainText);
    scanSummary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    scanSummary_->setToolTip("What \"&Search!\" found. Addresses where no controller answers "
                             "are not counted against the line: the summary above, the table "
                             "and the charts are the last test run's.");
    summaries->addWidget(scanSummary_);
    listenSummary_ = new QLabel(this);
    listenSummary_->setObjectName("listenSummary");
    listenSummary_->setTextFormat(Qt::PlainText);
    listenSummary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A poll cycle for each controller heard: wrapped, or a line of many would widen the window
    // beyond its screen.
    listenSummary_->setWordWrap(true);
    listenSummary_->hide();
    summaries->addWidget(listenSummary_);
    top->addLayout(summaries, 1);
    // One above the other, so that the window stays as narrow as it was without them.
    auto* buttons = new QVBoxLayout;
    buttons->setSpacing(2);
    listenBtn_ = Button(this, "Listen");
    listenBtn_->setToolTip("Judges the line while another master drives it; nothing is sent");
    stopListeningBtn_ = Button(this, "Stop listening");
    for (QPushButton* button : {listenBtn_, stopListeningBtn_}) {
        button->setVisible(listen_ != nullptr);
        buttons->addWidget(button);
    }
    saveStatisticsBtn_ = Button(this, "Save Statistics...");
    buttons->addWidget(saveStatisticsBtn_);
    top->addLayout(buttons);
    RefreshListenButtons();
    layout->addLayout(top);

    auto* parts = new QSplitter(Qt::Vertical, this);
    parts->setChildrenCollapsible(false);
    layout->addWidget(parts, 1);

    statisticsView_ = Table(parts, "statistics");
    statisticsView_->setModel(sorted_);
    statisticsView_->setSortingEnabled(true);
    statisticsView_->horizontalHeader()->setSortIndicator(0, Qt::AscendingOrder);
    statisticsView_->resizeColumnsToContents();
    statisticsView_->setAlternatingRowColors(true);
    statisticsView_->setMinimumHeight(80);
    // The judgement is what the operator looks for first: beside the address, whatever the width
    // of the window. Only the view moves it; the files keep the columns' order.
    statisticsView_->horizontalHeader()->moveSection(statistics_->JudgementColumn(), 1);
    parts->addWidget(statisticsView_);

    parts->addWidget(BuildCharts());

    auto* trafficPart = new QWidget(parts);
    auto* trafficLayout = new QVBoxLayout(trafficPart);
    trafficLayout->setContentsMargins(0, 4, 0, 0);
    auto* trafficBar = new QHBoxLayout;
    trafficCaption_ = new QLabel(trafficPart);
    trafficCaption_->setTextFormat(Qt::PlainText);
    trafficBar->addWidget(trafficCaption_, 1);
    pauseBtn_ = Button(trafficPart, "Pause");
    pauseBtn_->setCheckable(true);
    pauseBtn_->setToolTip("Holds the traffic view still; the monitor goes on recording");
    trafficBar->addWidget(pauseBtn_);
    saveTrafficBtn_ = Button(trafficPart, "Save Traffic...");
    trafficBar->addWidget(saveTrafficBtn_);
    trafficLayout->addLayout(trafficBar);
    trafficView_ = Table(trafficPart, "traffic");
    trafficView_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    trafficView_->verticalHeader()->setDefaultSectionSize(trafficView_->fontMetrics().height() + 4);
    trafficView_->setModel(traffic_);
    // Wide enough for the widest value or the title, whichever is wider: the view never
    // measures the rows of a ring of a hundred thousand exchanges. The text of a two-frame
    // write a listen hears, "A!SP <CR>A0123<CR>", is the widest text.
    const int digit = trafficView_->fontMetrics().horizontalAdvance('0');
    const int widths[] = {9, 10, 10, 9, 8, 11, 36, 18};
    for (int column = 0; column < static_cast<int>(std::size(widths)); ++column) {
        const QString name =
            traffic_->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
        const int title =
            trafficView_->horizontalHeader()->fontMetrics().horizontalAdvance(name) + 16;
        trafficView_->setColumnWidth(column, std::max(widths[column] * digit + 12, title));
    }
    trafficView_->horizontalHeader()->setStretchLastSection(true);
    trafficView_->setMinimumHeight(100);
    trafficLayout->addWidget(trafficView_);
    parts->addWidget(trafficPart);
    parts->setSizes({190, 300, 330});

    connect(saveStatisticsBtn_, &QPushButton::clicked, this, &MonitorDlg::SaveStatisticsBtn_Click);
    connect(saveTrafficBtn_, &QPushButton::clicked, this, &MonitorDlg::SaveTrafficBtn_Click);
    connect(pauseBtn_, &QPushButton::toggled, this, &MonitorDlg::PauseBtn_Click);
    connect(listenBtn_, &QPushButton::clicked, this, &MonitorDlg::ListenBtn_Click);
    connect(stopListeningBtn_, &QPushButton::clicked, this, &MonitorDlg::StopListeningBtn_Click);
    connect(trafficView_->verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        following_ = value >= trafficView_->verticalScrollBar()->maximum();
    });
    // The end moves without new rows too, when the view's height changes (a horizontal scroll
    // bar that comes with a column grown wider than a narrow window): a view at the end stays.
    connect(trafficView_->verticalScrollBar(), &QScrollBar::rangeChanged, this,
            [this](int, int maximum) {
                if (following_) {
                    trafficView_->verticalScrollBar()->setValue(maximum);
                }
            });
}

QWidget* MonitorDlg::BuildCharts() {
    auto* charts = new QWidget(this);
    auto* row = new QHBoxLayout(charts);
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
    failuresView_ = ChartView(failuresChart_, charts);
    failuresView_->setToolTip("Failed exchanges in each minute of the last test run. The dashed "
                              "step is the minute not yet over, its failures so far as a rate a "
                              "minute; the controllers' lines show the minutes that are over.");
    row->addWidget(failuresView_, 1);

    auto* histogramPart = new QWidget(charts);
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

    const auto redraw = [this] {
        if (isVisible()) {
            RedrawCharts();
        }
    };
    connect(controllerChoice_, &QComboBox::activated, this, redraw);
    connect(edgeChoice_, &QComboBox::activated, this, redraw);
    return charts;
}

void MonitorDlg::showEvent(QShowEvent* event) {
    if (!fitted_) {
        fitted_ = true;
        FitScreen();
    }
    QWidget::showEvent(event);
    if (tick_ == 0) {
        // What changed while the window was hidden is shown at once.
        Tick();
    }
}

void MonitorDlg::FitScreen() {
    const QScreen* shownOn = screen();
    if (shownOn == nullptr) {
        return;
    }
    const QRect available = shownOn->availableGeometry();
    const QSize size = FittingSize({PreferredWidth, PreferredHeight}, available.size());
    resize(size);
    move(FittingPlace(geometry(), size, available));
}

void MonitorDlg::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    scheduler_.Cancel(tick_);
    tick_ = 0;
}

void MonitorDlg::Tick() {
    tick_ = scheduler_.CallAt(scheduler_.Now() + RefreshPeriod, [this] { Tick(); });
    Refresh();
}

void MonitorDlg::Refresh() {
    const std::uint64_t revision = monitor_.Revision();
    const bool news = revision != shownRevision_;
    if (news) {
        shownRevision_ = revision;
        statistics_->Refresh();
        FitStatisticsColumns();
        FillControllerChoice();
        RedrawCharts();
        if (!paused_ || traffic_->LogCleared()) {
            FollowTraffic();
        }
    }
    // The driver's counts, and the figures of a listen, move without news from the monitor.
    if (news || monitor_.Running() || Listening()) {
        RefreshSummary();
        RefreshTrafficCaption();
    }
    RefreshListenButtons();
    if (search_ != nullptr) {
        search_->Refresh();
    }
}

void MonitorDlg::AttachSettingsSearch(SettingsSearchControl& control) {
    if (search_ == nullptr) {
        // Under the summaries, above the table: a search is what the operator starts from here.
        search_ = new SettingsSearchDlg(control, this);
        static_cast<QVBoxLayout*>(layout())->insertWidget(1, search_);
    }
}

bool MonitorDlg::Listening() const { return listen_ != nullptr && listen_->Listening(); }

void MonitorDlg::ListenBtn_Click() {
    if (listen_ != nullptr) {
        listen_->ListenBtn_Click();
        Refresh();
    }
}

void MonitorDlg::StopListeningBtn_Click() {
    if (listen_ != nullptr) {
        listen_->StopListeningBtn_Click();
        Refresh();
    }
}

void MonitorDlg::RefreshListenButtons() {
    const bool listening = Listening();
    listenBtn_->setEnabled(!listening);
    // The listen ends with the next turn of the event loop: one click is enough.
    stopListeningBtn_->setEnabled(listening && !listen_->Stopping());
}

void MonitorDlg::FitStatisticsColumns() {
    // Columns only grow, and only when a text grew: measuring every cell at each refresh would
    // cost more than all the rest of the window.
    widest_.resize(static_cast<std::size_t>(statistics_->columnCount()), 0);
    for (int column = 0; column < statistics_->columnCount(); ++column) {
        std::size_t widest = 0;
        for (int row = 0; row < statistics_->rowCount(); ++row) {
            widest = std::max(widest, statistics_->Field(row, column).size());
        }
        if (widest > widest_[static_cast<std::size_t>(column)]) {
            widest_[static_cast<std::size_t>(column)] = widest;
            statisticsView_->resizeColumnToContents(
                sorted_->mapFromSource(statistics_->index(0, column)).column());
        }
    }
}

void MonitorDlg::RefreshSummary() {
    const LineStatistics& statistics = monitor_.Statistics();
    // No exchange, no share: "0.0 %" would read as a dead line.
    const QString success = statistics.Exchanges() == 0
                                ? QString(QChar(0x2013))
                                : QString::asprintf("%.1f %%", statistics.SuccessRate());
    const bool listened = monitor_.RunActivity() == Activity::Listen;
    QString text = QString::asprintf(
                       "%s   Exchanges per second: %.1f     Success: ",
                       listened ? "Listened line:" : "Test run:", statistics.ExchangesPerSecond()) +
                   success +
                   QString::asprintf("     Longest run of failures: %d     Exchanges counted: %d",
                                     statistics.LongestFailureRun(), statistics.Exchanges());
    text += "\nLine errors counted by the port's driver since the run started: ";
    if (const std::optional<UartErrorCounts> errors = monitor_.ErrorsSinceStart()) {
        text += QString::asprintf("framing %ld, parity %ld, overrun %ld, break %ld",
                                  errors->framing, errors->parity, errors->overrun, errors->breaks);
    } else if (statistics.Begun()) {
        text += "not reported by this port";
    } else {
        text += "none yet, counted from the start of a run";
    }
    if (const std::optional<Duration> roundTrip = monitor_.RoundTrip()) {
        text += QString::asprintf("\nPort across the network: round trip %.2f ms, in every "
                                  "answer's time",
                                  std::chrono::duration<double, std::milli>(*roundTrip).count());
    }
    if (const std::optional<EchoReport> echo = monitor_.EchoSinceStart(); echo && echo->echoes) {
        text += QString("\nEcho: ") + kEchoNotice +
                QString::asprintf(". Line faults since the run started: %ld echoes unlike what "
                                  "was sent (a collision on the wire), %ld not given back",
                                  echo->differed, echo->missing);
    }
    SetText(*summary_, text);

    const LineStatistics& scan = monitor_.ScanStatistics();
    QString scanText = monitor_.Scanning() ? "Scan going on: " : "Last scan: ";
    scanText += scan.Begun() ? QString::fromStdString(ScanFindingsText(FindingsOf(scan)))
                             : QString("none yet");
    SetText(*scanSummary_, scanText);

    // The listened line's own figures, while the statistics above are a listen's.
    const QString listenText =
        listened && listen_ != nullptr ? QString::fromStdString(listen_->SummaryText()) : QString();
    SetText(*listenSummary_, listenText);
    listenSummary_->setVisible(!listenText.isEmpty());
}

QString MonitorDlg::ListenSummaryText() const { return listenSummary_->text(); }

QString MonitorDlg::SummaryText() const { return summary_->text(); }

QString MonitorDlg::ScanSummaryText() const { return scanSummary_->text(); }

void MonitorDlg::RefreshTrafficCaption() {
    const TrafficLog& log = monitor_.Traffic();
    QString text = QString::asprintf("Traffic: the last %zu exchanges are kept; %zu now",
                                     log.Capacity(), log.Size());
    if (paused_) {
        const std::uint64_t shownUpTo = traffic_->FirstNumber() + traffic_->Exchanges();
        const std::uint64_t behind = log.Added() + 1 > shownUpTo ? log.Added() + 1 - shownUpTo : 0;
        text += QString::asprintf(".  Paused: %llu more recorded meanwhile",
                                  static_cast<unsigned long long>(behind));
    }
    SetText(*trafficCaption_, text);
}

void MonitorDlg::FollowTraffic() {
    const bool following = following_;
    const int dropped = traffic_->Follow();
    QScrollBar& bar = *trafficView_->verticalScrollBar();
    if (following) {
        trafficView_->scrollToBottom();
    } else if (dropped > 0) {
        // The rows the operator is reading stay where they are while older ones leave the top.
        bar.setValue(std::max(0, bar.value() - dropped));
    }
}

void MonitorDlg::PauseBtn_Click(bool paused) {
    if (pauseBtn_->isChecked() != paused) {
        pauseBtn_->setChecked(paused);  // comes back here through `toggled`
        return;
    }
    paused_ = paused;
    if (!paused_) {
        FollowTraffic();
    }
    RefreshTrafficCaption();
}

void MonitorDlg::SaveTrafficBtn_Click() {
    if (!files_.RefuseWhileBusy(tasks_.Running())) {
        tasks_.Start(files_.SaveTraffic());
    }
}

void MonitorDlg::SaveStatisticsBtn_Click() {
    if (!files_.RefuseWhileBusy(tasks_.Running())) {
        tasks_.Start(files_.SaveStatistics());
    }
}

void MonitorDlg::FillControllerChoice() {
    std::string addresses;
    for (const ControllerStatistics& controller : monitor_.Statistics().Controllers()) {
        addresses += controller.address;
    }
    if (addresses == choiceAddresses_) {
        return;
    }
    const QVariant chosen = controllerChoice_->currentData();
    choiceAddresses_ = addresses;
    controllerChoice_->clear();
    for (const char address : addresses) {
        controllerChoice_->addItem(QString(QLatin1Char(address)), int(address));
    }
    const int again = chosen.isValid() ? controllerChoice_->findData(chosen) : -1;
    controllerChoice_->setCurrentIndex(again >= 0 ? again : 0);
}

void MonitorDlg::RedrawCharts() {
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
        chosen.isValid() ? statistics.Find(static_cast<char>(chosen.toInt())) : nullptr;
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
    chartRedraws_ += redrawn;
}

RunMinutes MonitorDlg::MinutesOfRun() const {
    const LineStatistics& statistics = monitor_.Statistics();
    return MinutesOf(statistics.Exchanges() > 0 ? statistics.Elapsed() : Duration{0},
                     statistics.FailuresByMinute().size());
}

void MonitorDlg::RedrawFailures() {
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
    std::map<char, ControllerLines> kept;
    for (const ControllerStatistics* controller : failing) {
        ControllerLines& lines = failuresOf_[controller->address];
        if (lines.whole == nullptr) {
            lines.whole = new QLineSeries;
            lines.whole->setName(QString(QLatin1Char(controller->address)));
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
        kept[controller->address] = lines;
        failuresOf_.erase(controller->address);
    }
    // Lines of controllers gone with a new run or "Res", or outdone by others, are taken away.
    for (auto& [address, lines] : failuresOf_) {
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

void MonitorDlg::RedrawHistogram() {
    const QVariant chosen = controllerChoice_->currentData();
    const ControllerStatistics* controller =
        chosen.isValid() ? monitor_.Statistics().Find(static_cast<char>(chosen.toInt())) : nullptr;
    const bool toLast = edgeChoice_->currentIndex() == 1;
    const ResponseTimes* times = controller == nullptr ? nullptr
                                 : toLast              ? &controller->toLast
                                                       : &controller->toFirst;
    if (times == nullptr || times->Count() == 0) {
        histogramOutline_->clear();
        histogramChart_->setTitle(controller == nullptr
                                      ? QString("Response times: no exchange yet")
                                      : QString("Response times of %1: no good answer yet")
                                            .arg(QLatin1Char(controller->address)));
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
            .arg(QLatin1Char(controller->address))
            .arg(toLast ? "last" : "first")
            .arg(times->Count())
            .arg(step * millisecondsPerStep));
}

}  // namespace tarvel
