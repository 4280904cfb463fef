// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>
#include <cstdint>

#include "monitor/MonitorRunControl.h"

class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace tarvel {

class ControllerCountersDlg;

// The Line Monitor's part for its own test and scan, shown while the protocol chosen in "Comm"
// is one the main window does not run: the addresses, the registers the test request reads and
// the answer window, "Test", "Scan" and "Stop", and where the run stands. What the run finds
// shows in the monitor's statistics, charts and traffic like any run. It only reads the
// control; the window refreshes it with its own refresh.
class MonitorRunDlg final : public QWidget {
    Q_OBJECT
public:
    MonitorRunDlg(MonitorRunControl& control, QWidget* parent = nullptr);

    void TestBtn_Click();
    void ScanBtn_Click();
    void StopBtn_Click();
    // Shows "Controller counters", for the addresses given here.
    void CountersBtn_Click();
    // Catches up with the control, and shows or hides itself with the protocol chosen.
    void Refresh();

    // What the fields hold now.
    MonitorRunChoice Choice() const;
    QLineEdit& AddressesEdit() { return *addresses_; }
    QSpinBox& RegisterBox() { return *register_; }
    QSpinBox& CountBox() { return *count_; }
    QDoubleSpinBox& WindowBox() { return *window_; }
    QPushButton& TestButton() { return *testBtn_; }
    QPushButton& ScanButton() { return *scanBtn_; }
    QPushButton& StopButton() { return *stopBtn_; }
    QPushButton& CountersButton() { return *countersBtn_; }
    // Nothing until "Counters..." was first clicked.
    ControllerCountersDlg* CountersWindow() { return counters_; }
    QString ProgressText() const;

private:
    MonitorRunControl& control_;
    QLineEdit* addresses_;
    QSpinBox* register_;
    QSpinBox* count_;
    QDoubleSpinBox* window_;
    QPushButton* testBtn_;
    QPushButton* scanBtn_;
    QPushButton* stopBtn_;
    QPushButton* countersBtn_;
    ControllerCountersDlg* counters_ = nullptr;
    QLabel* progress_;
    std::uint64_t shown_ = ~std::uint64_t{0};
    // What the addresses and answer window fields were last given of themselves.
    QString allStations_;
    double protocolWindow_ = 0.5;
};

}  // namespace tarvel
