// SPDX-License-Identifier: GPL-3.0-or-later
// line-tarvel-cli as a script runs it: the real program on its built-in simulated line, which
// answers in real time through a pseudo-terminal. Its exit statuses, its files, Ctrl+C.

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>

#include "core/Analysis.h"
#include "core/ListFile.h"
#include "lines/LineSettings.h"
#include "monitor/MonitorCsv.h"
#include "platform/TextFiles.h"
#include "sim/PtyBusHost.h"
#include "sim/SimulatedMaster.h"

namespace tarvel {
namespace {

struct Finished {
    int status = -1;
    std::string out;
    std::string err;
};

struct CliProgramTest : ::testing::Test {
    std::filesystem::path folder;

    CliProgramTest() {
        folder = std::filesystem::temp_directory_path() /
                 ("cli-program-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder);
    }
    ~CliProgramTest() override { std::filesystem::remove_all(folder); }

    std::string File(const std::string& name) const { return (folder / name).string(); }
    std::string Read(const std::string& name) const {
        std::string bytes;
        EXPECT_FALSE(ReadWholeFile(File(name), bytes)) << name;
        return bytes;
    }

    static void Start(QProcess& process, const std::vector<std::string>& arguments) {
        QStringList list;
        for (const std::string& argument : arguments) {
            list << QString::fromStdString(argument);
        }
        process.start(QStringLiteral(TARVEL_CLI_PROGRAM), list);
        ASSERT_TRUE(process.waitForStarted(10000));
    }
    static Finished Wait(QProcess& process, int milliseconds = 120000) {
        EXPECT_TRUE(process.waitForFinished(milliseconds));
        return Finished{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                        process.readAllStandardOutput().toStdString(),
                        process.readAllStandardError().toStdString()};
    }
    static Finished Run(const std::vector<std::string>& arguments) {
        QProcess process;
        Start(process, arguments);
        return Wait(process);
    }
};

TEST_F(CliProgramTest, AScanFindsExactlyTheSimulatedControllers) {
    const Finished scan =
        Run({"scan", "--simulate", "--retry", "0", "--baud", "9600", "--cfg", File("line.cfg")});
    EXPECT_EQ(scan.status, 0) << scan.err;
    EXPECT_NE(scan.out.find("Controller A found (address 0)\n"
                            "Controller B found (address 1)\n"
                            "Controller D found (address 3)\n"
                            "Controller E found (address 4)\n"
                            "Scan finished: 4 controllers found: A B D E ("),
              std::string::npos)
        << scan.out;
    EXPECT_EQ(Read("line.cfg"), " 4 \r\n 0 \r\n 1 \r\n 3 \r\n 4 \r\n");
    EXPECT_EQ(scan.err, "");  // no progress where standard error is no terminal
}

TEST_F(CliProgramTest, AShortTestWritesItsFailuresAndAnalyseGivesTheSameReport) {
    const Finished test = Run({"test", "--simulate", "--addresses", "A,C", "--sweeps", "3",
                               "--retry", "0", "--lst", File("run.lst"), "--dat", File("run.dat")});
    EXPECT_EQ(test.status, 1) << test.err;
    const auto records = std::get<std::vector<std::string>>(ReadListFile(Read("run.lst")));
    ASSERT_EQ(records.size(), 3u);
    for (const std::string& record : records) {
        EXPECT_EQ(record.substr(0, 3), "C  ");
        EXPECT_EQ(record.substr(11), "  No answer !   0");
    }

    const Finished analyse = Run({"analyse", File("run.lst")});
    EXPECT_EQ(analyse.status, 0) << analyse.err;
    std::string report;
    for (const std::string& line : Analyse(records).lines) {
        report += line + "\n";
    }
    EXPECT_EQ(analyse.out, report);
    EXPECT_EQ(Read("run.dat"), FormatListFile(Analyse(records).lines));

    const Finished healthy =
        Run({"test", "--simulate", "--addresses", "A,B", "--sweeps", "2", "--json"});
    EXPECT_EQ(healthy.status, 0) << healthy.err;
    EXPECT_NE(healthy.out.find("\"judgement\": \"healthy\""), std::string::npos);
}

TEST_F(CliProgramTest, UsageErrorsAndPortsThatDoNotOpenHaveTheirOwnStatus) {
    const Finished badBaud = Run({"scan", "--baud", "1234"});
    EXPECT_EQ(badBaud.status, 2);
    EXPECT_EQ(badBaud.err,
              "line-tarvel-cli: invalid --baud \"1234\": allowed are 150, 300, 600, 1200, 2400, "
              "4800, 9600\n");
    EXPECT_EQ(Run({"frobnicate"}).status, 2);
    EXPECT_EQ(Run({"test", "--simulate"}).status, 2);
    // Refused before any port is tried: not a device of that name, not an ignored option.
    const Finished badAssignment = Run({"scan", "--port", "COM5=/dev/ttyUSB0"});
    EXPECT_EQ(badAssignment.status, 2);
    EXPECT_NE(badAssignment.err.find("invalid --port \"COM5=/dev/ttyUSB0\""), std::string::npos)
        << badAssignment.err;
    const Finished misplaced = Run({"send", "A?X  ", "--json"});
    EXPECT_EQ(misplaced.status, 2);
    EXPECT_EQ(misplaced.err, "line-tarvel-cli: send does not take --json\n");

    const Finished noPort = Run({"scan", "--port", File("no-such-device")});
    EXPECT_EQ(noPort.status, 3);
    EXPECT_NE(noPort.err.find("cannot open the port: " + File("no-such-device")), std::string::npos)
        << noPort.err;

    const Finished help = Run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: line-tarvel-cli COMMAND"), std::string::npos);
    EXPECT_EQ(Run({"scan", "--help"}).out.rfind("Usage: line-tarvel-cli scan", 0), 0u);
    // Help goes before the mistakes around it.
    const Finished helpAfterMistake = Run({"--baud", "1234", "--help"});
    EXPECT_EQ(helpAfterMistake.status, 0);
    EXPECT_EQ(helpAfterMistake.out, help.out);
    EXPECT_EQ(Run({"--version"}).out, "line-tarvel-cli 3.beta\n");
}

TEST_F(CliProgramTest, SendPrintsTheAnswerOfASimulatedController) {
    const Finished answered = Run({"send", "--simulate", "A?X  "});
    EXPECT_EQ(answered.status, 0) << answered.err;
    ASSERT_EQ(answered.out.size(), 5u) << answered.out;  // the answer without its CR, a line end
    EXPECT_EQ(answered.out[0], 'A');
    EXPECT_EQ(answered.err, "");

    const Finished silent = Run({"send", "--simulate", "--", "C?X  "});
    EXPECT_EQ(silent.status, 1) << silent.err;
    EXPECT_EQ(silent.out, "No answer !\n");
}

TEST_F(CliProgramTest, TheSimulatedLineIsTheOneAFileDescribesAndAWrongFileEndsWithStatus3) {
    const std::string training = std::string(TARVEL_EXAMPLES_DIR) + "/training-line.json";
    const Finished healthy = Run({"send", "--baud", "9600", "--simulate", training, "F?X  "});
    EXPECT_EQ(healthy.status, 0) << healthy.err;
    EXPECT_EQ(healthy.out.substr(0, 1), "F");
    // E is at 2400 on a line at 9600.
    const Finished wrongSpeed = Run({"send", "--baud", "9600", "--simulate=" + training, "E?X  "});
    EXPECT_EQ(wrongSpeed.status, 1) << wrongSpeed.err;
    EXPECT_EQ(wrongSpeed.out, "No answer !\n");

    std::ofstream(File("wrong.json")) << "{\n  \"controllers\": [\n    { \"address\": \"A\", "
                                         "\"baud\": 2500 }\n  ]\n}\n";
    const Finished wrong = Run({"scan", "--simulate", File("wrong.json")});
    EXPECT_EQ(wrong.status, 3);
    EXPECT_EQ(wrong.err, "line-tarvel-cli: " + File("wrong.json") +
                             ":3: controllers[0].baud: 2500 is no speed of the port dialog (150, "
                             "300, 600, 1200, 2400, 4800, 9600)\n");
    EXPECT_EQ(wrong.out, "");
}

TEST_F(CliProgramTest, ListeningToADescribedLineHearsTheMasterOfItsFile) {
    // Its master polls D too, which the line has no controller for; a master made at the
    // listening settings would poll only A, B and C.
    const Finished listened =
        Run({"listen", "--baud", "9600", "--duration", "2s", "--json", "--simulate",
             std::string(TARVEL_EXAMPLES_DIR) + "/listened-line.json"});
    EXPECT_EQ(listened.status, 1) << listened.err;  // C is silent, D absent
    const QJsonObject document =
        QJsonDocument::fromJson(QByteArray::fromStdString(listened.out)).object();
    std::map<std::string, int> requests;
    for (const QJsonValue& value : document["controllers"].toArray()) {
        requests[value.toObject()["address"].toString().toStdString()] =
            value.toObject()["requests"].toInt();
    }
    for (const char* address : {"A", "B", "C", "D"}) {
        EXPECT_GT(requests[address], 2) << address << "\n" << listened.out;
    }
    EXPECT_EQ(requests.size(), 4u);
}

TEST_F(CliProgramTest, ListeningToADescribedModbusLineJudgesEachControllerByItsFault) {
    std::ofstream(File("modbus-master.json")) << R"({
        "protocol": "modbus-rtu",
        "controllers": [
            { "address": 1, "baud": 19200, "parity": "none" },
            { "address": 2, "baud": 19200, "parity": "none", "fault": "exception",
              "exceptionCode": 6 },
            { "address": 3, "baud": 19200, "parity": "none", "fault": "badCrc" }
        ],
        "master": { "baud": 19200, "parity": "none", "pollGapMs": 10, "answerTimeoutMs": 60,
                    "writeEvery": 4, "broadcastEvery": 5, "turnaroundMs": 20,
                    "addresses": [1, 2, 3, 4] }
    })";
    const Finished listened =
        Run({"listen", "--protocol", "modbus-rtu", "--baud", "19200", "--parity", "none",
             "--duration", "2s", "--json", "--simulate", File("modbus-master.json")});
    EXPECT_EQ(listened.status, 1) << listened.err;  // 3 garbled, 4 absent
    const QJsonObject document =
        QJsonDocument::fromJson(QByteArray::fromStdString(listened.out)).object();
    std::map<int, QJsonObject> by;
    for (const QJsonValue& value : document["controllers"].toArray()) {
        by[value.toObject()["address"].toInt()] = value.toObject();
    }
    ASSERT_EQ(by.size(), 4u) << listened.out;
    for (const auto& [address, controller] : by) {
        EXPECT_GT(controller["requests"].toInt(), 2) << address;
    }
    EXPECT_EQ(by[1]["good"].toInt(), by[1]["requests"].toInt());
    EXPECT_EQ(by[2]["good"].toInt(), by[2]["requests"].toInt());
    EXPECT_EQ(by[2]["exceptionCodes"].toObject(), (QJsonObject{{"6", by[2]["requests"].toInt()}}));
    EXPECT_EQ(by[3]["badCrc"].toInt(), by[3]["requests"].toInt());
    EXPECT_EQ(by[4]["noAnswer"].toInt(), by[4]["requests"].toInt());
    const QJsonObject heard = document["heard"].toObject();
    EXPECT_GT(heard["broadcasts"].toInt(), 0);
    EXPECT_EQ(heard["crcErrors"].toInt(), by[3]["badCrc"].toInt());
    EXPECT_EQ(heard["noiseBytes"].toInt(), 0);
}

TEST_F(CliProgramTest, AnEchoingAdapterIsFoundItsEchoRemovedAndToldOnce) {
    const std::string echoing = std::string(TARVEL_EXAMPLES_DIR) + "/echoing-adapter.json";
    const std::vector<std::string> test{"test", "--simulate", echoing, "--addresses",
                                        "A,B",  "--sweeps",   "4",     "--retry",
                                        "0",    "--json"};
    const Finished found = Run(test);
    EXPECT_EQ(found.status, 0) << found.err << found.out;
    EXPECT_EQ(found.err, "line-tarvel-cli: this port echoes what it sends; the echo is removed "
                         "before answers are judged\n");
    const QJsonObject document =
        QJsonDocument::fromJson(QByteArray::fromStdString(found.out)).object();
    EXPECT_TRUE(document["echo"].toBool()) << found.out;
    EXPECT_EQ(document["echoFaults"].toObject()["differed"].toInt(-1), 0);
    EXPECT_EQ(document["echoFaults"].toObject()["missing"].toInt(-1), 0);
    EXPECT_TRUE(document["records"].toArray().isEmpty()) << found.out;

    // Told the port does not echo, the program reads every request as the start of its answer.
    std::vector<std::string> off = test;
    off.insert(off.end(), {"--echo", "off"});
    const Finished unremoved = Run(off);
    EXPECT_EQ(unremoved.status, 1) << unremoved.err;
    const QJsonObject failed =
        QJsonDocument::fromJson(QByteArray::fromStdString(unremoved.out)).object();
    EXPECT_FALSE(failed["echo"].toBool(true));
    EXPECT_EQ(failed["records"].toArray().size(), 8);

    const Finished sent = Run({"send", "--simulate", echoing, "B?X  "});
    EXPECT_EQ(sent.status, 0) << sent.err;
    EXPECT_EQ(sent.out.substr(0, 1), "B") << sent.out;
    EXPECT_EQ(Run({"test", "--simulate", "--echo", "sometimes"}).status, 2);
}

TEST_F(CliProgramTest, AnEchoingAdapterOnAModbusLineIsFoundAndItsEchoRemoved) {
    std::ofstream(File("modbus-echo.json")) << R"({
        "protocol": "modbus-rtu",
        "controllers": [ { "address": 1 }, { "address": 2, "fault": "exception" } ],
        "echo": true
    })";
    const std::vector<std::string> test{
        "test",        "--protocol", "modbus-rtu", "--simulate", File("modbus-echo.json"),
        "--addresses", "1,2",        "--sweeps",   "4",          "--retry",
        "0",           "--json"};
    const Finished found = Run(test);
    EXPECT_EQ(found.status, 0) << found.err << found.out;
    EXPECT_EQ(found.err, "line-tarvel-cli: this port echoes what it sends; the echo is removed "
                         "before answers are judged\n");
    const QJsonObject document =
        QJsonDocument::fromJson(QByteArray::fromStdString(found.out)).object();
    EXPECT_TRUE(document["echo"].toBool()) << found.out;
    EXPECT_EQ(document["echoFaults"].toObject()["differed"].toInt(-1), 0);
    EXPECT_EQ(document["echoFaults"].toObject()["missing"].toInt(-1), 0);
    EXPECT_EQ(document["controllers"].toArray().size(), 2);
    for (const QJsonValue& value : document["controllers"].toArray()) {
        EXPECT_EQ(value.toObject()["good"].toInt(), 4) << found.out;
    }

    // Left in, the echo of a read request is no answer to it: every exchange fails.
    std::vector<std::string> off = test;
    off.insert(off.end(), {"--echo", "off"});
    const Finished unremoved = Run(off);
    EXPECT_EQ(unremoved.status, 1) << unremoved.err;
    const QJsonObject failed =
        QJsonDocument::fromJson(QByteArray::fromStdString(unremoved.out)).object();
    EXPECT_FALSE(failed["echo"].toBool(true));
    EXPECT_EQ(failed["controllers"].toArray().size(), 2);
    for (const QJsonValue& value : failed["controllers"].toArray()) {
        EXPECT_EQ(value.toObject()["good"].toInt(-1), 0) << unremoved.out;
    }

    const Finished sent = Run({"send", "--protocol", "modbus-rtu", "--simulate",
                               File("modbus-echo.json"), "--hex", "01 03 00 00 00 01"});
    EXPECT_EQ(sent.status, 0) << sent.err;
    EXPECT_EQ(sent.out.rfind("sent: 01 03 00 00 00 01 84 0A\n01 03 02 ", 0), 0u) << sent.out;
}

