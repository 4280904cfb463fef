#pragma once

#include "engine/RunControl.h"
#include "support/FakeControls.h"
#include "support/LineRig.h"
#include "support/ScriptedPrompts.h"

namespace tarvel::testing {

// The test cycle with its run control on virtual time, a simulated line and controls without
// widgets, in the state the main window starts in.
struct EngineRig : LineRig {
    LineUse lineUse{time};
    ScriptedPrompts prompts;
    FakeSwitch StartBtn, StopBtn, ConsolleBtn, CommBtn, SearchMenu, ResetBtn;
    FakeChoiceList MaxNumCmb, ControllerCmb, AddressCmb;
    FakeText TxLbl, RxLbl, ErrorLbl, StatusPanel1;
    FakeProgress ProgressBar;
    FakeListBox clipboard, analyzer;
    ControllerAddressTable table = StartupAddressTable();
    RunControl run{primo,
                   port,
                   lineUse,
                   prompts,
                   RunPanel{StartBtn, StopBtn, ConsolleBtn, CommBtn, SearchMenu, MaxNumCmb,
                            ControllerCmb, AddressCmb, ResetBtn, TxLbl, RxLbl, ErrorLbl,
                            StatusPanel1, ProgressBar},
                   table,
                   ErrorLists{[this]() -> ListBox& { return clipboard; },
                              [this]() -> ListBox& { return analyzer; }}};

    EngineRig() {
        for (int count = 1; count <= 64; ++count) {
            MaxNumCmb.AddItem(std::to_string(count));
        }
        Configure(1, 2);
        ErrorLbl.text = "0";
        StopBtn.enabled = false;
        ResetBtn.enabled = false;
        clipboard.visible = false;
    }

    // `count` controllers at the start-up addresses, `retries` further attempts.
    void Configure(int count, int retries) {
        primo.DeviceCount = static_cast<std::int16_t>(count);
        MaxNumCmb.index = count - 1;
        primo.RetryCount = static_cast<std::int16_t>(retries);
    }
    int Errors() const { return static_cast<int>(LeadingNumber(ErrorLbl.text)); }
    bool RunUntil(const std::function<bool()>& done, Duration limit = std::chrono::hours(1)) {
        return time.RunUntil(done, limit);
    }
    // Runs until the cycle has returned.
    bool RunToEnd(Duration limit = std::chrono::hours(1)) {
        return time.RunUntil([this] { return !run.Active(); }, limit);
    }
    void StopAfter(Duration span) {
        time.CallAt(time.Now() + span, [this] { run.StopBtn_Click(); });
    }
};

}  // namespace tarvel::testing
