// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/MonitorRunDlg.h"

#include <QBoxLayout>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include "monitor/ControllerCountersDlg.h"

namespace tarvel {
namespace {

QPushButton* Button(QWidget* parent, const char* text, const char* tip) {
    auto* button = new QPushButton(text, parent);
    button->setAutoDefault(false);
    button->setToolTip(tip);
    return button;
}

QLabel* Caption(QWidget* parent, const char* text, QWidget* field) {
    auto* label = new QLabel(text, parent);
    label->setBuddy(field);
    return label;
}

}  // namespace

MonitorRunDlg::MonitorRunDlg(MonitorRunControl& control, QWidget* parent)
    : QWidget(parent), control_(control) {
    setObjectName("monitorRun");
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 4, 0, 4);

    addresses_ = new QLineEdit(this);
    addresses_->setObjectName("runAddresses");
    addresses_->setToolTip("Addresses and ranges of them, separated by commas: 1-10,17. A test "
                           "run asks at most 64; a scan asks all it is given.");
    addresses_->setMaximumWidth(140);
    register_ = new QSpinBox(this);
    register_->setObjectName("runRegister");
    register_->setRange(0, 65535);
    register_->setToolTip("The first holding register read, as its address goes on the wire: a "
                          "Modbus document's register n is address n - 1; JBus documents give "
                          "the wire address. An exception answer proves the line as well.");
    count_ = new QSpinBox(this);
    count_->setObjectName("runCount");
    count_->setRange(1, 125);
    window_ = new QDoubleSpinBox(this);
    window_->setObjectName("runWindow");
    window_->setRange(0.01, 10.0);
    window_->setDecimals(2);
    window_->setSingleStep(0.05);
    window_->setSuffix(" s");
    window_->setValue(0.5);
    window_->setToolTip("How long each answer is waited for");
    testBtn_ =
        Button(this, "Test", "Asks the addresses over and over, each exchange judged, until Stop");
    scanBtn_ = Button(this, "Scan", "Asks each address once, with its retries: who answers");
    stopBtn_ = Button(this, "Stop", "Ends the test or the scan after the exchange in progress");
    countersBtn_ = Button(this, "Counters...",
                          "What each controller counted of its bus from its own place on the "
                          "cable, and who it is");
    progress_ = new QLabel(this);
    progress_->setObjectName("runProgress");
    progress_->setTextFormat(Qt::PlainText);
    progress_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // However long the text grows, the buttons stay where the operator's mouse expects them.
    progress_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    row->addWidget(Caption(this, "Addresses", addresses_));
    row->addWidget(addresses_);
    row->addWidget(Caption(this, "Register", register_));
    row->addWidget(register_);
    row->addWidget(Caption(this, "Count", count_));
    row->addWidget(count_);
    row->addWidget(Caption(this, "Answer window", window_));
    row->addWidget(window_);
    row->addWidget(testBtn_);
    row->addWidget(scanBtn_);
    row->addWidget(stopBtn_);
    row->addWidget(countersBtn_);
    row->addWidget(progress_, 1);

    connect(testBtn_, &QPushButton::clicked, this, &MonitorRunDlg::TestBtn_Click);
    connect(scanBtn_, &QPushButton::clicked, this, &MonitorRunDlg::ScanBtn_Click);
    connect(stopBtn_, &QPushButton::clicked, this, &MonitorRunDlg::StopBtn_Click);
    connect(countersBtn_, &QPushButton::clicked, this, &MonitorRunDlg::CountersBtn_Click);
    Refresh();
}

MonitorRunChoice MonitorRunDlg::Choice() const {
    MonitorRunChoice choice;
    choice.addresses = addresses_->text().trimmed().remove(' ').toStdString();
    choice.request.start = register_->value();
    choice.request.count = count_->value();
    choice.answerWindow =
        std::chrono::duration_cast<Duration>(std::chrono::duration<double>(window_->value()));
    return choice;
}

void MonitorRunDlg::TestBtn_Click() {
    control_.TestBtn_Click(Choice());
    Refresh();
}

void MonitorRunDlg::ScanBtn_Click() {
    control_.ScanBtn_Click(Choice());
    Refresh();
}

void MonitorRunDlg::StopBtn_Click() {
    control_.StopBtn_Click();
    Refresh();
}

void MonitorRunDlg::CountersBtn_Click() {
    if (counters_ == nullptr) {
        counters_ = new ControllerCountersDlg(
            control_, [this] { return Choice(); }, this);
    }
    counters_->show();
    counters_->raise();
    counters_->activateWindow();
}

void MonitorRunDlg::Refresh() {
    if (counters_ != nullptr) {
        counters_->Refresh();
    }
    const bool running = control_.Running();
    // A run goes on to its end even if "Comm" could be changed meanwhile: it is shown until then.
    setVisible(running || control_.Offered());
    // Every address of the protocol chosen, until the operator writes his own.
    const QString all = QString::fromStdString(control_.AllStationsText());
    if (!all.isEmpty() && all != allStations_ && addresses_->text() == allStations_) {
        addresses_->setText(all);
        allStations_ = all;
    }
    // The protocol's own window too (ASCII waits longer than RTU), until the operator sets one.
    if (const auto window = control_.ProtocolWindow()) {
        const double seconds = std::chrono::duration<double>(*window).count();
        if (seconds != protocolWindow_ && window_->value() == protocolWindow_) {
            window_->setValue(seconds);
            protocolWindow_ = seconds;
        }
    }
    for (QWidget* field : std::initializer_list<QWidget*>{addresses_, register_, count_, window_,
                                                          testBtn_, scanBtn_}) {
        field->setEnabled(!running);
    }
    stopBtn_->setEnabled(running);
    if (control_.Revision() == shown_ && !running) {
        return;
    }
    shown_ = control_.Revision();
    progress_->setText(QString::fromStdString(control_.ProgressText()));
    progress_->setToolTip(progress_->text());
}

QString MonitorRunDlg::ProgressText() const { return progress_->text(); }

}  // namespace tarvel
