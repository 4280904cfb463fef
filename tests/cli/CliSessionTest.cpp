// SPDX-License-Identifier: GPL-3.0-or-later
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

#include <map>
#include "cli/CliSession.h"
#include "cli/CliSessionFixture.h"
#include "cli/RunFiles.h"
#include "core/Analysis.h"
#include "core/ConfigFile.h"
#include "core/HexText.h"
#include "core/ListFile.h"
#include "lines/EchoCancellingLine.h"
#include "lines/LineSettings.h"
#include "monitor/MonitorCsv.h"
#include "platform/TextFiles.h"
#include "platform/VirtualTime.h"
#include "protocol/Protocols.h"
#include "protocol/modbus/ModbusFrame.h"
#include "sim/SimulatedLineFile.h"
#include "sim/SimulatedMaster.h"
#include "sim/SimulatedSerialLine.h"
#include "support/Run.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;

TEST_F(CliSessionTest, AScanFindsExactlyTheControllersThatAnswerAndWritesTheirTable) {
    const int status = Run({"scan", "--retry", "0", "--baud", "9600", "--cfg", File("found.cfg")});
    EXPECT_EQ(status, kAllWell);
    EXPECT_EQ(
        out.str(),
        "line-tarvel-cli 3.beta, scan on /dev/ttyS9 (COM1) at 9600 8N1, retry 0, from "
        "2026-12-09T08:00:00+01:00\n"
        "Controller A found (address 0)\n"
        "Controller B found (address 1)\n"
        "Controller D found (address 3)\n"
        "Controller E found (address 4)\n"
        "Scan finished: 4 controllers found: A B D E (36 s, ended 2026-12-09T08:00:36+01:00)\n");
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
    // What the scan found, not the health of the line: no success rate of the 60 empty addresses.
    EXPECT_FALSE(scan.contains("line"));
    const QJsonObject found = scan["scan"].toObject();
    EXPECT_EQ(found["addressesTried"].toInt(), 64);
    EXPECT_EQ(found["controllersFound"].toInt(), 4);
    EXPECT_GT(found["responseToLastMs"].toObject()["min"].toDouble(), 0);
    EXPECT_GE(found["responseToLastMs"].toObject()["max"].toDouble(),
              found["responseToLastMs"].toObject()["min"].toDouble());
    EXPECT_TRUE(found["summary"].toString().startsWith(
        "64 addresses tried, 4 controllers found (A B D E), response "))
        << found["summary"].toString().toStdString();
    QStringList answered;
    for (const QJsonValue controller : scan["controllers"].toArray()) {
        answered << controller.toObject()["address"].toString();
    }
    EXPECT_EQ(answered, (QStringList{"A", "B", "D", "E"}));

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

// A test started just before midnight: every date-time says which day it belongs to.
struct MidnightCliSessionTest : CliSessionTest {
    MidnightCliSessionTest() : CliSessionTest({23, 59, 30}) {}
};

TEST_F(MidnightCliSessionTest, JsonSaysWhenWhereAndHowTheRunWasMade) {
    EXPECT_EQ(Run({"test", "--port", "COM1", "--addresses", "A,C", "--retry", "0", "--baud", "9600",
                   "--parity", "even", "--duration", "60s", "--json"}),
              kLineFailures);
    const QJsonObject document =
        QJsonDocument::fromJson(QByteArray::fromStdString(out.str())).object();
    EXPECT_EQ(document["started"].toString(), "2026-12-09T23:59:30+01:00");
    EXPECT_EQ(document["ended"].toString(), "2026-12-10T00:00:30+01:00");
    EXPECT_EQ(document["port"].toObject(),
              (QJsonObject{{"device", "/dev/ttyS9"}, {"entry", "COM1"}}));
    EXPECT_EQ(
        document["settings"].toObject(),
        (QJsonObject{
            {"baud", 9600}, {"parity", "even"}, {"dataBits", 7}, {"stopBits", 1}, {"retry", 0}}));
    EXPECT_EQ(document["program"].toObject(),
              (QJsonObject{{"name", "line-tarvel-cli"}, {"version", "3.beta"}}));
    // C never answers: its records run across midnight, each with its own date.
    const QJsonArray records = document["records"].toArray();
    ASSERT_GT(records.size(), 100);
    const QJsonObject first = records.first().toObject();
    const QJsonObject last = records.last().toObject();
    EXPECT_EQ(first["text"].toString().left(13), "C  23:59:30  ");
    EXPECT_EQ(first["dateTime"].toString(), "2026-12-09T23:59:30+01:00");
    EXPECT_EQ(last["text"].toString().left(11), "C  00:00:29");
    EXPECT_EQ(last["dateTime"].toString(), "2026-12-10T00:00:29+01:00");
    const QJsonObject a = document["controllers"].toArray()[0].toObject();
    EXPECT_EQ(a["lastGood"].toString().left(14), "2026-12-10T00:");
}

TEST_F(MidnightCliSessionTest, TheTextReportAndTheCsvRowsSayTheSame) {
    EXPECT_EQ(Run({"test", "--port", "/dev/ttyS9", "--addresses", "A", "--sweeps", "1", "--traffic",
                   File("traffic.csv"), "--stats", File("stats.csv")}),
              kAllWell);
    EXPECT_EQ(out.str().substr(0, out.str().find('\n')),
              "line-tarvel-cli 3.beta, test on /dev/ttyS9 at 4800 8N1, retry 2, from "
              "2026-12-09T23:59:30+01:00 to 2026-12-09T23:59:30+01:00");
    const std::string traffic = Read("traffic.csv");
    EXPECT_EQ(traffic.substr(0, traffic.find("\r\n")) + "\r\n", TrafficCsvHeader());
    EXPECT_NE(traffic.find(",request,A,6,41 3F 58 20 20 0D,A?X  <CR>,,2026-12-09T23:59:30+01:00,"
                           "/dev/ttyS9,\"4800 8N1, retry 2\",run\r\n"),
              std::string::npos)
        << traffic;
    EXPECT_NE(
        Read("stats.csv")
            .find(",healthy,The only exchange was good.,2026-12-09T23:59:30+01:00,/dev/ttyS9,"),
        std::string::npos);
}

// A second reader that looks at the files whenever anything happens during the run: each is
// there and whole at every moment, and holds what the run had done half a second before.
TEST_F(CliSessionTest, TheFilesHoldTheRunAsItGoesWholeAtEveryMoment) {
    int looks = 0;
    std::size_t mostRecords = 0;
    std::function<void()> look;
    CliSession* running = nullptr;
    look = [&] {
        ++looks;
        std::string bytes;
        ASSERT_FALSE(ReadWholeFile(File("run.lst"), bytes));
        const auto records = std::get<std::vector<std::string>>(ReadListFile(bytes));
        ASSERT_FALSE(ReadWholeFile(File("run.dat"), bytes));
        EXPECT_EQ(bytes, FormatListFile(Analyse(records).lines));
        ASSERT_FALSE(ReadWholeFile(File("stats.csv"), bytes));
        // The header, and a row for each controller asked by then.
        EXPECT_LE(std::count(bytes.begin(), bytes.end(), '\n'), 3);
        EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
        // Every failure judged more than a rewrite interval ago is in the file.
        const TrafficLog& traffic = running->Monitor().Traffic();
        std::size_t due = 0;
        for (std::size_t i = 0; i < traffic.Size(); ++i) {
            const Exchange& exchange = traffic.At(i).exchange;
            due += exchange.Failed() &&
                   exchange.judged + RunFiles::RewriteInterval + 1ms <= time.Now();
        }
        EXPECT_GE(records.size(), due);
        mostRecords = std::max(mostRecords, records.size());
        ASSERT_FALSE(ReadWholeFile(File("traffic.csv"), bytes));
        EXPECT_EQ(static_cast<std::uint64_t>(std::count(bytes.begin(), bytes.end(), '\n')),
                  1 + 2 * traffic.Added());
        time.CallAt(time.Now() + 37ms, look);
    };
    meanwhileAfter = 1;
    meanwhile = [&](CliSession& session) {
        running = &session;
        look();
    };
    EXPECT_EQ(Run({"test", "--addresses", "A,C", "--retry", "0", "--duration", "20s", "--lst",
                   File("run.lst"), "--dat", File("run.dat"), "--stats", File("stats.csv"),
                   "--traffic", File("traffic.csv")}),
              kLineFailures);
    EXPECT_GT(looks, 400);
    EXPECT_GT(mostRecords, 30u);
    // No temporary file is left beside them.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder),
                            std::filesystem::directory_iterator()),
              4);
}

