// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// The Prometheus targets of a host's watches, made from their confs (/etc/line-tarvel/watch/
// LINE.conf, as the systemd unit reads them): one target per line, at the line's --metrics
// address, labelled with the line's name and its site. Plain C++, no Qt.

namespace tarvel {

struct WatchTarget {
    std::string line;     // the conf's name without ".conf"
    std::string site;     // its SITE=, or the site given for the host
    std::string address;  // HOST:PORT, as Prometheus scrapes it
};

struct WatchConfProblem {
    std::string file;    // the conf's name in its folder, "kiln.conf"
    std::string reason;  // "it has no --metrics HOST:PORT in ARGS"
};

struct WatchTargets {
    std::vector<WatchTarget> targets;  // in the order of the lines' names
    std::vector<WatchConfProblem> problems;
};

// The assignments of a conf read as systemd reads an EnvironmentFile: KEY=VALUE lines, blanks
// around the key and the value ignored, lines starting with # or ; are comments. A value is
// taken to the end of its line; its parts in double or single quotes keep their blanks (and
// line ends), the blanks after a quoted part are dropped, and a backslash takes the next
// character as it is (in double quotes only before ", \, ` and $), or, at the end of a line,
// joins the next. A key given twice keeps its last value.
std::map<std::string, std::string> ReadConfAssignments(std::string_view text);

// The target of line LINE from its conf's text: the last --metrics HOST:PORT (or
// --metrics=HOST:PORT) of ARGS, split at blanks as the unit's $ARGS is. A watch listening on
// every address (0.0.0.0 or [::]) is scraped at hostName. The reason, when there is no target.
std::variant<WatchTarget, std::string> WatchTargetOf(const std::string& line,
                                                     std::string_view confText,
                                                     const std::string& hostName,
                                                     const std::string& defaultSite);

// Every NAME.conf of folder (other files are not confs), in the order of their names. A conf
// that cannot be read, names no metrics address, or names one an earlier line already has, is
// left out and told among the problems; so is a folder that cannot be read.
WatchTargets ReadWatchTargets(const std::filesystem::path& folder, const std::string& hostName,
                              const std::string& defaultSite);

// The targets as Prometheus's file_sd reads them: a JSON array with one object per line,
// [{"targets":["HOST:PORT"],"labels":{"line":"NAME","site":"SITE"}}, ...], one a line.
std::string FormatFileSdTargets(const std::vector<WatchTarget>& targets);

}  // namespace tarvel
