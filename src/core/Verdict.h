// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

#include "core/Time.h"

namespace tarvel {

// What an exchange of the test cycle came to, decided in this order.
// The test cycle's verdicts are the first four; the line detector names a missing answer and a
// missing carriage return in its own words.
// What kind of exchange a loop makes: the test cycle's request, a probe of the line detector and
// of the search across settings, or a frame the operator typed in the terminal. A protocol may
// ask and judge them differently, and each names its findings in words of its own.
enum class ExchangeKind { Test, Probe, Terminal };

enum class ExchangeVerdict {
    NoAnswer,    // the answer was not complete when the answer window ended
    WrongCount,  // in time, but the input did not hold exactly five characters
    NoCr,        // five characters, the fifth not a carriage return
    Good,        // five characters ending with a carriage return
    // Of the protocols whose frames carry a check and a length of their own (Modbus):
    BadCrc,       // a whole frame whose check does not hold
    WrongLength,  // a frame that holds its check, but not the length its function asks for
    WrongSource,  // an answer from another address, or for another function
    Cut,          // the answer stopped before it was whole
    // Of the framings that write their bytes as text (Modbus ASCII):
    BadLrc,     // a whole frame whose LRC does not hold
    NotHex,     // a character between ':' and CR that is no hexadecimal digit
    NoLf,       // the CR that ends a frame is not followed by LF
    OddLength,  // an odd number of hexadecimal characters: half a byte
};

// Which findings a protocol's exchanges can have beyond a missing answer, and so which columns
// its reports carry: Ascon's count and end, RTU's CRC and length, ASCII's framing and length.
enum class VerdictFamily { Ascon, ModbusRtu, ModbusAscii };

// "No answer !", "Wrong # of characters !", "CR not received !", "CRC error !", "Wrong length !",
// "Wrong address or function !", "Answer cut !", "LRC error !", "Not hexadecimal !",
// "LF not received !", "Odd number of characters !"; empty for a good answer. The line detector
// says "Not detected !" for a missing answer, and it and the terminal say "Unknow format !" for
// a bad end: Ascon's words; the other protocols name a finding alike whoever made it. The first
// letter of the test cycle's messages is the kind the analysis counts by.
std::string VerdictMessage(ExchangeVerdict verdict, ExchangeKind kind = ExchangeKind::Test,
                           VerdictFamily family = VerdictFamily::Ascon);

// "HH:MM:SS" on the 24-hour clock: always eight characters.
std::string TimeOfDayText(const TimeOfDay& time);

// One line of the error list: the address in column 1, the time of day in columns 4 to 11, the
// message from column 14, two blanks, the attempt index with a blank in its sign position. For
// controller A at 09:15:02, first attempt, no answer: "A  09:15:02  No answer !   0".
std::string ErrorRecord(std::string_view station, const TimeOfDay& time, ExchangeVerdict verdict,
                        int attempt, ExchangeKind kind = ExchangeKind::Test);
inline std::string ErrorRecord(char address, const TimeOfDay& time, ExchangeVerdict verdict,
                               int attempt) {
    return ErrorRecord(std::string_view(&address, 1), time, verdict, attempt);
}

// The number of failures that stops a run.
inline constexpr int ErrorLimit = 900;

}  // namespace tarvel
