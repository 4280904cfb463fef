// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "lines/QtSerialLine.h"
#include "platform/QtScheduler.h"
#include "serial/PortService.h"
#include "support/LineRig.h"
#include "support/RealTime.h"

namespace tarvel::testing {

// The program's line on COM1 = `url`, with the port service over it, on Qt's event loop.
struct NetworkRig {
    PortMap ports;
    QtScheduler scheduler;
    QtSerialLine line{ports, scheduler};
    Primo primo = Primo9600();
    PortService port{line, primo, scheduler};

    explicit NetworkRig(const std::string& url) { ports.Assign(1, url); }
    // OpenPort as the dialog's OK does it: true when it failed.
    bool Open() { return RunInEventLoop(port.OpenPortAsync(), std::chrono::seconds(8)); }
};

}  // namespace tarvel::testing
