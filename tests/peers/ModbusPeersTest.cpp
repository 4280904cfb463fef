// SPDX-License-Identifier: GPL-3.0-or-later
// Modbus as others speak it: line-tarvel-cli against pymodbus's serial server, on a pair of
// pseudo-terminals that socat joins, and listening to mbpoll polling that server through a tap.
// Real time; a few seconds a test.

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <thread>
#include "support/MissingTool.h"

namespace tarvel {
namespace {

struct Finished {
    int status = -1;
    std::string out;
    std::string err;
};

Finished Run(const QString& program, const QStringList& arguments, int milliseconds = 60000) {
    QProcess process;
    process.start(program, arguments);
    EXPECT_TRUE(process.waitForStarted(10000)) << program.toStdString();
    EXPECT_TRUE(process.waitForFinished(milliseconds));
    return Finished{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                    process.readAllStandardOutput().toStdString(),
                    process.readAllStandardError().toStdString()};
}

Finished Cli(QStringList arguments) { return Run(QStringLiteral(TARVEL_CLI_PROGRAM), arguments); }

QJsonObject Json(const Finished& finished) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(finished.out)).object();
}

// Ends a peer the test started, if it still runs.
void Stop(QProcess& process) {
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
    }
}

bool WaitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 100; ++i) {
        if (done()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

bool PeersMissing() {
    return QProcess::execute("/usr/bin/python3", {"-c", "import pymodbus, serial_asyncio"}) != 0 ||
           QProcess::execute("socat", {"-V"}) != 0;
}

std::filesystem::path TestFolder(const std::string& kind) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() /
        (kind + "-" + std::to_string(::getpid()) + "-" +
         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(folder);
    return folder;
}

// A pair of pseudo-terminals joined by socat, at `one` and `other`.
void JoinPair(QProcess& socat, const std::string& one, const std::string& other) {
    // ignoreeof: each command opens and closes its side, and the pair must outlive it.
    socat.start("socat", {QString::fromStdString("pty,raw,echo=0,ignoreeof,link=" + one),
                          QString::fromStdString("pty,raw,echo=0,ignoreeof,link=" + other)});
    ASSERT_TRUE(socat.waitForStarted(10000));
    ASSERT_TRUE(WaitFor([&] {
        return std::filesystem::exists(one) && std::filesystem::exists(other);
    })) << "socat made no pseudo-terminals";
}

// The units pymodbus serves: each holds registers 0 to 99, reading 1000 * unit + address.
constexpr const char* kUnits = "1,2,5";

void ServeUnits(QProcess& server, const std::string& device, const QString& framer = "rtu") {
    server.start("/usr/bin/python3", {QStringLiteral(TARVEL_PEERS_DIR "/pymodbus_serial_server.py"),
                                      QString::fromStdString(device), framer, kUnits, "9600"});
    ASSERT_TRUE(server.waitForStarted(10000));
    ASSERT_TRUE(server.waitForReadyRead(20000)) << "pymodbus did not start";
}

class ModbusPeersTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (PeersMissing()) {
            TARVEL_SKIP_MISSING_TOOL(
                "pymodbus or socat is missing: scripts/setup.sh installs them");
        }
        folder_ = TestFolder("modbus-peers");
        port_ = (folder_ / "host").string();
        const std::string peer = (folder_ / "peer").string();
        ASSERT_NO_FATAL_FAILURE(JoinPair(socat_, port_, peer));
        ASSERT_NO_FATAL_FAILURE(ServeUnits(server_, peer, framer_));
    }
    void TearDown() override {
        Stop(server_);
        Stop(socat_);
        if (!folder_.empty()) {
            std::filesystem::remove_all(folder_);
        }
    }
    QStringList Line(QStringList arguments) const {
        const bool send = arguments.front() == "send";
        arguments << "--protocol" << protocol_ << "--port" << QString::fromStdString(port_);
        arguments << "--baud"
                  << "9600"
                  << "--retry"
                  << "0";
        if (!send) {
            arguments << "--answer-window"
                      << "0.3";
        }
        return arguments;
    }

    // pymodbus's framer, and the same protocol as the command line names it.
    QString framer_ = "rtu";
    QString protocol_ = "modbus-rtu";
    std::filesystem::path folder_;
    std::string port_;
    QProcess socat_;
    QProcess server_;
};

