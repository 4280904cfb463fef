// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "core/Time.h"

namespace tarvel {

using namespace std::chrono_literals;

// The Ascon read request for parameter "X": the address character, "?X  ", a carriage return.
inline std::string AsconRequest(char address) { return std::string(1, address) + "?X  \r"; }

// A good answer: exactly this many characters, the last one a carriage return.
inline constexpr int AnswerLength = 5;
// Every Ascon frame ends with it.
inline constexpr char AsconFrameEnd = '\r';
// The characters that follow an address in a request: read, write, and the others a
// controller's manual lists.
inline constexpr const char* AsconCommands = "?!*^>";

// The test cycle's request: from the end of the output-drain wait to the write, and the answer
// wait from the write.
inline constexpr Duration RequestPause = 20ms;
inline constexpr Duration AnswerWindow = 200ms;
// The line detector's probe, the same two times.
inline constexpr Duration ScanRequestPause = 100ms;
inline constexpr Duration ScanAnswerWindow = 300ms;
// The terminal: from its "Command" frame to its "Value" frame, and the answer wait after the
// last of them.
inline constexpr Duration TerminalValuePause = 50ms;
inline constexpr Duration TerminalAnswerWindow = 300ms;
// From the lone carriage return that settles the line to the last read.
inline constexpr Duration SettleTime = 200ms;

}  // namespace tarvel
