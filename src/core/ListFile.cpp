// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ListFile.h"

#include <algorithm>

namespace tarvel {
namespace {

// Splits the bytes into lines at LF, dropping the CR before it; a last line without its end
// counts too.
class LineReader {
public:
    explicit LineReader(std::string_view bytes) : rest_(bytes) {}
    bool Next(std::string_view& line) {
        if (rest_.empty()) {
            return false;
        }
        const std::size_t end = rest_.find('\n');
        line = rest_.substr(0, end);
        rest_ = end == std::string_view::npos ? std::string_view() : rest_.substr(end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        ++number_;
        return true;
    }
    int Number() const { return number_; }

private:
    std::string_view rest_;
    int number_ = 0;
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::string_view ItemOf(std::string_view line) {
    while (!line.empty() && IsBlank(line.front())) {
        line.remove_prefix(1);
    }
    if (!line.empty() && line.front() == '"') {
        line.remove_prefix(1);
        return line.substr(0, line.find('"'));
    }
    return line.substr(0, line.find(','));
}

std::string Shown(std::string_view text) {
    std::string shown;
    for (const char c : text.substr(0, 20)) {
        shown.push_back(static_cast<unsigned char>(c) >= 32 ? c : '?');
    }
    return text.size() > 20 ? shown + "..." : shown;
}

}  // namespace

std::string FormatListFile(const std::vector<std::string>& items) {
    std::size_t size = 16;
    for (const std::string& item : items) {
        size += item.size() + 2;
    }
    std::string text;
    text.reserve(size);
    text += " " + std::to_string(items.size()) + " \r\n";
    for (const std::string& item : items) {
        text += item;
        text += "\r\n";
    }
    return text;
}

std::variant<std::vector<std::string>, ListFileProblem> ReadListFile(std::string_view bytes) {
    LineReader lines(bytes);
    std::string_view line;
    if (!lines.Next(line)) {
        return ListFileProblem{"the file is empty"};
    }
    const std::string_view countText = Trimmed(line);
    if (countText.empty() || countText.size() > 9 ||
        !std::all_of(countText.begin(), countText.end(),
                     [](char c) { return c >= '0' && c <= '9'; })) {
        return ListFileProblem{"its first line, \"" + Shown(line) +
                               "\", is not the number of its items"};
    }
    const long count = std::stol(std::string(countText));
    std::vector<std::string> items;
    // Never more room than the file has lines for: a count alone must not claim memory.
    const auto lineEnds = std::count(bytes.begin(), bytes.end(), '\n');
    items.reserve(static_cast<std::size_t>(std::min<long>(count, static_cast<long>(lineEnds) + 1)));
    while (static_cast<long>(items.size()) < count) {
        if (!lines.Next(line)) {
            return ListFileProblem{"it announces " + std::to_string(count) + " items but holds " +
                                   std::to_string(items.size())};
        }
        items.emplace_back(ItemOf(line));
    }
    return items;
}

}  // namespace tarvel
