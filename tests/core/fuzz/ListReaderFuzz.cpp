// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target for the list-file reader: any bytes must give either a refusal that says why,
// or exactly as many items as the count line announces, each taken from one line of the file.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/ListFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarvel;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto read = ReadListFile(bytes);
    const auto* items = std::get_if<std::vector<std::string>>(&read);
    if (items == nullptr) {
        if (std::get<ListFileProblem>(read).text.empty()) {
            std::abort();  // a refusal must say why
        }
        return 0;
    }
    // As many items as the first line says, read independently of the reader.
    const std::string_view first = bytes.substr(0, bytes.find('\n'));
    const auto digits = first.find_first_of("0123456789");
    const std::size_t count = std::stoul(
        std::string(first.substr(digits, first.find_first_not_of("0123456789", digits) - digits)));
    if (items->size() != count) {
        std::abort();
    }
    const auto lines = static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n')) + 1;
    if (items->size() + 1 > lines) {
        std::abort();  // more items than the file has lines after its count
    }
    std::size_t text = 0;
    for (const std::string& item : *items) {
        if (item.find('\n') != std::string::npos) {
            std::abort();  // an item never runs over its line
        }
        text += item.size();
    }
    if (text > size) {
        std::abort();
    }
    return 0;
}
