// line-tarvel-cli's commands on virtual time and the simulated line (A, B, E healthy, C silent,
// D noisy): what they print, the files they write, and their exit statuses.

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "cli/CliSession.h"
#include "core/Analysis.h"
#include "core/ConfigFile.h"
#include "core/ListFile.h"
#include "platform/TextFiles.h"
#include "platform/VirtualTime.h"
#include "sim/SimulatedSerialLine.h"
#include "support/Run.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;

struct CliSessionTest : ::testing::Test {
    VirtualTime time;
    SimulatedSerialLine line{time};
    std::optional<BusPeer> bus{std::in_place, line, SimulatedBus(DemoControllers(), 0.0, 1)};
    std::ostringstream out;
    std::ostream* output = &out;  // what the session prints its results on
    std::ostringstream err;
    bool progress = false;
    std::filesystem::path folder;
    // Called on the session once the run has judged this many exchanges.
    std::function<void(CliSession&)> meanwhile;
    std::uint64_t meanwhileAfter = 0;

    CliSessionTest() {
        folder = std::filesystem::temp_directory_path() /
                 ("cli-session-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder);
    }
    ~CliSessionTest() override { std::filesystem::remove_all(folder); }

    std::string File(const std::string& name) const { return (folder / name).string(); }
    std::string Read(const std::string& name) const {
        std::string bytes;
        EXPECT_FALSE(ReadWholeFile(File(name), bytes)) << name;
        return bytes;
    }

    int Run(const std::vector<std::string>& arguments) {
        const CliOptions options = ParseCliArguments(arguments);
        EXPECT_EQ(options.error, "");
        CliSession session(options, CliHost{time, line, *output, err, progress});
        std::optional<int> status;
        auto task = testing::StoreResult(session.Run(), status);
        if (meanwhile) {
            EXPECT_TRUE(time.RunUntil(
                [&] { return session.Monitor().Traffic().Added() >= meanwhileAfter; }, 1h));
            meanwhile(session);
        }
        EXPECT_TRUE(time.RunUntil([&] { return status.has_value(); }, 48h));
        return status.value_or(-1);
    }
};

TEST_F(CliSessionTest, AScanFindsExactlyTheControllersThatAnswerAndWritesTheirTable) {
    const int status = Run({"scan", "--retry", "0", "--baud", "9600", "--cfg", File("found.cfg")});
    EXPECT_EQ(status, kAllWell);
    EXPECT_EQ(out.str(), "Controller A found (address 0)\n"
                         "Controller B found (address 1)\n"
                         "Controller D found (address 3)\n"
                         "Controller E found (address 4)\n"
                         "Scan finished: 4 controllers found: A B D E (36 s)\n");
    EXPECT_EQ(Read("found.cfg"), " 4 \r\n 0 \r\n 1 \r\n 3 \r\n 4 \r\n");
    EXPECT_EQ(err.str(), "");
}

TEST_F(CliSessionTest, AScanOfAnEmptyLineFindsNothingAndWritesNoTable) {
    bus.reset();
    progress = true;
    EXPECT_EQ(Run({"scan", "--retry", "0", "--cfg", File("found.cfg")}), kLineFailures);
    EXPECT_NE(out.str().find("Scan finished: 0 controllers found ("), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(File("found.cfg")));
    // Every address before the last one failed.
    EXPECT_NE(err.str().find("address @ (64 of 64), 38 s, found 0, errors 63"), std::string::npos)
        << err.str();
    EXPECT_NE(err.str().find("is not written"), std::string::npos);
}

TEST_F(CliSessionTest, ATestWritesTheFailuresAsItsErrorListAndTheirAnalysis) {
    const int status = Run({"test", "--addresses", "A,C", "--sweeps", "4", "--retry", "1", "--lst",
                            File("run.lst"), "--dat", File("run.dat")});
    EXPECT_EQ(status, kLineFailures);

    const auto records = std::get<std::vector<std::string>>(ReadListFile(Read("run.lst")));
    ASSERT_EQ(records.size(), 8u);  // C, twice a sweep
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].substr(0, 3), "C  ");
        EXPECT_EQ(records[i].substr(11), "  No answer !   " + std::to_string(i % 2));
    }
    const AnalysisReport report = Analyse(records);
    EXPECT_EQ(Read("run.dat"), FormatListFile(report.lines));

    std::string printedReport;
    for (const std::string& line : report.lines) {
        printedReport += line + "\n";
    }
    EXPECT_NE(out.str().find("Test run over 2 controllers: 4 sweeps, 12 exchanges"),
              std::string::npos)
        << out.str();
    EXPECT_NE(out.str().find("Analysis:\n" + printedReport), std::string::npos);
    EXPECT_NE(out.str().find("\nA       4     4"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("silent"), std::string::npos);
    EXPECT_NE(out.str().find("driver errors: not reported by this port"), std::string::npos);

    // "analyse" on that file prints exactly the report.
    out.str("");
    EXPECT_EQ(Run({"analyse", File("run.lst"), "--dat", File("again.dat")}), kAllWell);
    EXPECT_EQ(out.str(), printedReport);
    EXPECT_EQ(Read("again.dat"), Read("run.dat"));
}

