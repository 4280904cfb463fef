// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvel::modbus {

// The counters a Modbus controller keeps of the line from its own place on it, read with the
// diagnostics function (8), one sub-function each. Where the program's own statistics see the
// line from the host's end, these see it from every drop: the drop where CRC errors begin to
// rise is where noise enters the cable, and one whose bus message count lags the others misses
// traffic.
struct CounterKind {
    int subFunction;
    const char* key;    // as JSON names it: "busMessages"
    const char* words;  // as a table heads it: "Bus messages"
};
// In the order reports show them: sub-functions 0x0B to 0x12.
const std::vector<CounterKind>& ControllerCounters();
// The sub-function that sets every counter back to zero (and clears the event log).
inline constexpr int ClearCountersSubFunction = 0x0A;
inline constexpr int BusMessageCount = 0x0B;
inline constexpr int BusCrcErrorCount = 0x0C;

// Address, function 8, the sub-function and a zero data word: the bytes, no check.
std::string DiagnosticsRequest(int address, int subFunction);

// A controller's answer to it: the sub-function and the counter, no check.
std::string DiagnosticsAnswer(int address, int subFunction, int value);

// What a controller's answer (its bytes, no check) to a DiagnosticsRequest says.
struct CounterAnswer {
    std::optional<int> value;          // the counter, 0 to 65535
    std::optional<int> exceptionCode;  // a controller that does not keep it refuses
};
// Nothing for bytes that answer another request, or are not a whole answer.
std::optional<CounterAnswer> ReadCounterAnswer(std::string_view request, std::string_view answer);

// CRC errors per thousand bus messages; nothing before any message was counted.
std::optional<double> CrcErrorsPerThousand(int crcErrors, int busMessages);

// The drops in their order along the cable, each with its rate (nothing for a drop whose rate
// is not known): the first whose rate rises above the median of the known rates (to it, where
// the median is itself above the quietest drop's), where the noise enters the line. Nothing on
// a quiet line, or where noise hits every drop alike.
std::optional<std::size_t> FirstDropAboveMedian(const std::vector<std::optional<double>>& rates);

}  // namespace tarvel::modbus
