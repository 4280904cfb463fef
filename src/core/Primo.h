// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>

namespace tarvel {

// Booleans of the shared state are -1 for true and 0 for false.
inline constexpr std::int16_t kTrue = -1;
inline constexpr std::int16_t kFalse = 0;

// The values the windows exchange, for the life of the process. Everything runs on the one
// user-interface thread, so nothing here needs a lock.
struct Primo {
    std::int16_t PortNumber = 0;     // 1 to 4, from "COM1" ... "COM4"
    std::string BaudText;            // " 9600": a blank in the sign position, then the speed
    std::string ParityText;          // "N", "E" or "O"
    std::string DataBitsText;        // "8" without parity, else "7"
    std::string StopBitsText;        // " 1" or " 2"
    std::int16_t ProtocolIndex = 0;  // position in the port dialog's protocol list; 0 is Ascon
    std::int16_t RetryCount = 0;     // further attempts after a failed exchange
    std::string AddressText;         // address character of the controller being addressed
    std::int16_t StopFlag = 0;       // -1 asks the running loop to stop
    std::string RequestText;         // the frame being sent
    std::int16_t PortAccepted = 0;  // -1 once the port dialog was confirmed with a port that opened
    std::int16_t DeviceCount = 0;   // controllers configured on the line
};

}  // namespace tarvel
