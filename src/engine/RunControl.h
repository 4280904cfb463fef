#pragma once

#include <QCoroTask>
#include <functional>
#include <optional>
#include <string>

#include "app/Primo.h"
#include "engine/Verdict.h"
#include "line/DeviceTable.h"
#include "platform/Controls.h"
#include "platform/Prompts.h"
#include "serial/LineUse.h"
#include "serial/PortService.h"

namespace tarvel {

// The controls of the main window that a run drives.
struct RunPanel {
    Switch& StartBtn;
    Switch& StopBtn;
    Switch& ConsolleBtn;
    Switch& CommBtn;
    Switch& SearchMenu;
    ChoiceList& MaxNumCmb;
    ChoiceList& ControllerCmb;
    ChoiceList& AddressCmb;
    Switch& ResetBtn;
    TextDisplay& TxLbl;
    TextDisplay& RxLbl;
    TextDisplay& ErrorLbl;  // the error counter, "Total Error"
    TextDisplay& StatusPanel1;
    ProgressDisplay& ProgressBar;
};

// The lists a run and Reset write to, reached (and so created) only when first needed.
struct ErrorLists {
    std::function<ListBox&()> clipboard;  // the error list
    std::function<ListBox&()> analyzer;   // the analyzer's working copy
};

// Start, Stop and Reset, and the Ascon test cycle they drive: sweep after sweep over the
// configured controllers, each asked up to 1 + RetryCount times, every failed exchange recorded
// in the error list and counted, until Stop or the error limit.
class RunControl {
public:
    RunControl(Primo& primo, PortService& port, LineUse& lineUse, Prompts& prompts, RunPanel panel,
               const ControllerAddressTable& table, ErrorLists lists);

    void StartBtn_Click();
    void StopBtn_Click();
    void ResetBtn_Click();
    void ErrorLbl_Change();

    // The test cycle itself; StartBtn_Click runs it once the line is free.
    QCoro::Task<> TxAscon();

    // A run is under way, or waits for the line to start.
    bool Active() const { return startRequested_ || running_; }
    // Gives the controls of the run set back, as Stop and the error limit do.
    void RestoreRunSet();

private:
    QCoro::Task<> RunAscon();
    QCoro::Task<> Sweep();
    // The verdict of one request and its answer, or nothing when the line failed.
    QCoro::Task<std::optional<ExchangeVerdict>> Attempt(int position);
    QCoro::Task<bool> OutputDrained();
    void Record(ExchangeVerdict verdict, int attempt);
    void FailLine(std::string reason);
    // Start off and Stop on with the rest of the run set off while running; the reverse after.
    void SwitchRunSet(bool running);

    Primo& primo_;
    PortService& port_;
    LineUse& lineUse_;
    Prompts& prompts_;
    RunPanel panel_;
    const ControllerAddressTable& table_;
    ErrorLists lists_;

    bool startRequested_ = false;
    bool running_ = false;
    std::string lineFailure_;
};

}  // namespace tarvel
