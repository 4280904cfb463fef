// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/JsonText.h"

#include <charconv>
#include <cstdint>
#include <unordered_map>
#include <utility>

namespace tarvel {
namespace {

// Thrown inside the reader only; ParseJson turns it into its answer.
struct Refusal {
    int line;
    std::string message;
};

// What a character is called in a message: itself when it prints, else its code.
std::string Shown(char c) {
    const auto code = static_cast<unsigned char>(c);
    if (c == '"') {
        return "'\"'";
    }
    if (code >= 0x20 && code < 0x7f) {
        return std::string("\"") + c + "\"";
    }
    static const char kHex[] = "0123456789abcdef";
    return std::string("the byte 0x") + kHex[code >> 4] + kHex[code & 0xf];
}

// A member name as a message quotes it.
std::string NameShown(const std::string& name) { return JsonQuoted(name, 32); }

class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    JsonValue Document() {
        SkipBlanks();
        if (AtEnd()) {
            Fail("the file holds no JSON value");
        }
        JsonValue value = Value(0);
        SkipBlanks();
        if (!AtEnd()) {
            Fail("unexpected " + Shown(Peek()) + " after the end of the JSON value");
        }
        return value;
    }

private:
    [[noreturn]] void Fail(std::string message) const { throw Refusal{line_, std::move(message)}; }

    // Where the file ends too early, what was left open is where the mistake is looked for.
    [[noreturn]] static void Unclosed(const JsonValue& value) {
        throw Refusal{value.line, value.kind == JsonValue::Kind::Object
                                      ? "the object begun on this line is not closed with \"}\""
                                      : "the array begun on this line is not closed with \"]\""};
    }

    bool AtEnd() const { return position_ >= text_.size(); }
    char Peek() const { return text_[position_]; }

    void SkipBlanks() {
        while (!AtEnd()) {
            const char c = Peek();
            if (c == '\n') {
                ++line_;
            } else if (c != ' ' && c != '\t' && c != '\r') {
                return;
            }
            ++position_;
        }
    }

    JsonValue Value(int depth) {
        if (depth >= kJsonDepthLimit) {
            Fail("values nested more than " + std::to_string(kJsonDepthLimit) + " deep");
        }
        JsonValue value;
        value.line = line_;
        const char c = Peek();
        if (c == '{') {
            value.kind = JsonValue::Kind::Object;
            Object(value, depth);
        } else if (c == '[') {
            value.kind = JsonValue::Kind::Array;
            Array(value, depth);
        } else if (c == '"') {
            value.kind = JsonValue::Kind::String;
            value.text = String();
        } else if (c == '-' || (c >= '0' && c <= '9')) {
            value.kind = JsonValue::Kind::Number;
            Number(value);
        } else if (Word("true")) {
            value.kind = JsonValue::Kind::Boolean;
            value.boolean = true;
        } else if (Word("false")) {
            value.kind = JsonValue::Kind::Boolean;
        } else if (Word("null")) {
            value.kind = JsonValue::Kind::Null;
        } else if (c == '\'') {
            Fail("strings are written in double quotes (\"), not single ones");
        } else {
            Fail("expected a value (an object, array, string, number, true, false or null), "
                 "found " +
                 Shown(c));
        }
        return value;
    }

    bool Word(std::string_view word) {
        if (text_.substr(position_, word.size()) != word) {
            return false;
        }
        const std::size_t after = position_ + word.size();
        if (after < text_.size()) {
            const char next = text_[after];
            if ((next >= 'a' && next <= 'z') || (next >= 'A' && next <= 'Z') ||
                (next >= '0' && next <= '9') || next == '_') {
                return false;
            }
        }
        position_ = after;
        return true;
    }

