// SPDX-License-Identifier: GPL-3.0-or-later
#include "watch/WatchTargets.h"

#include "watch/MetricsEndpoint.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>

namespace tarvel {
namespace {

// What systemd takes for blanks and line ends in an EnvironmentFile, and splits $ARGS at.
bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsLineEnd(char c) { return c == '\n' || c == '\r'; }
bool IsSpace(char c) { return IsBlank(c) || IsLineEnd(c); }

bool IsVariableName(const std::string& key) {
    if (key.empty() || std::isdigit(static_cast<unsigned char>(key[0]))) {
        return false;
    }
    return std::all_of(key.begin(), key.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
    });
}

// Reads one assignment's value from text[at], up to the end of its line; at is left on the line
// end (or the end of the text).
std::string ReadValue(std::string_view text, std::size_t& at) {
    std::string value;
    // Where the unquoted blanks at the end of the value begin, if it ends with any (npos if not).
    std::size_t blanksFrom = std::string::npos;
    const auto keep = [&value, &blanksFrom](char c) {
        value.push_back(c);
        blanksFrom = std::string::npos;
    };
    // Blanks are skipped before the value and after each quoted part of it.
    const auto skipBlanks = [text, &at] {
        while (at < text.size() && IsBlank(text[at])) {
            ++at;
        }
    };
    skipBlanks();
    while (at < text.size() && !IsLineEnd(text[at])) {
        const char c = text[at++];
        if (c == '\\') {
            blanksFrom = std::string::npos;
            if (at < text.size()) {
                const char next = text[at++];
                if (next == '\r' && at < text.size() && text[at] == '\n') {
                    ++at;
                }
                if (!IsLineEnd(next)) {
                    keep(next);
                }
            }
        } else if (c == '\'') {
            while (at < text.size() && text[at] != '\'') {
                keep(text[at++]);
            }
            at = std::min(at + 1, text.size());  // past the closing quote, if there is one
            blanksFrom = std::string::npos;
            skipBlanks();
        } else if (c == '"') {
            while (at < text.size() && text[at] != '"') {
                const char inside = text[at++];
                if (inside == '\\' && at < text.size()) {
                    const char next = text[at++];
                    if (IsLineEnd(next)) {
                        if (next == '\r' && at < text.size() && text[at] == '\n') {
                            ++at;
                        }
                    } else if (std::strchr("\"\\`$", next) != nullptr) {
                        keep(next);
                    } else {
                        keep('\\');
                        keep(next);
                    }
                } else {
                    keep(inside);
                }
            }
            at = std::min(at + 1, text.size());
            blanksFrom = std::string::npos;
            skipBlanks();
        } else if (IsBlank(c)) {
            if (blanksFrom == std::string::npos) {
                blanksFrom = value.size();
            }
            value.push_back(c);
        } else {
            keep(c);
        }
    }
    if (blanksFrom != std::string::npos) {
        value.resize(blanksFrom);
    }
    return value;
}

std::vector<std::string> SplitAtBlanks(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    for (const char c : text) {
        if (IsSpace(c)) {
            if (!word.empty()) {
                words.push_back(std::move(word));
                word.clear();
            }
        } else {
            word.push_back(c);
        }
    }
    if (!word.empty()) {
        words.push_back(std::move(word));
    }
    return words;
}

// A value taken from a conf, or the reason there is none.
struct Reading {
    std::string value;
    std::string problem;  // empty when value is what was read
};

Reading Refused(std::string problem) { return {"", std::move(problem)}; }

// The value of the last --metrics of args, as the command line reads it: "--" ends the options.
Reading MetricsOption(const std::vector<std::string>& args) {
    std::optional<std::string> metrics;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--") {
            break;
        }
        if (args[i] == "--metrics") {
            if (i + 1 == args.size()) {
                return Refused("its ARGS end with --metrics, without HOST:PORT");
            }
            metrics = args[++i];
        } else if (args[i].starts_with("--metrics=")) {
            metrics = args[i].substr(std::strlen("--metrics="));
        }
    }
    if (!metrics) {
        return Refused("its ARGS have no --metrics HOST:PORT, so Prometheus has nothing to scrape");
    }
    return {*metrics, ""};
}

