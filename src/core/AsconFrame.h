// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "core/Time.h"

namespace tarvel {

using namespace std::chrono_literals;

// The Ascon read request for parameter "X": the address character, "?X  ", a carriage return.
inline std::string AsconRequest(char address) { return std::string(1, address) + "?X  \r"; }

// A good answer: exactly this many characters, the last one a carriage return.
inline constexpr int AnswerLength = 5;
// From the end of the output-drain wait to the write of the request.
inline constexpr Duration RequestPause = 20ms;
// The answer wait ends once more than this has elapsed since the request was written.
inline constexpr Duration AnswerWindow = 200ms;

}  // namespace tarvel
