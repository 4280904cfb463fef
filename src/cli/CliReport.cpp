// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CliReport.h"

#include <QJsonDocument>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>

#include "core/Verdict.h"
#include "core/Version.h"
#include "monitor/MonitorCsv.h"

namespace tarvel {
namespace {

QString Text(const std::string& text) { return QString::fromStdString(text); }

// A text of 8-bit characters, one byte each, as the list files hold them.
QString Latin1(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QJsonValue TimesJson(const ResponseTimes& times) {
    if (times.Count() == 0) {
        return QJsonValue::Null;
    }
    const auto ms = [](Duration time) {
        return Rounded(std::chrono::duration<double, std::milli>(time).count(), 1);
    };
    return QJsonObject{{"min", ms(times.Minimum())},
                       {"mean", ms(times.Mean())},
                       {"p95", ms(times.Percentile(0.95))},
                       {"max", ms(times.Maximum())}};
}

}  // namespace

double Rounded(double value, int decimals) {
    // Divided, not multiplied by 0.1: the result is the double nearest the decimal.
    const double scale = std::pow(10.0, decimals);
    return std::round(value * scale) / scale;
}

std::string Counted(long count, const std::string& noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string Seconds(Duration time) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f s", std::chrono::duration<double>(time).count());
    return text;
}

void ShowProgress(std::ostream& err, const std::string& text) {
    err << "\r" << text << "\x1b[K" << std::flush;
}

void EndProgress(std::ostream& err) { err << "\r\x1b[K" << std::flush; }

QJsonValue TextOrNull(const std::string& text) {
    return text.empty() ? QJsonValue(QJsonValue::Null) : QJsonValue(QString::fromStdString(text));
}

std::string StatisticsTable(const LineStatistics& statistics, const Protocol& protocol) {
    const VerdictFamily verdicts = protocol.Verdicts();
    // Short headings, in the order of StatisticsColumns().
    std::vector<std::string> header{"Addr", "Req", "Good", "NoAns"};
    std::vector<std::string> failures{"Wrong#", "NoCR", "NotDet", "UnkFmt"};
    if (verdicts == VerdictFamily::ModbusRtu) {
        failures = {"BadCRC", "Length", "Source", "Cut", "Exc"};
    } else if (verdicts == VerdictFamily::ModbusAscii) {
        failures = {"BadLRC", "NotHex", "NoLF", "Odd", "Length", "Source", "Cut", "Exc"};
    }
    header.insert(header.end(), failures.begin(), failures.end());
    header.insert(header.end(), {"Good%", "1st min", "1st mean", "1st p95", "1st max", "Last min",
                                 "Last mean", "Last p95", "Last max", "Last good", "Judgement"});
    std::vector<std::vector<std::string>> rows{header};
    for (const ControllerStatistics& controller : statistics.Controllers()) {
        rows.push_back(StatisticsFields(controller, statistics.AnswerWindow(), verdicts));
        for (std::string& field : rows.back()) {
            if (field.empty()) {
                field = "-";
            }
        }
    }
    std::vector<std::size_t> widths(header.size(), 0);
    for (const auto& row : rows) {
        for (std::size_t i = 0; i < row.size() && i < widths.size(); ++i) {
            widths[i] = std::max(widths[i], row[i].size());
        }
    }
    std::string table;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size() && i < widths.size(); ++i) {
            const std::string pad(widths[i] - row[i].size(), ' ');
            // Address and judgement to the left, numbers to the right.
            const bool left = i == 0 || i + 1 == widths.size();
            line += (i == 0 ? "" : "  ") + (left ? row[i] + pad : pad + row[i]);
        }
        while (!line.empty() && line.back() == ' ') {
            line.pop_back();
        }
        table += line + "\n";
    }
    return table;
}

