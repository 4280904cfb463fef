// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/ControllerCountersDlg.h"

#include <QBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <algorithm>
#include <set>

#include "protocol/modbus/ModbusCounters.h"
#include "protocol/modbus/ModbusFrame.h"

namespace tarvel {
namespace {

QPushButton* Button(QWidget* parent, const char* text, const char* tip) {
    auto* button = new QPushButton(text, parent);
    button->setAutoDefault(false);
    button->setToolTip(tip);
    return button;
}

QTableWidgetItem* Cell(const QString& text, bool number) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    item->setTextAlignment(number ? Qt::AlignRight | Qt::AlignVCenter
                                  : Qt::AlignLeft | Qt::AlignVCenter);
    return item;
}

// Address, the counters, the rate, and who the controller is.
constexpr int kRateColumn = 9;
constexpr int kIdentityColumn = 10;

}  // namespace

ControllerCountersDlg::ControllerCountersDlg(MonitorRunControl& control,
                                             std::function<MonitorRunChoice()> choice,
                                             QWidget* parent)
    : QWidget(parent, Qt::Window), control_(control), choice_(std::move(choice)) {
    setObjectName("controllerCounters");
    setWindowTitle("Controller counters - Line Monitor");
    auto* column = new QVBoxLayout(this);
    auto* buttons = new QHBoxLayout;
    readBtn_ = Button(this, "Read", "Reads the counters of the Line Monitor's addresses");
    clearBtn_ = Button(this, "Clear and read...",
                       "Sets every counter of those controllers back to zero, then reads them");
    identifyBtn_ = Button(this, "Who is it?",
                          "Asks each controller its server ID and its device identification");
    stopBtn_ = Button(this, "Stop", "Stops after the controller being asked");
    for (QPushButton* button : {readBtn_, clearBtn_, identifyBtn_, stopBtn_}) {
        buttons->addWidget(button);
    }
    status_ = new QLabel(this);
    status_->setObjectName("countersStatus");
    status_->setTextFormat(Qt::PlainText);
    status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    buttons->addWidget(status_, 1);
    column->addLayout(buttons);

    QStringList heads{"Address"};
    for (const modbus::CounterKind& kind : modbus::ControllerCounters()) {
        heads << kind.words;
    }
    heads << "CRC errors per 1000"
          << "Identity";
    table_ = new QTableWidget(0, static_cast<int>(heads.size()), this);
    table_->setObjectName("countersTable");
    table_->setHorizontalHeaderLabels(heads);
    table_->verticalHeader()->setVisible(false);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setWordWrap(false);
    column->addWidget(table_, 1);

    mark_ = new QLabel(this);
    mark_->setObjectName("countersMark");
    mark_->setTextFormat(Qt::PlainText);
    mark_->setWordWrap(true);
    column->addWidget(mark_);

    connect(readBtn_, &QPushButton::clicked, this, &ControllerCountersDlg::ReadBtn_Click);
    connect(clearBtn_, &QPushButton::clicked, this, &ControllerCountersDlg::ClearBtn_Click);
    connect(identifyBtn_, &QPushButton::clicked, this, &ControllerCountersDlg::IdentifyBtn_Click);
    connect(stopBtn_, &QPushButton::clicked, this, &ControllerCountersDlg::StopBtn_Click);
    resize(1400, 420);
    Refresh();
}

void ControllerCountersDlg::ReadBtn_Click() {
    control_.CountersBtn_Click(choice_(), false);
    Refresh();
}

void ControllerCountersDlg::ClearBtn_Click() {
    control_.CountersBtn_Click(choice_(), true);
    Refresh();
}

void ControllerCountersDlg::IdentifyBtn_Click() {
    control_.IdentifyBtn_Click(choice_());
    Refresh();
}

void ControllerCountersDlg::StopBtn_Click() {
    control_.StopBtn_Click();
    Refresh();
}

void ControllerCountersDlg::Refresh() {
    const bool running = control_.Running();
    for (QPushButton* button : {readBtn_, clearBtn_, identifyBtn_}) {
        button->setEnabled(!running && control_.Offered());
    }
    stopBtn_->setEnabled(running);
    if (control_.Revision() == shown_ && !running) {
        return;
    }
    shown_ = control_.Revision();
    status_->setText(QString::fromStdString(control_.ProgressText()));
    Fill();
}

