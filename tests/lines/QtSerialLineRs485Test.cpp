// SPDX-License-Identifier: GPL-3.0-or-later
// The serial line asked for RS-485 mode on a port whose driver has none: a pseudo-terminal here,
// which refuses as a USB adapter does.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include "lines/QtSerialLine.h"
#include "platform/Clock.h"

namespace tarvel {
namespace {

TEST(QtSerialLineRs485, APortWithoutTheModeIsNotUsedAndSaysWhy) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string device = ::ptsname(master);

    PortMap ports;
    ports.Assign(1, device);
    SteadyClock clock;
    QtSerialLine line(ports, clock);
    line.SetRs485(Rs485Mode{});
    EXPECT_FALSE(line.SetPortOpen(true));
    EXPECT_FALSE(line.PortOpen());
    EXPECT_EQ(line.LastError(), device +
                                    " has no RS-485 mode in its driver (Inappropriate ioctl for "
                                    "device): USB adapters that switch direction by themselves "
                                    "need no --rs485");

    // Without the mode the same port opens, and closes again.
    line.SetRs485(std::nullopt);
    EXPECT_TRUE(line.SetPortOpen(true)) << line.LastError();
    EXPECT_TRUE(line.SetPortOpen(false));
    ::close(master);
}

}  // namespace
}  // namespace tarvel
