// SPDX-License-Identifier: GPL-3.0-or-later
// What the tests read of a watch's metrics in the text exposition format.
#pragma once

#include <optional>
#include <sstream>
#include <string>

namespace tarvel::testing {

// The value of one series, such as linetarvel_requests_total{address="A"}; nothing when the
// exposition does not have it.
inline std::optional<double> Sample(const std::string& exposition, const std::string& series) {
    std::istringstream lines(exposition);
    for (std::string line; std::getline(lines, line);) {
        if (line.size() > series.size() && line.compare(0, series.size(), series) == 0 &&
            line[series.size()] == ' ') {
            return std::stod(line.substr(series.size() + 1));
        }
    }
    return std::nullopt;
}

}  // namespace tarvel::testing
