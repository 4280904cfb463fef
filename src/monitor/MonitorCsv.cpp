// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/MonitorCsv.h"

#include "core/Verdict.h"

namespace tarvel {
std::string CsvField(std::string_view field) {
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
        return std::string(field);
    }
    std::string quoted = "\"";
    for (const char c : field) {
        if (c == '"') {
            quoted += '"';
        }
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

std::string CsvRecord(const std::vector<std::string>& fields) {
    std::string record;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) {
            record += ',';
        }
        record += CsvField(fields[i]);
    }
    record += "\r\n";
    return record;
}

namespace {

const char* const kDateTimeColumn = "date-time";
const char* const kPortColumn = "port";
const char* const kSettingsColumn = "settings";

std::string TrafficRecord(const TrafficRow& row) {
    const LineDescription line = row.line ? *row.line : LineDescription{};
    return CsvRecord({std::to_string(row.number), Milliseconds(row.sinceRunStart),
                      TimeOfDayText(row.at.time), row.answer ? "answer" : "request", row.address,
                      std::to_string(row.characters), row.hex, row.text, row.verdict,
                      Iso8601(row.at), row.line ? PortText(line) : "",
                      row.line ? SettingsSummary(line) : "", ActivityName(row.activity)});
}

}  // namespace

std::string TrafficCsvHeader() {
    return CsvRecord({"exchange", "ms from run start", "time of day", "direction", "address",
                      "characters", "hex", "text", "verdict", kDateTimeColumn, kPortColumn,
                      kSettingsColumn, "exchange of"});
}

std::string TrafficCsvRecords(const TrafficEntry& entry, std::uint64_t number) {
    return TrafficRecord(RequestRow(entry, number)) + TrafficRecord(AnswerRow(entry, number));
}

std::string TrafficCsv(const TrafficLog& log) {
    std::string csv = TrafficCsvHeader();
    csv.reserve(log.Size() * 2 * 120);
    for (std::size_t i = 0; i < log.Size(); ++i) {
        csv += TrafficRecord(RequestRow(log, i));
        csv += TrafficRecord(AnswerRow(log, i));
    }
    return csv;
}

namespace {

// The columns of either kind of protocol: the counts its own failures have between the common
// head and tail.
std::vector<std::string> ColumnsWith(std::initializer_list<const char*> failures) {
    std::vector<std::string> columns{"Address", "Requests", "Good", "No answer"};
    columns.insert(columns.end(), failures.begin(), failures.end());
    columns.insert(columns.end(), {"Success %", "First min ms", "First mean ms", "First p95 ms",
                                   "First max ms", "Last min ms", "Last mean ms", "Last p95 ms",
                                   "Last max ms", "Last good answer", "Judgement"});
    return columns;
}

}  // namespace

const std::vector<std::string>& StatisticsColumns(VerdictFamily verdicts) {
    static const std::vector<std::string> rtu = ColumnsWith(
        {"CRC error", "Wrong length", "Wrong address or function", "Answer cut", "Exceptions"});
    static const std::vector<std::string> ascii =
        ColumnsWith({"LRC error", "Not hexadecimal", "LF not received", "Odd length",
                     "Wrong length", "Wrong address or function", "Answer cut", "Exceptions"});
    static const std::vector<std::string> ascon =
        ColumnsWith({"Wrong # of characters", "CR not received", "Not detected", "Unknow format"});
    switch (verdicts) {
        case VerdictFamily::ModbusRtu: return rtu;
        case VerdictFamily::ModbusAscii: return ascii;
        case VerdictFamily::Ascon: break;
    }
    return ascon;
}

namespace {

std::vector<int> FailureCounts(const ControllerStatistics& controller, VerdictFamily verdicts) {
    const ControllerStatistics& c = controller;
    switch (verdicts) {
        case VerdictFamily::ModbusRtu:
            return {c.badCrc, c.wrongLength, c.wrongSource, c.cut, c.exceptions};
        case VerdictFamily::ModbusAscii:
            return {c.badLrc,      c.notHex,      c.noLf, c.oddLength,
                    c.wrongLength, c.wrongSource, c.cut,  c.exceptions};
        case VerdictFamily::Ascon: break;
    }
    return {c.wrongCount, c.noCr, c.notDetected, c.unknownFormat};
}

}  // namespace

std::vector<std::string> StatisticsFields(const ControllerStatistics& controller,
                                          Duration answerWindow, VerdictFamily verdicts) {
    std::vector<std::string> fields{controller.address, std::to_string(controller.requests),
                                    std::to_string(controller.good),
                                    std::to_string(controller.noAnswer)};
    for (const int count : FailureCounts(controller, verdicts)) {
        fields.push_back(std::to_string(count));
    }
    fields.push_back(OneDecimal(controller.SuccessRate()));
    for (const ResponseTimes* times : {&controller.toFirst, &controller.toLast}) {
        const bool any = times->Count() > 0;
        fields.push_back(any ? Milliseconds(times->Minimum()) : "");
        fields.push_back(any ? Milliseconds(times->Mean()) : "");
        fields.push_back(any ? Milliseconds(times->Percentile(0.95)) : "");
        fields.push_back(any ? Milliseconds(times->Maximum()) : "");
    }
    fields.push_back(controller.lastGood ? TimeOfDayText(controller.lastGood->time) : "");
    fields.push_back(JudgementName(Assess(controller, answerWindow).judgement));
    return fields;
}

std::string StatisticsCsvHeader(VerdictFamily verdicts) {
    std::vector<std::string> header = StatisticsColumns(verdicts);
    header.insert(header.end(),
                  {"Why", kDateTimeColumn, kPortColumn, kSettingsColumn, "statistics of"});
    return CsvRecord(header);
}

std::string StatisticsCsvRecords(Activity activity, const LineStatistics& statistics,
                                 const LineDescription& line, const LocalDateTime& madeAt,
                                 VerdictFamily verdicts) {
    std::string csv;
    const std::string of = ActivityName(activity);
    const std::string when = Iso8601(madeAt);
    const std::string port = PortText(line);
    const std::string settings = SettingsSummary(line);
    for (const ControllerStatistics& controller : statistics.Controllers()) {
        std::vector<std::string> fields =
            StatisticsFields(controller, statistics.AnswerWindow(), verdicts);
        fields.insert(fields.end(), {Assess(controller, statistics.AnswerWindow()).reason, when,
                                     port, settings, of});
        csv += CsvRecord(fields);
    }
    return csv;
}

std::string StatisticsCsv(const LineMonitor& monitor, const LocalDateTime& madeAt) {
    const VerdictFamily verdicts = monitor.ShownVerdicts();
    return StatisticsCsvHeader(verdicts) +
           StatisticsCsvRecords(monitor.RunActivity(), monitor.Statistics(), monitor.Line(), madeAt,
                                verdicts) +
           StatisticsCsvRecords(Activity::Scan, monitor.ScanStatistics(), monitor.ScanLine(),
                                madeAt, verdicts);
}

}  // namespace tarvel