TEST_F(CliSessionTest, AScanKeepsTheTableOfTheControllersFoundSoFar) {
    std::vector<std::string> seen;
    std::function<void()> look = [&] {
        std::string bytes;
        if (std::filesystem::exists(File("found.cfg"))) {
            ASSERT_FALSE(ReadWholeFile(File("found.cfg"), bytes));
            if (seen.empty() || seen.back() != bytes) {
                seen.push_back(bytes);
            }
        }
        time.CallAt(time.Now() + 100ms, look);
    };
    meanwhileAfter = 0;
    meanwhile = [&](CliSession&) { look(); };
    EXPECT_EQ(Run({"scan", "--retry", "0", "--cfg", File("found.cfg")}), kAllWell);
    // The table grew as controllers were found, each version a whole table.
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen.back(), " 4 \r\n 0 \r\n 1 \r\n 3 \r\n 4 \r\n");
    for (std::size_t i = 0; i + 1 < seen.size(); ++i) {
        std::istringstream in(seen[i]);
        const auto table = std::get<LineConfiguration>(ReadLineConfiguration(in));
        EXPECT_EQ(seen.back().substr(seen[i].find('\n')),
                  seen[i].substr(seen[i].find('\n')) + seen.back().substr(seen[i].size()))
            << seen[i];
        EXPECT_LT(table.deviceCount, 4);
    }
}

