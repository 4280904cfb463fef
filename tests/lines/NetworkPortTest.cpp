// SPDX-License-Identifier: GPL-3.0-or-later
// The program's line on a port across the network, against a small fake server that does what
// ser2net cannot be made to do: the Telnet escapes, the purges, the refusals and the silences;
// and the command-line program's Modbus frames through it.

#include <gtest/gtest.h>
#include <signal.h>

#include <QEventLoop>
#include <QProcess>
#include <QTimer>
#include <functional>

#include "lines/QtSerialLine.h"
#include "platform/QtScheduler.h"
#include "serial/PortService.h"
#include "support/FakeComPortServer.h"
#include "support/LineRig.h"
#include "support/NetworkRig.h"
#include "support/RealTime.h"
#include "support/Ser2net.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;
using testing::FakeComPortServer;
using testing::NetworkRig;
using testing::RunInEventLoop;

using testing::Wait;
using testing::WaitUntil;

// The opening's requests (speed, data bits, parity, stop bits) and the round trip's first
// measurement, asked at once: what the server sees after them is the test's.
bool OpeningRequestsSeen(const FakeComPortServer& server) {
    return WaitUntil([&] { return server.Requests() >= 5; }, 2s) && server.Requests() == 5;
}

TEST(NetworkLine, TheEscapeByteIsDoubledOnTheWireAndUndoneInAnswersWhereverTheReadsSplit) {
    FakeComPortServer server(FakeComPortServer::Mode::Agree);
    NetworkRig rig(server.Url());
    ASSERT_FALSE(rig.Open()) << rig.port.OpenFailure();
    ASSERT_TRUE(OpeningRequestsSeen(server)) << server.Requests();

    rig.line.Output(std::string("A\xff?X\r", 5));
    ASSERT_TRUE(WaitUntil([&] { return server.Data().size() >= 6; }));
    EXPECT_EQ(server.Data(), std::string("A\xff\xff?X\r", 6));

    // An escaped 0xFF split between two writes, and one whole: two data bytes of 0xFF.
    server.Send(std::string("B\xff", 2));
    Wait(20ms);
    server.Send(std::string("\xff"
                            "1\xff\xff\r",
                            5));
    ASSERT_TRUE(WaitUntil([&] { return rig.line.InBufferCount() >= 5; }));
    Wait(20ms);
    EXPECT_EQ(rig.line.Input(), std::string("B\xff"
                                            "1\xff\r",
                                            5));
}

TEST(NetworkLine, ASettleAsksTheServerToPurgeItsReceiveBufferBeforeAndAfterTheCarriageReturn) {
    FakeComPortServer server(FakeComPortServer::Mode::Agree);
    NetworkRig rig(server.Url());
    ASSERT_FALSE(rig.Open()) << rig.port.OpenFailure();
    ASSERT_TRUE(OpeningRequestsSeen(server)) << server.Requests();
    const std::size_t before = server.Received().size();
    auto settle = [](PortService& port) -> QCoro::Task<bool> {
        co_await port.SettleLine();
        co_return true;
    };
    ASSERT_TRUE(RunInEventLoop(settle(rig.port), 2s));
    // PURGE-DATA (12) of the access server's receive buffer (1), as RFC 2217 numbers them.
    const std::string purge("\xff\xfa\x2c\x0c\x01\xff\xf0", 7);
    ASSERT_TRUE(
        WaitUntil([&] { return server.Received().size() >= before + 2 * purge.size() + 1; }));
    EXPECT_EQ(server.Received().substr(before), purge + "\r" + purge);
}

TEST(NetworkLine, AServerThatRefusesOrIgnoresTheComPortOptionOrIsNotThereSaysSo) {
    {
        FakeComPortServer server(FakeComPortServer::Mode::Refuse);
        NetworkRig rig(server.Url());
        EXPECT_TRUE(rig.Open());
        EXPECT_FALSE(rig.line.PortOpen());
        EXPECT_NE(rig.port.OpenFailure().find("refused the Telnet COM port control option"),
                  std::string::npos)
            << rig.port.OpenFailure();
        EXPECT_NE(rig.port.OpenFailure().find("tcp://127.0.0.1:"), std::string::npos);
    }
    {
        FakeComPortServer server(FakeComPortServer::Mode::Silent);
        NetworkRig rig(server.Url());
        const auto started = std::chrono::steady_clock::now();
        EXPECT_TRUE(rig.Open());
        const auto took = std::chrono::steady_clock::now() - started;
        EXPECT_NE(rig.port.OpenFailure().find("did not answer the Telnet COM port control "
                                              "negotiation (RFC 2217) within 1 s"),
                  std::string::npos)
            << rig.port.OpenFailure();
        EXPECT_LT(took, 2500ms);
    }
    {
        NetworkRig rig("rfc2217://127.0.0.1:" + std::to_string(testing::FreeLocalPort()));
        EXPECT_TRUE(rig.Open());
        EXPECT_NE(rig.port.OpenFailure().find("Connection refused"), std::string::npos)
            << rig.port.OpenFailure();
    }
    {
        NetworkRig rig("rfc2217://127.0.0.1:99999");
        EXPECT_TRUE(rig.Open());
        EXPECT_NE(rig.port.OpenFailure().find("not a network port"), std::string::npos)
            << rig.port.OpenFailure();
    }
}

