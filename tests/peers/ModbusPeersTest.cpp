// SPDX-License-Identifier: GPL-3.0-or-later
// Modbus as others speak it: line-tarvel-cli against pymodbus's serial server, on a pair of
// pseudo-terminals that socat joins. Real time; a few seconds in all.

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

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

// The units pymodbus serves: each holds registers 0 to 99, reading 1000 * unit + address.
constexpr const char* kUnits = "1,2,5";

class ModbusPeersTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (QProcess::execute("/usr/bin/python3", {"-c", "import pymodbus, serial_asyncio"}) != 0 ||
            QProcess::execute("socat", {"-V"}) != 0) {
            GTEST_SKIP() << "pymodbus or socat is missing: scripts/setup.sh installs them";
        }
        folder_ = std::filesystem::temp_directory_path() /
                  ("modbus-peers-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder_);
        port_ = (folder_ / "host").string();
        const std::string peer = (folder_ / "peer").string();
        // ignoreeof: each command opens and closes the host side, and the pair must outlive it.
        socat_.start("socat", {QString::fromStdString("pty,raw,echo=0,ignoreeof,link=" + port_),
                               QString::fromStdString("pty,raw,echo=0,ignoreeof,link=" + peer)});
        ASSERT_TRUE(socat_.waitForStarted(10000));
        ASSERT_TRUE(WaitFor([&] {
            return std::filesystem::exists(port_) && std::filesystem::exists(peer);
        })) << "socat made no pseudo-terminals";
        server_.start("/usr/bin/python3",
                      {QStringLiteral(TARVEL_PEERS_DIR "/pymodbus_serial_server.py"),
                       QString::fromStdString(peer), "rtu", kUnits, "9600"});
        ASSERT_TRUE(server_.waitForStarted(10000));
        ASSERT_TRUE(server_.waitForReadyRead(20000)) << "pymodbus did not start";
    }
    void TearDown() override {
        for (QProcess* process : {&server_, &socat_}) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(5000);
            }
        }
        if (!folder_.empty()) {
            std::filesystem::remove_all(folder_);
        }
    }
    static bool WaitFor(const std::function<bool()>& done) {
        for (int i = 0; i < 100; ++i) {
            if (done()) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    QStringList Line(QStringList arguments) const {
        const bool send = arguments.front() == "send";
        arguments << "--protocol"
                  << "modbus-rtu"
                  << "--port" << QString::fromStdString(port_);
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

    std::filesystem::path folder_;
    std::string port_;
    QProcess socat_;
    QProcess server_;
};

TEST_F(ModbusPeersTest, AScanFindsExactlyTheServersUnits) {
    const Finished scan = Cli(Line({"scan", "--addresses", "1-6", "--json"}));
    ASSERT_EQ(scan.status, 0) << scan.err;
    EXPECT_EQ(Json(scan)["found"].toArray(), (QJsonArray{1, 2, 5}));
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
}

// mbpoll (a libmodbus master) against line-tarvel-sim serving a Modbus description.
class MbpollTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (QProcess::execute("mbpoll", {"-V"}) < 0) {
            GTEST_SKIP() << "mbpoll is missing: scripts/setup.sh installs it";
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

}  // namespace
}  // namespace tarvel
