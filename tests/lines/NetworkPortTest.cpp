// SPDX-License-Identifier: GPL-3.0-or-later
// The program's line on a port across the network, against a small fake server that does what
// ser2net cannot be made to do: the Telnet escapes, the purges, the refusals and the silences.

#include <gtest/gtest.h>
#include <signal.h>

#include <QEventLoop>
#include <QTimer>
#include <functional>

#include "lines/QtSerialLine.h"
#include "platform/QtScheduler.h"
#include "serial/PortService.h"
#include "support/FakeComPortServer.h"
#include "support/LineRig.h"
#include "support/RealTime.h"
#include "support/Ser2net.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;
using testing::FakeComPortServer;
using testing::RunInEventLoop;

using testing::Wait;
using testing::WaitUntil;

// The program's line on COM1 = `url`, with the port service over it.
struct NetworkRig {
    PortMap ports;
    QtScheduler scheduler;
    QtSerialLine line{ports, scheduler};
    Primo primo = testing::Primo9600();
    PortService port{line, primo, scheduler};

    explicit NetworkRig(const std::string& url) { ports.Assign(1, url); }
    // OpenPort as the dialog's OK does it: true when it failed.
    bool Open() { return RunInEventLoop(port.OpenPortAsync(), 8s); }
};

TEST(NetworkLine, TheEscapeByteIsDoubledOnTheWireAndUndoneInAnswersWhereverTheReadsSplit) {
    FakeComPortServer server(FakeComPortServer::Mode::Agree);
    NetworkRig rig(server.Url());
    ASSERT_FALSE(rig.Open()) << rig.port.OpenFailure();
    EXPECT_EQ(server.Requests(), 4);  // speed, data bits, parity, stop bits

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

}  // namespace
}  // namespace tarvel
