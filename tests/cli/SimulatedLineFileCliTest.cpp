// SPDX-License-Identifier: GPL-3.0-or-later
// line-tarvel-cli on lines described in files, on virtual time: --simulate FILE on the command
// line, and the training line of the examples behaving as its file says when it is scanned,
// tested and listened to.

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <map>
#include <sstream>

#include "cli/CliSession.h"
#include "lines/LineSettings.h"
#include "platform/VirtualTime.h"
#include "sim/SimulatedLineFile.h"
#include "sim/SimulatedMaster.h"
#include "sim/SimulatedSerialLine.h"
#include "support/Run.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;

SimulatedLine Example(const std::string& name) {
    auto read = ReadSimulatedLineFile(std::string(TARVEL_EXAMPLES_DIR) + "/" + name);
    if (const auto* error = std::get_if<std::string>(&read)) {
        ADD_FAILURE() << *error;
        return {};
    }
    return std::get<SimulatedLine>(read);
}

TEST(SimulatedLineFileOptions, TheNoisyCableSaysWhereItsNoiseEnters) {
    EXPECT_EQ(SimulatedLineSummary(Example("noisy-cable.json")),
              "MB RTU controllers 1, 2, 3, 4, 5 healthy, 6 answering exception 1 (illegal "
              "function), all only at 9600 8E, line noise 0.01 from 500 m");
}

TEST(SimulatedLineFileOptions, SimulateTakesAJsonFileAfterItOrJoinedToIt) {
    const CliOptions named = ParseCliArguments({"scan", "--simulate", "line.json", "--retry", "0"});
    EXPECT_EQ(named.error, "");
    EXPECT_TRUE(named.simulate);
    EXPECT_EQ(named.simulateFile, "line.json");
    const CliOptions joined =
        ParseCliArguments({"test", "--simulate=training", "--sweeps", "1", "--addresses", "A"});
    EXPECT_EQ(joined.error, "");
    EXPECT_EQ(joined.simulateFile, "training");
    // A frame after --simulate stays the frame: only a .json word is taken for the file.
    const CliOptions send = ParseCliArguments({"send", "--simulate", "A?X  "});
    EXPECT_EQ(send.error, "");
    EXPECT_EQ(send.simulateFile, "");
    EXPECT_EQ(send.frame, "A?X  ");
    EXPECT_TRUE(ParseCliArguments({"scan", "--simulate"}).simulateFile.empty());
    EXPECT_EQ(ParseCliArguments({"scan", "--simulate="}).error,
              "--simulate= needs the name of a line description file");
    EXPECT_EQ(ParseCliArguments({"analyse", "x.lst", "--simulate=a.json"}).error,
              "analyse does not take --simulate");
}

struct TrainingLine : ::testing::Test {
    VirtualTime time{TimeOfDay{8, 0, 0}};
    SimulatedSerialLine line{time};
    SimulatedLine training = Example("training-line.json");
    std::optional<BusPeer> bus{std::in_place, line, BusOf(training)};
    std::ostringstream out;
    std::ostringstream err;

    int Run(const std::vector<std::string>& arguments) {
        const CliOptions options = ParseCliArguments(arguments);
        EXPECT_EQ(options.error, "");
        CliSession session(options, CliHost{time, line, out, err, false, "/dev/ttyS9"});
        std::optional<int> status;
        auto task = testing::StoreResult(session.Run(), status);
        EXPECT_TRUE(time.RunUntil([&] { return status.has_value(); }, 48h));
        return status.value_or(-1);
    }
};

TEST_F(TrainingLine, AScanAtTheLinesSpeedMissesTheDeadControllerAndTheOneAtTheWrongSpeed) {
    EXPECT_EQ(Run({"scan", "--baud", "9600", "--retry", "0"}), kAllWell);
    EXPECT_NE(out.str().find("4 controllers found: A B D F"), std::string::npos) << out.str();
}

