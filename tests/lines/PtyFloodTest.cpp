// SPDX-License-Identifier: GPL-3.0-or-later
// A port that delivers far more than its wire can carry (a device that is no bus adapter): a
// writer thread fills a pseudo-terminal as fast as it can while the program reads nothing, then
// while it reads. What the line keeps stays within its capacity, the rest is counted, and the
// program's thread keeps its timers.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <QProcess>
#include <QRegularExpression>
#include <atomic>
#include <chrono>
#include <thread>

#include "lines/EchoCancellingLine.h"
#include "lines/QtSerialLine.h"
#include "platform/QtScheduler.h"
#include "serial/PortService.h"
#include "support/LineRig.h"
#include "support/RealTime.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;

struct PtyFlood : ::testing::Test {
    int master = -1;
    std::string device;
    std::atomic<bool> flooding{true};
    std::atomic<std::uint64_t> written{0};
    std::thread writer;

    void SetUp() override {
        int slave = -1;
        char name[128];
        termios raw{};
        cfmakeraw(&raw);
        ASSERT_EQ(::openpty(&master, &slave, name, &raw, nullptr), 0);
        ::close(slave);  // the line opens it by its name
        device = name;
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    }
    void Flood() {
        writer = std::thread([this] {
            const std::string block(16 * 1024, 'A');  // an "A" without end, never a frame
            while (flooding) {
                const ssize_t n = ::write(master, block.data(), block.size());
                if (n > 0) {
                    written += static_cast<std::uint64_t>(n);
                } else {
                    std::this_thread::sleep_for(100us);
                }
            }
        });
    }
    void TearDown() override {
        flooding = false;
        if (writer.joinable()) {
            writer.join();
        }
        if (master >= 0) {
            ::close(master);
        }
    }
};

TEST_F(PtyFlood, TheLineKeepsItsCapacityCountsTheRestAndItsThreadKeepsItsTimers) {
    PortMap ports;
    ports.Assign(1, device);
    QtScheduler scheduler;
    QtSerialLine line(ports, scheduler);
    Primo primo = testing::Primo9600();
    PortService port(line, primo, scheduler);
    ASSERT_FALSE(port.OpenPort()) << port.OpenFailure();
    Flood();

    // Nobody reads for a second: the line keeps five seconds of 9600 baud, at least 16 KiB.
    const std::size_t capacity = InputCapacity(LineSettings{9600, Parity::None, 8, 1});
    int timerTicks = 0;
    QTimer ticking;
    QObject::connect(&ticking, &QTimer::timeout, [&] { ++timerTicks; });
    ticking.start(10ms);
    testing::Wait(1s);
    EXPECT_LE(static_cast<std::size_t>(line.InBufferCount()), capacity);
    EXPECT_GT(line.DroppedInput(), 1'000'000u) << written.load() << " written";
    // The program's thread was free the whole time: its timer ticked about a hundred times.
    EXPECT_GT(timerTicks, 50);

    // Read as a listener reads, a little at a time: the stamps of what is kept are in order and
    // none is in the future.
    for (int round = 0; round < 20; ++round) {
        const int waiting = line.InBufferCount();
        ASSERT_LE(static_cast<std::size_t>(waiting), capacity);
        if (waiting > 1) {
            const auto first = line.ArrivalOf(0);
            const auto last = line.ArrivalOf(waiting - 1);
            ASSERT_TRUE(first && last);
            EXPECT_LE(*first, *last);
            EXPECT_LE(*last, scheduler.Now());
        }
        line.InputFirst(4096);
        testing::Wait(10ms);
    }
    flooding = false;
    writer.join();
    EXPECT_GT(line.DroppedInput(), 0u);
}

TEST_F(PtyFlood, TheLayerThatTakesTheEchoOffKeepsNoMoreThanTheLineBelowIt) {
    PortMap ports;
    ports.Assign(1, device);
    QtScheduler scheduler;
    QtSerialLine line(ports, scheduler);
    EchoCancellingLine echo(line, scheduler);
    Primo primo = testing::Primo9600();
    PortService port(echo, primo, scheduler);
    ASSERT_FALSE(port.OpenPort()) << port.OpenFailure();
    Flood();
    // The layer takes up what comes as it comes; it must not become the unbounded store.
    testing::Wait(1s);
    const std::size_t capacity = InputCapacity(LineSettings{9600, Parity::None, 8, 1});
    EXPECT_LE(static_cast<std::size_t>(echo.InBufferCount()), 2 * capacity);
    EXPECT_GT(echo.DroppedInput(), 1'000'000u);
}

// The command-line program under a flood, at the 4800 baud it listens at unless told: its
// --duration holds, and the drop is told once on standard error with the very count of its JSON.
TEST_F(PtyFlood, ListenEndsOnTimeAndTellsTheDropOnceWithTheCountOfItsJson) {
    Flood();
    QProcess program;
    const auto started = std::chrono::steady_clock::now();
    program.start(
        QStringLiteral(TARVEL_CLI_PROGRAM),
        {"listen", "--port", QString::fromStdString(device), "--duration", "2", "--json"});
    ASSERT_TRUE(program.waitForFinished(10000));
    const auto took = std::chrono::steady_clock::now() - started;
    const QString out = QString::fromUtf8(program.readAllStandardOutput());
    const QString err = QString::fromUtf8(program.readAllStandardError());
    // The two seconds, the start of the process and its end (slower under the sanitizers).
    EXPECT_LT(took, 4s);

    const QRegularExpressionMatch inJson = QRegularExpression(R"("dropped": ?(\d+))").match(out);
    ASSERT_TRUE(inJson.hasMatch()) << out.left(2000).toStdString();
    const QRegularExpression notice(
        R"(the port delivers far more than 4800 baud can carry: (\d+) bytes dropped; is this the )"
        R"(right port and speed\?)");
    QRegularExpressionMatchIterator notices = notice.globalMatch(err);
    ASSERT_TRUE(notices.hasNext()) << err.toStdString();
    EXPECT_EQ(notices.next().captured(1), inJson.captured(1));
    EXPECT_FALSE(notices.hasNext()) << err.toStdString();
    EXPECT_GT(inJson.captured(1).toULongLong(), 100'000u);
}

}  // namespace
}  // namespace tarvel