void ControllerCountersDlg::Fill() {
    const std::vector<CounterReading>& counters = control_.Counters();
    const auto& identities = control_.Identities();
    std::set<Station> stations;
    for (const CounterReading& reading : counters) {
        stations.insert(reading.station);
    }
    for (const auto& [station, identity] : identities) {
        stations.insert(station);
    }
    const std::optional<std::size_t> marked = control_.CountersMarked();
    // No station is negative: -1 where none is marked (an optional here trips g++ 12's
    // maybe-uninitialized warning).
    const Station markedStation = marked ? counters[*marked].station : -1;
    table_->clearSpans();
    table_->setRowCount(static_cast<int>(stations.size()));
    int row = 0;
    for (const Station station : stations) {
        table_->setItem(row, 0, Cell(QString::number(station), true));
        for (int column = 1; column < kIdentityColumn; ++column) {
            table_->setItem(row, column, Cell(QString(), true));
        }
        const auto reading =
            std::find_if(counters.begin(), counters.end(),
                         [station](const auto& r) { return r.station == station; });
        // A line of its own across the counters, for a controller without any to show.
        const auto across = [&](const std::string& text) {
            table_->setSpan(row, 1, 1, kRateColumn);
            table_->item(row, 1)->setText(QString::fromStdString(text));
            table_->item(row, 1)->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        };
        const bool anyValue =
            reading != counters.end() &&
            std::any_of(reading->values.begin(), reading->values.end(),
                        [](const std::optional<int>& value) { return value.has_value(); });
        if (reading != counters.end()) {
            if (reading->refusal) {
                // A controller that keeps no counters, or tells none: not a fault of the line.
                across("not supported: exception " + std::to_string(*reading->refusal) + " (" +
                       modbus::ExceptionName(*reading->refusal) + ")");
            } else if (!anyValue) {
                across(reading->failure);
            } else {
                for (std::size_t i = 0; i < reading->values.size(); ++i) {
                    const std::optional<int>& value = reading->values[i];
                    table_->item(row, static_cast<int>(i) + 1)
                        ->setText(value ? QString::number(*value) : QString("-"));
                }
                const std::optional<double> rate = reading->CrcRate();
                table_->item(row, kRateColumn)
                    ->setText(rate ? QString::number(*rate, 'f', 1) : QString("-"));
            }
            if (anyValue && !reading->Answered()) {
                table_->item(row, kRateColumn)->setText(QString::fromStdString(reading->failure));
            }
        }
        const auto identity = identities.find(station);
        table_->setItem(row, kIdentityColumn,
                        Cell(identity == identities.end() ? QString()
                             : !identity->second.Text().empty()
                                 ? QString::fromStdString(identity->second.Text())
                             : identity->second.failure.empty()
                                 ? QString("not telling")
                                 : QString::fromStdString(identity->second.failure),
                             false));
        const bool isMarked = markedStation == station;
        for (int column = 0; column < table_->columnCount(); ++column) {
            QTableWidgetItem* item = table_->item(row, column);
            item->setBackground(isMarked ? QBrush(QColor(255, 214, 204)) : QBrush());
            QFont font = item->font();
            font.setBold(isMarked && (column == 0 || column == 2 || column == kRateColumn));
            item->setFont(font);
        }
        ++row;
    }
    QString mark;
    if (!control_.CountersReadAt().empty()) {
        mark =
            QString("Counters read at %1.").arg(QString::fromStdString(control_.CountersReadAt()));
    }
    if (markedStation >= 0) {
        mark += QString(" Marked: CRC errors per thousand bus messages first rise above the "
                        "line's median at address %1. Taking the addresses in the order of the "
                        "cable, noise enters it near that drop.")
                    .arg(markedStation);
    }
    mark_->setText(mark);
}

QString ControllerCountersDlg::MarkText() const { return mark_->text(); }
QString ControllerCountersDlg::StatusText() const { return status_->text(); }

}  // namespace tarvel
