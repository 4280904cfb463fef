// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoroTask>
#include <optional>
#include <string>

#include "core/Primo.h"
#include "serial/PortService.h"
#include "serial/ReceiveAnswer.h"

namespace tarvel {

using namespace std::chrono_literals;

// One exchange of the terminal: the "Command" frame exactly as typed, framed by the line's
// protocol (for Ascon, with a carriage return), when there is one; the "Value" frame after
// ValueDelay, when there is one; then the answer check. Returns the answer as the terminal shows
// it, or what went wrong.
QCoro::Task<std::string> SendTerminalFrames(PortService& port, Primo& primo, std::string command,
                                            std::string value);
// The same exchange, with its verdict and every character that had arrived.
QCoro::Task<TerminalAnswer> SendTerminalExchange(PortService& port, Primo& primo,
                                                 std::string command, std::string value);

// The first character of `typed` that has no 8-bit code and so cannot go on the line, if any.
// Typed text is taken as Latin-1: one byte a character.
std::optional<char32_t> CharacterWithout8BitCode(const std::u32string& typed);

// The text of the terminal's "&Info" box: 18 lines, each ended by a line feed, in Latin-1.
std::string TerminalInfoText();

}  // namespace tarvel