bool IsPort(const std::string& text) {
    if (text.empty() || text.size() > 5 || !std::all_of(text.begin(), text.end(), [](char c) {
            return std::isdigit(static_cast<unsigned char>(c));
        })) {
        return false;
    }
    const int port = std::stoi(text);
    return port >= 1 && port <= 65535;
}

std::string Bracketed(const std::string& host) {
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

// HOST:PORT as Prometheus is to scrape it, or the reason it cannot be.
Reading ScrapeAddress(const std::string& given, const std::string& hostName) {
    const std::string notAddress = "--metrics \"" + given +
                                   "\" is not HOST:PORT (an IPv6 address in brackets, "
                                   "[::1]:9780)";
    // As the watch reads it: a port alone listens on 127.0.0.1.
    const auto read = MetricsAddress(given);
    if (read.index() != 0) {
        return Refused(notAddress);
    }
    const std::string& metrics = std::get<0>(read);
    std::string host;
    std::string port;
    if (metrics.starts_with("[")) {
        const std::size_t close = metrics.find(']');
        if (close == std::string::npos || metrics.compare(close + 1, 1, ":") != 0) {
            return Refused(notAddress);
        }
        host = metrics.substr(1, close - 1);
        port = metrics.substr(close + 2);
    } else {
        const std::size_t colon = metrics.rfind(':');
        if (colon == std::string::npos) {
            return Refused(notAddress);
        }
        host = metrics.substr(0, colon);
        port = metrics.substr(colon + 1);
        if (host.find(':') != std::string::npos) {
            return Refused(notAddress);
        }
    }
    if (host.empty() || !IsPort(port)) {
        return Refused(notAddress);
    }
    // A watch on every address of the host is scraped by the host's name, which the other
    // hosts know it by.
    if (host == "0.0.0.0" || host == "::") {
        host = hostName;
    }
    return {Bracketed(host) + ":" + port, ""};
}

// Prometheus refuses a targets file whose labels are not UTF-8, and with it every line's.
bool IsUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        std::size_t length = 1;
        char32_t lowest = 0;
        if (byte >= 0xF0 && byte <= 0xF4) {
            length = 4;
            lowest = 0x10000;
        } else if (byte >= 0xE0) {
            length = 3;
            lowest = 0x800;
        } else if (byte >= 0xC2 && byte <= 0xDF) {
            length = 2;
            lowest = 0x80;
        } else if (byte >= 0x80) {
            return false;
        }
        if (i + length > text.size()) {
            return false;
        }
        char32_t code = length == 1 ? byte : byte & (0x3F >> (length - 1));
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            code = (code << 6) | (next & 0x3F);
        }
        if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
}

std::string JsonString(std::string_view text) {
    std::string json = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            static const char kHex[] = "0123456789abcdef";
            json += "\\u00";
            json += kHex[(c >> 4) & 0xF];
            json += kHex[c & 0xF];
        } else {
            json += c;
        }
    }
    return json + "\"";
}

constexpr std::string_view kConfSuffix = ".conf";

}  // namespace

std::map<std::string, std::string> ReadConfAssignments(std::string_view text) {
    std::map<std::string, std::string> assignments;
    std::size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && IsSpace(text[at])) {
            ++at;
        }
        if (at == text.size()) {
            break;
        }
        // A comment runs to the end of its line. (systemd before 254 joined the next line to a
        // comment ending with a backslash; a conf that relies on it is hardly one to support.)
        if (text[at] == '#' || text[at] == ';') {
            while (at < text.size() && !IsLineEnd(text[at])) {
                ++at;
            }
            continue;
        }
        const std::size_t keyStart = at;
        while (at < text.size() && text[at] != '=' && !IsLineEnd(text[at])) {
            ++at;
        }
        std::string key(text.substr(keyStart, at - keyStart));
        while (!key.empty() && IsBlank(key.back())) {
            key.pop_back();
        }
        if (at == text.size() || text[at] != '=') {
            continue;  // a line without "=" assigns nothing
        }
        ++at;
        std::string value = ReadValue(text, at);
        if (IsVariableName(key)) {
            assignments[key] = std::move(value);
        }
    }
    return assignments;
}