TEST_F(TrainingLine, AScanAtTheWrongControllersSpeedFindsItAlone) {
    EXPECT_EQ(Run({"scan", "--baud", "2400", "--retry", "0"}), kAllWell);
    EXPECT_NE(out.str().find("1 controller found: E"), std::string::npos) << out.str();
}

TEST_F(TrainingLine, ATestJudgesEachControllerAsItsFileDescribesIt) {
    EXPECT_EQ(
        Run({"test", "--baud", "9600", "--retry", "0", "--addresses", "A-F", "--sweeps", "200"}),
        kLineFailures);
    const std::string report = out.str();
    EXPECT_NE(report.find("\nC Isn't working\n"), std::string::npos) << report;
    EXPECT_NE(report.find("\nE Isn't working\n"), std::string::npos) << report;
    EXPECT_NE(report.find("\nD Ther is noise on line !\n"), std::string::npos) << report;
    for (const char* healthy : {"\nA ", "\nB ", "\nF "}) {
        const std::size_t row = report.find(healthy, report.find("Statistics"));
        ASSERT_NE(row, std::string::npos) << healthy;
        EXPECT_NE(report.substr(row, report.find('\n', row + 1) - row).find("healthy"),
                  std::string::npos)
            << report.substr(row, report.find('\n', row + 1) - row);
    }
}

TEST_F(TrainingLine, ASearchAcrossSettingsFindsTheControllerAtTheWrongSpeedApart) {
    EXPECT_EQ(Run({"scan", "--all-settings"}), kAllWell);
    const std::string text = out.str();
    EXPECT_NE(text.find("Controller E found at 2400 "), std::string::npos) << text;
    for (const char* found : {"Controller A found at 9600 ", "Controller B found at 9600 ",
                              "Controller D found at 9600 ", "Controller F found at 9600 "}) {
        EXPECT_NE(text.find(found), std::string::npos) << found << "\nin\n" << text;
    }
    EXPECT_EQ(text.find("Controller C found"), std::string::npos) << text;
    // Two groups, each controller once: the file gives each its framing, as a real one has.
    EXPECT_NE(text.find("5 controllers found at 2 settings"), std::string::npos) << text;
    EXPECT_NE(text.find("  9600 8N1: A B D F ("), std::string::npos) << text;
    EXPECT_NE(text.find("  2400 8N1: E ("), std::string::npos) << text;
}

TEST_F(TrainingLine, ASearchAcrossSettingsFindsALineAtEvenParityAtItsSettings) {
    bus.emplace(line, BusOf(Example("even-parity-line.json")));
    EXPECT_EQ(Run({"scan", "--all-settings"}), kAllWell);
    const std::string text = out.str();
    for (const char* found : {"Controller A found at 4800 7E1 (address 0)\n",
                              "Controller B found at 4800 7E1 (address 1)\n",
                              "Controller C found at 4800 7E1 (address 2)\n",
                              "3 controllers found at 4800 7E1: A B C ("}) {
        EXPECT_NE(text.find(found), std::string::npos) << found << "\nin\n" << text;
    }
}

TEST(SimulatedLineFileListen, TheDescribedMasterPollsWhatItsFileSays) {
    const SimulatedLine listened = Example("listened-line.json");
    ASSERT_TRUE(listened.master.has_value());
    VirtualTime time{TimeOfDay{8, 0, 0}};
    SimulatedSerialLine line{time};
    SimulatedMaster master = MasterOf(listened, *listened.master);
    std::optional<MasterOnLine> playing(std::in_place, master, line, time);
    std::ostringstream out, err;
    const CliOptions options = ParseCliArguments({"listen", "--baud", "9600", "--duration", "30s"});
    CliSession session(options, CliHost{time, line, out, err, false, "/dev/ttyS9"});
    std::optional<int> status;
    auto task = testing::StoreResult(session.Run(), status);
    EXPECT_TRUE(time.RunUntil([&] { return status.has_value(); }, 1h));
    EXPECT_EQ(status, kLineFailures);  // C is silent, and D is not on the line
    EXPECT_TRUE(line.Transmitted().empty());
    std::map<std::string, int> polled;
    for (const MasterPoll& poll : master.Log()) {
        ++polled[poll.address];
    }
    EXPECT_EQ(polled.size(), 4u);  // A, B, C and D, as its "addresses" say
    const int most = std::max_element(polled.begin(), polled.end(), [](auto& a, auto& b) {
                         return a.second < b.second;
                     })->second;
    for (const auto& [address, polls] : polled) {
        EXPECT_GE(polls, most - 1) << address;
    }
}