TEST_F(CliProgramTest, CtrlCEndsTheRunProperlyAndTheFilesAreComplete) {
    QProcess process;
    Start(process, {"test", "--simulate", "--addresses", "A,C", "--retry", "0", "--lst",
                    File("run.lst"), "--dat", File("run.dat")});
    // Long enough for a few sweeps, each with a failure of C.
    EXPECT_FALSE(process.waitForFinished(2500));
    ASSERT_EQ(process.state(), QProcess::Running);
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    const Finished stopped = Wait(process, 10000);
    EXPECT_EQ(stopped.status, 1) << stopped.err;
    EXPECT_NE(stopped.out.find("ended by Ctrl+C"), std::string::npos) << stopped.out;
    const auto records = std::get<std::vector<std::string>>(ReadListFile(Read("run.lst")));
    EXPECT_GE(records.size(), 1u);
    EXPECT_EQ(Read("run.dat"), FormatListFile(Analyse(records).lines));
    EXPECT_NE(stopped.out.find(Analyse(records).lines.front()), std::string::npos);
}

// Failed answers in a traffic CSV, in order: "C No answer !".
std::vector<std::string> FailuresIn(const std::string& traffic) {
    std::vector<std::string> failures;
    std::istringstream rows(traffic);
    std::string row;
    std::getline(rows, row);  // the header
    while (std::getline(rows, row)) {
        EXPECT_EQ(row.back(), '\r') << "a row cut short: " << row;
        const std::size_t answer = row.find(",answer,");
        if (answer != std::string::npos && row.find(",good,") == std::string::npos) {
            const std::string address = row.substr(answer + 8, 1);
            const std::size_t verdict = row.find(" !,");
            const std::size_t start = row.rfind(',', verdict) + 1;
            failures.push_back(address + " " + row.substr(start, verdict + 2 - start));
        }
    }
    return failures;
}

