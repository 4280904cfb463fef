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

// The terminal's answer: the verdict, what the terminal shows for it, and every character that
// had arrived when the wait ended (the answer's own, or those the settle then threw away).
struct TerminalAnswer {
    ExchangeVerdict verdict = ExchangeVerdict::NoAnswer;
    std::string shown;
    std::string arrived;
    std::string answer;  // a good answer's characters, as they came
};

// Waits up to `timeout` for an answer as the line's protocol makes it complete and judges it for
// the terminal: the answer as the terminal shows it (for Ascon, without its carriage return), or
// the verdict's message (kNoAnswer, kWrongCount, kUnknownFormat, or one of the other verdicts'
// for a protocol that has them). The line is settled after every fault. `request` is the frame
// answered, as it went on the wire.
QCoro::Task<TerminalAnswer> ReceiveTerminalAnswer(PortService& port, Duration timeout,
                                                  Request request = {});
// Only what the terminal shows.
QCoro::Task<std::string> ReceiveAnswer(PortService& port, Duration timeout, Request request = {});

}  // namespace tarvel
