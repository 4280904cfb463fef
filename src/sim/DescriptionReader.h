// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "core/JsonText.h"

// What reading a described simulated line shares with any reader of a JSON document of the
// operator's: the refusal that names the file, the line and the member, the typed values, and
// the members a mistyped name would otherwise slip past. The line's own meaning is
// SimulatedLineFile.cpp's.
namespace tarvel::description {

// Thrown inside the reader only, with the whole message.
struct Refusal {
    std::string message;
};

// How far apart two names are in single-letter edits, for a member that looks mistyped.
inline std::size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) {
        row[j] = j;
    }
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            const bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                              std::tolower(static_cast<unsigned char>(b[j - 1]));
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

inline std::string Joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) {
        text += (text.empty() ? "" : ", ") + name;
    }
    return text;
}

// A number as a message quotes it, the shortest way that reads back the same, with a decimal
// point in any locale.
inline std::string NumberShown(double value) {
    char text[32];
    const auto [end, failure] = std::to_chars(text, text + sizeof text, value);
    return failure == std::errc() ? std::string(text, end) : std::string("?");
}

// A string of the file as a message quotes it.
inline std::string Shown(const std::string& text) { return JsonQuoted(text, 16); }

// A member name of the file in the path of a message: unquoted, as the format's own names are,
// but as short and as harmless to the terminal as a quoted string.
inline std::string NameShown(const std::string& name) {
    const std::string quoted = Shown(name);
    return quoted.substr(1, quoted.size() - 2);
}

// The typed readers of a document's values; each refuses with the place and what was expected.
class DescriptionReader {
public:
    explicit DescriptionReader(std::string fileName) : file_(std::move(fileName)) {}

protected:
    [[noreturn]] void Fail(int line, const std::string& path, const std::string& message) const {
        throw Refusal{file_ + ":" + std::to_string(line) + ": " +
                      (path.empty() ? "" : path + ": ") + message};
    }
    [[noreturn]] void Fail(const JsonValue& at, const std::string& path,
                           const std::string& message) const {
        Fail(at.line, path, message);
    }

    // Every member must be one of `allowed`, or of `unlisted` (taken, but not named to the
    // operator): a mistyped name would otherwise be passed over, and the line would quietly
    // behave otherwise than its file says.
    void Members(const JsonValue& object, const std::string& path,
                 const std::vector<std::string>& allowed,
                 const std::vector<std::string>& unlisted = {}) const {
        std::vector<std::string> known = allowed;
        known.insert(known.end(), unlisted.begin(), unlisted.end());
        for (const JsonMember& member : object.members) {
            if (std::find(known.begin(), known.end(), member.name) != known.end()) {
                continue;
            }
            const std::string shown = NameShown(member.name);
            const std::string where = path.empty() ? shown : path + "." + shown;
            std::string message = "unknown member";
            for (const std::string& name : known) {
                if (EditDistance(member.name, name) <= std::max<std::size_t>(1, name.size() / 4)) {
                    message += " (did you mean \"" + name + "\"?)";
                    break;
                }
            }
            Fail(member.value, where,
                 message + "; " + (path.empty() ? "a line description" : path) + " has " +
                     Joined(allowed));
        }
    }

    static const JsonValue* Find(const JsonValue& object, const std::string& name) {
        for (const JsonMember& member : object.members) {
            if (member.name == name) {
                return &member.value;
            }
        }
        return nullptr;
    }

    void Expect(const JsonValue& value, const std::string& path, JsonValue::Kind kind) const {
        if (value.kind != kind) {
            Fail(value, path,
                 "must be " + JsonKindName(kind) + ", not " + JsonKindName(value.kind));
        }
    }

    double Number(const JsonValue& value, const std::string& path, double least,
                  double most) const {
        const std::string range = NumberShown(least) + " to " + NumberShown(most);
        if (value.kind != JsonValue::Kind::Number) {
            Fail(value, path,
                 "must be a number from " + range + ", not " + JsonKindName(value.kind));
        }
        if (!(value.number >= least && value.number <= most)) {
            Fail(value, path, value.text + " is out of range (" + range + ")");
        }
        return value.number;
    }

    long long Whole(const JsonValue& value, const std::string& path, long long least,
                    long long most) const {
        const double number =
            Number(value, path, static_cast<double>(least), static_cast<double>(most));
        if (number != std::floor(number)) {
            Fail(value, path, value.text + " is not a whole number");
        }
        return static_cast<long long>(number);
    }

    bool Boolean(const JsonValue& value, const std::string& path) const {
        Expect(value, path, JsonValue::Kind::Boolean);
        return value.boolean;
    }

    std::string Word(const JsonValue& value, const std::string& path,
                     const std::vector<std::string>& allowed) const {
        if (value.kind != JsonValue::Kind::String) {
            Fail(value, path,
                 "must be one of " + Quoted(allowed) + ", not " + JsonKindName(value.kind));
        }
        if (std::find(allowed.begin(), allowed.end(), value.text) == allowed.end()) {
            Fail(value, path, Shown(value.text) + " is none of " + Quoted(allowed));
        }
        return value.text;
    }

    // A string of at most `longest` bytes, of printable ASCII: it goes into answers whose
    // readers show it as text.
    std::string Text(const JsonValue& value, const std::string& path, std::size_t longest) const {
        Expect(value, path, JsonValue::Kind::String);
        if (value.text.size() > longest) {
            Fail(value, path, "is longer than " + std::to_string(longest) + " characters");
        }
        for (const char c : value.text) {
            if (c < ' ' || c > '~') {
                Fail(value, path,
                     Shown(value.text) + " holds a character that is not printable "
                                         "ASCII");
            }
        }
        return value.text;
    }

    static std::string Quoted(const std::vector<std::string>& words) {
        std::string text;
        for (std::size_t i = 0; i < words.size(); ++i) {
            text += (i == 0                  ? ""
                     : i + 1 == words.size() ? " or "
                                             : ", ") +
                    ("\"" + words[i] + "\"");
        }
        return text;
    }

    std::string file_;
};

}  // namespace tarvel::description
