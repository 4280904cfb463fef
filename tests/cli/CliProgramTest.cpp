// line-tarvel-cli as a script runs it: the real program on its built-in simulated line, which
// answers in real time through a pseudo-terminal. Its exit statuses, its files, Ctrl+C.

#include <gtest/gtest.h>

#include <QProcess>
#include <csignal>
#include <filesystem>

#include "core/Analysis.h"
#include "core/ListFile.h"
#include "platform/TextFiles.h"

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
