// SPDX-License-Identifier: GPL-3.0-or-later
// Switching a port into RS-485 mode and back, against a driver that keeps the mode in memory.

#include "lines/Rs485.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace tarvel {
namespace {

serial_rs485 Zeroed() {
    serial_rs485 mode;
    std::memset(&mode, 0, sizeof mode);
    return mode;
}

bool SameBytes(const serial_rs485& a, const serial_rs485& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

class FakeDriver final : public Rs485Driver {
public:
    std::optional<std::string> Read(serial_rs485& mode) override {
        if (readRefusal) {
            return readRefusal;
        }
        mode = held;
        return std::nullopt;
    }
    std::optional<std::string> Write(const serial_rs485& mode) override {
        if (writeRefusal) {
            return writeRefusal;
        }
        written.push_back(mode);
        held = mode;
        if (dropsTheMode) {
            held.flags &= ~static_cast<__u32>(SER_RS485_ENABLED);
        }
        return std::nullopt;
    }

    serial_rs485 held = Zeroed();
    std::vector<serial_rs485> written;
    std::optional<std::string> readRefusal;
    std::optional<std::string> writeRefusal;
    bool dropsTheMode = false;
};

TEST(Rs485Delays, ReadsBeforeAndAfterInMilliseconds) {
    using std::chrono::milliseconds;
    EXPECT_EQ(ParseRs485Delays("0,0"), (Rs485Mode{milliseconds(0), milliseconds(0)}));
    EXPECT_EQ(ParseRs485Delays("2,15"), (Rs485Mode{milliseconds(2), milliseconds(15)}));
    EXPECT_EQ(ParseRs485Delays("100,100"), (Rs485Mode{milliseconds(100), milliseconds(100)}));
    // More than the kernel takes, negative, missing or not numbers.
    for (const char* wrong :
         {"101,0", "0,250", "-1,0", "5", "5,", ",5", "1,2,3", "1ms,2", " 1,2", "a,b", ""}) {
        EXPECT_EQ(ParseRs485Delays(wrong), std::nullopt) << wrong;
    }
}

TEST(Rs485Switch, EnableWritesExactlyTheModeAndRestorePutsBackThePreviousBytes) {
    FakeDriver driver;
    // What the board set up: termination and receiving while sending, RTS low on send.
    driver.held.flags = SER_RS485_ENABLED | SER_RS485_RTS_AFTER_SEND | SER_RS485_RX_DURING_TX |
                        SER_RS485_TERMINATE_BUS;
    driver.held.delay_rts_before_send = 7;
    driver.held.delay_rts_after_send = 9;
    const serial_rs485 before = driver.held;

    Rs485Switch rs485;
    EXPECT_EQ(
        rs485.Enable(driver, Rs485Mode{std::chrono::milliseconds(3), std::chrono::milliseconds(12)},
                     "/dev/ttyS1"),
        std::nullopt);
    ASSERT_EQ(driver.written.size(), 1u);
    serial_rs485 wanted = Zeroed();
    wanted.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
    wanted.delay_rts_before_send = 3;
    wanted.delay_rts_after_send = 12;
    EXPECT_TRUE(SameBytes(driver.written[0], wanted));

    rs485.Restore(driver);
    ASSERT_EQ(driver.written.size(), 2u);
    EXPECT_TRUE(SameBytes(driver.written[1], before));
    // Restored once: a second close writes nothing.
    rs485.Restore(driver);
    EXPECT_EQ(driver.written.size(), 2u);

    // Without --rs485-delays: no delays at all.
    FakeDriver plain;
    Rs485Switch again;
    EXPECT_EQ(again.Enable(plain, Rs485Mode{}, "/dev/ttyS1"), std::nullopt);
    ASSERT_EQ(plain.written.size(), 1u);
    wanted.delay_rts_before_send = 0;
    wanted.delay_rts_after_send = 0;
    EXPECT_TRUE(SameBytes(plain.written[0], wanted));
}

TEST(Rs485Switch, ARefusingDriverIsNamedAndLeftAsItWas) {
    const std::string expected =
        "/dev/ttyUSB0 has no RS-485 mode in its driver (Inappropriate ioctl for device): USB "
        "adapters that switch direction by themselves need no --rs485";
    // A USB adapter refuses to set the mode; a pseudo-terminal refuses even to read it.
    FakeDriver usb;
    usb.writeRefusal = "Inappropriate ioctl for device";
    FakeDriver pty;
    pty.readRefusal = "Inappropriate ioctl for device";
    for (FakeDriver* driver : {&usb, &pty}) {
        Rs485Switch rs485;
        EXPECT_EQ(rs485.Enable(*driver, Rs485Mode{}, "/dev/ttyUSB0"), expected);
        EXPECT_TRUE(driver->written.empty());
        // The port is closed after the refusal, and closing touches nothing.
        driver->writeRefusal.reset();
        driver->readRefusal.reset();
        rs485.Restore(*driver);
        EXPECT_TRUE(driver->written.empty());
    }

    // One that takes the call but reads back without the mode is put back and refused too.
    FakeDriver forgetful;
    forgetful.dropsTheMode = true;
    forgetful.held.delay_rts_after_send = 4;
    const serial_rs485 before = forgetful.held;
    Rs485Switch rs485;
    const auto refused = rs485.Enable(forgetful, Rs485Mode{}, "/dev/ttyS2");
    ASSERT_TRUE(refused.has_value());
    EXPECT_EQ(refused->rfind("/dev/ttyS2 has no RS-485 mode in its driver (", 0), 0u);
    ASSERT_EQ(forgetful.written.size(), 2u);
    EXPECT_TRUE(SameBytes(forgetful.written[1], before));
    rs485.Restore(forgetful);
    EXPECT_EQ(forgetful.written.size(), 2u);
}

}  // namespace
}  // namespace tarvel
