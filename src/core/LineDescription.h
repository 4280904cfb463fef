// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "core/Primo.h"

namespace tarvel {

// Which line a piece of evidence comes from: the port and the settings it was used at, so that
// an archived report or CSV says what it covers.
struct LineDescription {
    std::string device;  // "/dev/ttyUSB0"; empty where the port has none behind it
    std::string entry;   // "COM2" when the port was chosen as a port dialog entry
    int baud = 0;
    char parity = 'N';  // "N", "E" or "O" as the port dialog has it
    int dataBits = 8;
    int stopBits = 1;
    int retry = 0;
};

// The settings chosen in `primo`, on the port `device` that `entry` names.
LineDescription DescribeLine(const Primo& primo, std::string device, std::string entry);

// "/dev/ttyUSB0 (COM2)", "/dev/ttyUSB0", or "COM3 (no device)".
std::string PortText(const LineDescription& line);
// "9600 8N1, retry 2".
std::string SettingsSummary(const LineDescription& line);
// "9600 8N1": the speed and the framing alone.
std::string FramingSummary(const LineDescription& line);
// "none", "even" or "odd".
std::string ParityName(char parity);

}  // namespace tarvel
