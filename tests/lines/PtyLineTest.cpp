// SPDX-License-Identifier: GPL-3.0-or-later
// The real serial path in real time: the program's QSerialPort line on one side of a
// pseudo-terminal, the simulated bus on the other.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "protocol/ascon/AsconFrame.h"
#include "serial/PortChoices.h"
#include "serial/ReceiveAnswer.h"
#include "support/FakePorts.h"
#include "support/PtyRig.h"
#include "support/RealTime.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;
using testing::RunInEventLoop;

struct PtyLine : ::testing::Test, testing::PtyRig {
    PtyLine() : PtyRig({{"A", 5ms}, {"C", 5ms, ControllerFault::Silent}}) {}
    void SetUp() override { ASSERT_TRUE(Ready()) << failure; }
    std::string ReceivedText() const {
        std::string text;
        for (const auto& byte : host->Received()) {
            text.push_back(static_cast<char>(byte.byte));
        }
        return text;
    }
};

// Settles, then writes a request at once; returns how long the settling took on the
// program's own clock.
QCoro::Task<Duration> SettleThenRequest(PortService& port) {
    const Instant start = port.Time().Now();
    co_await port.SettleLine();
    const Duration took = port.Time().Now() - start;
    port.Line().Output("A?X  \r");
    co_return took;
}

TEST_F(PtyLine, SettleLineSendsOneCarriageReturnAndPausesTwoTenthsOnTheWire) {
    const Duration settling = RunInEventLoop(SettleThenRequest(*port));
    EXPECT_GE(settling, SettleTime);  // the program's pause is never short
    const auto until = std::chrono::steady_clock::now() + 1s;
    while (host->Received().size() < 7 && std::chrono::steady_clock::now() < until) {
        QEventLoop loop;
        QTimer::singleShot(10ms, &loop, &QEventLoop::quit);
        loop.exec();
    }
    const auto received = host->Received();
    ASSERT_EQ(ReceivedText(), "\rA?X  \r");
    const Duration pause = received[1].end - received[0].end;
    // As the far end sees it, both ends of the pause carry its own reading latency; the margins
    // are for a loaded machine (bench/ prints the exact figure).
    EXPECT_GE(pause, 195ms) << pause.count() << " ns";
    EXPECT_LT(pause, 225ms) << pause.count() << " ns";
}

TEST_F(PtyLine, AHealthyControllerAnswersThroughTheRealPort) {
    line->Output("A?X  \r");
    const std::string answer = RunInEventLoop(ReceiveAnswer(*port, 300ms));
    ASSERT_EQ(answer.size(), 4u);
    EXPECT_EQ(answer[0], 'A');
    EXPECT_EQ(ReceivedText(), "A?X  \r");  // no settling after a good answer
}

TEST_F(PtyLine, APseudoTerminalKeepsNoLineErrorCountsAndSaysSo) {
    // The driver of a pseudo-terminal refuses TIOCGICOUNT: nothing, rather than made-up zeros.
    EXPECT_TRUE(line->PortOpen());
    EXPECT_EQ(line->ErrorCounts(), std::nullopt);
}

TEST_F(PtyLine, ASilentControllerGivesNoAnswerAndTheLineIsSettledAfterTheTimeOut) {
    line->Output("C?X  \r");
    const Instant start = scheduler.Now();
    EXPECT_EQ(RunInEventLoop(ReceiveAnswer(*port, 300ms)), kNoAnswer);
    const Duration took = scheduler.Now() - start;
    EXPECT_GE(took, 500ms);
    EXPECT_LT(took, 550ms);
    const auto received = host->Received();
    ASSERT_EQ(ReceivedText(), "C?X  \r\r");
    const Duration toSettle = received.back().end - received.front().end;
    // Seen from the far end, with its own reading latency at both ends.
    EXPECT_GE(toSettle, 295ms) << toSettle.count() << " ns";
    EXPECT_LT(toSettle, 325ms) << toSettle.count() << " ns";
}

