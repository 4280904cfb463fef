// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoroTask>
#include <string>

#include "core/Primo.h"
#include "line/LineDetector.h"
#include "line/ScanDisplay.h"
#include "platform/Prompts.h"
#include "platform/Tasks.h"
#include "serial/LineUse.h"
#include "serial/PortService.h"

namespace tarvel {

// "&Search!": the protocol gate, one scan at a time on a line that nothing else uses meanwhile,
// and what the operator is told when a scan cannot go on. Stop is the run control's.
class ScanControl {
public:
    ScanControl(Primo& primo, PortService& port, LineUse& lineUse, Prompts& prompts,
                LineDetector& detector, ScanDisplay& display);

    void SearchMenu_Click();

    // A scan is under way, or waits for the line to start.
    bool Active() const { return tasks_.Running() > 0; }
    QCoro::Task<> Finished() { return tasks_.AllFinished(); }

private:
    QCoro::Task<> RunScan();
    void ReportInternalFailure(const std::string& what);

    Primo& primo_;
    PortService& port_;
    LineUse& lineUse_;
    Prompts& prompts_;
    LineDetector& detector_;
    ScanDisplay& display_;
    bool waitingForLine_ = false;
    TaskOwner tasks_;
};

}  // namespace tarvel