// A program started by a parent that ignores SIGUSR2 (the library's wake-up signal) inherits
// that: each reply awaited on one thread while another serves the connection would then take
// the request's whole time-out.
TEST(NetworkLine, RepliesComeAtOnceWhenTheProgramWasStartedWithTheWakeSignalIgnored) {
    struct sigaction ignored {};
    ignored.sa_handler = SIG_IGN;
    sigemptyset(&ignored.sa_mask);
    ::sigaction(SIGUSR2, &ignored, nullptr);
    FakeComPortServer server(FakeComPortServer::Mode::Agree);
    NetworkRig rig(server.Url());
    ASSERT_FALSE(rig.Open()) << rig.port.OpenFailure();
    const auto started = std::chrono::steady_clock::now();
    for (int change = 0; change < 10; ++change) {
        ASSERT_TRUE(rig.line.SetSettings(change % 2 == 0 ? " 4800,E,7, 1" : " 9600,N,8, 1"))
            << rig.line.LastError();
    }
    rig.port.ClosePort();
    // On the loopback some milliseconds; with the signal lost, seconds for each change.
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
}

TEST(NetworkLine, TheWindowsThreadGoesOnWhileTheServerIsSilent) {
    FakeComPortServer server(FakeComPortServer::Mode::Silent);
    NetworkRig rig(server.Url());
    int ticks = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
    tick.start(50);
    EXPECT_TRUE(rig.Open());
    // About twenty in the second the negotiation is given; a blocked thread would have none.
    EXPECT_GE(ticks, 10);
}

// line-tarvel-cli sending a Modbus frame across the network: the remote port is set to the
// protocol's 8 data bits with even parity, and a 0xFF in the frame or in its answer is a data
// byte, doubled on the wire.
TEST(NetworkLine, AModbusFrameGoesAt8E1AndItsEscapeBytesAreDoubledBothWays) {
    FakeComPortServer server(FakeComPortServer::Mode::Agree);
    QProcess program;
    program.start(
        QStringLiteral(TARVEL_CLI_PROGRAM),
        {"send", "--protocol", "modbus-rtu", "--port", QString::fromStdString(server.Url()),
         "--baud", "19200", "--parity", "even", "--hex", "01 06 00 01 00 FF"});
    ASSERT_TRUE(program.waitForStarted(10000));
    // The frame with its CRC, 98 4A.
    const std::string frame("\x01\x06\x00\x01\x00\xff\xff\x98\x4a", 9);
    ASSERT_TRUE(WaitUntil([&] { return server.Data().size() >= frame.size(); }, 10s))
        << program.readAllStandardError().toStdString();
    EXPECT_EQ(server.Data(), frame);
    // A write of one register is answered with the request itself.
    server.Send(frame);
    ASSERT_TRUE(program.waitForFinished(10000));
    const std::string out = program.readAllStandardOutput().toStdString();
    EXPECT_EQ(program.exitCode(), 0) << program.readAllStandardError().toStdString();
    EXPECT_EQ(out.rfind("sent: 01 06 00 01 00 FF 98 4A\n01 06 00 01 00 FF 98 4A", 0), 0u) << out;
    // SET-BAUDRATE 19200, SET-DATASIZE 8, SET-PARITY even (3), as RFC 2217 numbers them.
    const std::string received = server.Received();
    for (const std::string& request : {std::string("\xff\xfa\x2c\x01\x00\x00\x4b\x00\xff\xf0", 10),
                                       std::string("\xff\xfa\x2c\x02\x08\xff\xf0", 7),
                                       std::string("\xff\xfa\x2c\x03\x03\xff\xf0", 7)}) {
        EXPECT_NE(received.find(request), std::string::npos) << request.size();
    }
}

}  // namespace
}  // namespace tarvel
