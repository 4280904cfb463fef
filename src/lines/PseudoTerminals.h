// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>

#include "lines/LineSettings.h"

// What the program knows of the pseudo-terminals it opens, without Qt, so that the simulator,
// which runs at their far end, links no more than it needs.

namespace tarvel {

// Whether device number `device` is the slave side of a pseudo-terminal.
bool IsPseudoTerminalSlave(std::uint64_t device);

// A pseudo-terminal cannot say which parity and data bits the program chose on it, so the lines
// of this process note their settings for each one they hold open, by device number: a
// simulated line at the far end in the same process reads them to judge the framing.
void NotePseudoTerminalSettings(std::uint64_t device, const LineSettings& settings);
void ForgetPseudoTerminalSettings(std::uint64_t device);
std::optional<LineSettings> PseudoTerminalSettings(std::uint64_t device);

}  // namespace tarvel
