#pragma once

#include "engine/RunControl.h"
#include "support/FakeRunPanel.h"
#include "support/LineRig.h"
#include "support/ScriptedPrompts.h"

namespace tarvel::testing {

// The test cycle with its run control on virtual time, a simulated line and controls without
// widgets, in the state the main window starts in.
struct EngineRig : LineRig, FakeRunPanel {
    LineUse lineUse{time};
    ScriptedPrompts prompts;
    ControllerAddressTable table = StartupAddressTable();
    RunControl run{primo, port, lineUse, prompts, Panel(), table, Lists()};

    EngineRig() { Configure(1, 2); }

    void Configure(int count, int retries) { FakeRunPanel::Configure(primo, count, retries); }
    bool RunUntil(const std::function<bool()>& done, Duration limit = std::chrono::hours(1)) {
        return time.RunUntil(done, limit);
    }
    // Runs until the cycle has returned.
    bool RunToEnd(Duration limit = std::chrono::hours(1)) {
        return time.RunUntil([this] { return !run.Active(); }, limit);
    }
};

}  // namespace tarvel::testing
