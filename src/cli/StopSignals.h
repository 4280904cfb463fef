// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

namespace tarvel {

// SIGINT and SIGTERM ask line-tarvel-cli to stop. The first of them is written to `pipeEnd` as
// one byte, the signal's number, for the event loop to read: a handler may do little more.
// After it both signals take their default action again, so that a second one ends the program
// at once even while the stop itself hangs, on an adapter that no longer answers its driver.
void CatchStopSignals(int pipeEnd);

// SIGHUP asks a watch to reopen its files: written to `pipeEnd` as one byte like the stop
// signals, and caught again each time.
void CatchReopenSignal(int pipeEnd);

// How the report names the signal that ended a run: "Ctrl+C" for SIGINT, "SIGTERM".
std::string StopSignalName(int signal);

}  // namespace tarvel
