// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "lines/LineSettings.h"
#include "sim/SimulatedBus.h"
#include "sim/SimulatedMaster.h"

namespace tarvel {

// The plant's own master on a described line: the line it polls at and how.
struct SimulatedLineMaster {
    LineSettings settings;  // 9600 8N1 unless the description says otherwise
    MasterSchedule schedule;
};

// A simulated line as a description file gives it (or the built-in one): what the bus is made
// of, and whether a master of its own polls it.
struct SimulatedLine {
    // The protocol its controllers speak, as the port dialog counts them (ProtocolAt): Ascon
    // unless told.
    int protocol = 0;
    std::vector<SimulatedController> controllers;
    double lineNoise = 0.0;
    // Where the line noise enters the cable, in metres from the host's end: it reaches the
    // controllers from there on, and the answers of those only.
    double noisePosition = 0.0;
    std::uint64_t seed = 1;
    bool echo = false;  // the host's adapter gives back what the host sends
    std::optional<SimulatedLineMaster> master;
};

// The five controllers of the built-in line: A, B, E healthy, C silent, D noisy; on a line of
// another protocol (ProtocolAt's `protocol`) the same at addresses 1 to 5 (1, 2, 5 healthy, 3
// silent, 4 noisy).
SimulatedLine BuiltInLine(int protocol = 0);

SimulatedBus BusOf(const SimulatedLine& line);
SimulatedMaster MasterOf(const SimulatedLine& line, const SimulatedLineMaster& master);

// The speeds a controller or a master of a described line may have: the port dialog's for Ascon,
// 1200 to 115200 for the RTU protocols.
const std::vector<int>& SimulatedLineSpeeds(int protocol = 0);

// A description is a few hundred bytes; anything near this is no description.
inline constexpr std::size_t kSimulatedLineFileLimit = 1024 * 1024;

// Either the line, or one line of text saying what is wrong and where, in the form
// "FILE:LINE: MEMBER: what is wrong" ("training.json:12: controllers[2].baud: 2500 is no speed
// of the port dialog (150, 300, 600, 1200, 2400, 4800, 9600)"); without the member where the
// JSON itself is broken. `fileName` is how the message names the file.
std::variant<SimulatedLine, std::string> ParseSimulatedLine(std::string_view text,
                                                            const std::string& fileName);

// The same for a file, which must be a regular file of at most kSimulatedLineFileLimit bytes
// ("line.json: is a folder, not a file", "line.json: No such file or directory").
std::variant<SimulatedLine, std::string> ReadSimulatedLineFile(const std::string& path);

// What the line's controllers are, for a note to the operator: "controllers A, B, E healthy,
// C silent, D noisy"; an echoing adapter and line noise are added ("..., line noise 0.01, the
// adapter echoes"). A line of another protocol than Ascon names it first: "MB RTU controllers
// 1, 2 healthy, 3 answering exception 2".
std::string SimulatedLineSummary(const SimulatedLine& line);
// "9600 8N1": the speed and framing a master of the line polls at.
std::string MasterSettingsText(const SimulatedLineMaster& master);

}  // namespace tarvel