TEST_F(CliProgramTest, ARunKilledOutrightLeavesItsEvidenceUpToASecondBeforeTheKill) {
    QProcess process;
    Start(process, {"test", "--simulate", "--addresses", "A-E", "--retry", "0", "--lst",
                    File("night.lst"), "--dat", File("night.dat"), "--traffic", File("traffic.csv"),
                    "--stats", File("stats.csv")});
    EXPECT_FALSE(process.waitForFinished(3300));
    ASSERT_EQ(process.state(), QProcess::Running);
    ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
    EXPECT_TRUE(process.waitForFinished(10000));

    // The traffic holds every exchange up to the kill, each row whole; the error list every
    // failure but those of the last second, in the same order.
    const std::vector<std::string> failures = FailuresIn(Read("traffic.csv"));
    const auto records = std::get<std::vector<std::string>>(ReadListFile(Read("night.lst")));
    // C fails about twice a second, and the files lag a second at most.
    ASSERT_GE(failures.size(), 4u);
    EXPECT_LE(records.size(), failures.size());
    EXPECT_GE(records.size() + 3, failures.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].substr(0, 1) + " " + records[i].substr(13, records[i].find(" !") - 11),
                  failures[i]);
    }
    const Finished analyse = Run({"analyse", File("night.lst")});
    EXPECT_EQ(analyse.status, 0) << analyse.err;
    EXPECT_EQ(analyse.out.rfind(" The total numbers of Errors is:", 0), 0u) << analyse.out;
    EXPECT_FALSE(std::holds_alternative<ListFileProblem>(ReadListFile(Read("night.dat"))));
    const std::string statistics = Read("stats.csv");
    EXPECT_EQ(std::count(statistics.begin(), statistics.end(), '\n'), 6) << statistics;
}

