// SPDX-License-Identifier: GPL-3.0-or-later
// The serial line asked for RS-485 mode on a port whose driver has none: a pseudo-terminal here,
// which refuses as a USB adapter does; and the command-line program on a Modbus line so asked.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <QProcess>
#include <QStringList>

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

// The command-line program asked for RS-485 mode on a Modbus line it would test or send to: the
// same refusal, the port's status, and not a byte on the line.
TEST(QtSerialLineRs485, AModbusRunOnAPortWithoutTheModeEndsBeforeAByteIsSent) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const QString device = QString::fromLatin1(::ptsname(master));
    for (const QStringList& command :
         {QStringList{"test", "--addresses", "1,2", "--sweeps", "2", "--rs485"},
          QStringList{"send", "--hex", "01 03 00 00 00 01", "--rs485-delays", "2,15"}}) {
        SCOPED_TRACE(command.join(' ').toStdString());
        QProcess program;
        program.start(QStringLiteral(TARVEL_CLI_PROGRAM), QStringList(command)
                                                              << "--protocol"
                                                              << "modbus-rtu"
                                                              << "--port" << device << "--baud"
                                                              << "19200");
        ASSERT_TRUE(program.waitForFinished(30000));
        EXPECT_EQ(program.exitCode(), 3);
        EXPECT_NE(program.readAllStandardError().toStdString().find(
                      device.toStdString() + " has no RS-485 mode in its driver ("),
                  std::string::npos);
        char byte = 0;
        EXPECT_EQ(::read(master, &byte, 1), -1) << "a byte reached the line";
    }
    ::close(master);
}

}  // namespace
}  // namespace tarvel
