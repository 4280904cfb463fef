// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CommandLine.h"

#include <gtest/gtest.h>

namespace tarvel {
namespace {

TEST(CommandLine, ReadsPortAssignmentsTheSimulatedLineHelpAndVersion) {
    const Options options = ParseCommandLine(
        {"--port", "COM1=/dev/ttyUSB0", "--port=COM3=/dev/ttyACM1", "--simulate", "--version"});
    EXPECT_TRUE(options.error.empty());
    ASSERT_EQ(options.ports.size(), 2u);
    EXPECT_EQ(options.ports[0].number, 1);
    EXPECT_EQ(options.ports[0].device, "/dev/ttyUSB0");
    EXPECT_EQ(options.ports[1].number, 3);
    EXPECT_TRUE(options.simulate);
    EXPECT_TRUE(options.version);
    EXPECT_TRUE(ParseCommandLine({"--help"}).help);
    EXPECT_TRUE(ParseCommandLine({"--list-ports"}).listPorts);
    EXPECT_FALSE(ParseCommandLine({}).listPorts);
    EXPECT_TRUE(ParseCommandLine({}).error.empty());
}

TEST(CommandLine, NamesWhatItCannotRead) {
    EXPECT_NE(ParseCommandLine({"--port"}).error.find("--port"), std::string::npos);
    EXPECT_NE(ParseCommandLine({"--port", "COM9=/dev/x"}).error.find("COM9"), std::string::npos);
    EXPECT_NE(ParseCommandLine({"--fast"}).error.find("--fast"), std::string::npos);
    EXPECT_NE(UsageText("line-tarvel").find("--port COMn=DEVICE"), std::string::npos);
}

}  // namespace
}  // namespace tarvel
