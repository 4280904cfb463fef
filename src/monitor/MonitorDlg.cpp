// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/MonitorDlg.h"

#include <QBoxLayout>
#include <QFontDatabase>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QTableView>
#include <algorithm>

#include "lines/EchoCancellingLine.h"
#include "monitor/MonitorRunDlg.h"
#include "monitor/MonitorTableLooks.h"
#include "monitor/SettingsSearchDlg.h"
#include "monitor/WindowFit.h"
#include "ui/Artwork.h"

namespace tarvel {
namespace {

// A label is laid out and painted again whenever it is given a text, the same or not.
void SetText(QLabel& label, const QString& text) {
    if (label.text() != text) {
        label.setText(text);
    }
}

QPushButton* Button(QWidget* parent, const char* text) {
    auto* button = new QPushButton(text, parent);
    button->setAutoDefault(false);
    return button;
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

    statisticsView_ = MonitorTable(parts, "statistics");
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

    charts_ = new MonitorCharts(monitor_, parts);
    parts->addWidget(charts_);

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
    trafficView_ = MonitorTable(trafficPart, "traffic");
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
        charts_->FillControllerChoice();
        charts_->Redraw();
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
    if (run_ != nullptr) {
        run_->Refresh();
    }
}

void MonitorDlg::AttachSettingsSearch(SettingsSearchControl& control) {
    if (search_ == nullptr) {
        // Under the summaries, above the table: a search is what the operator starts from here.
        search_ = new SettingsSearchDlg(control, this);
        static_cast<QVBoxLayout*>(layout())->insertWidget(1, search_);
    }
}

void MonitorDlg::AttachMonitorRun(MonitorRunControl& control) {
    if (run_ == nullptr) {
        run_ = new MonitorRunDlg(control, this);
        static_cast<QVBoxLayout*>(layout())->insertWidget(1, run_);
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
    if (const std::uint64_t dropped = monitor_.DroppedInput(); dropped > 0) {
        text += "\nInput dropped: " +
                QString::fromStdString(DroppedInputNotice(dropped, monitor_.Line().baud));
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

}  // namespace tarvel