TEST_F(CliSessionTest, AHealthyLineEndsWellAfterItsTimeAndItsErrorListIsEmpty) {
    progress = true;
    EXPECT_EQ(Run({"test", "--addresses", "A,B,E", "--duration", "90s", "--lst", File("run.lst")}),
              kAllWell);
    EXPECT_EQ(Read("run.lst"), " 0 \r\n");
    EXPECT_NE(out.str().find("exchanges in 90 s, 0 errors; ended by the time asked for"),
              std::string::npos)
        << out.str();
    EXPECT_NE(err.str().find("controller E (3 of 3)"), std::string::npos);
}

TEST_F(CliSessionTest, CtrlCEndsTheRunProperlyAndTheFilesAreComplete) {
    meanwhileAfter = 7;
    meanwhile = [](CliSession& session) { session.Stop("Ctrl+C"); };
    EXPECT_EQ(Run({"test", "--addresses", "A,C", "--retry", "0", "--lst", File("run.lst")}),
              kLineFailures);
    const auto records = std::get<std::vector<std::string>>(ReadListFile(Read("run.lst")));
    // The exchange in progress was finished and judged.
    EXPECT_EQ(records.size(), 4u);
    EXPECT_NE(out.str().find("8 exchanges"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("ended by Ctrl+C"), std::string::npos);

    // Another signal is named as it is, and wins over the sweeps still to come.
    out.str("");
    meanwhile = [](CliSession& session) { session.Stop("SIGTERM"); };
    EXPECT_EQ(Run({"test", "--addresses", "A,B", "--sweeps", "50", "--json"}), kAllWell);
    const QJsonObject document =
        QJsonDocument::fromJson(QByteArray::fromStdString(out.str())).object();
    EXPECT_EQ(document["stoppedBy"].toString(), "SIGTERM");
    EXPECT_EQ(document["line"].toObject()["exchanges"].toInt(), 8);
}

TEST_F(CliSessionTest, ARunStoppedBeforeItsFirstExchangeReportsThatNothingWasAsked) {
    meanwhileAfter = 0;
    meanwhile = [](CliSession& session) { session.Stop("Ctrl+C"); };
    // A stop in the settle before the first exchange is kept; and a run that asked nothing is not
    // "all well".
    EXPECT_EQ(Run({"test", "--addresses", "A", "--lst", File("run.lst")}), kLineFailures);
    EXPECT_NE(out.str().find("1 controller: 0 sweeps, 0 exchanges in 0 s, 0 errors; ended by "
                             "Ctrl+C\nNo exchange was made"),
              std::string::npos)
        << out.str();
    EXPECT_EQ(Read("run.lst"), " 0 \r\n");
}

TEST_F(CliSessionTest, CountsOfOneAreSingular) {
    EXPECT_EQ(Run({"test", "--addresses", "A", "--sweeps", "1"}), kAllWell);
    EXPECT_NE(out.str().find("over 1 controller: 1 sweep, 1 exchange in 0 s, 0 errors;"),
              std::string::npos)
        << out.str();
    EXPECT_NE(out.str().find("\nLine: 1 exchange, "), std::string::npos) << out.str();
}

TEST_F(CliSessionTest, CtrlCDuringAScanWritesTheControllersFoundSoFar) {
    meanwhileAfter = 2;  // A and B have answered
    meanwhile = [](CliSession& session) { session.Stop("Ctrl+C"); };
    EXPECT_EQ(Run({"scan", "--retry", "0", "--cfg", File("found.cfg")}), kAllWell);
    EXPECT_NE(out.str().find("Scan stopped: 2 controllers found: A B ("), std::string::npos)
        << out.str();
    std::istringstream written(Read("found.cfg"));
    const auto configuration = std::get<LineConfiguration>(ReadLineConfiguration(written));
    EXPECT_EQ(configuration.deviceCount, 2);
    EXPECT_EQ(Read("found.cfg"), " 2 \r\n 0 \r\n 1 \r\n");
}

TEST_F(CliSessionTest, AFailureThatEscapesTheCommandEndsItWithStatus3) {
    // Standard output gone in the middle of a scan, as a full disk would make it.
    struct FailingBuffer : std::streambuf {
        int overflow(int) override { throw std::runtime_error("standard output failed"); }
    } failing;
    std::ostream broken(&failing);
    broken.exceptions(std::ios::badbit);
    output = &broken;
    EXPECT_EQ(Run({"scan", "--retry", "0"}), kPortOrFileFailed);
    EXPECT_EQ(err.str(), "line-tarvel-cli: standard output failed\n");
}

TEST_F(CliSessionTest, TheErrorLimitStopsTheRunByItself) {
    EXPECT_EQ(Run({"test", "--addresses", "C", "--retry", "4", "--lst", File("run.lst")}),
              kLineFailures);
    EXPECT_NE(out.str().find("900 errors; ended by the error limit"), std::string::npos);
    const auto records = std::get<std::vector<std::string>>(ReadListFile(Read("run.lst")));
    EXPECT_EQ(records.size(), 900u);
}

TEST_F(CliSessionTest, APortThatFailsEndsWithStatus3AndTheHostsReason) {
    line.SetPortAvailable(1, false, "Device or resource busy");
    EXPECT_EQ(Run({"scan"}), kPortOrFileFailed);
    EXPECT_EQ(err.str(), "line-tarvel-cli: cannot open the port: COM1: Device or resource busy\n");
    EXPECT_EQ(out.str(), "");

    // Lost in the middle of a run: what was recorded is written all the same.
    line.SetPortAvailable(1, true);
    err.str("");
    meanwhileAfter = 5;
    meanwhile = [this](CliSession&) { line.Lose("the adapter was pulled out"); };
    EXPECT_EQ(Run({"test", "--addresses", "A,C", "--retry", "0", "--lst", File("run.lst")}),
              kPortOrFileFailed);
    EXPECT_NE(err.str().find("the serial line failed: COM1 was lost: the adapter was pulled out"),
              std::string::npos)
        << err.str();
    EXPECT_EQ(std::get<std::vector<std::string>>(ReadListFile(Read("run.lst"))).size(), 2u);

    // Files that cannot be read or written.
    meanwhile = nullptr;
    err.str("");
    EXPECT_EQ(Run({"analyse", File("missing.lst")}), kPortOrFileFailed);
    EXPECT_NE(err.str().find("cannot read the error list"), std::string::npos);
    EXPECT_EQ(Run({"test", "--cfg", File("missing.cfg")}), kPortOrFileFailed);
    EXPECT_EQ(
        Run({"test", "--addresses", "A", "--sweeps", "1", "--lst", File("no/such/folder/run.lst")}),
        kPortOrFileFailed);
    EXPECT_NE(err.str().find("cannot write the error list"), std::string::npos);
}

TEST_F(CliSessionTest, ATestReadsItsControllersFromALineConfiguration) {
    ControllerAddressTable table{};
    table[0] = 4;  // E
    table[1] = 0;  // A
    ASSERT_FALSE(WriteFileReplacing(File("line.cfg"), FormatLineConfiguration(2, table)));
    EXPECT_EQ(Run({"test", "--cfg", File("line.cfg"), "--sweeps", "2", "--json"}), kAllWell);
    const QJsonObject document =
        QJsonDocument::fromJson(QByteArray::fromStdString(out.str())).object();
    const QJsonArray controllers = document["controllers"].toArray();
    ASSERT_EQ(controllers.size(), 2);
    EXPECT_EQ(controllers[0].toObject()["address"].toString(), "E");
    EXPECT_EQ(controllers[0].toObject()["requests"].toInt(), 2);
    EXPECT_EQ(controllers[0].toObject()["judgement"].toString(), "healthy");
    EXPECT_GT(controllers[0].toObject()["responseToLastMs"].toObject()["p95"].toDouble(), 5.0);
    // Times to 0.1 ms print so, not as the binary fraction nearest it (7.6000000000000005).
    EXPECT_FALSE(std::regex_search(out.str(), std::regex("[0-9]\\.[0-9]{3}"))) << out.str();
    EXPECT_EQ(document["sweeps"].toInt(), 2);
    EXPECT_EQ(document["errors"].toInt(), 0);
    EXPECT_EQ(document["stoppedBy"].toString(), "the sweeps asked for");
    EXPECT_TRUE(document["line"].toObject()["driverErrors"].isNull());
    EXPECT_EQ(document["analysis"].toObject()["report"].toArray().size(), 1);

    ASSERT_FALSE(WriteFileReplacing(File("bad.cfg"), " 70 \r\n"));
    err.str("");
    EXPECT_EQ(Run({"test", "--cfg", File("bad.cfg")}), kPortOrFileFailed);
    EXPECT_NE(err.str().find("is no line configuration"), std::string::npos);
}

TEST_F(CliSessionTest, JsonOfAScanAndOfAnAnalysis) {
    EXPECT_EQ(Run({"scan", "--retry", "0", "--json"}), kAllWell);
    const QJsonObject scan = QJsonDocument::fromJson(QByteArray::fromStdString(out.str())).object();
    EXPECT_EQ(scan["command"].toString(), "scan");
    EXPECT_EQ(scan["found"].toArray(), (QJsonArray{"A", "B", "D", "E"}));
    EXPECT_EQ(scan["controllers"].toArray().size(), 64);
    EXPECT_EQ(scan["line"].toObject()["exchanges"].toInt(), 64);

    ASSERT_FALSE(WriteFileReplacing(
        File("run.lst"), FormatListFile({"C  10:00:00  No answer !   0",
                                         "D  10:00:01  CR not received !   1", "junk"})));
    out.str("");
    EXPECT_EQ(Run({"analyse", File("run.lst"), "--json"}), kAllWell);
    const QJsonObject analysis =
        QJsonDocument::fromJson(QByteArray::fromStdString(out.str())).object();
    EXPECT_EQ(analysis["records"].toInt(), 2);
    EXPECT_EQ(analysis["skipped"].toInt(), 1);
    const QJsonArray controllers = analysis["controllers"].toArray();
    ASSERT_EQ(controllers.size(), 2);
    EXPECT_EQ(controllers[0].toObject()["verdict"].toString(), "Isn't working");
    EXPECT_EQ(controllers[1].toObject()["verdict"].toString(), "Ther is noise on line !");
    EXPECT_NE(err.str().find("1 line is no error record"), std::string::npos);
}

TEST_F(CliSessionTest, SendPrintsTheAnswerOrWhatWentWrong) {
    EXPECT_EQ(Run({"send", "A?X  "}), kAllWell);
    EXPECT_EQ(out.str().size(), 5u);  // four characters and the line end
    EXPECT_EQ(out.str()[0], 'A');
    EXPECT_EQ(line.TransmittedText().substr(line.TransmittedText().size() - 6), "A?X  \r");

    out.str("");
    EXPECT_EQ(Run({"send", "C?X  "}), kLineFailures);
    EXPECT_EQ(out.str(), "No answer !\n");

    EXPECT_EQ(Run({"send", "A\xE2\x82\xAC"}), kUsageError);  // a euro sign has no 8-bit code
    EXPECT_NE(err.str().find("without an 8-bit code"), std::string::npos);
}

}  // namespace
}  // namespace tarvel