TEST_F(CliSessionTest, AFileThatCannotBeWrittenStopsTheCommandBeforeTheLineIsOpened) {
    std::filesystem::create_directories(folder / "a folder");
    ASSERT_FALSE(WriteFileReplacing(File("plain"), "x"));
    const std::vector<std::pair<std::vector<std::string>, std::string>> refused{
        {{"test", "--addresses", "A", "--lst", File("nowhere/run.lst")},
         "cannot write the error list " + File("nowhere/run.lst") + ": No such file or directory"},
        {{"test", "--addresses", "A", "--dat", File("a folder")},
         "cannot write the analysis report " + File("a folder") + ": it is a folder"},
        {{"test", "--addresses", "A", "--traffic", File("plain/t.csv")},
         "cannot write the traffic " + File("plain/t.csv") + ": Not a directory"},
        {{"scan", "--stats", "/dev/null"},
         "cannot write the statistics /dev/null: it is no plain file"},
        {{"scan", "--cfg", File("nowhere/found.cfg")}, "cannot write the line configuration"},
    };
    for (const auto& [arguments, message] : refused) {
        err.str("");
        EXPECT_EQ(Run(arguments), kPortOrFileFailed);
        EXPECT_EQ(err.str().rfind("line-tarvel-cli: ", 0), 0u) << err.str();
        EXPECT_NE(err.str().find(message), std::string::npos) << err.str();
        const std::string told = err.str();
        EXPECT_EQ(std::count(told.begin(), told.end(), '\n'), 1) << told;
        EXPECT_EQ(out.str(), "");
    }
    EXPECT_EQ(line.TimesOpened(), 0);
    EXPECT_TRUE(line.Transmitted().empty());
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));
}