    void Object(JsonValue& object, int depth) {
        ++position_;  // the "{"
        SkipBlanks();
        if (!AtEnd() && Peek() == '}') {
            ++position_;
            return;
        }
        // A file of a hundred thousand names must not take a hundred thousand looks at each.
        std::unordered_map<std::string, int> firstLines;
        while (true) {
            SkipBlanks();
            if (AtEnd()) {
                Unclosed(object);
            }
            if (Peek() != '"') {
                Fail(Peek() == '}'
                         ? std::string("a \",\" before \"}\" (no member follows it)")
                         : "expected a member name in double quotes, found " + Shown(Peek()));
            }
            const int nameLine = line_;
            std::string name = String();
            if (const auto first = firstLines.find(name); first != firstLines.end()) {
                throw Refusal{nameLine, "the member " + NameShown(name) +
                                            " is given twice (first on line " +
                                            std::to_string(first->second) + ")"};
            }
            SkipBlanks();
            if (AtEnd() || Peek() != ':') {
                Fail("expected \":\" after the member name " + NameShown(name));
            }
            ++position_;
            SkipBlanks();
            if (AtEnd()) {
                Fail("the member " + NameShown(name) + " has no value");
            }
            JsonValue value = Value(depth + 1);
            firstLines.emplace(name, value.line);
            object.members.push_back({std::move(name), std::move(value)});
            SkipBlanks();
            if (AtEnd()) {
                Unclosed(object);
            }
            if (Peek() == '}') {
                ++position_;
                return;
            }
            if (Peek() != ',') {
                Fail("expected \",\" or \"}\" after the member " +
                     NameShown(object.members.back().name) + ", found " + Shown(Peek()));
            }
            ++position_;
        }
    }

    void Array(JsonValue& array, int depth) {
        ++position_;  // the "["
        SkipBlanks();
        if (!AtEnd() && Peek() == ']') {
            ++position_;
            return;
        }
        while (true) {
            SkipBlanks();
            if (AtEnd()) {
                Unclosed(array);
            }
            if (Peek() == ']') {
                Fail("a \",\" before \"]\" (no value follows it)");
            }
            array.items.push_back(Value(depth + 1));
            SkipBlanks();
            if (AtEnd()) {
                Unclosed(array);
            }
            if (Peek() == ']') {
                ++position_;
                return;
            }
            if (Peek() != ',') {
                Fail("expected \",\" or \"]\" after a value of the array, found " + Shown(Peek()));
            }
            ++position_;
        }
    }

    int HexDigits() {
        if (text_.size() - position_ < 4) {
            Fail("\"\\u\" needs four hexadecimal digits");
        }
        int code = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[position_++];
            int digit = 0;
            if (c >= '0' && c <= '9') {
                digit = c - '0';
            } else if (c >= 'a' && c <= 'f') {
                digit = c - 'a' + 10;
            } else if (c >= 'A' && c <= 'F') {
                digit = c - 'A' + 10;
            } else {
                Fail("\"\\u\" needs four hexadecimal digits");
            }
            code = code * 16 + digit;
        }
        return code;
    }

