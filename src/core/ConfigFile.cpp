// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ConfigFile.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace tarvel {
namespace {

std::string NumberLine(int value) { return " " + std::to_string(value) + " \r\n"; }

// One field of a file, read character by character: an optional sign, then digits. It keeps
// its value (capped far beyond every range) and the start of its text for messages.
class FieldValue {
public:
    void Add(char c) {
        if (shown_.size() < kShownLength) {
            shown_.push_back(std::isprint(static_cast<unsigned char>(c)) ? c : '?');
        }
        ++length_;
        if (length_ == 1 && (c == '-' || c == '+')) {
            negative_ = c == '-';
        } else if (std::isdigit(static_cast<unsigned char>(c))) {
            digits_ = true;
            value_ = std::min<long long>(value_ * 10 + (c - '0'), kCap);
        } else {
            valid_ = false;
        }
    }
    std::optional<long long> Value() const {
        if (!valid_ || !digits_) {
            return std::nullopt;
        }
        return negative_ ? -value_ : value_;
    }
    std::string Shown() const { return length_ > kShownLength ? shown_ + "..." : shown_; }

private:
    static constexpr std::size_t kShownLength = 20;
    // Anything this large is out of every range; the value stops growing before it overflows.
    static constexpr long long kCap = 1'000'000'000'000LL;

    std::string shown_;
    std::size_t length_ = 0;
    bool negative_ = false;
    bool digits_ = false;
    bool valid_ = true;
    long long value_ = 0;
};

// Takes the numbers of a file one after the other and knows on which line each one stands.
class NumberScanner {
public:
    explicit NumberScanner(std::istream& in) : in_(in) {}

    // The next number, or a problem naming what stood there instead. A field runs up to the
    // next blank, comma or line end, however long it is: its value is capped, never its length,
    // so a long run of digits is one number and not two.
    std::variant<long long, ConfigProblem> Next(const std::string& what) {
        SkipBlanks();
        if (in_.peek() == std::char_traits<char>::eof()) {
            return ConfigProblem{"the file ends where " + what + " should be (line " +
                                 std::to_string(line_) + ")"};
        }
        FieldValue field;
        while (true) {
            const int c = in_.peek();
            if (c == std::char_traits<char>::eof() || IsBlank(c) || c == ',') {
                break;
            }
            field.Add(static_cast<char>(in_.get()));
        }
        const int fieldLine = line_;
        SkipBlanks();
        if (in_.peek() == ',') {
            in_.get();
        }
        const auto value = field.Value();
        if (!value) {
            return ConfigProblem{what + " on line " + std::to_string(fieldLine) + " is \"" +
                                 field.Shown() + "\", which is not a whole number"};
        }
        lastLine_ = fieldLine;
        return *value;
    }
    int LastLine() const { return lastLine_; }

private:
    static bool IsBlank(int c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

    void SkipBlanks() {
        while (IsBlank(in_.peek())) {
            if (in_.get() == '\n') {
                ++line_;
            }
        }
    }

    std::istream& in_;
    int line_ = 1;
    int lastLine_ = 1;
};

}  // namespace

std::string FormatLineConfiguration(std::int16_t deviceCount, const ControllerAddressTable& table) {
    std::string text = NumberLine(deviceCount);
    for (int k = 0; k < deviceCount && k < kMaxControllers; ++k) {
        text += NumberLine(table[k]);
    }
    return text;
}

std::variant<LineConfiguration, ConfigProblem> ReadLineConfiguration(std::istream& in) {
    NumberScanner numbers(in);
    auto count = numbers.Next("the number of controllers");
    if (auto* problem = std::get_if<ConfigProblem>(&count)) {
        return *problem;
    }
    const long long deviceCount = std::get<long long>(count);
    if (deviceCount < 1 || deviceCount > kMaxControllers) {
        return ConfigProblem{"it announces " + std::to_string(deviceCount) +
                             " controllers; a line has 1 to 64"};
    }
    LineConfiguration configuration;
    configuration.deviceCount = static_cast<std::int16_t>(deviceCount);
    for (int k = 0; k < deviceCount; ++k) {
        auto address = numbers.Next("the address of controller " + std::to_string(k + 1));
        if (auto* problem = std::get_if<ConfigProblem>(&address)) {
            return *problem;
        }
        const long long index = std::get<long long>(address);
        if (index < 0 || index >= kAddressCount) {
            return ConfigProblem{"controller " + std::to_string(k + 1) + " has the address " +
                                 std::to_string(index) + " (line " +
                                 std::to_string(numbers.LastLine()) +
                                 "); addresses run from 0 to 63"};
        }
        configuration.addresses.push_back(static_cast<std::int16_t>(index));
    }
    return configuration;
}

}  // namespace tarvel
