// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/modbus/ModbusCounters.h"

#include <algorithm>
#include <cstdint>

#include "protocol/modbus/ModbusFrame.h"

namespace tarvel::modbus {
namespace {

int ByteAt(std::string_view bytes, std::size_t at) { return static_cast<std::uint8_t>(bytes[at]); }
int WordAt(std::string_view bytes, std::size_t at) {
    return ByteAt(bytes, at) << 8 | ByteAt(bytes, at + 1);
}

}  // namespace

const std::vector<CounterKind>& ControllerCounters() {
    static const std::vector<CounterKind> counters{
        {0x0B, "busMessages", "Bus messages"},
        {0x0C, "crcErrors", "CRC errors"},
        {0x0D, "exceptions", "Exceptions"},
        {0x0E, "addressed", "Addressed to it"},
        {0x0F, "notAnswered", "Not answered"},
        {0x10, "naks", "NAKs"},
        {0x11, "busy", "Busy"},
        {0x12, "overruns", "Character overruns"},
    };
    return counters;
}

std::string DiagnosticsRequest(int address, int subFunction) {
    std::string request;
    request += static_cast<char>(address);
    request += static_cast<char>(Diagnostics);
    request += static_cast<char>(subFunction >> 8 & 0xFF);
    request += static_cast<char>(subFunction & 0xFF);
    request += std::string(2, '\0');
    return request;
}

std::string DiagnosticsAnswer(int address, int subFunction, int value) {
    std::string answer = DiagnosticsRequest(address, subFunction);
    answer[4] = static_cast<char>(value >> 8 & 0xFF);
    answer[5] = static_cast<char>(value & 0xFF);
    return answer;
}

std::optional<CounterAnswer> ReadCounterAnswer(std::string_view request, std::string_view answer) {
    if (request.size() < 4 || answer.size() < 3 || ByteAt(answer, 0) != ByteAt(request, 0)) {
        return std::nullopt;
    }
    if (ByteAt(answer, 1) == (Diagnostics | ExceptionBit)) {
        return CounterAnswer{std::nullopt, ByteAt(answer, 2)};
    }
    // The answer echoes the sub-function, then gives the counter as its data word.
    if (ByteAt(answer, 1) != Diagnostics || answer.size() < 6 ||
        WordAt(answer, 2) != WordAt(request, 2)) {
        return std::nullopt;
    }
    return CounterAnswer{WordAt(answer, 4), std::nullopt};
}

std::optional<double> CrcErrorsPerThousand(int crcErrors, int busMessages) {
    if (busMessages <= 0) {
        return std::nullopt;
    }
    return 1000.0 * crcErrors / busMessages;
}

std::optional<std::size_t> FirstDropAboveMedian(const std::vector<std::optional<double>>& rates) {
    std::vector<double> known;
    for (const std::optional<double>& rate : rates) {
        if (rate) {
            known.push_back(*rate);
        }
    }
    if (known.empty()) {
        return std::nullopt;
    }
    std::sort(known.begin(), known.end());
    const std::size_t middle = known.size() / 2;
    const double median =
        known.size() % 2 == 1 ? known[middle] : (known[middle - 1] + known[middle]) / 2;
    // Where the noise reaches more than half the drops, the median is itself a noisy drop's
    // rate, and the first to reach it is where the rise begins; else the first above it.
    const bool noisyMedian = median > known.front();
    for (std::size_t drop = 0; drop < rates.size(); ++drop) {
        if (rates[drop] && (noisyMedian ? *rates[drop] >= median : *rates[drop] > median)) {
            return drop;
        }
    }
    return std::nullopt;
}

}  // namespace tarvel::modbus