// A Modbus line whose own master polls 1 (healthy), 2 (refusing), 3 (a CRC that fails half the
// time), 4 (silent) and 9 (not on the line), writes now and then and broadcasts: the listener's
// JSON counts each controller's exchanges as the master's log has them, and what the line carried
// besides.
TEST(SimulatedLineFileListen, AModbusMastersPollsAreCountedPerControllerAndOnTheLine) {
    auto read = ParseSimulatedLine(R"({
        "protocol": "modbus-rtu",
        "controllers": [
            { "address": 1, "baud": 9600, "parity": "even", "answerDelayMs": 4 },
            { "address": 2, "baud": 9600, "parity": "even", "fault": "exception",
              "exceptionCode": 3 },
            { "address": 3, "baud": 9600, "parity": "even", "fault": "badCrc", "faultRate": 0.5 },
            { "address": 4, "baud": 9600, "parity": "even", "fault": "silent" }
        ],
        "seed": 5,
        "master": { "baud": 9600, "parity": "even", "pollGapMs": 10, "answerTimeoutMs": 100,
                    "writeEvery": 5, "broadcastEvery": 7, "turnaroundMs": 30,
                    "addresses": [1, 2, 3, 4, 9] }
    })",
                                   "modbus-master.json");
    ASSERT_TRUE(std::holds_alternative<SimulatedLine>(read)) << std::get<std::string>(read);
    const SimulatedLine described = std::get<SimulatedLine>(read);
    ASSERT_TRUE(described.master.has_value());
    VirtualTime time{TimeOfDay{8, 0, 0}};
    SimulatedSerialLine line{time};
    SimulatedMaster master = MasterOf(described, *described.master);
    std::optional<MasterOnLine> playing(std::in_place, master, line, time);
    std::ostringstream out, err;
    const CliOptions options =
        ParseCliArguments({"listen", "--protocol", "modbus-rtu", "--baud", "9600", "--parity",
                           "even", "--duration", "1m", "--answer-window", "0.15", "--json"});
    ASSERT_EQ(options.error, "");
    CliSession session(options, CliHost{time, line, out, err, false, "/dev/ttyS9"});
    std::optional<int> status;
    auto task = testing::StoreResult(session.Run(), status);
    // The master stops a little before the listening does, so that every poll is judged.
    time.RunFor(50s);
    playing.reset();
    EXPECT_TRUE(time.RunUntil([&] { return status.has_value(); }, 1h));
    EXPECT_EQ(status, kLineFailures);
    EXPECT_TRUE(line.Transmitted().empty());

    struct Expected {
        int requests = 0, good = 0, noAnswer = 0, badCrc = 0, exceptions = 0;
        double firstMin = 1e9, firstMax = 0, lastMin = 1e9, lastMax = 0;
    };
    const auto ms = [](Duration time) {
        return std::chrono::duration<double, std::milli>(time).count();
    };
    std::map<int, Expected> expected;
    int broadcasts = 0;
    int crcErrors = 0;
    for (const MasterPoll& poll : master.Log()) {
        if (poll.broadcast) {
            ++broadcasts;
            continue;
        }
        Expected& e = expected[std::stoi(poll.address)];
        ++e.requests;
        switch (CycleVerdictOf(poll)) {
            case ExchangeVerdict::Good:
                ++e.good;
                e.firstMin = std::min(e.firstMin, ms(*poll.answerFirst - poll.requestEnd));
                e.firstMax = std::max(e.firstMax, ms(*poll.answerFirst - poll.requestEnd));
                e.lastMin = std::min(e.lastMin, ms(*poll.answerLast - poll.requestEnd));
                e.lastMax = std::max(e.lastMax, ms(*poll.answerLast - poll.requestEnd));
                // A refusal is the good answer it is, with the function's high bit set.
                e.exceptions += (static_cast<unsigned char>(poll.answer.at(1)) & 0x80) != 0;
                break;
            case ExchangeVerdict::NoAnswer: ++e.noAnswer; break;
            case ExchangeVerdict::BadCrc:
                ++e.badCrc;
                ++crcErrors;
                break;
            default: ADD_FAILURE() << "a poll of " << poll.address << " the line cannot make";
        }
    }
    ASSERT_EQ(expected.size(), 5u);
    EXPECT_GT(broadcasts, 10);
    EXPECT_GT(expected[3].badCrc, 5);
    EXPECT_GT(expected[3].good, 5);

    const QJsonObject document =
        QJsonDocument::fromJson(QByteArray::fromStdString(out.str())).object();
    EXPECT_EQ(document["command"].toString(), "listen");
    const QJsonArray controllers = document["controllers"].toArray();
    ASSERT_EQ(controllers.size(), 5) << out.str();
    for (const QJsonValue& value : controllers) {
        const QJsonObject controller = value.toObject();
        const int address = controller["address"].toInt();
        SCOPED_TRACE(address);
        const Expected& e = expected[address];
        EXPECT_EQ(controller["requests"].toInt(), e.requests);
        EXPECT_EQ(controller["good"].toInt(), e.good);
        EXPECT_EQ(controller["noAnswer"].toInt(), e.noAnswer);
        EXPECT_EQ(controller["badCrc"].toInt(), e.badCrc);
        EXPECT_EQ(controller["exceptions"].toInt(), e.exceptions);
        EXPECT_EQ(controller["wrongLength"].toInt() + controller["wrongSource"].toInt() +
                      controller["cut"].toInt(),
                  0);
        if (e.good > 0) {
            const QJsonObject first = controller["responseToFirstMs"].toObject();
            const QJsonObject last = controller["responseToLastMs"].toObject();
            EXPECT_NEAR(first["min"].toDouble(), e.firstMin, 0.1);
            EXPECT_NEAR(first["max"].toDouble(), e.firstMax, 0.1);
            EXPECT_NEAR(last["min"].toDouble(), e.lastMin, 0.1);
            EXPECT_NEAR(last["max"].toDouble(), e.lastMax, 0.1);
        }
    }
    EXPECT_EQ(expected[2].exceptions, expected[2].requests);
    const std::map<int, std::string> judged{
        {1, "healthy"}, {2, "healthy"}, {4, "silent"}, {9, "silent"}};
    for (const QJsonValue& value : controllers) {
        const QJsonObject controller = value.toObject();
        const auto judgement = judged.find(controller["address"].toInt());
        if (judgement != judged.end()) {
            EXPECT_EQ(controller["judgement"].toString().toStdString(), judgement->second)
                << controller["address"].toInt();
        }
    }
    const QJsonObject heard = document["heard"].toObject();
    // A broadcast is counted apart from the requests to one controller.
    EXPECT_EQ(heard["requests"].toInt(), static_cast<int>(master.Log().size()) - broadcasts);
    EXPECT_EQ(heard["broadcasts"].toInt(), broadcasts);
    EXPECT_EQ(heard["crcErrors"].toInt(), crcErrors);
    EXPECT_EQ(heard["noiseBytes"].toInt(), 0);
}

}  // namespace
}  // namespace tarvel
