// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/SettingsSearchDlg.h"

#include <QBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <algorithm>

namespace tarvel {

SettingsSearchDlg::SettingsSearchDlg(SettingsSearchControl& control, QWidget* parent)
    : QWidget(parent), control_(control) {
    setObjectName("settingsSearch");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 4, 0, 4);
    layout->setSpacing(2);

    auto* row = new QHBoxLayout;
    searchBtn_ = new QPushButton("Search all settings...", this);
    searchBtn_->setAutoDefault(false);
    searchBtn_->setToolTip(
        "Asks every address at every speed and parity of the protocol chosen in \"Comm\", and "
        "confirms each find with a second request: for Ascon the 64 addresses from 9600 to 150 "
        "baud, about 6 minutes on an empty line. The port's own settings are put back "
        "afterwards.");
    stopBtn_ = new QPushButton("Stop", this);
    stopBtn_->setAutoDefault(false);
    stopBtn_->setToolTip("Ends the search after the address being asked, with what was found");
    progress_ = new QLabel(this);
    progress_->setObjectName("searchProgress");
    progress_->setTextFormat(Qt::PlainText);
    progress_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    row->addWidget(searchBtn_);
    row->addWidget(stopBtn_);
    row->addWidget(progress_, 1);
    layout->addLayout(row);

    results_ = new QTableWidget(0, 3, this);
    results_->setObjectName("searchResults");
    results_->setHorizontalHeaderLabels({"Address", "Settings", "Confirmed"});
    results_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    results_->setSelectionBehavior(QAbstractItemView::SelectRows);
    results_->verticalHeader()->hide();
    results_->horizontalHeader()->setStretchLastSection(true);
    results_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    results_->verticalHeader()->setDefaultSectionSize(results_->fontMetrics().height() + 6);
    results_->hide();
    layout->addWidget(results_);

    advice_ = new QLabel(this);
    advice_->setObjectName("searchAdvice");
    advice_->setTextFormat(Qt::PlainText);
    advice_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    advice_->setWordWrap(true);
    advice_->hide();
    layout->addWidget(advice_);

    connect(searchBtn_, &QPushButton::clicked, this, &SettingsSearchDlg::SearchBtn_Click);
    connect(stopBtn_, &QPushButton::clicked, this, &SettingsSearchDlg::StopBtn_Click);
    Refresh();
}

void SettingsSearchDlg::SearchBtn_Click() {
    control_.SearchBtn_Click();
    Refresh();
}

void SettingsSearchDlg::StopBtn_Click() {
    control_.StopBtn_Click();
    Refresh();
}

void SettingsSearchDlg::Refresh() {
    // The buttons follow the search even when nothing else changed.
    searchBtn_->setEnabled(!control_.Searching());
    stopBtn_->setEnabled(control_.Searching() && !control_.Stopping());
    stopBtn_->setVisible(control_.Searched());
    if (control_.Revision() == shown_ && !control_.Searching()) {
        return;
    }
    shown_ = control_.Revision();
    progress_->setText(QString::fromStdString(control_.ProgressText()));
    const std::vector<SearchFind>& finds = control_.Finds();
    if (results_->rowCount() != static_cast<int>(finds.size())) {
        results_->setRowCount(static_cast<int>(finds.size()));
        for (int row = 0; row < static_cast<int>(finds.size()); ++row) {
            const SearchFind& find = finds[static_cast<std::size_t>(row)];
            const QString cells[] = {
                QString::fromStdString(control_.StationText(find.index)),
                QString::fromStdString(find.setting.Name()),
                find.confirmed ? QString("yes") : QString("no: one answer, not a second")};
            for (int column = 0; column < 3; ++column) {
                results_->setItem(row, column, new QTableWidgetItem(cells[column]));
            }
        }
        results_->resizeColumnsToContents();
        // As tall as its rows, up to six: more scroll, and the monitor below keeps its room.
        const int rows = std::min(results_->rowCount(), 6);
        results_->setFixedHeight(results_->horizontalHeader()->sizeHint().height() +
                                 rows * results_->verticalHeader()->defaultSectionSize() +
                                 2 * results_->frameWidth());
    }
    results_->setVisible(!finds.empty());
    const QString advice = QString::fromStdString(control_.AdviceText());
    advice_->setText(advice);
    advice_->setVisible(!advice.isEmpty());
}

QString SettingsSearchDlg::ProgressText() const { return progress_->text(); }

QString SettingsSearchDlg::AdviceText() const { return advice_->text(); }

}  // namespace tarvel