TEST_F(CliSessionTest, ListeningCountsExactlyWhatTheMasterAndItsControllersDid) {
    bus.reset();  // the line is driven by another master, and the program only listens
    SimulatedMaster master(SimulatedBus(DemoControllers(), 0.0, 7), MasterSchedule{},
                           *ParseSettingsText(" 4800,N,8, 1"));
    std::optional<MasterOnLine> playing(std::in_place, master, line, time);
    meanwhileAfter = 400;
    // The master stops polling; the listening goes on past the last answer's window.
    meanwhile = [&](CliSession&) { playing.reset(); };
    EXPECT_EQ(Run({"listen", "--duration", "10m", "--json", "--traffic", File("traffic.csv")}),
              kLineFailures);  // C never answers
    EXPECT_TRUE(line.Transmitted().empty());

    struct Expected {
        int requests = 0, good = 0, noAnswer = 0, wrongCount = 0, noCr = 0;
        double firstMin = 1e9, lastMax = 0;
        std::optional<Instant> lastRequest;
        Duration gaps{0}, longestGap{0};
        int gapCount = 0;
    };
    const auto ms = [](Duration time) {
        return std::chrono::duration<double, std::milli>(time).count();
    };
    const Duration character = CharacterTime(*ParseSettingsText(" 4800,N,8, 1"));
    std::map<std::string, Expected> expected;
    for (const MasterPoll& poll : master.Log()) {
        Expected& e = expected[poll.address];
        ++e.requests;
        if (e.lastRequest) {
            const Duration gap = poll.requestEnd - *e.lastRequest;
            e.gaps += gap;
            e.longestGap = std::max(e.longestGap, gap);
            ++e.gapCount;
        }
        e.lastRequest = poll.requestEnd;
        switch (CycleVerdictOf(poll)) {
            case ExchangeVerdict::Good:
                ++e.good;
                e.firstMin = std::min(e.firstMin, ms(*poll.answerFirst - poll.requestEnd));
                // To the answer's carriage return: what follows it is no part of the answer.
                e.lastMax = std::max(
                    e.lastMax, ms(*poll.answerFirst - poll.requestEnd +
                                  character * static_cast<std::int64_t>(poll.answer.find('\r'))));
                break;
            case ExchangeVerdict::NoAnswer: ++e.noAnswer; break;
            case ExchangeVerdict::WrongCount: ++e.wrongCount; break;
            default: ++e.noCr; break;
        }
    }
    ASSERT_GE(master.Log().size(), 400u);
    // The log holds writes and garbled answers, not only clean reads.
    EXPECT_GT(std::count_if(master.Log().begin(), master.Log().end(),
                            [](const MasterPoll& poll) { return poll.write; }),
              50);
    EXPECT_GT(expected["D"].noCr + expected["D"].wrongCount, 0);
    const QJsonObject document =
        QJsonDocument::fromJson(QByteArray::fromStdString(out.str())).object();
    EXPECT_EQ(document["command"].toString(), "listen");
    EXPECT_EQ(document["heard"].toObject()["requests"].toInt(),
              static_cast<int>(master.Log().size()));
    const QJsonArray controllers = document["controllers"].toArray();
    ASSERT_EQ(controllers.size(), 5);
    for (const QJsonValue& value : controllers) {
        const QJsonObject controller = value.toObject();
        const std::string address = controller["address"].toString().toStdString();
        const Expected& e = expected[address];
        EXPECT_EQ(controller["requests"].toInt(), e.requests) << address;
        EXPECT_EQ(controller["good"].toInt(), e.good) << address;
        EXPECT_EQ(controller["noAnswer"].toInt(), e.noAnswer) << address;
        EXPECT_EQ(controller["wrongCount"].toInt(), e.wrongCount) << address;
        EXPECT_EQ(controller["noCr"].toInt(), e.noCr) << address;
        if (e.good > 0) {
            EXPECT_NEAR(controller["responseToFirstMs"].toObject()["min"].toDouble(), e.firstMin,
                        0.1)
                << address;
            EXPECT_NEAR(controller["responseToLastMs"].toObject()["max"].toDouble(), e.lastMax, 0.1)
                << address;
        }
        const QJsonObject polls = controller["pollCycle"].toObject();
        EXPECT_NEAR(polls["meanMs"].toDouble(), ms(e.gaps / e.gapCount), 0.05) << address;
        EXPECT_NEAR(polls["longestMs"].toDouble(), ms(e.longestGap), 0.05) << address;
    }
    EXPECT_EQ(document["controllers"].toArray()[2].toObject()["judgement"].toString(), "silent");
    EXPECT_TRUE(document["warning"].isNull());
    EXPECT_EQ(document["port"].toObject()["device"].toString(), "/dev/ttyS9");
    // Every exchange heard is in the traffic, marked as listened to.
    const std::string traffic = Read("traffic.csv");
    EXPECT_EQ(static_cast<std::size_t>(std::count(traffic.begin(), traffic.end(), '\n')),
              1 + 2 * master.Log().size());
    EXPECT_NE(traffic.find(",listen\r\n"), std::string::npos);
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

// A Modbus line of three controllers at 9600 8E1: 1 healthy, 2 refusing with exception 2, 3 with
// a CRC that never holds.
struct ModbusCliSessionTest : CliSessionTest {
    ModbusCliSessionTest() {
        std::vector<SimulatedController> controllers(3);
        for (std::size_t i = 0; i < controllers.size(); ++i) {
            controllers[i].address = std::to_string(i + 1);
        }
        controllers[1].fault = ControllerFault::Exception;
        controllers[2].fault = ControllerFault::BadCrc;
        bus.reset();
        bus.emplace(line, SimulatedBus(controllers, 0.0, 1, *ProtocolAt(1)));
    }
};

TEST_F(ModbusCliSessionTest, ATestRunJudgesEachControllerByTheModbusVerdicts) {
    const int status = Run({"test", "--protocol", "modbus-rtu", "--addresses", "1-4", "--sweeps",
                            "3", "--retry", "0", "--baud", "9600", "--parity", "even", "--json",
                            "--traffic", File("traffic.csv"), "--stats", File("stats.csv")});
    EXPECT_EQ(status, kLineFailures);
    const QJsonObject report =
        QJsonDocument::fromJson(QByteArray::fromStdString(out.str())).object();
    EXPECT_EQ(report["settings"].toObject()["dataBits"].toInt(), 8);
    const QJsonArray controllers = report["controllers"].toArray();
    ASSERT_EQ(controllers.size(), 4);
    std::map<int, QJsonObject> by;
    for (const QJsonValue& value : controllers) {
        by[value.toObject()["address"].toInt()] = value.toObject();
    }
    EXPECT_EQ(by[1]["good"].toInt(), 3);
    EXPECT_EQ(by[1]["judgement"].toString(), "healthy");
    EXPECT_EQ(by[2]["good"].toInt(), 3);
    EXPECT_EQ(by[2]["exceptions"].toInt(), 3);
    EXPECT_EQ(by[2]["exceptionCodes"].toObject(), (QJsonObject{{"2", 3}}));
    EXPECT_EQ(by[3]["badCrc"].toInt(), 3);
    EXPECT_EQ(by[3]["judgement"].toString(), "garbled");
    EXPECT_EQ(by[4]["noAnswer"].toInt(), 3);
    EXPECT_EQ(by[4]["judgement"].toString(), "silent");
    EXPECT_FALSE(by[1].contains("noCr"));
    // The request as the wire carries it, and each verdict in its own words.
    const std::string traffic = Read("traffic.csv");
    EXPECT_NE(traffic.find(",request,1,8,01 03 00 00 00 01 84 0A,"), std::string::npos);
    EXPECT_NE(traffic.find(",answer,2,5,02 83 02 30 F1,"), std::string::npos) << traffic;
    EXPECT_NE(traffic.find(",good (exception 2),"), std::string::npos);
    EXPECT_NE(traffic.find("CRC error !"), std::string::npos);
    EXPECT_NE(Read("stats.csv").find("Address,Requests,Good,No answer,CRC error,Wrong length,"),
              std::string::npos);
}

TEST_F(ModbusCliSessionTest, TheRequestWaitsOutTheFrameGapAfterTheLastAnswer) {
    ASSERT_EQ(Run({"test", "--protocol", "modbus-rtu", "--addresses", "1", "--sweeps", "2",
                   "--baud", "9600", "--parity", "even", "--json"}),
              kAllWell);
    const std::vector<TimedByte>& sent = line.Transmitted();
    ASSERT_EQ(sent.size(), 16u);
    std::string first;
    for (std::size_t i = 0; i < 8; ++i) {
        first += static_cast<char>(sent[i].byte);
    }
    EXPECT_EQ(first, std::string("\x01\x03\x00\x00\x00\x01\x84\x0A", 8));
    // From the end of the first request: the controller's 5 ms, its answer of seven characters,
    // 3.5 characters of silence, then the next request's first character, 11 bits each.
    const Duration character = Duration(11s) / 9600;
    EXPECT_GE(sent[8].end - sent[7].end, 5ms + 7 * character + character * 7 / 2 + character);
}

TEST_F(ModbusCliSessionTest, AnAnswerWithASilenceInsideIsCutInATestRun) {
    // The simulator's own silence, as a description leaves it: the tool must see it.
    auto described = ParseSimulatedLine(R"({"protocol": "modbus-rtu", "controllers": [
        {"address": 1, "baud": 9600, "parity": "even"},
        {"address": 2, "baud": 9600, "parity": "even", "fault": "silenceInside"}]})",
                                        "line.json");
    ASSERT_TRUE(std::holds_alternative<SimulatedLine>(described))
        << std::get<std::string>(described);
    bus.reset();
    bus.emplace(line, BusOf(std::get<SimulatedLine>(described)));
    const int status = Run({"test", "--protocol", "modbus-rtu", "--addresses", "1-2", "--sweeps",
                            "2", "--retry", "0", "--baud", "9600", "--parity", "even", "--json",
                            "--traffic", File("traffic.csv")});
    EXPECT_EQ(status, kLineFailures);
    const QJsonArray controllers = QJsonDocument::fromJson(QByteArray::fromStdString(out.str()))
                                       .object()["controllers"]
                                       .toArray();
    ASSERT_EQ(controllers.size(), 2);
    EXPECT_EQ(controllers[0].toObject()["good"].toInt(), 2);
    EXPECT_EQ(controllers[1].toObject()["good"].toInt(), 0);
    const std::string traffic = Read("traffic.csv");
    EXPECT_EQ(std::count(traffic.begin(), traffic.end(), '\n') - 1, 8) << traffic;
    std::size_t cuts = 0;
    for (std::size_t at = traffic.find("Answer cut !"); at != std::string::npos;
         at = traffic.find("Answer cut !", at + 1)) {
        ++cuts;
    }
    EXPECT_EQ(cuts, 2u) << traffic;
}

