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

TEST(CommandLine, TheSimulatedLineIsTheBuiltInOneOrTheOneAFileDescribes) {
    EXPECT_EQ(ParseCommandLine({"--simulate"}).simulateFile, "");
    EXPECT_TRUE(ParseCommandLine({"--simulate"}).simulate);
    // A word after --simulate can only be its file; an option after it is no file.
    const Options named =
        ParseCommandLine({"--simulate", "training.json", "--port", "COM2=/dev/x"});
    EXPECT_EQ(named.error, "");
    EXPECT_TRUE(named.simulate);
    EXPECT_EQ(named.simulateFile, "training.json");
    EXPECT_EQ(named.ports.size(), 1u);
    EXPECT_EQ(ParseCommandLine({"--simulate=line"}).simulateFile, "line");
    EXPECT_EQ(ParseCommandLine({"--simulate", "--list-ports"}).simulateFile, "");
    EXPECT_EQ(ParseCommandLine({"--simulate="}).error,
              "--simulate= needs the name of a line description file");
    EXPECT_EQ(ParseCommandLine({"--simulate", "a.json", "--simulate=b.json"}).error,
              "one simulated line at most: --simulate is given twice");
    EXPECT_NE(UsageText("line-tarvel").find("--simulate FILE"), std::string::npos);
}

TEST(CommandLine, Rs485ModeWithAndWithoutDelays) {
    using std::chrono::milliseconds;
    EXPECT_FALSE(ParseCommandLine({}).rs485.has_value());
    EXPECT_EQ(ParseCommandLine({"--rs485"}).rs485, Rs485Mode{});
    // The delays imply the mode, and --rs485 beside them, in either order, keeps them.
    const Rs485Mode delayed{milliseconds(2), milliseconds(5)};
    EXPECT_EQ(ParseCommandLine({"--rs485-delays", "2,5"}).rs485, delayed);
    EXPECT_EQ(ParseCommandLine({"--rs485-delays=2,5", "--rs485"}).rs485, delayed);
    EXPECT_EQ(ParseCommandLine({"--rs485", "--rs485-delays", "2,5"}).rs485, delayed);
    EXPECT_NE(ParseCommandLine({"--rs485-delays"}).error.find("--rs485-delays"), std::string::npos);
    EXPECT_NE(ParseCommandLine({"--rs485-delays", "2"}).error.find("\"2\""), std::string::npos);
    EXPECT_NE(ParseCommandLine({"--rs485-delays=0,500"}).error.find("0 to 100"), std::string::npos);
    EXPECT_NE(UsageText("line-tarvel").find("--rs485-delays BEFORE,AFTER"), std::string::npos);
}

TEST(CommandLine, NamesWhatItCannotRead) {
    EXPECT_NE(ParseCommandLine({"--port"}).error.find("--port"), std::string::npos);
    EXPECT_NE(ParseCommandLine({"--port", "COM9=/dev/x"}).error.find("COM9"), std::string::npos);
    EXPECT_NE(ParseCommandLine({"--fast"}).error.find("--fast"), std::string::npos);
    EXPECT_NE(UsageText("line-tarvel").find("--port COMn=DEVICE"), std::string::npos);
}

}  // namespace
}  // namespace tarvel
