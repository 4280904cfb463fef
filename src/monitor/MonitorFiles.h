// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoroTask>
#include <functional>
#include <string>

#include "monitor/LineMonitor.h"
#include "platform/Prompts.h"
#include "platform/Scheduler.h"

namespace tarvel {

FileRequest SaveTrafficRequest();
FileRequest SaveStatisticsRequest();

// Saves what the line monitor holds as CSV files, asking the operator where. The traffic of a
// long run is tens of megabytes of text: it is made and written away from the program's thread,
// from a copy taken when the operator chose the file, so the window and the run go on meanwhile.
class MonitorFiles {
public:
    MonitorFiles(const LineMonitor& monitor, Prompts& prompts, Scheduler& scheduler)
        : monitor_(monitor), prompts_(prompts), scheduler_(scheduler) {}

    QCoro::Task<> SaveTraffic();
    QCoro::Task<> SaveStatistics();
    // True, with the operator told, while an earlier save is still writing: two saves to the
    // same file would race for it.
    bool RefuseWhileBusy(int savesRunning);

private:
    QCoro::Task<> Write(std::string path, std::string what, std::function<std::string()> makeText);

    const LineMonitor& monitor_;
    Prompts& prompts_;
    Scheduler& scheduler_;
};

}  // namespace tarvel