// The same server with pymodbus's ASCII framer.
class ModbusAsciiPeersTest : public ModbusPeersTest {
protected:
    ModbusAsciiPeersTest() {
        framer_ = "ascii";
        protocol_ = "modbus-ascii";
    }
};

TEST_F(ModbusAsciiPeersTest, ScanTestAndSendReadExactlyTheServersUnits) {
    const Finished scan = Cli(Line({"scan", "--addresses", "1-6", "--json"}));
    ASSERT_EQ(scan.status, 0) << scan.err;
    EXPECT_EQ(Json(scan)["found"].toArray(), (QJsonArray{1, 2, 5}));

    const Finished test = Cli(Line({"test", "--addresses", "1,3,5", "--sweeps", "2", "--register",
                                    "98", "--count", "2", "--json"}));
    EXPECT_EQ(test.status, 1) << test.err;  // unit 3 never answers
    const QJsonArray controllers = Json(test)["controllers"].toArray();
    ASSERT_EQ(controllers.size(), 3);
    for (const QJsonValue& value : controllers) {
        const QJsonObject controller = value.toObject();
        const bool absent = controller["address"].toInt() == 3;
        SCOPED_TRACE(controller["address"].toInt());
        EXPECT_EQ(controller["good"].toInt(), absent ? 0 : 2);
        EXPECT_EQ(controller["noAnswer"].toInt(), absent ? 2 : 0);
        for (const char* fault :
             {"badLrc", "notHex", "noLf", "oddLength", "wrongLength", "wrongSource", "cut"}) {
            EXPECT_EQ(controller[fault].toInt(-1), 0) << fault;
        }
    }

    // 02 03 00 05 00 02 sums to 0x0C: its LRC is 0xF4.
    const Finished read = Cli(Line({"send", "--hex", "02 03 00 05 00 02"}));
    ASSERT_EQ(read.status, 0) << read.err;
    EXPECT_EQ(read.out, "sent: :020300050002F4\\r\\n\n"
                        "02 03 04 07 D5 07 D6  (function 3, registers 2005 2006)\n"
                        "verdict: good\n");
    const Finished refused = Cli(Line({"send", "--hex", "02 03 01 05 00 02"}));
    EXPECT_NE(refused.out.find("exception 2 (illegal data address) to function 3"),
              std::string::npos)
        << refused.out;
}

TEST_F(ModbusPeersTest, AScanFindsExactlyTheServersUnitsAndTheirServerId) {
    const Finished scan = Cli(Line({"scan", "--addresses", "1-6", "--json"}));
    ASSERT_EQ(scan.status, 0) << scan.err;
    EXPECT_EQ(Json(scan)["found"].toArray(), (QJsonArray{1, 2, 5}));
    // pymodbus reports its name as the server ID, and no basic identification objects.
    const QJsonArray identities = Json(scan)["identities"].toArray();
    ASSERT_EQ(identities.size(), 3);
    for (const QJsonValue& identity : identities) {
        EXPECT_EQ(identity["serverId"].toString(), "Pymodbus");
        EXPECT_TRUE(identity["running"].toBool());
        EXPECT_TRUE(identity["vendor"].isString());
        EXPECT_EQ(identity["vendor"].toString(), "");
    }
}

TEST_F(ModbusPeersTest, CountersAreReadAndClearedAsTheServerKeepsThem) {
    for (const char* clear : {"--json", "--clear"}) {
        SCOPED_TRACE(clear);
        const Finished read = Cli(Line({"counters", "--addresses", "1,3,5", "--json", clear}));
        EXPECT_EQ(read.status, 1) << read.err;  // unit 3 never answers
        const QJsonArray controllers = Json(read)["controllers"].toArray();
        ASSERT_EQ(controllers.size(), 3);
        for (const QJsonValue& value : controllers) {
            const QJsonObject controller = value.toObject();
            const bool absent = controller["address"].toInt() == 3;
            SCOPED_TRACE(controller["address"].toInt());
            EXPECT_EQ(controller["failure"].toString(), absent ? "No answer !" : "");
            EXPECT_TRUE(controller["notSupported"].isNull());
            if (!absent) {
                // pymodbus answers every sub-function, and keeps its counters at zero.
                for (const QJsonValue counter : controller["counters"].toObject()) {
                    EXPECT_EQ(counter.toInt(-1), 0);
                }
                EXPECT_EQ(controller["cleared"].toBool(), std::string(clear) == "--clear");
            }
        }
    }
}

