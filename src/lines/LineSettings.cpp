// SPDX-License-Identifier: GPL-3.0-or-later
#include "lines/LineSettings.h"

#include <algorithm>
#include <charconv>
#include <string>
#include <vector>

namespace tarvel {
namespace {

std::vector<std::string_view> SplitOnCommas(std::string_view text) {
    std::vector<std::string_view> fields;
    while (true) {
        const auto comma = text.find(',');
        fields.push_back(text.substr(0, comma));
        if (comma == std::string_view::npos) {
            return fields;
        }
        text.remove_prefix(comma + 1);
    }
}

std::optional<int> ReadNumber(std::string_view field) {
    while (!field.empty() && field.front() == ' ') {
        field.remove_prefix(1);
    }
    int value = 0;
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
    if (error != std::errc() || end != field.data() + field.size() || field.empty()) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<LineSettings> ParseSettingsText(std::string_view text) {
    const auto fields = SplitOnCommas(text);
    if (fields.size() != 4) {
        return std::nullopt;
    }
    const auto baud = ReadNumber(fields[0]);
    const auto dataBits = ReadNumber(fields[2]);
    const auto stopBits = ReadNumber(fields[3]);
    if (!baud || !dataBits || !stopBits || *baud <= 0 || *dataBits < 5 || *dataBits > 8 ||
        (*stopBits != 1 && *stopBits != 2) || fields[1].size() != 1) {
        return std::nullopt;
    }
    LineSettings settings;
    switch (fields[1].front()) {
        case 'N': settings.parity = Parity::None; break;
        case 'E': settings.parity = Parity::Even; break;
        case 'O': settings.parity = Parity::Odd; break;
        default: return std::nullopt;
    }
    settings.baud = *baud;
    settings.dataBits = *dataBits;
    settings.stopBits = *stopBits;
    return settings;
}

Duration CharacterTime(const LineSettings& settings) {
    const long long bits =
        1 + settings.dataBits + (settings.parity == Parity::None ? 0 : 1) + settings.stopBits;
    return Duration(bits * 1'000'000'000LL / settings.baud);
}

std::string DroppedInputNotice(std::uint64_t dropped, int baud) {
    return "the port delivers far more than " + std::to_string(baud) +
           " baud can carry: " + std::to_string(dropped) + (dropped == 1 ? " byte" : " bytes") +
           " dropped; is this the right port and speed?";
}

std::size_t InputCapacity(const LineSettings& settings) {
    const auto fiveSeconds =
        static_cast<std::size_t>(std::chrono::seconds(5) / CharacterTime(settings));
    return std::clamp(fiveSeconds, kLeastInputCapacity, kMostInputCapacity);
}

}  // namespace tarvel
