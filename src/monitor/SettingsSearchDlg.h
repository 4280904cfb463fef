// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>
#include <cstdint>

#include "monitor/SettingsSearchControl.h"

class QLabel;
class QPushButton;
class QTableWidget;

namespace tarvel {

// The Line Monitor's part for the search across settings: "Search all settings..." and Stop,
// where the search stands, the controllers found with the settings they answered at, and the
// warning when they answer at different ones. It only reads the control; the window refreshes
// it with its own refresh.
class SettingsSearchDlg final : public QWidget {
    Q_OBJECT
public:
    SettingsSearchDlg(SettingsSearchControl& control, QWidget* parent = nullptr);

    void SearchBtn_Click();
    void StopBtn_Click();
    // Catches up with the control when it has news.
    void Refresh();

    QPushButton& SearchButton() { return *searchBtn_; }
    QPushButton& StopButton() { return *stopBtn_; }
    const QTableWidget& Results() const { return *results_; }
    QString ProgressText() const;
    QString AdviceText() const;

private:
    SettingsSearchControl& control_;
    QPushButton* searchBtn_;
    QPushButton* stopBtn_;
    QLabel* progress_;
    QLabel* advice_;
    QTableWidget* results_;
    std::uint64_t shown_ = ~std::uint64_t{0};
};

}  // namespace tarvel