std::string LineSummary(const LineStatistics& statistics,
                        const std::optional<UartErrorCounts>& driverErrors) {
    char text[300];
    std::snprintf(text, sizeof text,
                  ", %.2f exchanges/s, %.1f %% good, longest run of failures %d; driver errors: ",
                  statistics.ExchangesPerSecond(), statistics.SuccessRate(),
                  statistics.LongestFailureRun());
    std::string summary = "Line: " + Counted(statistics.Exchanges(), "exchange") + text;
    if (driverErrors) {
        std::snprintf(text, sizeof text, "framing %ld, parity %ld, overrun %ld, break %ld",
                      driverErrors->framing, driverErrors->parity, driverErrors->overrun,
                      driverErrors->breaks);
        summary += text;
    } else {
        summary += "not reported by this port";
    }
    return summary + "\n";
}

QJsonObject ControllerJson(const ControllerStatistics& controller, Duration answerWindow,
                           const Protocol& protocol) {
    const Assessment assessment = Assess(controller, answerWindow);
    QJsonObject own;
    if (protocol.ChecksFrames()) {
        QJsonObject codes;
        for (const auto& [code, count] : controller.exceptionCodes) {
            codes.insert(QString::number(code), count);
        }
        own = QJsonObject{
            {"address", controller.station},         {"wrongLength", controller.wrongLength},
            {"wrongSource", controller.wrongSource}, {"cut", controller.cut},
            {"exceptions", controller.exceptions},   {"exceptionCodes", codes},
        };
        if (protocol.Verdicts() == VerdictFamily::ModbusAscii) {
            own.insert("badLrc", controller.badLrc);
            own.insert("notHex", controller.notHex);
            own.insert("noLf", controller.noLf);
            own.insert("oddLength", controller.oddLength);
        } else {
            own.insert("badCrc", controller.badCrc);
        }
    } else {
        own = QJsonObject{
            {"address", Latin1(controller.address)},
            {"wrongCount", controller.wrongCount},
            {"noCr", controller.noCr},
            {"notDetected", controller.notDetected},
            {"unknownFormat", controller.unknownFormat},
        };
    }
    QJsonObject common{
        {"requests", controller.requests},
        {"good", controller.good},
        {"noAnswer", controller.noAnswer},
        {"successRate", Rounded(controller.SuccessRate(), 1)},
        {"responseToFirstMs", TimesJson(controller.toFirst)},
        {"responseToLastMs", TimesJson(controller.toLast)},
        {"lastGood", controller.lastGood ? QJsonValue(Text(Iso8601(*controller.lastGood)))
                                         : QJsonValue(QJsonValue::Null)},
        {"judgement", Text(JudgementName(assessment.judgement))},
        {"reason", Text(assessment.reason)},
    };
    for (auto member = own.begin(); member != own.end(); ++member) {
        common.insert(member.key(), member.value());
    }
    return common;
}

QJsonArray ControllersJson(const LineStatistics& statistics, const Protocol& protocol) {
    QJsonArray controllers;
    for (const ControllerStatistics& controller : statistics.Controllers()) {
        controllers.append(ControllerJson(controller, statistics.AnswerWindow(), protocol));
    }
    return controllers;
}

QJsonObject ScanJson(const LineStatistics& scan) {
    const ScanFindings findings = FindingsOf(scan);
    QJsonValue times = QJsonValue::Null;
    if (findings.fastest && findings.slowest) {
        const auto ms = [](Duration time) {
            return Rounded(std::chrono::duration<double, std::milli>(time).count(), 1);
        };
        times = QJsonObject{{"min", ms(*findings.fastest)}, {"max", ms(*findings.slowest)}};
    }
    return QJsonObject{
        {"addressesTried", findings.addressesTried},
        {"controllersFound", static_cast<int>(findings.found.size())},
        {"responseToLastMs", times},
        {"summary", Text(ScanFindingsText(findings))},
    };
}

QJsonArray AnsweringControllersJson(const LineStatistics& scan, const Protocol& protocol) {
    QJsonArray controllers;
    for (const ControllerStatistics& controller : scan.Controllers()) {
        if (controller.Missing() < controller.requests) {
            controllers.append(ControllerJson(controller, scan.AnswerWindow(), protocol));
        }
    }
    return controllers;
}

