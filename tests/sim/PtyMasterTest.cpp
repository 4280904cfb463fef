// SPDX-License-Identifier: GPL-3.0-or-later
// The master behind a pseudo-terminal in real time: a reader of the device gets exactly the
// traffic of the master's log, and the host hears nothing from a reader that sends nothing.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "sim/PtyBusHost.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;

// Reads what arrives on `fd` for `span`.
std::string ReadFor(int fd, std::chrono::steady_clock::duration span) {
    std::string text;
    const auto end = std::chrono::steady_clock::now() + span;
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left <= 0ms) {
            return text;
        }
        pollfd fds{fd, POLLIN, 0};
        if (::poll(&fds, 1, static_cast<int>(left.count())) > 0 && (fds.revents & POLLIN) != 0) {
            char chunk[256];
            const auto count = ::read(fd, chunk, sizeof chunk);
            if (count > 0) {
                text.append(chunk, static_cast<std::size_t>(count));
            }
        }
    }
}

TEST(PtyMaster, AReaderOfTheDeviceGetsTheMastersTrafficAndTheHostHearsNothing) {
    std::string error;
    auto host = PtyBusHost::StartMaster(
        SimulatedMaster(SimulatedBus(DemoControllers(), 0.0, 3), MasterSchedule{},
                        LineSettings{19200, Parity::None, 8, 1}),
        error);
    ASSERT_TRUE(host) << error;
    const int fd = ::open(host->DevicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios raw{};
    ASSERT_EQ(::tcgetattr(fd, &raw), 0);
    ::cfmakeraw(&raw);
    ASSERT_EQ(::tcsetattr(fd, TCSANOW, &raw), 0);

    std::string received = ReadFor(fd, 1500ms);
    const std::vector<MasterPoll> log = host->MasterLog();
    // Whatever was on its way when the log was taken.
    received += ReadFor(fd, 400ms);
    ::close(fd);

    ASSERT_GE(log.size(), 10u);
    // The master started polling when the device was opened, not before.
    EXPECT_EQ(received.substr(0, 6), "A?X  \r");
    std::string logged;
    for (const MasterPoll& poll : log) {
        logged += poll.request + poll.answer;
    }
    ASSERT_GE(received.size(), logged.size());
    EXPECT_EQ(received.substr(0, logged.size()), logged);
    // Paced, not poured: a poll takes some 30 ms at this speed, one to the silent controller
    // over 200 ms, so 1.5 s hold a few dozen at most.
    EXPECT_LT(log.size(), 60u);
    EXPECT_TRUE(host->Received().empty());
}

}  // namespace
}  // namespace tarvel
