// SPDX-License-Identifier: GPL-3.0-or-later
// `line-tarvel-cli scan --all-settings` on virtual time, against controllers that each answer at
// one speed and framing: the report, the warning of mixed settings, the JSON, the line
// configuration it writes, Ctrl+C, and the options it refuses.

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <filesystem>
#include <map>
#include <sstream>

#include "cli/CliSession.h"
#include "platform/TextFiles.h"
#include "platform/VirtualTime.h"
#include "protocol/Protocols.h"
#include "sim/SimulatedSerialLine.h"
#include "support/Run.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;

struct CliSearchTest : ::testing::Test {
    VirtualTime time;
    SimulatedSerialLine line{time};
    std::optional<BusPeer> bus;
    std::ostringstream out;
    std::ostringstream err;
    std::filesystem::path folder;
    std::function<void(CliSession&)> meanwhile;

    CliSearchTest() {
        folder = std::filesystem::temp_directory_path() /
                 ("cli-search-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder);
    }
    ~CliSearchTest() override { std::filesystem::remove_all(folder); }

    void Controllers(std::vector<SimulatedController> controllers) {
        bus.emplace(line, SimulatedBus(std::move(controllers), 0.0, 1));
    }
    std::string File(const std::string& name) const { return (folder / name).string(); }

    int Run(const std::vector<std::string>& arguments) {
        const CliOptions options = ParseCliArguments(arguments);
        EXPECT_EQ(options.error, "");
        CliSession session(options, CliHost{time, line, out, err, false, "/dev/ttyS9"});
        std::optional<int> status;
        auto task = testing::StoreResult(session.Run(), status);
        if (meanwhile) {
            // A minute in: the first settings are done, most are still to come.
            time.RunFor(60s);
            meanwhile(session);
        }
        EXPECT_TRUE(time.RunUntil([&] { return status.has_value(); }, 2h));
        return status.value_or(-1);
    }
};

TEST_F(CliSearchTest, ControllersAtThreeSettingsAreReportedWithAWarningAndTheLargestGroupIsKept) {
    Controllers({ControllerAt("A", 9600, Parity::None), ControllerAt("B", 9600, Parity::None),
                 ControllerAt("C", 2400, Parity::Even), ControllerAt("E", 300, Parity::Odd)});
    EXPECT_EQ(Run({"scan", "--all-settings", "--cfg", File("line.cfg")}), kAllWell);
    const std::string text = out.str();
    EXPECT_EQ(text.rfind("line-tarvel-cli 3.beta, scan --all-settings on /dev/ttyS9 (COM1), from "
                         "2026-12-09T08:00:00+01:00\n",
                         0),
              0u)
        << text;
    for (const char* line : {"Controller A found at 9600 8N1 (address 0)\n",
                             "Controller B found at 9600 8N1 (address 1)\n",
                             "Controller C found at 2400 7E1 (address 2)\n",
                             "Controller E found at 300 7O1 (address 4)\n",
                             "Search finished: 21 settings tried, 4 controllers found at 3 "
                             "settings (",
                             "\n  9600 8N1: A B (line-tarvel-cli scan --baud 9600 --parity none)",
                             "\n  2400 7E1: C (line-tarvel-cli scan --baud 2400 --parity even)",
                             "\n  300 7O1: E (line-tarvel-cli scan --baud 300 --parity odd)"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line << "\nin\n" << text;
    }
    std::string cfg;
    ASSERT_FALSE(ReadWholeFile(File("line.cfg"), cfg));
    EXPECT_EQ(cfg, " 2 \r\n 0 \r\n 1 \r\n");
    EXPECT_NE(err.str().find("holds A B, the controllers at 9600 8N1; test them with --baud 9600 "
                             "--parity none"),
              std::string::npos)
        << err.str();
}

TEST_F(CliSearchTest, JsonListsEachFindWithItsSettings) {
    Controllers({ControllerAt("A", 4800, Parity::None), ControllerAt("C", 1200, Parity::Even)});
    EXPECT_EQ(Run({"scan", "--all-settings", "--json"}), kAllWell);
    const QJsonObject document =
        QJsonDocument::fromJson(QByteArray::fromStdString(out.str())).object();
    EXPECT_EQ(document["command"].toString(), "scan");
    EXPECT_TRUE(document["allSettings"].toBool());
    EXPECT_EQ(document["settingsTried"].toInt(), 21);
    EXPECT_FALSE(document["stopped"].toBool());
    EXPECT_TRUE(document["lineFailure"].isNull());
    EXPECT_FALSE(document.contains("settings"));
    const QJsonArray finds = document["finds"].toArray();
    ASSERT_EQ(finds.size(), 2);
    const QJsonObject c = finds[1].toObject();
    EXPECT_EQ(c["address"].toString(), "C");
    EXPECT_EQ(c["baud"].toInt(), 1200);
    EXPECT_EQ(c["parity"].toString(), "even");
    EXPECT_EQ(c["dataBits"].toInt(), 7);
    EXPECT_EQ(c["stopBits"].toInt(), 1);
    EXPECT_TRUE(c["confirmed"].toBool());
    EXPECT_EQ(finds[0].toObject()["dataBits"].toInt(), 8);
    EXPECT_TRUE(document["warning"].toString().contains("1200 7E1: C"));
}

TEST_F(CliSearchTest, AnEmptyLineFindsNothingWritesNoConfigurationAndEndsWithStatus1) {
    Controllers({});
    EXPECT_EQ(Run({"scan", "--all-settings", "--cfg", File("line.cfg")}), kLineFailures);
    EXPECT_NE(out.str().find("Search finished: 21 settings tried, 0 controllers found ("),
              std::string::npos)
        << out.str();
    EXPECT_EQ(out.str().find("Warning"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(File("line.cfg")));
}

TEST_F(CliSearchTest, CtrlCEndsTheSearchAfterTheAddressInProgressWithWhatWasFound) {
    Controllers({ControllerAt("A", 9600, Parity::None), ControllerAt("B", 150, Parity::None)});
    meanwhile = [](CliSession& session) { session.Stop("Ctrl+C"); };
    EXPECT_EQ(Run({"scan", "--all-settings", "--json"}), kAllWell);
    const QJsonObject document =
        QJsonDocument::fromJson(QByteArray::fromStdString(out.str())).object();
    EXPECT_TRUE(document["stopped"].toBool());
    EXPECT_LT(document["settingsTried"].toInt(), 21);
    ASSERT_EQ(document["finds"].toArray().size(), 1);
    EXPECT_LT(document["seconds"].toDouble(), 62);
}

// A Modbus line of controllers at three speeds and framings: each is found at its own setting,
// and the report tells how to reach each group with the protocol and the port's mode named.
TEST_F(CliSearchTest, ModbusControllersAreEachFoundAtTheirOwnSetting) {
    const auto at = [](int address, int baud, Parity parity) {
        SimulatedController controller;
        controller.address = std::to_string(address);
        controller.baud = baud;
        controller.framing = Framing{8, parity};
        return controller;
    };
    bus.emplace(line, SimulatedBus({at(1, 19200, Parity::Even), at(7, 2400, Parity::Odd),
                                    at(12, 57600, Parity::None), at(13, 19200, Parity::Even)},
                                   0.0, 1, *ProtocolAt(*ProtocolIndexNamed("modbus-rtu"))));
    // An RS-485 port: each suggested scan keeps the mode and its delays.
    EXPECT_EQ(Run({"scan", "--all-settings", "--protocol", "modbus-rtu", "--addresses", "1-16",
                   "--rs485-delays", "2,15", "--json"}),
              kAllWell);
    const QJsonObject document =
        QJsonDocument::fromJson(QByteArray::fromStdString(out.str())).object();
    EXPECT_EQ(document["settingsTried"].toInt(), 32);
    std::map<int, std::string> found;
    for (const QJsonValue& value : document["finds"].toArray()) {
        const QJsonObject find = value.toObject();
        EXPECT_TRUE(find["confirmed"].toBool());
        EXPECT_EQ(find["dataBits"].toInt(), 8);
        found[find["address"].toInt()] = std::to_string(find["baud"].toInt()) + " " +
                                         find["parity"].toString().toStdString() + " " +
                                         std::to_string(find["stopBits"].toInt());
    }
    // One stop bit reads two as well, and 8N2 is tried before 8N1.
    EXPECT_EQ(
        found,
        (std::map<int, std::string>{
            {1, "19200 even 1"}, {7, "2400 odd 1"}, {12, "57600 none 2"}, {13, "19200 even 1"}}))
        << out.str();
    EXPECT_EQ(document["cfgSetting"].toString(), "19200 8E1");
    const std::string warning = document["warning"].toString().toStdString();
    for (const char* reach :
         {"2400 8O1: 7 (line-tarvel-cli scan --protocol modbus-rtu --baud 2400 --parity odd "
          "--rs485 --rs485-delays 2,15)",
          "57600 8N2: 12 (line-tarvel-cli scan --protocol modbus-rtu --baud 57600 --parity none "
          "--stop-bits 2 --rs485 --rs485-delays 2,15)"}) {
        EXPECT_NE(warning.find(reach), std::string::npos) << reach << "\nin\n" << warning;
    }
}

TEST(CliSearchOptions, TheSearchSetsItsOwnSettingsAndRefusesThoseOfOneScan) {
    EXPECT_EQ(ParseCliArguments({"scan", "--all-settings", "--baud", "2400"}).error,
              "scan --all-settings does not take --baud");
    EXPECT_EQ(ParseCliArguments({"scan", "--all-settings", "--retry", "0"}).error,
              "scan --all-settings does not take --retry");
    EXPECT_EQ(ParseCliArguments({"scan", "--all-settings", "--traffic", "t.csv"}).error,
              "scan --all-settings does not take --traffic");
    EXPECT_EQ(ParseCliArguments({"test", "--all-settings", "--addresses", "A"}).error,
              "test does not take --all-settings");
    const CliOptions options =
        ParseCliArguments({"scan", "--all-settings", "--simulate", "--cfg", "x.cfg"});
    EXPECT_EQ(options.error, "");
    EXPECT_TRUE(options.allSettings);
    EXPECT_NE(CommandUsage(CliCommand::Scan).find("--all-settings"), std::string::npos);
}

}  // namespace
}  // namespace tarvel
