// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoroTask>
#include <cstdint>
#include <string>

#include "serial/PortService.h"

namespace tarvel {

inline constexpr const char* kNoAnswer = "No answer !";
inline constexpr const char* kWrongCount = "Wrong # of characters !";
inline constexpr const char* kUnknownFormat = "Unknow format !";

// Waits up to `timeout` for an answer of `expected` characters ending in a carriage return and
// returns it without that carriage return, or one of kNoAnswer, kWrongCount and kUnknownFormat.
// The line is settled after every fault.
QCoro::Task<std::string> ReceiveAnswer(PortService& port, std::int16_t expected, Duration timeout);

}  // namespace tarvel