TEST_F(ModbusPeersTest, ATestRunReadsTheUnitsAndFindsTheAbsentOneSilent) {
    const Finished test = Cli(Line({"test", "--addresses", "1,3,5", "--sweeps", "3", "--register",
                                    "98", "--count", "2", "--json"}));
    EXPECT_EQ(test.status, 1) << test.err;  // unit 3 never answers
    const QJsonArray controllers = Json(test)["controllers"].toArray();
    ASSERT_EQ(controllers.size(), 3);
    for (const QJsonValue& value : controllers) {
        const QJsonObject controller = value.toObject();
        const bool absent = controller["address"].toInt() == 3;
        SCOPED_TRACE(controller["address"].toInt());
        EXPECT_EQ(controller["requests"].toInt(), 3);
        EXPECT_EQ(controller["good"].toInt(), absent ? 0 : 3);
        EXPECT_EQ(controller["noAnswer"].toInt(), absent ? 3 : 0);
        EXPECT_EQ(controller["badCrc"].toInt() + controller["wrongLength"].toInt() +
                      controller["wrongSource"].toInt() + controller["cut"].toInt(),
                  0);
        EXPECT_EQ(controller["judgement"].toString(), absent ? "silent" : "healthy");
    }
}

TEST_F(ModbusPeersTest, AnExceptionProvesTheUnitAndIsCountedByItsCode) {
    // Registers 99 and 100: the server has no register 100.
    const Finished test = Cli(Line({"test", "--addresses", "2", "--sweeps", "2", "--register", "99",
                                    "--count", "2", "--json"}));
    ASSERT_EQ(test.status, 0) << test.err;
    const QJsonObject unit = Json(test)["controllers"].toArray()[0].toObject();
    EXPECT_EQ(unit["good"].toInt(), 2);
    EXPECT_EQ(unit["exceptions"].toInt(), 2);
    EXPECT_EQ(unit["exceptionCodes"].toObject(), (QJsonObject{{"2", 2}}));
}

TEST_F(ModbusPeersTest, SendAddsTheCrcAndDecodesTheAnswer) {
    const Finished read = Cli(Line({"send", "--hex", "02 03 00 05 00 02"}));
    ASSERT_EQ(read.status, 0) << read.err;
    EXPECT_EQ(read.out, "sent: 02 03 00 05 00 02 D4 39\n"
                        "02 03 04 07 D5 07 D6 5A 11  (function 3, registers 2005 2006)\n"
                        "verdict: good\n");
    const Finished refused = Cli(Line({"send", "--hex", "02 03 01 05 00 02"}));
    EXPECT_EQ(refused.status, 0) << refused.err;
    EXPECT_NE(refused.out.find("exception 2 (illegal data address) to function 3"),
              std::string::npos)
        << refused.out;
    const Finished absent = Cli(Line({"send", "--hex", "03 03 00 05 00 02"}));
    EXPECT_EQ(absent.status, 1);
    EXPECT_NE(absent.out.find("No answer !\narrived: nothing\n"), std::string::npos) << absent.out;
    // A write of one register is answered with itself, at once through a pseudo-terminal: it is
    // the answer, though on a port not known to echo or not it could have been the echo.
    const Finished write = Cli(Line({"send", "--hex", "02 06 00 05 00 2A"}));
    EXPECT_EQ(write.status, 0) << write.err;
    EXPECT_EQ(write.out, "sent: 02 06 00 05 00 2A 18 27\n"
                         "02 06 00 05 00 2A 18 27  (function 6)\n"
                         "verdict: good\n");
    EXPECT_NE(write.err.find("it may be this port's echo"), std::string::npos) << write.err;
    const Finished told = Cli(Line({"send", "--echo", "off", "--hex", "02 06 00 05 00 2A"}));
    EXPECT_EQ(told.out, write.out);
    EXPECT_EQ(told.err, "");
}

