// SPDX-License-Identifier: GPL-3.0-or-later
// A line across the network, end to end: the program's line, ser2net (the Debian package,
// with a configuration of the test's own on a free port of 127.0.0.1) and the simulated bus
// behind a pseudo-terminal. The network port on its own is tested in tests/lines/.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTimer>
#include <chrono>
#include <functional>
#include <map>
#include <set>

#include "engine/TestCycle.h"
#include "line/LineDetector.h"
#include "line/SettingsSearch.h"
#include "lines/QtSerialLine.h"
#include "platform/QtScheduler.h"
#include "protocol/Protocols.h"
#include "serial/PortService.h"
#include "sim/PtyBusHost.h"
#include "support/FakeComPortServer.h"
#include "support/LineRig.h"
#include "support/MissingTool.h"
#include "support/NetworkRig.h"
#include "support/RealTime.h"
#include "support/Ser2net.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;
using testing::NetworkRig;
using testing::RunInEventLoop;
using testing::Ser2net;

using testing::Wait;
using testing::WaitUntil;

// The settings the pty behind ser2net has now.
LineSettings PtySettings(const std::string& device) {
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    const LineSettings settings = TerminalSettings(fd);
    ::close(fd);
    return settings;
}

struct Ser2netLine : ::testing::Test {
    std::unique_ptr<PtyBusHost> host;
    std::unique_ptr<Ser2net> server;
    std::unique_ptr<NetworkRig> rig;

    void Start(std::vector<SimulatedController> controllers) {
        if (!testing::Ser2netProgram()) {
            TARVEL_SKIP_MISSING_TOOL(testing::kNoSer2net);
        }
        std::string failure;
        host = PtyBusHost::Start(SimulatedBus(std::move(controllers), 0.0, 1), failure);
        ASSERT_TRUE(host) << failure;
        server = std::make_unique<Ser2net>(host->DevicePath(), true);
        ASSERT_TRUE(server->failure.empty()) << server->failure;
        rig = std::make_unique<NetworkRig>(server->Url());
        ASSERT_FALSE(rig->Open()) << rig->port.OpenFailure();
    }
    void TearDown() override {
        rig.reset();
        server.reset();
        host.reset();
    }
};

// Stops the scan once the tries at address `stopAt` have begun.
struct StopAtAddress final : ScanSink {
    Primo& primo;
    int stopAt;
    StopAtAddress(Primo& p, int at) : primo(p), stopAt(at) {}
    void AddressStarting(Station index, int, int) override {
        if (index == stopAt) {
            primo.StopFlag = kTrue;
        }
    }
};

QCoro::Task<ScanEnd> ScanOnce(LineDetector& detector, LineUse& lineUse) {
    co_return co_await detector.Scan(co_await lineUse.Acquire());
}

TEST_F(Ser2netLine, AScanFindsTheSimulatedControllersAndTheRoundTripIsMeasured) {
    Start({{"A", 5ms}, {"B", 20ms}, {"D", 5ms}});
    if (IsSkipped() || HasFatalFailure()) {
        return;
    }
    LineUse lineUse(rig->scheduler);
    ControllerAddressTable table = StartupAddressTable();
    LineDetector detector(rig->primo, rig->port, table);
    StopAtAddress sink(rig->primo, 4);
    detector.AddSink(sink);
    rig->primo.RetryCount = 0;
    const ScanEnd end = RunInEventLoop(ScanOnce(detector, lineUse), 10s);
    EXPECT_EQ(end.found, (std::vector<std::int16_t>{0, 1, 3}));
    EXPECT_TRUE(end.lineFailure.empty()) << end.lineFailure;
    // The negotiation's answers measured it: on the loopback, far under a millisecond or two.
    const std::optional<Duration> roundTrip = rig->line.RoundTrip();
    ASSERT_TRUE(roundTrip.has_value());
    EXPECT_GT(*roundTrip, Duration::zero());
    EXPECT_LT(*roundTrip, 100ms);
}

// Records what the cycle judged, and how it ended.
struct Judged final : CycleSink {
    std::vector<Exchange> exchanges;
    std::optional<RunEnd> end;
    void ExchangeJudged(const Exchange& exchange) override { exchanges.push_back(exchange); }
    void RunEnded(const RunEnd& ended) override { end = ended; }
};

QCoro::Task<RunEnd> RunOnce(TestCycle& cycle, LineUse& lineUse) {
    co_return co_await cycle.TxAscon(co_await lineUse.Acquire());
}

// The test cycle under way on the rig's line over the controllers at `indices`, with one retry.
struct CycleRun {
    LineUse lineUse;
    ControllerAddressTable table;
    TestCycle cycle;
    Judged judged;
    std::optional<RunEnd> end;
    std::optional<QCoro::Task<>> running;

