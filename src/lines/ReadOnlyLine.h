// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "lines/SerialLine.h"

namespace tarvel {

// A serial line seen from its receiving side only. A listener on a line that another master
// drives gets this and nothing else: there is no operation here that could put a byte on the
// wire, so no change to the listener can make it send one. Opening and closing stay with whoever
// owns the line; neither sends anything.
class ReadOnlyLine {
public:
    struct StampedByte {
        std::uint8_t byte;
        Instant arrival;  // when its last stop bit reached the host
    };

    explicit ReadOnlyLine(SerialLine& line) : line_(line) {}

    // Takes every character waiting, each with its arrival; `fallback` where the line cannot
    // tell.
    std::vector<StampedByte> Take(Instant fallback) {
        const int count = line_.InBufferCount();
        std::vector<StampedByte> taken;
        taken.reserve(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) {
            taken.push_back(StampedByte{0, line_.ArrivalOf(i).value_or(fallback)});
        }
        const std::string bytes = line_.InputFirst(count);
        taken.resize(bytes.size());
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            taken[i].byte = static_cast<std::uint8_t>(bytes[i]);
        }
        return taken;
    }
    bool PortOpen() const { return line_.PortOpen(); }
    std::string LastError() const { return line_.LastError(); }
    std::optional<UartErrorCounts> ErrorCounts() const { return line_.ErrorCounts(); }
    Notifier& InputActivity() { return line_.InputActivity(); }
    void WakeOnAnyInput() { line_.WakeOnInputCount(1); }
    // Keeps the port's own transmitter off the bus: RTS low. Sends nothing.
    void KeepTransmitterOff() { line_.LowerRequestToSend(); }

private:
    SerialLine& line_;
};

}  // namespace tarvel