// mbpoll (a libmodbus master) against line-tarvel-sim serving a Modbus description.
class MbpollTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (QProcess::execute("mbpoll", {"-V"}) < 0) {
            TARVEL_SKIP_MISSING_TOOL("mbpoll is missing: scripts/setup.sh installs it");
        }
        description_ = std::filesystem::temp_directory_path() /
                       ("mbpoll-line-" + std::to_string(::getpid()) + ".json");
        std::ofstream(description_) << R"({
            "protocol": "modbus-rtu",
            "controllers": [
                { "address": 1, "baud": 9600, "parity": "none",
                  "registers": { "0": 215, "1": 216 } },
                { "address": 7, "baud": 9600, "parity": "none", "fault": "silent" }
            ]
        })";
        simulator_.start(QStringLiteral(TARVEL_SIM_PROGRAM),
                         {"--line", QString::fromStdString(description_.string())});
        ASSERT_TRUE(simulator_.waitForStarted(10000));
        ASSERT_TRUE(simulator_.waitForReadyRead(10000)) << "the simulator printed no device";
        device_ = QString::fromUtf8(simulator_.readLine()).trimmed();
    }
    void TearDown() override {
        if (simulator_.state() != QProcess::NotRunning) {
            simulator_.kill();
            simulator_.waitForFinished(5000);
        }
        std::filesystem::remove(description_);
    }
    // One poll of `count` holding registers from the first (mbpoll counts from 1) of `unit`.
    Finished Poll(int unit, int count) const {
        return tarvel::Run("mbpoll", {"-m", "rtu", "-a", QString::number(unit), "-r", "1", "-c",
                                      QString::number(count), "-t", "4", "-b", "9600", "-P", "none",
                                      "-o", "0.5", "-1", device_});
    }

    std::filesystem::path description_;
    QProcess simulator_;
    QString device_;
};

TEST_F(MbpollTest, ReadsTheRegistersTheDescriptionGives) {
    const Finished poll = Poll(1, 2);
    ASSERT_EQ(poll.status, 0) << poll.out << poll.err;
    EXPECT_NE(poll.out.find("[1]: \t215\n[2]: \t216\n"), std::string::npos) << poll.out;
}

TEST_F(MbpollTest, AUnitTheDescriptionMakesSilentTimesOut) {
    const Finished poll = Poll(7, 1);
    EXPECT_NE(poll.status, 0);
    EXPECT_NE((poll.out + poll.err).find("timed out"), std::string::npos) << poll.out << poll.err;
}

// What mbpoll's verbose output says it did with each unit: the frames it sent ("[01][03]..."),
// the answers it received ("<01><03>..."), and the register values it printed ("[1]: \t1000").
struct MasterSaw {
    int sent = 0;
    int received = 0;
    int values = 0;
};

std::map<int, MasterSaw> WhatMbpollSaw(const std::string& out) {
    std::map<int, MasterSaw> saw;
    std::istringstream lines(out);
    std::string line;
    std::optional<int> unit;
    const std::regex polling(R"(^-- Polling slave (\d+)\.\.\.$)");
    const std::regex sent(R"(^\[([0-9A-F]{2})\](\[[0-9A-F]{2}\])+$)");
    const std::regex received(R"(^<([0-9A-F]{2})>(<[0-9A-F]{2}>)+$)");
    const std::regex value(R"(^\[\d+\]: \t-?\d+$)");
    std::smatch match;
    while (std::getline(lines, line)) {
        if (std::regex_match(line, match, polling)) {
            unit = std::stoi(match[1]);
        } else if (std::regex_match(line, match, sent)) {
            ++saw[std::stoi(match[1], nullptr, 16)].sent;
        } else if (std::regex_match(line, match, received)) {
            ++saw[std::stoi(match[1], nullptr, 16)].received;
        } else if (unit && std::regex_match(line, value)) {
            ++saw[*unit].values;
        }
    }
    return saw;
}

