// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoroTask>
#include <string>

#include "core/Exchange.h"
#include "serial/PortService.h"

namespace tarvel {

inline constexpr const char* kNoAnswer = "No answer !";
inline constexpr const char* kWrongCount = "Wrong # of characters !";
inline constexpr const char* kUnknownFormat = "Unknow format !";

// Waits up to `timeout` for an answer as the line's protocol makes it complete and judges it for
// the terminal: the answer as the terminal shows it (for Ascon, without its carriage return), or
// one of kNoAnswer, kWrongCount and kUnknownFormat. The line is settled after every fault.
// `request` is the frame answered, as it went on the wire. One of the other verdicts' messages
// for a protocol that has them.
QCoro::Task<std::string> ReceiveAnswer(PortService& port, Duration timeout, Request request = {});

}  // namespace tarvel