TEST_F(CliProgramTest, AFileThatCannotBeWrittenEndsTheProgramBeforeAByteReachesTheLine) {
    std::string error;
    const auto peer = PtyBusHost::Start(SimulatedBus(DemoControllers(), 0.0, 1), error);
    ASSERT_TRUE(peer) << error;
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"test", "--addresses", "A", "--lst", File("nowhere/x.lst")},
          std::vector<std::string>{"scan", "--traffic", File("nowhere/t.csv")}}) {
        std::vector<std::string> arguments = command;
        arguments.insert(arguments.end(), {"--port", peer->DevicePath()});
        const Finished refused = Run(arguments);
        EXPECT_EQ(refused.status, 3);
        EXPECT_EQ(std::count(refused.err.begin(), refused.err.end(), '\n'), 1) << refused.err;
        EXPECT_NE(refused.err.find(File("nowhere/")), std::string::npos) << refused.err;
        EXPECT_NE(refused.err.find(": No such file or directory\n"), std::string::npos);
    }
    EXPECT_TRUE(peer->Received().empty());

    // The same line takes a request once the files can be written.
    EXPECT_EQ(Run({"send", "A?X  ", "--port", peer->DevicePath()}).status, 0);
    EXPECT_FALSE(peer->Received().empty());
}

