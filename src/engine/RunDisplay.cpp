// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/RunDisplay.h"

#include <utility>

namespace tarvel {

RunDisplay::RunDisplay(Primo& primo, RunControls controls, ErrorLists lists)
    : primo_(primo), controls_(controls), lists_(std::move(lists)) {}

void RunDisplay::RunStarted(int controllers) {
    if (std::exchange(runPending_, false)) {
        RemovePendingStart();
    }
    SwitchRunSet(true);
    controls_.ProgressBar.SetMaximum(controllers);
    controls_.StatusPanel1.SetText("The Tarvel has working !");
}

void RunDisplay::AttemptStarting(int position) { controls_.ProgressBar.SetValue(position + 1); }

void RunDisplay::RequestWritten(const Request& request) { controls_.TxLbl.SetText(request.frame); }

void RunDisplay::ExchangeJudged(const Exchange& exchange) {
    if (!exchange.Failed()) {
        controls_.RxLbl.SetText(exchange.answer.substr(0, exchange.answer.size() - 1));
        return;
    }
    ListBox& errors = lists_.clipboard();
    errors.AddItem(ErrorRecord(exchange));
    errors.SetVisible(true);
    controls_.RxLbl.SetText(VerdictMessage(exchange));
}

void RunDisplay::ErrorsCounted(int errors) {
    controls_.ErrorLbl.SetText(std::to_string(errors));
    ErrorLbl_Change(errors);
}

void RunDisplay::ErrorLbl_Change(int errors) {
    if (errors > 0) {
        controls_.ResetBtn.SetEnabled(true);
    }
    if (errors >= ErrorLimit) {
        primo_.StopFlag = kTrue;
        RestoreRunSet();
        controls_.RxLbl.SetText("There are too Errors !");
    }
}

void RunDisplay::RunEnded(const RunEnd& end) {
    if (!end.lineFailure.empty()) {
        // A failed line ends the run as Stop would.
        RestoreRunSet();
    }
    controls_.StatusPanel1.SetText("The Tarvel has finished !");
}

void RunDisplay::RunAborted() {
    if (std::exchange(runPending_, false)) {
        RemovePendingStart();
    }
    RestoreRunSet();
    controls_.StatusPanel1.SetText("The Tarvel has finished !");
}

void RunDisplay::HoldRunSet() {
    if (!std::exchange(runPending_, true)) {
        AddPendingStart();
    }
    SwitchRunSet(true);
    controls_.StopBtn.SetEnabled(false);
}

void RunDisplay::RestoreRunSet() {
    if (!Held()) {
        SwitchRunSet(false);
    }
}

void RunDisplay::SwitchRunSet(bool running) {
    controls_.StartBtn.SetEnabled(!running);
    controls_.StopBtn.SetEnabled(running);
    for (Switch* control :
         {&controls_.ConsolleBtn, &controls_.CommBtn, &controls_.SearchMenu, &controls_.MaxNumCmb,
          &controls_.ControllerCmb, &controls_.AddressCmb}) {
        control->SetEnabled(!running);
    }
}

void RunDisplay::ClearErrorLists() {
    ListBox& errors = lists_.clipboard();
    errors.Clear();
    errors.SetVisible(false);
    lists_.analyzer().Clear();
    controls_.ResetBtn.SetEnabled(false);
}

}  // namespace tarvel