// Whether process `pid` holds `device` open.
bool HoldsOpen(qint64 pid, const std::filesystem::path& device) {
    std::error_code error;
    const std::filesystem::path target = std::filesystem::canonical(device, error);
    const std::filesystem::path descriptors = "/proc/" + std::to_string(pid) + "/fd";
    for (const auto& entry : std::filesystem::directory_iterator(descriptors, error)) {
        std::error_code unreadable;
        if (!error && std::filesystem::read_symlink(entry.path(), unreadable) == target) {
            return true;
        }
    }
    return false;
}

// mbpoll polls pymodbus's units through a tap that copies the line onto a third pseudo-terminal,
// where line-tarvel-cli listens: what the listener heard is what the master says it did.
class ModbusTapTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (PeersMissing() || QProcess::execute("mbpoll", {"-V"}) < 0) {
            TARVEL_SKIP_MISSING_TOOL(
                "pymodbus, socat or mbpoll is missing: scripts/setup.sh installs them");
        }
        folder_ = TestFolder("modbus-tap");
        const auto at = [&](const char* name) { return (folder_ / name).string(); };
        master_ = at("master");
        listened_ = at("listened");
        ASSERT_NO_FATAL_FAILURE(JoinPair(masterSide_, master_, at("tap-master")));
        ASSERT_NO_FATAL_FAILURE(JoinPair(serverSide_, at("tap-server"), at("server")));
        ASSERT_NO_FATAL_FAILURE(JoinPair(copySide_, at("tap-copy"), listened_));
        ASSERT_NO_FATAL_FAILURE(ServeUnits(server_, at("server")));
        tap_.start("/usr/bin/python3", {QStringLiteral(TARVEL_PEERS_DIR "/serial_tap.py"),
                                        QString::fromStdString(at("tap-master")),
                                        QString::fromStdString(at("tap-server")),
                                        QString::fromStdString(at("tap-copy"))});
        ASSERT_TRUE(tap_.waitForStarted(10000));
        ASSERT_TRUE(tap_.waitForReadyRead(10000)) << "the tap did not start";
    }
    void TearDown() override {
        for (QProcess* process :
             {&listener_, &tap_, &server_, &copySide_, &serverSide_, &masterSide_}) {
            Stop(*process);
        }
        if (!folder_.empty()) {
            std::filesystem::remove_all(folder_);
        }
    }

    std::filesystem::path folder_;
    std::string master_;
    std::string listened_;
    QProcess masterSide_, serverSide_, copySide_, server_, tap_, listener_;
};