    static void AppendUtf8(std::string& out, std::uint32_t code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xc0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3f));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xe0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
            out += static_cast<char>(0x80 | (code & 0x3f));
        } else {
            out += static_cast<char>(0xf0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3f));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
            out += static_cast<char>(0x80 | (code & 0x3f));
        }
    }

    std::string String() {
        const int startLine = line_;
        ++position_;  // the opening quote
        std::string out;
        while (true) {
            if (AtEnd()) {
                throw Refusal{startLine, "the string begun on this line is not closed with \""};
            }
            const char c = text_[position_++];
            if (c == '"') {
                return out;
            }
            if (c == '\n') {
                throw Refusal{startLine, "the string begun on this line is not closed with \""};
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                Fail("a control character (" + Shown(c) + ") in a string; write it as an escape");
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (AtEnd()) {
                throw Refusal{startLine, "the string begun on this line is not closed with \""};
            }
            const char escape = text_[position_++];
            switch (escape) {
                case '"': out += '"'; break;
                case '\\': out += '\\'; break;
                case '/': out += '/'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': {
                    std::uint32_t code = static_cast<std::uint32_t>(HexDigits());
                    if (code >= 0xdc00 && code <= 0xdfff) {
                        Fail("\"\\u\" names the second half of a surrogate pair alone");
                    }
                    if (code >= 0xd800 && code <= 0xdbff) {
                        if (text_.substr(position_, 2) != "\\u") {
                            Fail("\"\\u\" names the first half of a surrogate pair alone");
                        }
                        position_ += 2;
                        const auto low = static_cast<std::uint32_t>(HexDigits());
                        if (low < 0xdc00 || low > 0xdfff) {
                            Fail("\"\\u\" names the first half of a surrogate pair alone");
                        }
                        code = 0x10000 + ((code - 0xd800) << 10) + (low - 0xdc00);
                    }
                    AppendUtf8(out, code);
                    break;
                }
                default: Fail("unknown escape \"\\" + std::string(1, escape) + "\" in a string");
            }
        }
    }

    void Number(JsonValue& value) {
        const std::size_t start = position_;
        const auto digits = [this] {
            const std::size_t from = position_;
            while (!AtEnd() && Peek() >= '0' && Peek() <= '9') {
                ++position_;
            }
            return position_ - from;
        };
        if (Peek() == '-') {
            ++position_;
        }
        const std::size_t integerStart = position_;
        const std::size_t integer = digits();
        if (integer == 0) {
            Fail("a number needs digits after its \"-\"");
        }
        if (integer > 1 && text_[integerStart] == '0') {
            Fail("a number does not begin with 0 (" +
                 std::string(text_.substr(start, position_ - start)) + ")");
        }
        if (!AtEnd() && Peek() == '.') {
            ++position_;
            if (digits() == 0) {
                Fail("a number needs digits after its decimal point");
            }
        }
        if (!AtEnd() && (Peek() == 'e' || Peek() == 'E')) {
            ++position_;
            if (!AtEnd() && (Peek() == '+' || Peek() == '-')) {
                ++position_;
            }
            if (digits() == 0) {
                Fail("a number needs digits in its exponent");
            }
        }
        if (!AtEnd()) {
            const char next = Peek();
            if ((next >= 'a' && next <= 'z') || (next >= 'A' && next <= 'Z') || next == '.' ||
                next == '_') {
                Fail("unexpected " + Shown(next) + " in a number");
            }
        }
        value.text = std::string(text_.substr(start, position_ - start));
        const char* first = value.text.data();
        const char* last = first + value.text.size();
        const auto [stop, failure] = std::from_chars(first, last, value.number);
        if (failure == std::errc::result_out_of_range) {
            Fail("the number " + value.text + " is out of any range");
        }
        if (failure != std::errc() || stop != last) {
            Fail("cannot read the number " + value.text);
        }
    }

    std::string_view text_;
    std::size_t position_ = 0;
    int line_ = 1;
};

}  // namespace

std::string JsonQuoted(const std::string& text, std::size_t longest) {
    std::string shown;
    for (const char c : text.substr(0, longest)) {
        const auto code = static_cast<unsigned char>(c);
        shown += code < 0x20 || code == 0x7f ? '?' : c;
    }
    return "\"" + shown + (text.size() > longest ? "...\"" : "\"");
}

std::variant<JsonValue, JsonSyntaxError> ParseJson(std::string_view text) {
    // A byte order mark is no part of JSON, but editors on some systems write one.
    if (text.substr(0, 3) == "\xef\xbb\xbf") {
        text.remove_prefix(3);
    }
    try {
        return Reader(text).Document();
    } catch (const Refusal& refusal) {
        return JsonSyntaxError{refusal.line, refusal.message};
    }
}

std::string JsonKindName(JsonValue::Kind kind) {
    switch (kind) {
        case JsonValue::Kind::Null: return "null";
        case JsonValue::Kind::Boolean: return "true or false";
        case JsonValue::Kind::Number: return "a number";
        case JsonValue::Kind::String: return "a string";
        case JsonValue::Kind::Array: return "an array";
        case JsonValue::Kind::Object: return "an object";
    }
    return "a value";
}

}  // namespace tarvel
