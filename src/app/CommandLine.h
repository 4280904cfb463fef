// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "lines/EchoCancellingLine.h"
#include "lines/PortMap.h"
#include "lines/Rs485.h"

namespace tarvel {

struct Options {
    std::vector<PortAssignment> ports;
    bool simulate = false;     // COM1 is a simulated line: the built-in one, or simulateFile's
    std::string simulateFile;  // the line description, when --simulate names one
    bool help = false;
    bool version = false;
    bool listPorts = false;          // print what COM1 ... COM4 stand for, and end
    std::optional<Rs485Mode> rs485;  // the port opened in its driver's RS-485 mode
    EchoMode echo = EchoMode::Auto;  // whether the adapter gives back what it sends
    std::string error;               // set when the command line could not be read
};

Options ParseCommandLine(const std::vector<std::string>& arguments);
std::string UsageText(const std::string& program);
// "Line Tarvel 3.beta", as --version prints it.
std::string VersionText();

}  // namespace tarvel
