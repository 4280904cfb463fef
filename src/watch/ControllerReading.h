// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace tarvel {

// What a watch knows of one controller at a moment, as numbers: what the metrics expose and
// what MQTT publishes.
struct ControllerReading {
    std::string address;  // as the line's protocol writes it: "A", "17"
    // The current judgement: "healthy", "silent", "intermittent", "garbled", "slow", or
    // "not_asked" before the first exchange.
    std::string state = "not_asked";
    std::int64_t requests = 0;
    std::int64_t good = 0;
    std::int64_t failures = 0;
    // Failures by reason ("no_answer", "bad_crc", ...), every reason of the protocol present.
    std::map<std::string, std::int64_t> failuresByReason;
    // Of the recent good answers, from the end of the request to their last character; 0
    // without any.
    double responseP95Seconds = 0;
    // Unix time of the last good answer; 0 before any.
    double lastGoodAnswerSeconds = 0;

    friend bool operator==(const ControllerReading&, const ControllerReading&) = default;
};

// Every state a controller can be in, in the order the metrics list them.
inline constexpr const char* kControllerStates[] = {"not_asked",    "healthy", "silent",
                                                    "intermittent", "garbled", "slow"};

}  // namespace tarvel