TEST_F(CliProgramTest, ListeningSendsNotASingleByte) {
    std::string error;
    const auto peer = PtyBusHost::Start(SimulatedBus(DemoControllers(), 0.0, 1), error);
    ASSERT_TRUE(peer) << error;
    // Opened, listened to for four seconds, stopped by a signal, closed: nothing reaches the line.
    QProcess process;
    Start(process, {"listen", "--port", peer->DevicePath(), "--duration", "1h", "--traffic",
                    File("traffic.csv")});
    EXPECT_FALSE(process.waitForFinished(4000));
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    const Finished stopped = Wait(process, 10000);
    EXPECT_EQ(stopped.status, 1) << stopped.err;  // nothing heard proves nothing
    EXPECT_NE(stopped.out.find("ended by Ctrl+C"), std::string::npos) << stopped.out;
    EXPECT_NE(stopped.out.find("Nothing was heard on the line"), std::string::npos);
    EXPECT_TRUE(peer->Received().empty()) << peer->Received().size() << " bytes sent";
    EXPECT_EQ(Read("traffic.csv"), TrafficCsvHeader());
}

TEST_F(CliProgramTest, ListeningToTheSimulatedMasterCountsWhatItsLogSays) {
    std::string error;
    const auto master = PtyBusHost::StartMaster(
        SimulatedMaster(SimulatedBus(DemoControllers(), 0.0, 3), MasterSchedule{},
                        *ParseSettingsText(" 9600,N,8, 1")),
        error);
    ASSERT_TRUE(master) << error;
    const Finished listened = Run(
        {"listen", "--port", master->DevicePath(), "--baud", "9600", "--duration", "5s", "--json"});
    EXPECT_EQ(listened.status, 1) << listened.err;  // C is silent
    const auto log = master->MasterLog();
    ASSERT_GT(log.size(), 20u);
    std::map<std::string, int> polled;
    for (const MasterPoll& poll : log) {
        ++polled[poll.address];
    }
    const QJsonObject document =
        QJsonDocument::fromJson(QByteArray::fromStdString(listened.out)).object();
    for (const QJsonValue& value : document["controllers"].toArray()) {
        const QJsonObject controller = value.toObject();
        const std::string address = controller["address"].toString().toStdString();
        // The simulator logs a poll once its bytes are all in the pseudo-terminal and polls
        // before the listener has opened the port: the listener may have missed the request
        // written before it opened (its open purges what waits), and may have heard one request
        // more of each, cut off when it closed the port.
        EXPECT_GE(controller["requests"].toInt(), polled[address] - 1) << address;
        EXPECT_LE(controller["requests"].toInt(), polled[address] + 1) << address;
    }
    EXPECT_EQ(document["controllers"].toArray().size(), 5);
    EXPECT_TRUE(master->Received().empty());
}

TEST_F(CliProgramTest, TheProgramNeedsNeitherQtWidgetsNorQtGui) {
    QProcess ldd;
    ldd.start("ldd", {QStringLiteral(TARVEL_CLI_PROGRAM)});
    ASSERT_TRUE(ldd.waitForFinished(10000));
    const std::string libraries = ldd.readAllStandardOutput().toStdString();
    EXPECT_NE(libraries.find("libQt6Core"), std::string::npos) << libraries;
    EXPECT_EQ(libraries.find("libQt6Widgets"), std::string::npos) << libraries;
    EXPECT_EQ(libraries.find("libQt6Gui"), std::string::npos) << libraries;
}

}  // namespace
}  // namespace tarvel
