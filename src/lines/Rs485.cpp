// SPDX-License-Identifier: GPL-3.0-or-later
#include "lines/Rs485.h"

#include <sys/ioctl.h>

#include <cerrno>
#include <charconv>
#include <cstring>

namespace tarvel {
namespace {

std::optional<std::chrono::milliseconds> Delay(std::string_view text) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, failure] = std::from_chars(text.data(), end, value);
    if (text.empty() || failure != std::errc() || stop != end || value < 0 ||
        value > kMaxRs485Delay.count()) {
        return std::nullopt;
    }
    return std::chrono::milliseconds(value);
}

std::optional<std::string> ErrnoText(int result) {
    if (result == 0) {
        return std::nullopt;
    }
    return std::string(std::strerror(errno));
}

}  // namespace

std::optional<Rs485Mode> ParseRs485Delays(const std::string& text) {
    const std::size_t comma = text.find(',');
    if (comma == std::string::npos) {
        return std::nullopt;
    }
    const auto before = Delay(std::string_view(text).substr(0, comma));
    const auto after = Delay(std::string_view(text).substr(comma + 1));
    if (!before || !after) {
        return std::nullopt;
    }
    return Rs485Mode{*before, *after};
}

std::optional<std::string> Rs485Ioctl::Read(serial_rs485& mode) {
    return ErrnoText(::ioctl(handle_, TIOCGRS485, &mode));
}

std::optional<std::string> Rs485Ioctl::Write(const serial_rs485& mode) {
    // The kernel writes back what it made of the mode; Enable reads that itself.
    serial_rs485 given = mode;
    return ErrnoText(::ioctl(handle_, TIOCSRS485, &given));
}

serial_rs485 Rs485Settings(const Rs485Mode& mode) {
    serial_rs485 settings;
    std::memset(&settings, 0, sizeof settings);
    settings.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
    settings.delay_rts_before_send = static_cast<__u32>(mode.delayBeforeSend.count());
    settings.delay_rts_after_send = static_cast<__u32>(mode.delayAfterSend.count());
    return settings;
}

std::optional<std::string> Rs485Switch::Enable(Rs485Driver& driver, const Rs485Mode& mode,
                                               std::string_view device) {
    const auto refused = [device](const std::string& reason) {
        // USB adapters and pseudo-terminals answer ENOTTY (or EINVAL from older drivers); the
        // user who gave --rs485 to one of them most likely needs none.
        return std::string(device) + " has no RS-485 mode in its driver (" + reason +
               "): USB adapters that switch direction by themselves need no --rs485";
    };
    serial_rs485 previous;
    std::memset(&previous, 0, sizeof previous);
    if (const auto failure = driver.Read(previous)) {
        return refused(*failure);
    }
    if (const auto failure = driver.Write(Rs485Settings(mode))) {
        return refused(*failure);
    }
    previous_ = previous;
    // A driver may take the call and still not send in RS-485 mode: believe only what it
    // reads back.
    serial_rs485 now;
    std::memset(&now, 0, sizeof now);
    if (driver.Read(now) || !(now.flags & SER_RS485_ENABLED) ||
        !(now.flags & SER_RS485_RTS_ON_SEND)) {
        Restore(driver);
        return refused("it does not keep the mode");
    }
    return std::nullopt;
}

void Rs485Switch::Restore(Rs485Driver& driver) {
    if (previous_) {
        (void)driver.Write(*previous_);
        previous_.reset();
    }
}

}  // namespace tarvel