// The port's own signals can come from inside a call (Qt reads the driver on request and signals
// at once); the line's notifications must still come only from the event loop.
TEST_F(PtyLine, NotificationsComeFromTheEventLoopNeverFromInsideACall) {
    bool insideCall = false;
    int heardInside = 0;
    int inputHeard = 0;
    int outputHeard = 0;
    auto input = line->InputActivity().Subscribe([&] {
        ++inputHeard;
        heardInside += insideCall;
    });
    auto output = line->OutputActivity().Subscribe([&] {
        ++outputHeard;
        heardInside += insideCall;
    });
    auto busyCalls = [&] {
        insideCall = true;
        for (int i = 0; i < 50; ++i) {
            line->InBufferCount();
            line->OutBufferCount();
            line->ArrivalOf(0);
        }
        insideCall = false;
    };
    auto pass = [](std::chrono::milliseconds span) {
        QEventLoop loop;
        QTimer::singleShot(span, &loop, &QEventLoop::quit);
        loop.exec();
    };

    // The request leaves in a short pass of the event loop (Qt writes from there); the answer
    // comes in while the program asks for counts without handing over the thread.
    insideCall = true;
    line->Output("A?X  \r");
    const bool outputPending = line->OutBufferCount() > 0;  // a drain wait would listen now
    insideCall = false;
    pass(3ms);
    const auto until = std::chrono::steady_clock::now() + 300ms;
    while (std::chrono::steady_clock::now() < until) {
        busyCalls();
    }
    EXPECT_EQ(line->InBufferCount(), 5);
    ASSERT_TRUE(line->ArrivalOf(4).has_value());
    EXPECT_LE(*line->ArrivalOf(0), *line->ArrivalOf(4));
    insideCall = true;
    EXPECT_EQ(line->Input().size(), 5u);
    insideCall = false;
    pass(50ms);
    EXPECT_GT(inputHeard, 0);
    EXPECT_EQ(outputHeard > 0, outputPending);

    // The far end goes away: the port's thread finds out, and the program hears of it from its
    // event loop, however busy it keeps itself meanwhile.
    const int heardBefore = inputHeard;
    host.reset();
    const auto lostBy = std::chrono::steady_clock::now() + 2s;
    while (line->PortOpen() && std::chrono::steady_clock::now() < lostBy) {
        busyCalls();
    }
    EXPECT_FALSE(line->PortOpen());
    busyCalls();
    EXPECT_EQ(inputHeard, heardBefore);
    pass(50ms);
    EXPECT_GT(inputHeard, heardBefore);
    EXPECT_NE(line->LastError().find("was lost"), std::string::npos);
    EXPECT_EQ(heardInside, 0);
}

// A pty carries no parity and always eight data bits: the line opens anyway, with the speed and
// the stop bits set on it, and tells the simulated line what it chose.
struct PtyAt7E1 : ::testing::Test, testing::PtyRig {
    PtyAt7E1()
        : PtyRig({{"A", 5ms, ControllerFault::None, 0.0, 0.0, Framing{7, Parity::Even}},
                  {"B", 5ms}}) {}
    void SetUp() override { ASSERT_TRUE(Ready()) << failure; }
    bool Reopen(const char* baud, const char* parity, const char* stopBits) {
        primo.BaudText = baud;
        primo.ParityText = parity;
        primo.DataBitsText = DataBitsFor(parity);
        primo.StopBitsText = stopBits;
        return !port->OpenPort();
    }
    LineSettings OnThePty() const {
        const int fd = ::open(host->DevicePath().c_str(), O_RDWR | O_NOCTTY);
        const LineSettings settings = TerminalSettings(fd);
        ::close(fd);
        return settings;
    }
    std::string Ask(const char* request) {
        line->Output(request);
        return RunInEventLoop(ReceiveAnswer(*port, 300ms));
    }
};

TEST_F(PtyAt7E1, EvenAndOddOpenWithTheSpeedAndStopBitsSetOnThePty) {
    ASSERT_TRUE(Reopen(" 4800", "E", " 2")) << port->OpenFailure();
    EXPECT_EQ(OnThePty().baud, 4800);
    EXPECT_EQ(OnThePty().stopBits, 2);
    ASSERT_TRUE(Reopen(" 2400", "O", " 1")) << port->OpenFailure();
    EXPECT_EQ(OnThePty().baud, 2400);
    EXPECT_EQ(OnThePty().stopBits, 1);
    // What Linux does keep no parity bits of, the line left alone.
    EXPECT_EQ(OnThePty().dataBits, 8);
    EXPECT_EQ(OnThePty().parity, Parity::None);
}

TEST_F(PtyAt7E1, AControllerAt7E1AnswersAHostAt7E1AndNotOneAt8N1) {
    EXPECT_EQ(Ask("A?X  \r"), kNoAnswer);
    EXPECT_EQ(Ask("B?X  \r").substr(0, 1), "B");
    ASSERT_TRUE(Reopen(" 9600", "E", " 1")) << port->OpenFailure();
    EXPECT_EQ(Ask("A?X  \r").substr(0, 1), "A");
    ASSERT_TRUE(Reopen(" 9600", "O", " 1")) << port->OpenFailure();
    EXPECT_EQ(Ask("A?X  \r"), kNoAnswer);
    EXPECT_EQ(Ask("B?X  \r").substr(0, 1), "B");  // one of no set framing takes any
}

TEST(HostPorts, AComPortWithNothingBehindItIsRefusedNamingThePortsThereAre) {
    testing::FakePortEnumerator host;
    host.ports = {{"/dev/ttyUSB0", "FT232R USB UART", "A10K3XYZ", "usb-FTDI-if00", true}};
    PortMap ports(&host);
    QtScheduler scheduler;
    QtSerialLine line(ports, scheduler);
    EXPECT_FALSE(line.SetCommPort(3));
    EXPECT_EQ(line.LastError(), "No serial port is attached as COM3. The ports there are:\n"
                                "COM1: /dev/ttyUSB0, FT232R USB UART, serial A10K3XYZ");
    EXPECT_TRUE(line.SetCommPort(1));
    // The adapter is unplugged before the port is opened: refused the same way.
    host.ports.clear();
    ports.Refresh();
    EXPECT_FALSE(line.SetPortOpen(true));
    EXPECT_NE(line.LastError().find("No serial port is attached as COM1"), std::string::npos);
}

}  // namespace
}  // namespace tarvel