    CycleRun(NetworkRig& rig, const std::vector<int>& indices)
        : lineUse(rig.scheduler),
          table(TableOf(indices)),
          cycle(Counted(rig.primo, indices), rig.port, table) {
        cycle.AddSink(judged);
        running.emplace([](CycleRun& run) -> QCoro::Task<> {
            run.end = co_await RunOnce(run.cycle, run.lineUse);
        }(*this));
    }
    static ControllerAddressTable TableOf(const std::vector<int>& indices) {
        ControllerAddressTable table = StartupAddressTable();
        for (std::size_t i = 0; i < indices.size(); ++i) {
            table[i] = static_cast<std::int16_t>(indices[i]);
        }
        return table;
    }
    static Primo& Counted(Primo& primo, const std::vector<int>& indices) {
        primo.DeviceCount = static_cast<std::int16_t>(indices.size());
        primo.RetryCount = 1;
        return primo;
    }
};

TEST_F(Ser2netLine, ATestRecordsTheSilentControllerOnlyAndLosingTheServerEndsItCleanly) {
    Start({{"A", 5ms}, {"C", 5ms, ControllerFault::Silent}, {"E", 5ms}});
    if (IsSkipped() || HasFatalFailure()) {
        return;
    }
    CycleRun run(*rig, {0, 2, 4});
    TestCycle& cycle = run.cycle;
    Judged& judged = run.judged;
    std::optional<RunEnd>& end = run.end;
    // Two sweeps: A and E good, C twice unanswered in each.
    ASSERT_TRUE(WaitUntil([&] { return judged.exchanges.size() >= 8; }));
    const std::size_t before = judged.exchanges.size();
    const int errorsBefore = cycle.Errors();
    for (const Exchange& exchange : judged.exchanges) {
        if (exchange.request.stationText == "C") {
            EXPECT_EQ(exchange.verdict, ExchangeVerdict::NoAnswer);
        } else {
            EXPECT_EQ(exchange.verdict, ExchangeVerdict::Good) << exchange.request.stationText;
        }
    }
    EXPECT_EQ(errorsBefore, static_cast<int>(std::count_if(
                                judged.exchanges.begin(), judged.exchanges.end(),
                                [](const Exchange& e) { return e.request.stationText == "C"; })));

    // The server goes away in the middle of the run, as a cable pulled out of a cabinet.
    server->Kill();
    ASSERT_TRUE(WaitUntil([&] { return end.has_value(); }, 3s));
    EXPECT_FALSE(rig->line.PortOpen());
    EXPECT_NE(end->lineFailure.find("was lost"), std::string::npos) << end->lineFailure;
    EXPECT_NE(end->lineFailure.find(server->Url()), std::string::npos) << end->lineFailure;
    // Nothing was blamed on a controller for the server's going; the records stay.
    EXPECT_LE(judged.exchanges.size(), before + 1);
    EXPECT_EQ(end->errors, cycle.Errors());
    EXPECT_GE(cycle.Errors(), errorsBefore);
    for (std::size_t i = before; i < judged.exchanges.size(); ++i) {
        if (judged.exchanges[i].request.stationText != "C") {
            EXPECT_EQ(judged.exchanges[i].verdict, ExchangeVerdict::Good);
        }
    }
}

TEST_F(Ser2netLine, TheRemotePortTakesTheSpeedAndStopBitsOfThePortDialog) {
    Start({{"A", 5ms}});
    if (IsSkipped() || HasFatalFailure()) {
        return;
    }
    EXPECT_EQ(PtySettings(host->DevicePath()).baud, 9600);
    rig->primo.BaudText = " 2400";
    rig->primo.StopBitsText = " 2";
    ASSERT_FALSE(rig->Open()) << rig->port.OpenFailure();
    const LineSettings remote = PtySettings(host->DevicePath());
    EXPECT_EQ(remote.baud, 2400);
    EXPECT_EQ(remote.stopBits, 2);
    // And an answer still comes, now at 2400 baud.
    rig->line.Output("A?X  \r");
    ASSERT_TRUE(WaitUntil([&] { return rig->line.InBufferCount() >= 5; }));
    EXPECT_EQ(rig->line.Input().size(), 5u);
}

// The command-line program, as a script runs it, on a port across the network.
struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};
// `whileRunning` is called every few milliseconds until the program ends.
CliRun RunCli(const QStringList& arguments, const std::function<void()>& whileRunning = {}) {
    QProcess program;
    program.start(TARVEL_CLI_PROGRAM, arguments);
    if (whileRunning) {
        program.waitForStarted(30000);
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (!program.waitForFinished(5) && std::chrono::steady_clock::now() < deadline) {
            whileRunning();
        }
    }
    program.waitForFinished(30000);
    return {program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1,
            program.readAllStandardOutput().toStdString(),
            program.readAllStandardError().toStdString()};
}

