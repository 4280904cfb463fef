// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/LineDescription.h"

#include <cstdlib>

namespace tarvel {

LineDescription DescribeLine(const Primo& primo, std::string device, std::string entry) {
    LineDescription line;
    line.device = std::move(device);
    line.entry = std::move(entry);
    line.baud = std::atoi(primo.BaudText.c_str());
    line.parity = primo.ParityText.empty() ? 'N' : primo.ParityText[0];
    line.dataBits = std::atoi(primo.DataBitsText.c_str());
    line.stopBits = std::atoi(primo.StopBitsText.c_str());
    line.retry = primo.RetryCount;
    return line;
}

std::string PortText(const LineDescription& line) {
    if (line.device.empty()) {
        return line.entry.empty() ? "no port" : line.entry + " (no device)";
    }
    return line.entry.empty() ? line.device : line.device + " (" + line.entry + ")";
}

std::string FramingSummary(const LineDescription& line) {
    return std::to_string(line.baud) + " " + std::to_string(line.dataBits) + line.parity +
           std::to_string(line.stopBits);
}

std::string SettingsSummary(const LineDescription& line) {
    return FramingSummary(line) + ", retry " + std::to_string(line.retry);
}

std::string ParityName(char parity) {
    switch (parity) {
        case 'E': return "even";
        case 'O': return "odd";
        default: return "none";
    }
}

}  // namespace tarvel
