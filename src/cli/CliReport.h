// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "core/Analysis.h"
#include "core/LineDescription.h"
#include "core/Time.h"
#include "lines/SerialLine.h"
#include "monitor/LineStatistics.h"
#include "protocol/Protocol.h"

namespace tarvel {

// `value` to `decimals` places, which JSON then prints as short as that: 7.6, not
// 7.6000000000000005.
double Rounded(double value, int decimals);

// "1 exchange", "2 exchanges": a count with its noun, which takes an "s" but after 1.
std::string Counted(long count, const std::string& noun);

// "12 s": a time as the text reports give it, to the second.
std::string Seconds(Duration time);

// Progress on one line of a terminal, rewritten in place; EndProgress clears that line for text
// of its own.
void ShowProgress(std::ostream& err, const std::string& text);
void EndProgress(std::ostream& err);

// The statistics of each controller as an aligned text table, a header line first.
std::string StatisticsTable(const LineStatistics& statistics, const Protocol& protocol);
// "Line: 120 exchanges, 4.30 exchanges/s, 93.1 % good, longest run of failures 3; driver errors:
// ..."
std::string LineSummary(const LineStatistics& statistics,
                        const std::optional<UartErrorCounts>& driverErrors);

// A text as a JSON value, null when it is empty: a "lineFailure" that did not happen.
QJsonValue TextOrNull(const std::string& text);

// The JSON forms; README.md documents them.
// A protocol that checks its frames (Modbus) gives the address as a number and counts what only
// such frames have; Ascon keeps its own counts.
QJsonObject ControllerJson(const ControllerStatistics& controller, Duration answerWindow,
                           const Protocol& protocol);
QJsonArray ControllersJson(const LineStatistics& statistics, const Protocol& protocol);
QJsonObject LineJson(const LineStatistics& statistics,
                     const std::optional<UartErrorCounts>& driverErrors);
// What a scan found, apart from the line's health: "addressesTried", "controllersFound",
// "responseToLastMs" (the fastest and the slowest good answer, or null) and "summary", the
// window's line.
QJsonObject ScanJson(const LineStatistics& scan);
// The addresses of a scan that answered at all, well or not, in the form of ControllerJson: the
// silent ones are just addresses where no controller is.
QJsonArray AnsweringControllersJson(const LineStatistics& scan, const Protocol& protocol);
QJsonObject AnalysisJson(const AnalysisReport& report);
QJsonArray TextsJson(const std::vector<std::string>& texts);
// What a report or a JSON document covers: when, and on which line with which settings (nothing
// for a command that uses no line).
struct Provenance {
    LocalDateTime started;
    LocalDateTime ended;
    std::optional<LineDescription> line;
    // What the line found of an adapter that echoes, where it looked.
    std::optional<EchoReport> echo = std::nullopt;
    // Received bytes the line dropped, beyond what it keeps unread.
    std::uint64_t dropped = 0;
};
// "program", "started", "ended", and for a line "port", "settings" and "echo" (with
// "echoFaults" when the port echoes).
void AddProvenance(QJsonObject& document, const Provenance& provenance);
// The first line of a text report: "line-tarvel-cli 3.beta, test on /dev/ttyUSB0 (COM1) at
// 9600 8N1, retry 2, from 2026-12-09T02:11:05+01:00 to 2026-12-09T10:11:05+01:00".
std::string ProvenanceLine(const std::string& command, const Provenance& provenance);
// The same up to its start, for a report whose first line is printed before it ends: "...
// at 9600 8N1, retry 2, from 2026-12-09T02:11:05+01:00".
std::string ProvenanceStart(const std::string& command, const LocalDateTime& started,
                            const std::optional<LineDescription>& line);

// An error record with the moment it was made.
struct TimedRecord {
    std::string text;
    LocalDateTime at;
};
QJsonArray RecordsJson(const std::vector<TimedRecord>& records);

// The document, indented, with a final line end.
std::string JsonText(const QJsonObject& document);

}  // namespace tarvel