TEST_F(Ser2netLine, TheCommandLineTestsThroughSer2netAndNamesAConnectionThatFails) {
    Start({{"A", 5ms}, {"B", 5ms}});
    if (IsSkipped() || HasFatalFailure()) {
        return;
    }
    rig.reset();  // ser2net serves one client at a time
    const QString url = QString::fromStdString(server->Url());
    const CliRun test = RunCli(
        {"test", "--port", url, "--addresses", "A,B", "--sweeps", "3", "--baud", "9600", "--json"});
    EXPECT_EQ(test.status, 0) << test.err;
    EXPECT_NE(test.out.find("\"good\": 6"), std::string::npos) << test.out;
    EXPECT_NE(test.out.find("\"roundTripMs\": "), std::string::npos) << test.out;
    const CliRun listed = RunCli({"--list-ports", "--port", "COM2=" + url});
    EXPECT_NE(listed.out.find("COM2: " + server->Url() + ", serial device server"),
              std::string::npos)
        << listed.out;
    server->Kill();
    const CliRun refused = RunCli({"send", "A?X  ", "--port", url});
    EXPECT_EQ(refused.status, 3);
    EXPECT_EQ(refused.err,
              "line-tarvel-cli: cannot open the port: " + server->Url() + ": Connection refused\n");
}

// A Modbus line behind ser2net, reached both ways: as rfc2217://, where the program sets the
// remote port's speed, and as tcp://, where the bytes pass as they are. A pseudo-terminal keeps
// no parity, so the line runs 8N1.
TEST(Ser2netModbusLine, TheCommandLineTestsThroughEitherKindOfPort) {
    if (!testing::Ser2netProgram()) {
        TARVEL_SKIP_MISSING_TOOL(testing::kNoSer2net);
    }
    const Protocol& modbus = *ProtocolAt(*ProtocolIndexNamed("modbus-rtu"));
    // 1 healthy, 2 refusing with exception 2, 3 silent.
    std::vector<SimulatedController> controllers(3);
    for (std::size_t i = 0; i < controllers.size(); ++i) {
        controllers[i].address = std::to_string(i + 1);
    }
    controllers[1].fault = ControllerFault::Exception;
    controllers[2].fault = ControllerFault::Silent;
    std::string failure;
    const auto host = PtyBusHost::Start(SimulatedBus(controllers, 0.0, 1, modbus), failure);
    ASSERT_TRUE(host) << failure;
    // tcp:// first: the pty is still at the 9600 it was made with.
    for (const bool comPort : {false, true}) {
        Ser2net server(host->DevicePath(), comPort);
        ASSERT_TRUE(server.failure.empty()) << server.failure;
        const QString url = QString::fromStdString(server.Url(comPort));
        SCOPED_TRACE(url.toStdString());
        // ser2net puts the remote port back as it was when the client goes, so its speed is
        // watched while the program runs.
        std::set<int> speedsSeen;
        const CliRun test =
            RunCli({"test", "--protocol", "modbus-rtu", "--port", url, "--addresses", "1-3",
                    "--sweeps", "3", "--retry", "0", "--baud", "19200", "--parity", "none",
                    "--answer-window", "0.3", "--json"},
                   [&] { speedsSeen.insert(PtySettings(host->DevicePath()).baud); });
        EXPECT_EQ(test.status, 1) << test.err;  // 3 is silent
        const QJsonObject report =
            QJsonDocument::fromJson(QByteArray::fromStdString(test.out)).object();
        std::map<int, QJsonObject> by;
        for (const QJsonValue& value : report["controllers"].toArray()) {
            by[value.toObject()["address"].toInt()] = value.toObject();
        }
        ASSERT_EQ(by.size(), 3u) << test.out;
        EXPECT_EQ(by[1]["good"].toInt(), 3);
        EXPECT_EQ(by[2]["good"].toInt(), 3);
        EXPECT_EQ(by[2]["exceptionCodes"].toObject(), (QJsonObject{{"2", 3}}));
        EXPECT_EQ(by[3]["noAnswer"].toInt(), 3);
        for (const auto& [address, controller] : by) {
            EXPECT_EQ(controller["badCrc"].toInt() + controller["wrongLength"].toInt() +
                          controller["wrongSource"].toInt() + controller["cut"].toInt(),
                      0)
                << address;
        }
        // Only the control protocol tells the remote port its speed.
        if (comPort) {
            EXPECT_EQ(speedsSeen.count(19200), 1u);
        } else {
            EXPECT_EQ(speedsSeen, std::set<int>{9600});
        }
        const CliRun scan = RunCli({"scan", "--protocol", "modbus-rtu", "--port", url,
                                    "--addresses", "1-5", "--retry", "0", "--baud", "19200",
                                    "--parity", "none", "--answer-window", "0.3", "--json"});
        EXPECT_EQ(scan.status, 0) << scan.err;
        EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(scan.out))
                      .object()["found"]
                      .toArray(),
                  (QJsonArray{1, 2}))
            << scan.out;
    }
}

