// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoroTask>
#include <string>

#include "core/Primo.h"
#include "lines/SerialLine.h"
#include "platform/Scheduler.h"

namespace tarvel {

using namespace std::chrono_literals;

// The pause of SettleLine, from the lone carriage return to the last read.
inline constexpr Duration SettleTime = 200ms;

// " 4800,N,8, 1": speed, parity letter, data bits and stop bits of the shared state, joined by
// commas with nothing else between them.
std::string SettingsText(const Primo& primo);

// The shared routines on the one serial line.
class PortService {
public:
    PortService(SerialLine& line, Primo& primo, Scheduler& scheduler);

    // Closes the line if it is open.
    void ClosePort();
    // Applies the port number and settings of the shared state and opens the line. Returns
    // true when that failed; the line is then closed and OpenFailure() says why.
    bool OpenPort();
    // OpenPort, with the opening itself awaited rather than waited for: a port across the
    // network connects while the program's thread goes on. The same steps and result.
    QCoro::Task<bool> OpenPortAsync();
    // Clears the line between exchanges: drops what is waiting, sends a lone carriage return,
    // pauses SettleTime from just after it, and drops whatever arrived meanwhile.
    QCoro::Task<> SettleLine();

    const std::string& OpenFailure() const { return openFailure_; }
    SerialLine& Line() { return line_; }
    Scheduler& Time() { return scheduler_; }

private:
    SerialLine& line_;
    Primo& primo_;
    Scheduler& scheduler_;
    std::string openFailure_;
};

}  // namespace tarvel
