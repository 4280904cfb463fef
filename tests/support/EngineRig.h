// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/RunControl.h"
#include "engine/RunDisplay.h"
#include "engine/TestCycle.h"
#include "support/FakeRunPanel.h"
#include "support/LineRig.h"
#include "support/ScriptedPrompts.h"

namespace tarvel::testing {

// The test cycle, what the main window shows of it and its run control, on virtual time, a
// simulated line and controls without widgets, in the state the main window starts in.
struct EngineRig : LineRig, FakeRunPanel {
    LineUse lineUse{time};
    ScriptedPrompts prompts;
    ControllerAddressTable table = StartupAddressTable();
    TestCycle cycle{primo, port, table};
    RunDisplay display{primo, Panel(), Lists()};
    RunControl run{primo, port, lineUse, prompts, cycle, display};

    explicit EngineRig(EchoMode echo = EchoMode::Off) : LineRig(echo) {
        cycle.AddSink(display);
        Configure(1, 2);
    }

    void Configure(int count, int retries) { FakeRunPanel::Configure(primo, count, retries); }
    bool RunUntil(const std::function<bool()>& done, Duration limit = std::chrono::hours(1)) {
        return time.RunUntil(done, limit);
    }
    // Runs until the run and what follows it (a message about a failed line) have ended.
    bool RunToEnd(Duration limit = std::chrono::hours(1)) {
        return time.RunUntil([this] { return !run.Active(); }, limit);
    }
};

}  // namespace tarvel::testing
