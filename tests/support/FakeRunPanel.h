// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/NumberText.h"
#include "core/Primo.h"
#include "engine/RunDisplay.h"
#include "support/FakeControls.h"

namespace tarvel::testing {

// The main window's controls that a run drives, without widgets, in their start-up state.
struct FakeRunPanel {
    FakeSwitch StartBtn, StopBtn, ConsolleBtn, CommBtn, SearchMenu, ResetBtn;
    FakeChoiceList MaxNumCmb, ControllerCmb, AddressCmb;
    FakeText TxLbl, RxLbl, ErrorLbl, StatusPanel1;
    FakeProgress ProgressBar;
    FakeListBox clipboard, analyzer;

    FakeRunPanel() {
        for (int count = 1; count <= 64; ++count) {
            MaxNumCmb.AddItem(std::to_string(count));
        }
        ErrorLbl.text = "0";
        StopBtn.enabled = false;
        ResetBtn.enabled = false;
        clipboard.visible = false;
    }
    FakeRunPanel(const FakeRunPanel&) = delete;
    FakeRunPanel& operator=(const FakeRunPanel&) = delete;

    RunControls Panel() {
        return RunControls{StartBtn,  StopBtn,       ConsolleBtn,  CommBtn,    SearchMenu,
                           MaxNumCmb, ControllerCmb, AddressCmb,   ResetBtn,   TxLbl,
                           RxLbl,     ErrorLbl,      StatusPanel1, ProgressBar};
    }
    ErrorLists Lists() {
        return ErrorLists{[this]() -> ListBox& { return clipboard; },
                          [this]() -> ListBox& { return analyzer; }};
    }
    // `count` controllers shown in "Total Device", `retries` further attempts.
    void Configure(Primo& primo, int count, int retries) {
        primo.DeviceCount = static_cast<std::int16_t>(count);
        MaxNumCmb.index = count - 1;
        primo.RetryCount = static_cast<std::int16_t>(retries);
    }
    int Errors() const { return static_cast<int>(LeadingNumber(ErrorLbl.text)); }
};

}  // namespace tarvel::testing