TEST_F(ModbusTapTest, TheListenerHearsWhatTheMasterSentAndReceived) {
    listener_.start(
        QStringLiteral(TARVEL_CLI_PROGRAM),
        {"listen", "--protocol", "modbus-rtu", "--port", QString::fromStdString(listened_),
         "--baud", "9600", "--answer-window", "0.4", "--duration", "1m", "--json"});
    ASSERT_TRUE(listener_.waitForStarted(10000));
    // Opening the port empties it: nothing may be said on the line before.
    ASSERT_TRUE(WaitFor([&] { return HoldsOpen(listener_.processId(), listened_); }))
        << "the listener did not open its port";
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    // mbpoll's options, then the device, then the values a write writes.
    const auto poll = [&](QStringList options, const QStringList& values = {}) {
        options << "-m"
                << "rtu"
                << "-b"
                << "9600"
                << "-P"
                << "none"
                << "-o"
                << "0.5"
                << "-v" << QString::fromStdString(master_) << values;
        return tarvel::Run("mbpoll", options);
    };
    // Three rounds of reads of units 1, 3 (absent) and 5; mbpoll's time-out is longer than the
    // listener's window, so the request to 3 is judged before the next one.
    std::string reads;
    for (int round = 0; round < 3; ++round) {
        const Finished read = poll({"-a", "1,3,5", "-r", "1", "-c", "2", "-t", "4", "-1"});
        EXPECT_NE(read.status, 0) << "unit 3 never answers\n" << read.out << read.err;
        reads += read.out;
    }
    // Then the other functions: a register written (6), three written at once (16), input
    // registers (4), coils (1), and a read beyond the unit's registers, which it refuses.
    std::string others;
    const Finished one = poll({"-a", "1", "-r", "1", "-t", "4"}, {"123"});
    const Finished three = poll({"-a", "2", "-r", "3", "-t", "4"}, {"7", "8", "9"});
    const Finished inputs = poll({"-a", "5", "-r", "1", "-c", "3", "-t", "3", "-1"});
    const Finished coils = poll({"-a", "1", "-r", "1", "-c", "4", "-t", "0", "-1"});
    for (const Finished* done : {&one, &three, &inputs, &coils}) {
        EXPECT_EQ(done->status, 0) << done->out << done->err;
        others += done->out;
    }
    const Finished refused = poll({"-a", "2", "-r", "200", "-c", "2", "-t", "4", "-1"});
    EXPECT_NE(refused.err.find("Illegal data address"), std::string::npos) << refused.err;
    others += refused.out;
    // Ctrl+C ends the listening once the last answer's copy is in.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ::kill(static_cast<pid_t>(listener_.processId()), SIGINT);
    ASSERT_TRUE(listener_.waitForFinished(10000));
    const Finished listened{listener_.exitCode(), listener_.readAllStandardOutput().toStdString(),
                            listener_.readAllStandardError().toStdString()};
    EXPECT_EQ(listened.status, 1) << listened.err;  // unit 3's exchanges failed

    // Each answer to the reads of holding registers is the two registers mbpoll printed.
    for (const auto& [unit, master] : WhatMbpollSaw(reads)) {
        EXPECT_EQ(master.sent, 3) << unit;
        EXPECT_EQ(master.values, 2 * master.received) << unit;
    }
    const std::map<int, MasterSaw> saw = WhatMbpollSaw(reads + others);
    ASSERT_EQ(saw.size(), 4u) << reads << others;
    const QJsonObject document = Json(listened);
    EXPECT_EQ(document["stoppedBy"].toString(), "Ctrl+C") << listened.out;
    std::map<int, QJsonObject> heard;
    for (const QJsonValue& value : document["controllers"].toArray()) {
        heard[value.toObject()["address"].toInt()] = value.toObject();
    }
    ASSERT_EQ(heard.size(), 4u) << listened.out;
    int sentInAll = 0;
    int receivedInAll = 0;
    for (const auto& [unit, master] : saw) {
        SCOPED_TRACE(unit);
        const QJsonObject& controller = heard[unit];
        EXPECT_EQ(controller["requests"].toInt(), master.sent);
        EXPECT_EQ(controller["good"].toInt(), master.received);
        EXPECT_EQ(controller["noAnswer"].toInt(), master.sent - master.received);
        EXPECT_EQ(controller["badCrc"].toInt() + controller["wrongLength"].toInt() +
                      controller["wrongSource"].toInt() + controller["cut"].toInt(),
                  0);
        sentInAll += master.sent;
        receivedInAll += master.received;
    }
    EXPECT_EQ(saw.at(1).received, 5);
    EXPECT_EQ(saw.at(2).received, 2);
    EXPECT_EQ(saw.at(5).received, 4);
    // The refusal is a good answer, counted by its code.
    EXPECT_EQ(heard[2]["exceptionCodes"].toObject(), (QJsonObject{{"2", 1}}));
    // The absent unit: asked, never answered, and so judged.
    EXPECT_EQ(saw.at(3).sent, 3);
    EXPECT_EQ(saw.at(3).received, 0);
    EXPECT_EQ(heard[3]["good"].toInt(), 0);
    EXPECT_TRUE(heard[3]["responseToFirstMs"].isNull());
    EXPECT_EQ(heard[3]["judgement"].toString(), "silent");
    const QJsonObject line = document["heard"].toObject();
    EXPECT_EQ(line["requests"].toInt(), sentInAll);
    EXPECT_EQ(line["frames"].toInt(), sentInAll + receivedInAll);
    EXPECT_EQ(line["noiseBytes"].toInt(), 0);
    EXPECT_EQ(line["crcErrors"].toInt(), 0);
}

}  // namespace
}  // namespace tarvel
