// SPDX-License-Identifier: GPL-3.0-or-later
// What the program's serial line decides on its own: the word to a user who may not open a
// device, which devices are pseudo-terminals, and which settings a port must take.

#include "lines/LocalPort.h"
#include "lines/PortPermissions.h"
#include "lines/PseudoTerminals.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>

namespace tarvel {
namespace {

TEST(PermissionDenied, TheTextNamesTheGroupTheLoginAndTheCommand) {
    const std::string text =
        PermissionDeniedText("/dev/ttyUSB0", "dialout", GroupMembership::NotMember);
    EXPECT_EQ(text,
              "/dev/ttyUSB0: Permission denied. The device belongs to the group \"dialout\": your "
              "user must be a member of it and log in again. To make it one: sudo adduser $USER "
              "dialout");
    // Added already, but this session began before: only a new login helps.
    const std::string added =
        PermissionDeniedText("/dev/ttyACM0", "uucp", GroupMembership::MemberFromNextLogin);
    EXPECT_NE(added.find("the group \"uucp\""), std::string::npos);
    EXPECT_NE(added.find("log out and log in again"), std::string::npos);
    EXPECT_NE(added.find("sudo adduser $USER uucp"), std::string::npos);
    EXPECT_EQ(added.find("must be a member"), std::string::npos);
    // This session has the group: joining it again would not help.
    const std::string has =
        PermissionDeniedText("/dev/ttyS0", "dialout", GroupMembership::InSession);
    EXPECT_NE(has.find("the group \"dialout\""), std::string::npos);
    EXPECT_NE(has.find("ls -l /dev/ttyS0"), std::string::npos);
    EXPECT_EQ(has.find("adduser"), std::string::npos);
    // A device of root's group is given another group, rather than the user root's.
    const std::string rootOnly =
        PermissionDeniedText("/dev/ttyS1", "root", GroupMembership::NotMember);
    EXPECT_NE(rootOnly.find("the group \"root\""), std::string::npos);
    EXPECT_NE(rootOnly.find("udev rule"), std::string::npos);
    EXPECT_NE(rootOnly.find("sudo adduser $USER dialout"), std::string::npos);
    EXPECT_EQ(rootOnly.find("adduser $USER root"), std::string::npos);
}

TEST(PermissionDenied, TheGroupIsTheOneTheFileSystemHasAndTheSessionsGroupsCount) {
    // Tests run as root here, so the group is set by hand on a file of this test's own.
    const std::string path =
        (std::filesystem::temp_directory_path() / ("tarvel-group-" + std::to_string(::getpid())))
            .string();
    const int file = ::open(path.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(file, 0);
    ::close(file);
    const group* dialout = ::getgrnam("dialout");
    const gid_t wanted = dialout ? dialout->gr_gid : ::getegid();
    const std::string wantedName = dialout ? "dialout" : ::getgrgid(wanted)->gr_name;
    if (::chown(path.c_str(), static_cast<uid_t>(-1), wanted) == 0) {
        EXPECT_EQ(OwningGroup(path), wanted);
        EXPECT_EQ(OwningGroupName(path), wantedName);
    }
    std::filesystem::remove(path);
    EXPECT_EQ(OwningGroupName(path), std::nullopt);

    struct stat null {};
    ASSERT_EQ(::stat("/dev/null", &null), 0);
    EXPECT_EQ(OwningGroup("/dev/null"), null.st_gid);

    EXPECT_EQ(MembershipOf(::getegid()), GroupMembership::InSession);
    // A group nobody has: not even the group database makes this user a member of it.
    gid_t unused = 40000;
    while (::getgrgid(unused) != nullptr) {
        ++unused;
    }
    EXPECT_EQ(MembershipOf(unused), GroupMembership::NotMember);
}

TEST(PseudoTerminals, OnlyTheSlaveSideIsOne) {
    EXPECT_TRUE(IsPseudoTerminalSlave(makedev(136, 0)));
    EXPECT_TRUE(IsPseudoTerminalSlave(makedev(143, 1048575 & 0xff)));
    EXPECT_TRUE(IsPseudoTerminalSlave(makedev(3, 0)));     // the old BSD kind
    EXPECT_FALSE(IsPseudoTerminalSlave(makedev(4, 64)));   // a UART, /dev/ttyS0
    EXPECT_FALSE(IsPseudoTerminalSlave(makedev(188, 0)));  // a USB adapter, /dev/ttyUSB0
    EXPECT_FALSE(IsPseudoTerminalSlave(makedev(166, 0)));  // a modem, /dev/ttyACM0
    EXPECT_FALSE(IsPseudoTerminalSlave(makedev(5, 2)));    // the master side, /dev/ptmx
    EXPECT_FALSE(IsPseudoTerminalSlave(makedev(144, 0)));

    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    struct stat slave {};
    ASSERT_EQ(::stat(::ptsname(master), &slave), 0);
    EXPECT_TRUE(IsPseudoTerminalSlave(slave.st_rdev));
    struct stat ptmx {};
    ASSERT_EQ(::fstat(master, &ptmx), 0);
    EXPECT_FALSE(IsPseudoTerminalSlave(ptmx.st_rdev));
    ::close(master);
}

// A port that takes what it is told to, except the settings it was made to refuse.
struct FakePort final : SettingsTarget {
    std::map<Setting, bool> refuses;
    std::vector<Setting> given;
    bool Set(Setting setting, const LineSettings&) override {
        given.push_back(setting);
        return !refuses[setting];
    }
    std::string ErrorText() const override { return "refused"; }
};

TEST(LineSettingsApplied, APseudoTerminalIsSpareOfWhatItCannotCarryARealPortIsNot) {
    using Setting = SettingsTarget::Setting;
    const LineSettings sevenEven{9600, Parity::Even, 7, 1};

    FakePort uart;
    uart.refuses[Setting::Parity] = true;
    EXPECT_EQ(ApplyLineSettings(uart, sevenEven, false), "refused");

    FakePort pty;
    pty.refuses[Setting::Parity] = true;
    pty.refuses[Setting::DataBits] = true;
    EXPECT_EQ(ApplyLineSettings(pty, sevenEven, true), "");
    EXPECT_EQ(pty.given, (std::vector<Setting>{Setting::Speed, Setting::StopBits}));

    // The speed is set on a pty too, and a pty that refuses it is refused.
    FakePort slowPty;
    slowPty.refuses[Setting::Speed] = true;
    EXPECT_EQ(ApplyLineSettings(slowPty, sevenEven, true), "refused");

    FakePort good;
    EXPECT_EQ(ApplyLineSettings(good, sevenEven, false), "");
    EXPECT_EQ(good.given.size(), 4u);
}

TEST(LineSettingsApplied, ThePseudoTerminalsOfThisProcessSayWhatWasChosenOnThem) {
    const std::uint64_t device = makedev(136, 200);
    EXPECT_EQ(PseudoTerminalSettings(device), std::nullopt);
    NotePseudoTerminalSettings(device, LineSettings{4800, Parity::Odd, 7, 2});
    EXPECT_EQ(PseudoTerminalSettings(device), (LineSettings{4800, Parity::Odd, 7, 2}));
    ForgetPseudoTerminalSettings(device);
    EXPECT_EQ(PseudoTerminalSettings(device), std::nullopt);
}

}  // namespace
}  // namespace tarvel