TEST_F(ModbusCliSessionTest, SendShowsTheVerdictAndTheBytesThatCame) {
    const std::vector<std::string> line9600 = {"send", "--protocol", "modbus-rtu", "--baud",
                                               "9600", "--parity",   "even",       "--hex"};
    const auto send = [&](const std::string& hex) {
        std::vector<std::string> arguments = line9600;
        arguments.push_back(hex);
        out.str("");
        return Run(arguments);
    };
    // The reading wanders as a controller's does: its bytes are matched by their shape.
    EXPECT_EQ(send("01 03 00 00 00 01"), kAllWell);
    EXPECT_TRUE(std::regex_match(out.str(), std::regex("sent: 01 03 00 00 00 01 84 0A\n"
                                                       "01 03 02( [0-9A-F]{2}){4}  \\(function 3, "
                                                       "registers [0-9]+\\)\n"
                                                       "verdict: good\n")))
        << out.str();
    // An exception is a good answer.
    EXPECT_EQ(send("02 03 00 00 00 01"), kAllWell);
    EXPECT_NE(out.str().find("exception 2 (illegal data address) to function 3)\nverdict: good\n"),
              std::string::npos)
        << out.str();
    // A CRC that does not hold: the verdict, and the bytes as they came.
    EXPECT_EQ(send("03 03 00 00 00 01"), kLineFailures);
    EXPECT_TRUE(std::regex_match(out.str(),
                                 std::regex("sent: 03 03 00 00 00 01 85 E8\n"
                                            "CRC error !\narrived: 03 03 02( [0-9A-F]{2}){4}\n")))
        << out.str();
    EXPECT_EQ(send("04 03 00 00 00 01"), kLineFailures);
    EXPECT_EQ(out.str().substr(out.str().find('\n') + 1), "No answer !\narrived: nothing\n");
}

