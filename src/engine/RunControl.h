// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoroTask>
#include <string>

#include "core/Primo.h"
#include "engine/RunDisplay.h"
#include "engine/TestCycle.h"
#include "platform/Prompts.h"
#include "platform/Tasks.h"
#include "serial/LineUse.h"
#include "serial/PortService.h"

namespace tarvel {

// Start, Stop and Reset: the protocol dispatch, one run at a time on a line that nothing else
// uses meanwhile, and what the operator is told when a run cannot go on.
class RunControl {
public:
    RunControl(Primo& primo, PortService& port, LineUse& lineUse, Prompts& prompts,
               TestCycle& cycle, RunDisplay& display);

    void StartBtn_Click();
    void StopBtn_Click();
    void ResetBtn_Click();

    // A run is under way, or waits for the line to start.
    bool Active() const { return tasks_.Running() > 0; }
    // Resumes once the run in progress (if any) has ended and its messages are closed.
    QCoro::Task<> Finished() { return tasks_.AllFinished(); }

private:
    QCoro::Task<> RunTest();
    bool StartPending() const;
    void ReportInternalFailure(const std::string& what);

    Primo& primo_;
    PortService& port_;
    LineUse& lineUse_;
    Prompts& prompts_;
    TestCycle& cycle_;
    RunDisplay& display_;
    bool waitingForLine_ = false;
    TaskOwner tasks_;
};

}  // namespace tarvel
