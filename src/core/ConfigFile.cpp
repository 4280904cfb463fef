#include "core/ConfigFile.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace tarvel {
namespace {

std::string NumberLine(int value) { return " " + std::to_string(value) + " \r\n"; }

// Takes the numbers of a file one after the other and knows on which line each one stands.
class NumberScanner {
public:
    explicit NumberScanner(std::istream& in) : in_(in) {}

    // The next number, or a problem naming what stood there instead.
    std::variant<long long, ConfigProblem> Next(const std::string& what) {
        SkipBlanks();
        const int first = in_.peek();
        if (first == std::char_traits<char>::eof()) {
            return ConfigProblem{"the file ends where " + what + " should be (line " +
                                 std::to_string(line_) + ")"};
        }
        std::string field;
        while (true) {
            const int c = in_.peek();
            if (c == std::char_traits<char>::eof() || IsBlank(c) || c == ',' || field.size() > 40) {
                break;
            }
            field.push_back(static_cast<char>(in_.get()));
        }
        const int fieldLine = line_;
        SkipBlanks();
        if (in_.peek() == ',') {
            in_.get();
        }
        const auto value = ParseInteger(field);
        if (!value) {
            return ConfigProblem{what + " on line " + std::to_string(fieldLine) + " is \"" +
                                 Printable(field) + "\", which is not a whole number"};
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

    static std::optional<long long> ParseInteger(const std::string& field) {
        std::size_t at = 0;
        bool negative = false;
        if (!field.empty() && (field[0] == '-' || field[0] == '+')) {
            negative = field[0] == '-';
            at = 1;
        }
        if (at == field.size()) {
            return std::nullopt;
        }
        long long value = 0;
        for (; at < field.size(); ++at) {
            if (!std::isdigit(static_cast<unsigned char>(field[at]))) {
                return std::nullopt;
            }
            // Anything this large is out of every range; stop before it can overflow.
            value = std::min<long long>(value * 10 + (field[at] - '0'), 1'000'000'000'000LL);
        }
        return negative ? -value : value;
    }

    static std::string Printable(const std::string& field) {
        std::string shown;
        for (const char c : field.substr(0, 20)) {
            shown.push_back(std::isprint(static_cast<unsigned char>(c)) ? c : '?');
        }
        return field.size() > 20 ? shown + "..." : shown;
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
