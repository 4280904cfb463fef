// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <linux/serial.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

// The kernel's RS-485 mode of a built-in UART: the driver raises RTS, and with it the
// transceiver's transmitter, while it sends. A USB adapter switches direction by itself and has
// no such mode.

namespace tarvel {

// The mode asked for: RTS on while sending, off after, with the transmitter enabled this long
// before the first character and kept on this long after the last.
struct Rs485Mode {
    std::chrono::milliseconds delayBeforeSend{0};
    std::chrono::milliseconds delayAfterSend{0};
    bool operator==(const Rs485Mode&) const = default;
};

// The longest delay the kernel takes; it quietly shortens a longer one.
inline constexpr std::chrono::milliseconds kMaxRs485Delay{100};

// "BEFORE,AFTER" in milliseconds, each from 0 to kMaxRs485Delay; nothing for anything else.
std::optional<Rs485Mode> ParseRs485Delays(const std::string& text);

// Reads and sets a port's RS-485 mode; each returns why the driver refused, nothing on success.
class Rs485Driver {
public:
    virtual ~Rs485Driver() = default;
    virtual std::optional<std::string> Read(serial_rs485& mode) = 0;
    virtual std::optional<std::string> Write(const serial_rs485& mode) = 0;
};

// The driver of an open serial device, through TIOCGRS485 and TIOCSRS485.
class Rs485Ioctl final : public Rs485Driver {
public:
    explicit Rs485Ioctl(int handle) : handle_(handle) {}
    std::optional<std::string> Read(serial_rs485& mode) override;
    std::optional<std::string> Write(const serial_rs485& mode) override;

private:
    int handle_;
};

// Switches a port into RS-485 mode and puts back the mode it had before.
class Rs485Switch {
public:
    // Nothing when the port is in `mode` now; else one line for the user that says why not, and
    // the port is as it was.
    std::optional<std::string> Enable(Rs485Driver& driver, const Rs485Mode& mode,
                                      std::string_view device);
    // The mode the port had before Enable, written back; nothing to do when Enable did not
    // change it, or once restored. A failure is ignored: the port is being let go of.
    void Restore(Rs485Driver& driver);

private:
    std::optional<serial_rs485> previous_;
};

// The struct Enable writes for `mode`: exactly these flags and delays, the rest zero.
serial_rs485 Rs485Settings(const Rs485Mode& mode);

}  // namespace tarvel
