// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tarvel {

struct JsonMember;

// A JSON value with the line of the file it starts on, so that whoever reads a document for
// its meaning can name where a wrong value stands.
struct JsonValue {
    enum class Kind { Null, Boolean, Number, String, Array, Object };
    Kind kind = Kind::Null;
    int line = 1;
    bool boolean = false;
    double number = 0.0;
    // A string's value (UTF-8); a number's text as written, for messages that quote it.
    std::string text;
    std::vector<JsonValue> items;     // an array's
    std::vector<JsonMember> members;  // an object's, in the order written; no name twice
};

struct JsonMember {
    std::string name;
    JsonValue value;
};

struct JsonSyntaxError {
    int line = 1;
    std::string message;  // "expected \",\" or \"}\" after the member \"baud\""
};

// Nesting deeper than this is refused rather than followed down the stack.
inline constexpr int kJsonDepthLimit = 64;

// Reads one JSON document (RFC 8259): a value with nothing but white space around it. An
// object that names a member twice is refused, since one of the two would be silently lost.
std::variant<JsonValue, JsonSyntaxError> ParseJson(std::string_view text);

// "a string", "a number", "an object", ... for messages about a value of the wrong kind.
std::string JsonKindName(JsonValue::Kind kind);

// A text of a document as a message quotes it: its first `longest` characters, "..." after a
// cut, and "?" for control characters, which would act on the terminal the message is read on.
std::string JsonQuoted(const std::string& text, std::size_t longest);

}  // namespace tarvel