// A controller that answers a function of its maker's own (65) with ten bytes, 5 ms after the
// request, then a stray byte 40 ms after its answer.
class MakersFunctionPeer final : public LinePeer {
public:
    explicit MakersFunctionPeer(SimulatedSerialLine& line) : line_(line) { line_.AttachPeer(this); }
    ~MakersFunctionPeer() override { line_.AttachPeer(nullptr); }
    void HostCharacter(std::uint8_t byte, Instant end, Duration characterTime) override {
        heard_ += static_cast<char>(byte);
        if (heard_.size() < 6) {
            return;
        }
        heard_.clear();
        const std::string answer = Answer();
        line_.DeliverFrom(end + 5ms, answer);
        line_.DeliverFrom(end + 5ms + characterTime * static_cast<int>(answer.size()) + 40ms,
                          std::string("\xFF", 1));
    }
    static std::string Answer() {
        return modbus::WithCrc(std::string("\x01\x41\x06\x10\x20\x30\x40\x50\x60", 9));
    }

private:
    SimulatedSerialLine& line_;
    std::string heard_;
};

TEST_F(ModbusCliSessionTest, AnAnswerOfAFunctionOfUnknownLengthEndsWithTheLinesSilence) {
    bus.reset();
    MakersFunctionPeer peer(line);
    EXPECT_EQ(Run({"send", "--protocol", "modbus-rtu", "--baud", "9600", "--parity", "even",
                   "--hex", "01 41 00 07"}),
              kAllWell);
    const std::string answer = HexText(MakersFunctionPeer::Answer());
    EXPECT_EQ(out.str(), "sent: " + HexText(modbus::WithCrc(std::string("\x01\x41\x00\x07", 4))) +
                             "\n" + answer + "  (function 65)\nverdict: good\n");
}