std::variant<WatchTarget, std::string> WatchTargetOf(const std::string& line,
                                                     std::string_view confText,
                                                     const std::string& hostName,
                                                     const std::string& defaultSite) {
    const std::map<std::string, std::string> assignments = ReadConfAssignments(confText);
    const auto args = assignments.find("ARGS");
    if (args == assignments.end()) {
        return std::string("it sets no ARGS, the watch's options");
    }
    const Reading metrics = MetricsOption(SplitAtBlanks(args->second));
    if (!metrics.problem.empty()) {
        return metrics.problem;
    }
    Reading address = ScrapeAddress(metrics.value, hostName);
    if (!address.problem.empty()) {
        return address.problem;
    }
    WatchTarget target{line, defaultSite, std::move(address.value)};
    if (const auto site = assignments.find("SITE");
        site != assignments.end() && !site->second.empty()) {
        target.site = site->second;
    }
    if (!IsUtf8(target.line)) {
        return std::string("its name is not UTF-8 text, which Prometheus labels must be");
    }
    if (!IsUtf8(target.site)) {
        return std::string("its SITE is not UTF-8 text, which Prometheus labels must be");
    }
    return target;
}

WatchTargets ReadWatchTargets(const std::filesystem::path& folder, const std::string& hostName,
                              const std::string& defaultSite) {
    namespace fs = std::filesystem;
    WatchTargets result;
    std::error_code error;
    fs::directory_iterator entries(folder, error);
    if (error) {
        result.problems.push_back({folder.string(), "cannot be read: " + error.message()});
        return result;
    }
    std::vector<std::string> confs;
    for (; entries != fs::directory_iterator(); entries.increment(error)) {
        const std::string name = entries->path().filename().string();
        // Hidden files are editors' and package tools' leftovers, not watches.
        if (name.size() > kConfSuffix.size() && name.ends_with(kConfSuffix) &&
            !name.starts_with(".")) {
            confs.push_back(name);
        }
    }
    if (error) {
        result.problems.push_back({folder.string(), "cannot be read: " + error.message()});
    }
    std::sort(confs.begin(), confs.end());

    std::map<std::string, std::string> lineAt;  // each address taken, and by which line
    for (const std::string& name : confs) {
        const fs::path path = folder / name;
        const fs::file_status status = fs::status(path, error);
        if (error) {
            result.problems.push_back({name, "cannot be read: " + error.message()});
            continue;
        }
        if (!fs::is_regular_file(status)) {
            result.problems.push_back({name, "is not a file"});
            continue;
        }
        errno = 0;
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            const int cause = errno != 0 ? errno : EIO;
            result.problems.push_back(
                {name, std::string("cannot be read: ") + std::strerror(cause)});
            continue;
        }
        const std::string text{std::istreambuf_iterator<char>(in),
                               std::istreambuf_iterator<char>()};
        const std::string line = name.substr(0, name.size() - kConfSuffix.size());
        auto target = WatchTargetOf(line, text, hostName, defaultSite);
        if (auto* reason = std::get_if<std::string>(&target)) {
            result.problems.push_back({name, std::move(*reason)});
            continue;
        }
        WatchTarget& found = std::get<WatchTarget>(target);
        // Only one watch can listen there, and scraping it under two names would count its line
        // twice.
        if (const auto taken = lineAt.find(found.address); taken != lineAt.end()) {
            result.problems.push_back({name, "its --metrics address " + found.address +
                                                 " is line " + taken->second + "'s already"});
            continue;
        }
        lineAt[found.address] = found.line;
        result.targets.push_back(std::move(found));
    }
    return result;
}

std::string FormatFileSdTargets(const std::vector<WatchTarget>& targets) {
    if (targets.empty()) {
        return "[]\n";
    }
    std::string json = "[\n";
    for (std::size_t i = 0; i < targets.size(); ++i) {
        const WatchTarget& target = targets[i];
        json += "  {\"targets\":[" + JsonString(target.address) +
                "],\"labels\":{\"line\":" + JsonString(target.line) +
                ",\"site\":" + JsonString(target.site) + "}}";
        json += i + 1 < targets.size() ? ",\n" : "\n";
    }
    return json + "]\n";
}

}  // namespace tarvel