// The longest time the program's thread went without turning its event loop, as a timer that
// ticks every 10 ms sees it.
struct LoopWatch {
    QTimer tick;
    std::chrono::steady_clock::time_point last = std::chrono::steady_clock::now();
    std::chrono::milliseconds longest{0};
    LoopWatch() {
        QObject::connect(&tick, &QTimer::timeout, [this] {
            const auto now = std::chrono::steady_clock::now();
            longest = std::max(longest,
                               std::chrono::duration_cast<std::chrono::milliseconds>(now - last));
            last = now;
        });
        tick.start(10);
    }
};

// Stops the server answering once the search's first setting has been taken.
struct HangAfterFirstSetting final : SearchSink {
    testing::FakeComPortServer& server;
    explicit HangAfterFirstSetting(testing::FakeComPortServer& s) : server(s) {}
    void SettingStarting(int number, const SearchSetting& /*setting*/) override {
        if (number == 1) {
            server.StopAnswering();
        }
    }
};

QCoro::Task<SearchEnd> SearchOnce(SettingsSearch& search, LineUse& lineUse,
                                  std::vector<SearchSetting> order) {
    co_return co_await search.Search(co_await lineUse.Acquire(), std::move(order));
}

// Each setting is four requests to the server, each given the silence limit for its reply: made
// on the program's thread, a server that hangs would stop the window for as long.
TEST(NetworkSettingsSearch, AServerThatHangsMidSearchEndsItWithTheReasonWhileTheWindowGoesOn) {
    testing::FakeComPortServer server(testing::FakeComPortServer::Mode::Agree);
    NetworkRig rig(server.Url());
    ASSERT_FALSE(rig.Open()) << rig.port.OpenFailure();
    SettingsSearch search(rig.primo, rig.port, SearchTimings{20ms, 50ms, 50ms});
    search.AskOnly({1});
    HangAfterFirstSetting hang(server);
    search.AddSink(hang);
    LineUse lineUse(rig.scheduler);

    LoopWatch watch;
    const auto started = std::chrono::steady_clock::now();
    const SearchEnd end =
        RunInEventLoop(SearchOnce(search, lineUse, SearchOrder(DefaultProtocol())), 8s);
    const auto took = std::chrono::steady_clock::now() - started;

    EXPECT_EQ(end.settingsTried, 1);
    EXPECT_TRUE(end.refused.empty());
    EXPECT_EQ(end.lineFailure, server.Url() +
                                   " was lost: the server did not answer the request for the "
                                   "speed within 3 s");
    EXPECT_FALSE(rig.line.PortOpen());
    EXPECT_EQ(rig.line.LastError(), end.lineFailure);
    // The silence limit of the unanswered request, not one for each setting left to try.
    EXPECT_LT(took, NetworkPort::kSilenceLimit + 2s);
    EXPECT_EQ(rig.primo.BaudText, " 9600");
    EXPECT_LT(watch.longest, 500ms);
}

// A server that hangs with its connections open (stopped, not gone) is found out by the round
// trip measured every few seconds: the run ends with the reason, and what it recorded before
// stays as it was.
TEST_F(Ser2netLine, AServerThatHangsMidRunEndsItWithTheReasonAndTheRecordsKept) {
    Start({{"A", 5ms}, {"B", 5ms}});
    if (IsSkipped() || HasFatalFailure()) {
        return;
    }
    CycleRun run(*rig, {0, 1});
    TestCycle& cycle = run.cycle;
    Judged& judged = run.judged;
    std::optional<RunEnd>& end = run.end;
    ASSERT_TRUE(WaitUntil([&] { return judged.exchanges.size() >= 4; }));
    const std::vector<Exchange> before = judged.exchanges;

    LoopWatch watch;
    server->Freeze();
    const bool ended =
        WaitUntil([&] { return end.has_value(); },
                  std::chrono::duration_cast<std::chrono::milliseconds>(
                      NetworkPort::kRoundTripEvery + NetworkPort::kSilenceLimit + 2s));
    server->Thaw();
    ASSERT_TRUE(ended);
    EXPECT_EQ(end->lineFailure,
              server->Url() +
                  " was lost: the server has not answered a COM port control request for 3 s");
    EXPECT_FALSE(rig->line.PortOpen());
    for (std::size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(judged.exchanges[i].verdict, before[i].verdict);
        EXPECT_EQ(judged.exchanges[i].verdict, ExchangeVerdict::Good);
    }
    EXPECT_EQ(end->errors, cycle.Errors());
    EXPECT_LT(watch.longest, 500ms);
}

}  // namespace
}  // namespace tarvel
