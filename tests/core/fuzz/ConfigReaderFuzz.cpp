// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target for the line configuration reader: any bytes must give either a refusal or a
// configuration that is inside the table, writes back to what it says, and took each of its
// numbers from exactly one field of the file (fields split at blanks, commas and line ends).

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "core/ConfigFile.h"

namespace {

// The file's fields as an independent reading sees them.
std::vector<std::string> Fields(const std::string& text) {
    std::vector<std::string> fields;
    std::string field;
    for (const char c : text) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ',') {
            if (!field.empty()) {
                fields.push_back(field);
            }
            field.clear();
        } else {
            field.push_back(c);
        }
    }
    if (!field.empty()) {
        fields.push_back(field);
    }
    return fields;
}

// The value of a field the reader accepted: an optional sign, then digits only.
long long FieldNumber(const std::string& field) {
    std::size_t at = field[0] == '-' || field[0] == '+' ? 1 : 0;
    long long value = 0;
    for (; at < field.size(); ++at) {
        if (field[at] < '0' || field[at] > '9') {
            std::abort();  // the reader accepted a field that is no number
        }
        value = std::min<long long>(value * 10 + (field[at] - '0'), 1'000'000'000'000LL);
    }
    return field[0] == '-' ? -value : value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarvel;
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::istringstream in(text);
    const auto read = ReadLineConfiguration(in);
    const auto* configuration = std::get_if<LineConfiguration>(&read);
    if (configuration == nullptr) {
        if (std::get<ConfigProblem>(read).text.empty()) {
            std::abort();  // a refusal must say why
        }
        return 0;
    }
    if (configuration->deviceCount < 1 || configuration->deviceCount > kMaxControllers ||
        configuration->addresses.size() != static_cast<std::size_t>(configuration->deviceCount)) {
        std::abort();
    }
    const std::vector<std::string> fields = Fields(text);
    if (fields.size() < configuration->addresses.size() + 1 ||
        FieldNumber(fields[0]) != configuration->deviceCount) {
        std::abort();
    }
    for (std::size_t k = 0; k < configuration->addresses.size(); ++k) {
        if (FieldNumber(fields[k + 1]) != configuration->addresses[k]) {
            std::abort();  // a field was split, or two were read as one
        }
    }
    ControllerAddressTable table{};
    for (std::size_t k = 0; k < configuration->addresses.size(); ++k) {
        const std::int16_t address = configuration->addresses[k];
        if (address < 0 || address >= kAddressCount) {
            std::abort();
        }
        table[k] = address;
    }
    std::istringstream again(FormatLineConfiguration(configuration->deviceCount, table));
    const auto reread = ReadLineConfiguration(again);
    const auto* same = std::get_if<LineConfiguration>(&reread);
    if (same == nullptr || same->addresses != configuration->addresses) {
        std::abort();
    }
    return 0;
}
