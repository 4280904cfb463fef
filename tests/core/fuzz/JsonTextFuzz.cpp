// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target for the JSON reader: any bytes give a document or a refusal, never a crash;
// every line named (of a value or of a refusal) is a line of the text, and values come in the
// order of their lines.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/JsonText.h"

namespace {

void Check(const tarvel::JsonValue& value, int lines, int& previous) {
    if (value.line < previous || value.line > lines) {
        std::abort();
    }
    previous = value.line;
    for (const tarvel::JsonValue& item : value.items) {
        Check(item, lines, previous);
    }
    for (const tarvel::JsonMember& member : value.members) {
        Check(member.value, lines, previous);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    int lines = 1;
    for (const char c : text) {
        lines += c == '\n' ? 1 : 0;
    }
    const auto parsed = tarvel::ParseJson(text);
    if (const auto* error = std::get_if<tarvel::JsonSyntaxError>(&parsed)) {
        if (error->line < 1 || error->line > lines || error->message.empty()) {
            std::abort();
        }
        return 0;
    }
    int previous = 1;
    Check(std::get<tarvel::JsonValue>(parsed), lines, previous);
    return 0;
}
