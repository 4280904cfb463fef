// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>

#include "monitor/MonitorRunControl.h"

class QLabel;
class QPushButton;
class QTableWidget;

namespace tarvel {

// "Controller counters", the Line Monitor's window for what each Modbus controller counted of
// its bus from its own place on the cable, read on request for the addresses of the monitor's
// run: one row per controller in address order, with its CRC errors per thousand bus
// messages, the row where that rate first rises above the line's median marked, and what the
// controller told of itself where it was asked. Clearing asks for confirmation first. It only
// reads the control; the Line Monitor refreshes it with its own refresh.
class ControllerCountersDlg final : public QWidget {
    Q_OBJECT
public:
    ControllerCountersDlg(MonitorRunControl& control, std::function<MonitorRunChoice()> choice,
                          QWidget* parent = nullptr);

    void ReadBtn_Click();
    void ClearBtn_Click();
    void IdentifyBtn_Click();
    void StopBtn_Click();
    // Catches up with the control.
    void Refresh();

    QTableWidget& Table() { return *table_; }
    QPushButton& ReadButton() { return *readBtn_; }
    QPushButton& ClearButton() { return *clearBtn_; }
    QPushButton& IdentifyButton() { return *identifyBtn_; }
    QString MarkText() const;
    QString StatusText() const;

private:
    void Fill();

    MonitorRunControl& control_;
    std::function<MonitorRunChoice()> choice_;
    QTableWidget* table_;
    QPushButton* readBtn_;
    QPushButton* clearBtn_;
    QPushButton* identifyBtn_;
    QPushButton* stopBtn_;
    QLabel* mark_;
    QLabel* status_;
    std::uint64_t shown_ = ~std::uint64_t{0};
};

}  // namespace tarvel
