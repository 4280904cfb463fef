// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMainWindow>
#include <memory>

#include <QCoroTask>

#include "engine/RunControl.h"
#include "engine/RunDisplay.h"
#include "engine/TestCycle.h"
#include "line/DeviceTableEditor.h"
#include "line/LineConfigCommands.h"
#include "line/LineDetector.h"
#include "line/ScanControl.h"
#include "line/ScanDisplay.h"
#include "monitor/LineMonitor.h"
#include "monitor/ListenControl.h"
#include "platform/Tasks.h"
#include "ui/QtControls.h"

class QAction;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace tarvel {

class ClickablePicture;
class Program;
class StatusPanels;

// The main window "Tarvel at work": the hub from which every operation starts. It owns the
// device table, the status bar and the progress bar; its handlers that belong to a subsystem
// hand over to that subsystem's logic.
class TarvelDlg final : public QMainWindow {
    Q_OBJECT
public:
    explicit TarvelDlg(Program& program);
    ~TarvelDlg() override;

    void Form_Load();

    void CommBtn_Click();
    void ConsolleBtn_Click();
    void ExitMenu_Click();
    void MaxNumCmb_Click() { table_->MaxNumCmb_Click(); }
    void ControllerCmb_Click() { table_->ControllerCmb_Click(); }
    void AddressCmb_Click() { table_->AddressCmb_Click(); }
    void StartBtn_Click() { run_->StartBtn_Click(); }
    void StopBtn_Click() { run_->StopBtn_Click(); }
    void ResetBtn_Click() { run_->ResetBtn_Click(); }
    void ReportBtn_Click();
    void AnalizerBtn_Click();
    void ViewBtn_Click();
    void Picture1_Click();
    void ResetMenu_Click() { config_->ResetMenu_Click(); }
    void SaveMEnu_Click() { config_->SaveMEnu_Click(); }
    void LoadMenu_Click() { config_->LoadMenu_Click(); }
    void SearchMenu_Click() { scan_->SearchMenu_Click(); }
    void MonitorMenu_Click();

    // The controls, as the subsystems see them.
    struct Controls {
        WidgetSwitch CommBtn, StartBtn, StopBtn, ConsolleBtn, ReportBtn, AnalizerBtn, ResetBtn,
            ViewBtn;
        ActionSwitch SearchMenu, FileMenu;
        ComboChoiceList MaxNumCmb, ControllerCmb, AddressCmb;
        LabelText TxLbl, RxLbl, ErrorLbl;
        BarProgress ProgressBar;
    };
    Controls& Ui() { return *ui_; }
    TextDisplay& StatusPanel(int number);
    StatusPanels& StatusBar() { return *StatusBar_; }
    DeviceTableEditor& DeviceTable() { return *table_; }
    TestCycle& Cycle() { return *cycle_; }
    RunDisplay& RunView() { return *runDisplay_; }
    RunControl& Run() { return *run_; }
    LineDetector& Detector() { return *detector_; }
    ScanControl& Scan() { return *scan_; }
    ControllerAddressTable& ControllerAddress() { return ControllerAddress_; }
    // Listens to every run and scan, whether or not its window is open.
    LineMonitor& Monitor() { return *monitor_; }
    // "Listen" and "Stop listening" of the Line Monitor's window, which is made only when shown.
    ListenControl& Listening() { return *listen_; }

protected:
    // The frame's close control acts like "E&xit !", so the process never lives on with only
    // hidden windows.
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildLayout();
    void BuildMenus();
    void Connect();
    enum class LineDialog { Port, Terminal };
    // Opens a modal window that uses the line once no loop is using it any more.
    QCoro::Task<> ShowWhenLineIsFree(LineDialog which);

    Program& program_;
    ControllerAddressTable ControllerAddress_{};

    QPushButton* CommBtn;
    QComboBox* MaxNumCmb;
    QComboBox* ControllerCmb;
    QComboBox* AddressCmb;
    ClickablePicture* Picture1;
    QPushButton* StartBtn;
    QPushButton* StopBtn;
    QPushButton* ConsolleBtn;
    QPushButton* ReportBtn;
    QPushButton* AnalizerBtn;
    QLabel* TxLbl;
    QLabel* RxLbl;
    QLabel* ErrorLbl;
    QPushButton* ResetBtn;
    QPushButton* ViewBtn;
    QProgressBar* ProgressBar;
    StatusPanels* StatusBar_;
    QAction* FileMenu;
    QAction* ResetMenu;
    QAction* SaveMEnu;
    QAction* LoadMenu;
    QAction* SearchMenu;
    QAction* ExitMenu;
    QAction* MonitorMenu;

    std::unique_ptr<Controls> ui_;
    std::unique_ptr<DeviceTableEditor> table_;
    std::unique_ptr<LineConfigCommands> config_;
    // Before the loops it listens to, so that it outlives them.
    std::unique_ptr<LineMonitor> monitor_;
    std::unique_ptr<ListenControl> listen_;
    std::unique_ptr<TestCycle> cycle_;
    std::unique_ptr<RunDisplay> runDisplay_;
    std::unique_ptr<RunControl> run_;
    std::unique_ptr<LineDetector> detector_;
    std::unique_ptr<ScanDisplay> scanDisplay_;
    std::unique_ptr<ScanControl> scan_;
    TaskOwner dialogTasks_;
    bool commPending_ = false;
    bool terminalPending_ = false;
};

}  // namespace tarvel
