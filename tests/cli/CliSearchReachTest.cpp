// SPDX-License-Identifier: GPL-3.0-or-later
// The scans that `scan --all-settings` suggests for each group of controllers: each names the
// line that was searched, so that it reaches the same controllers when typed as printed.

#include <gtest/gtest.h>

#include <sstream>

#include "cli/CliSession.h"
#include "platform/VirtualTime.h"
#include "sim/SimulatedSerialLine.h"
#include "support/Run.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;

SimulatedController AnsweringAt(char address, int baud, Parity parity) {
    SimulatedController controller;
    controller.address = std::string(1, address);
    controller.baud = baud;
    controller.framing = Framing{parity == Parity::None ? 8 : 7, parity};
    return controller;
}

// The text report of a search over a line with A at 9600 8N1 and C at 2400 7E1.
std::string SearchReport(const std::vector<std::string>& arguments) {
    VirtualTime time;
    SimulatedSerialLine line{time};
    BusPeer bus(line, SimulatedBus({AnsweringAt('A', 9600, Parity::None),
                                    AnsweringAt('C', 2400, Parity::Even)},
                                   0.0, 1));
    std::ostringstream out;
    std::ostringstream err;
    const CliOptions options = ParseCliArguments(arguments);
    EXPECT_EQ(options.error, "");
    CliSession session(options, CliHost{time, line, out, err, false, "/dev/ttyUSB7"});
    std::optional<int> status;
    auto task = testing::StoreResult(session.Run(), status);
    EXPECT_TRUE(time.RunUntil([&] { return status.has_value(); }, 2h));
    return out.str();
}

TEST(CliSearchReach, EachSuggestedScanNamesTheLineThatWasSearched) {
    const struct {
        std::vector<std::string> line;
        const char* suggested;
    } cases[] = {
        {{}, "line-tarvel-cli scan --baud 2400 --parity even)"},
        {{"--port", "/dev/ttyUSB7"},
         "line-tarvel-cli scan --baud 2400 --parity even --port "
         "/dev/ttyUSB7)"},
        {{"--port", "COM2=/dev/ttyUSB7", "--echo", "off"},
         "line-tarvel-cli scan --baud 2400 --parity even --port COM2=/dev/ttyUSB7 --echo off)"},
        {{"--port", "COM3"}, "line-tarvel-cli scan --baud 2400 --parity even --port COM3)"},
        {{"--port", "/dev/serial/by-id/usb-It's_a_port"},
         "line-tarvel-cli scan --baud 2400 --parity even --port "
         "'/dev/serial/by-id/usb-It'\\''s_a_port')"},
        {{"--simulate=my line.json"},
         "line-tarvel-cli scan --baud 2400 --parity even --simulate='my line.json')"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> arguments{"scan", "--all-settings"};
        arguments.insert(arguments.end(), c.line.begin(), c.line.end());
        const std::string report = SearchReport(arguments);
        EXPECT_NE(report.find(std::string("\n  2400 7E1: C (") + c.suggested), std::string::npos)
            << c.suggested << "\nin\n"
            << report;
    }
}

}  // namespace
}  // namespace tarvel