// An adapter that gives back each character a USB packet after it left, on a line where no one
// answers.
class LateEchoPeer final : public LinePeer {
public:
    explicit LateEchoPeer(SimulatedSerialLine& line) : line_(line) { line_.AttachPeer(this); }
    ~LateEchoPeer() override { line_.AttachPeer(nullptr); }
    void HostCharacter(std::uint8_t byte, Instant end, Duration /*characterTime*/) override {
        line_.DeliverAt(end + 16ms, byte);
    }

private:
    SimulatedSerialLine& line_;
};

TEST_F(ModbusCliSessionTest,
       ALoneCopyOfAWriteOnAPortThatHasShownNothingIsReportedAsPerhapsTheEcho) {
    bus.reset();
    LateEchoPeer peer(line);
    EchoCancellingLine echoLayer(line, time, EchoMode::Auto);
    hostLine = &echoLayer;
    EXPECT_EQ(Run({"send", "--protocol", "modbus-rtu", "--baud", "9600", "--parity", "even",
                   "--hex", "01 06 00 01 00 FF"}),
              kAllWell);
    EXPECT_NE(out.str().find("verdict: good"), std::string::npos) << out.str();
    EXPECT_EQ(err.str(), std::string("line-tarvel-cli: ") + kUndecidedEchoNotice + "\n");
}

TEST_F(ModbusCliSessionTest, ShortGapsAreCountedWhereTheHostCanTellThemAndNotMeasuredElsewhere) {
    bus.reset();  // another master drives the line
    std::vector<SimulatedController> controllers(2);
    controllers[0].address = "1";
    controllers[1].address = "2";
    // Each controller answers 5 ms after the request: less than 3.5 characters at 1200 baud
    // (32 ms), and short by more than the host's 25 ms; at 9600 baud 3.5 characters (4 ms) are
    // below what the host's delivery lets it tell.
    const auto listen = [&](const std::string& baud, bool json) {
        SimulatedMaster master(SimulatedBus(controllers, 0.0, 3, *ProtocolAt(1)), MasterSchedule{},
                               *ParseSettingsText(" " + baud + ",E,8, 1"));
        std::optional<MasterOnLine> playing(std::in_place, master, line, time);
        meanwhileAfter = 30;
        meanwhile = [&](CliSession&) { playing.reset(); };
        out.str("");
        std::vector<std::string> arguments = {"listen", "--protocol", "modbus-rtu",
                                              "--baud", baud,         "--parity",
                                              "even",   "--duration", "2m"};
        if (json) {
            arguments.push_back("--json");
        }
        EXPECT_EQ(Run(arguments), kAllWell) << out.str();
        return static_cast<int>(
            std::count_if(master.Log().begin(), master.Log().end(),
                          [](const MasterPoll& poll) { return !poll.answer.empty(); }));
    };
    listen("9600", true);
    QJsonObject heard =
        QJsonDocument::fromJson(QByteArray::fromStdString(out.str())).object()["heard"].toObject();
    EXPECT_GT(heard["frames"].toInt(), 0);
    EXPECT_TRUE(heard.contains("shortGaps"));
    EXPECT_TRUE(heard["shortGaps"].isNull());
    EXPECT_EQ(heard["crcErrors"].toInt(-1), 0);
    listen("9600", false);
    EXPECT_NE(out.str().find(", gaps shorter than 3.5 characters: not measurable at this speed "
                             "through this port"),
              std::string::npos)
        << out.str();
    const int answered = listen("1200", true);
    heard =
        QJsonDocument::fromJson(QByteArray::fromStdString(out.str())).object()["heard"].toObject();
    EXPECT_GT(answered, 0);
    EXPECT_EQ(heard["shortGaps"].toInt(-1), answered);
}

TEST_F(ModbusCliSessionTest, AScanOfPartOfTheRangeFindsTheControllersThatAnswerAtAll) {
    const int status = Run({"scan", "--protocol", "modbus-rtu", "--addresses", "1-5", "--retry",
                            "0", "--baud", "9600", "--parity", "even", "--answer-window", "0.1"});
    EXPECT_EQ(status, kAllWell);
    // Each find is asked who it is; these tell nothing.
    EXPECT_NE(out.str().find("Controller 1 found\nController 2 found\nController 1 is not "
                             "telling who it is\nController 2 is not telling who it is\nScan "
                             "finished: 2 controllers found: 1 2 ("),
              std::string::npos)
        << out.str();
}

}  // namespace
}  // namespace tarvel
