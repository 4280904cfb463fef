// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

#include "core/Primo.h"
#include "engine/CycleSink.h"
#include "platform/Controls.h"

namespace tarvel {

// The main window's controls that show a run.
struct RunControls {
    // The run set: Start and Stop, and what a run disables.
    Switch& StartBtn;
    Switch& StopBtn;
    Switch& ConsolleBtn;
    Switch& CommBtn;
    Switch& SearchMenu;
    Switch& MaxNumCmb;
    Switch& ControllerCmb;
    Switch& AddressCmb;

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

// What the main window shows of the test cycle: the status panel, the progress bar, the "Send"
// and "Receive" displays, the error list and the "Total Error" counter with its change handler,
// and the run set.
class RunDisplay final : public CycleSink {
public:
    RunDisplay(Primo& primo, RunControls controls, ErrorLists lists);

    void RunStarted(int controllers) override;
    void AttemptStarting(int position) override;
    void RequestWritten(const Request& request) override;
    void ExchangeJudged(const Exchange& exchange) override;
    void ErrorsCounted(int errors) override;
    void RunEnded(const RunEnd& end) override;
    // A run that broke off without reporting its end: shown as one that ended on a failure.
    void RunAborted();

    // Runs whenever the counter's caption changes, with the count it now shows: Reset comes on
    // from the first error, and the error limit stops the run.
    void ErrorLbl_Change(int errors);

    // Start off and Stop on with the rest of the run set off while running; the reverse after.
    void SwitchRunSet(bool running);
    // The run set back, as Stop and the error limit give it; not while a run that has been
    // accepted waits to start (the end of the run before it gives nothing back then).
    void RestoreRunSet();
    // The whole run set off, Stop included: a run has been accepted and waits for the line or
    // settles it, and nothing of the run set may be pressed meanwhile.
    void HoldRunSet();
    // Whether an accepted run or scan waits to start: what ends before it gives nothing back.
    bool Held() const { return pendingStarts_ > 0; }
    // A scan accepted, and then started or broken off, counts like a run.
    void AddPendingStart() { ++pendingStarts_; }
    void RemovePendingStart() {
        if (pendingStarts_ > 0) {
            --pendingStarts_;
        }
    }
    // Reset's part: both lists emptied, the error list hidden, Reset disabled.
    void ClearErrorLists();

private:
    Primo& primo_;
    RunControls controls_;
    ErrorLists lists_;
    int pendingStarts_ = 0;
    bool runPending_ = false;  // this display's own run is one of them
};

}  // namespace tarvel