QJsonObject LineJson(const LineStatistics& statistics,
                     const std::optional<UartErrorCounts>& driverErrors) {
    QJsonValue errors = QJsonValue::Null;
    if (driverErrors) {
        errors = QJsonObject{{"framing", static_cast<qint64>(driverErrors->framing)},
                             {"parity", static_cast<qint64>(driverErrors->parity)},
                             {"overrun", static_cast<qint64>(driverErrors->overrun)},
                             {"break", static_cast<qint64>(driverErrors->breaks)}};
    }
    return QJsonObject{{"exchanges", statistics.Exchanges()},
                       {"good", statistics.Good()},
                       {"successRate", Rounded(statistics.SuccessRate(), 1)},
                       {"exchangesPerSecond", Rounded(statistics.ExchangesPerSecond(), 2)},
                       {"longestFailureRun", statistics.LongestFailureRun()},
                       {"driverErrors", errors}};
}

QJsonObject AnalysisJson(const AnalysisReport& report) {
    QJsonArray controllers;
    for (int index = 0; index < kAddressCount; ++index) {
        const ErrorTally& tally = report.tally[index];
        if (tally.total == 0) {
            continue;
        }
        // The analysis's own verdict: a controller whose every failure was a missing answer is
        // dead, the others suffer from noise.
        const bool dead = tally.noAnswerCount == tally.total;
        controllers.append(QJsonObject{
            {"address", Latin1(std::string(1, AddressCharacter(index)))},
            {"errors", tally.total},
            {"noAnswer", tally.noAnswerCount},
            {"wrongCount", tally.wrongCount},
            {"noCr", tally.crCount},
            {"verdict", dead ? "Isn't working" : "Ther is noise on line !"},
        });
    }
    return QJsonObject{{"records", report.records},
                       {"skipped", report.skipped},
                       {"controllers", controllers},
                       {"report", TextsJson(report.lines)}};
}

QJsonArray TextsJson(const std::vector<std::string>& texts) {
    QJsonArray array;
    for (const std::string& text : texts) {
        array.append(Latin1(text));
    }
    return array;
}

std::string JsonText(const QJsonObject& document) {
    return QJsonDocument(document).toJson(QJsonDocument::Indented).toStdString();
}

void AddProvenance(QJsonObject& document, const Provenance& provenance) {
    document.insert("program", QJsonObject{{"name", "line-tarvel-cli"}, {"version", kVersion}});
    document.insert("started", Text(Iso8601(provenance.started)));
    document.insert("ended", Text(Iso8601(provenance.ended)));
    if (!provenance.line) {
        return;
    }
    const LineDescription& line = *provenance.line;
    document.insert("port",
                    QJsonObject{{"device", Text(line.device)},
                                {"entry", line.entry.empty() ? QJsonValue(QJsonValue::Null)
                                                             : QJsonValue(Text(line.entry))}});
    document.insert("settings", QJsonObject{{"baud", line.baud},
                                            {"parity", Text(ParityName(line.parity))},
                                            {"dataBits", line.dataBits},
                                            {"stopBits", line.stopBits},
                                            {"retry", line.retry}});
    if (provenance.line) {
        document.insert("dropped", static_cast<qint64>(provenance.dropped));
    }
    if (provenance.echo) {
        document.insert("echo", provenance.echo->echoes);
        if (provenance.echo->echoes) {
            document.insert(
                "echoFaults",
                QJsonObject{{"differed", static_cast<qint64>(provenance.echo->differed)},
                            {"missing", static_cast<qint64>(provenance.echo->missing)}});
        }
    }
}

std::string ProvenanceStart(const std::string& command, const LocalDateTime& started,
                            const std::optional<LineDescription>& line) {
    std::string text = std::string("line-tarvel-cli ") + kVersion + ", " + command;
    if (line) {
        text += " on " + PortText(*line) + " at " + SettingsSummary(*line);
    }
    return text + ", from " + Iso8601(started);
}

std::string ProvenanceLine(const std::string& command, const Provenance& provenance) {
    return ProvenanceStart(command, provenance.started, provenance.line) + " to " +
           Iso8601(provenance.ended);
}

QJsonArray RecordsJson(const std::vector<TimedRecord>& records) {
    QJsonArray array;
    for (const TimedRecord& record : records) {
        array.append(
            QJsonObject{{"text", Latin1(record.text)}, {"dateTime", Text(Iso8601(record.at))}});
    }
    return array;
}

}  // namespace tarvel
