// SPDX-License-Identifier: GPL-3.0-or-later
// `counters`: what each Modbus controller counted of its bus, read from it, one row each.
#include <QJsonArray>
#include <QString>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <ostream>

#include "cli/CliSession.h"
#include "core/JsonText.h"
#include "protocol/modbus/ModbusCounters.h"
#include "protocol/modbus/ModbusFrame.h"
#include "serial/ControllerQueries.h"

namespace tarvel {
namespace {

using modbus::ControllerCounters;
using modbus::CounterKind;

std::string RefusalText(int code) {
    return "not supported: exception " + std::to_string(code) + " (" + modbus::ExceptionName(code) +
           ")";
}

// One row per controller, the counters under their names, right-aligned.
std::string CountersTable(const std::vector<CounterReading>& readings, const Protocol& protocol,
                          std::optional<std::size_t> marked) {
    std::vector<std::string> heads{"Address"};
    for (const CounterKind& kind : ControllerCounters()) {
        heads.push_back(kind.words);
    }
    heads.push_back("CRC errors per 1000");
    std::string table;
    for (const std::string& head : heads) {
        table += (table.empty() ? "" : "  ") + head;
    }
    table += "\n";
    const auto cell = [&heads](std::size_t column, const std::string& text) {
        const std::size_t width = std::max(heads[column].size(), text.size());
        return (column == 0 ? "" : "  ") + std::string(width - text.size(), ' ') + text;
    };
    for (std::size_t row = 0; row < readings.size(); ++row) {
        const CounterReading& reading = readings[row];
        std::string line = cell(0, protocol.StationText(reading.station));
        if (reading.refusal) {
            line += "  " + RefusalText(*reading.refusal);
        } else if (!reading.Answered() &&
                   std::none_of(reading.values.begin(), reading.values.end(),
                                [](const auto& v) { return v.has_value(); })) {
            line += "  " + reading.failure;
        } else {
            for (std::size_t i = 0; i < reading.values.size(); ++i) {
                line += cell(i + 1, reading.values[i] ? std::to_string(*reading.values[i]) : "-");
            }
            char rate[32] = "-";
            if (const std::optional<double> perThousand = reading.CrcRate()) {
                std::snprintf(rate, sizeof rate, "%.1f", *perThousand);
            }
            line += cell(heads.size() - 1, rate);
            if (!reading.Answered()) {
                line += "  (" + reading.failure + ")";
            }
            if (reading.clearRefusal) {
                line += "  (not cleared: exception " + std::to_string(*reading.clearRefusal) + ")";
            }
            if (marked == row) {
                line += "  <- CRC errors rise here";
            }
        }
        table += line + "\n";
    }
    return table;
}

QJsonObject ReadingJson(const CounterReading& reading) {
    QJsonObject counters;
    for (std::size_t i = 0; i < reading.values.size(); ++i) {
        counters.insert(ControllerCounters()[i].key,
                        reading.values[i] ? QJsonValue(*reading.values[i]) : QJsonValue());
    }
    const std::optional<double> rate = reading.CrcRate();
    QJsonObject object{
        {"address", reading.station},
        {"readAt", QString::fromStdString(Iso8601(reading.readAt))},
        {"cleared", reading.cleared},
        {"clearRefused", reading.clearRefusal ? QJsonValue(*reading.clearRefusal) : QJsonValue()},
        {"counters", reading.refusal ? QJsonValue() : QJsonValue(counters)},
        {"crcErrorsPerThousand", rate ? QJsonValue(Rounded(*rate, 2)) : QJsonValue()},
        {"notSupported",
         reading.refusal
             ? QJsonValue(QJsonObject{
                   {"exceptionCode", *reading.refusal},
                   {"exception", QString::fromStdString(modbus::ExceptionName(*reading.refusal))}})
             : QJsonValue()},
        {"failure", TextOrNull(reading.failure)},
    };
    return object;
}

}  // namespace

QCoro::Task<int> CliSession::Counters() {
    const bool opened = co_await OpenLine();
    if (!opened) {
        co_return kPortOrFileFailed;
    }
    const Protocol& protocol = port_.LineProtocol();
    if (!options_.json) {
        host_.out << ProvenanceStart("counters", started_, Line()) << "\n" << std::flush;
    }
    const LineUse::Lease lease = co_await lineUse_.Acquire();
    primo_.StopFlag = kFalse;
    StopIfAsked();
    // In address order, the order the rows and the mark take the cable in.
    std::vector<Station> stations = options_.addresses;
    std::sort(stations.begin(), stations.end());
    std::function<void(std::size_t)> asking = [this, &protocol, &stations](std::size_t i) {
        if (host_.progress) {
            ShowProgress(host_.err, "address " + protocol.StationText(stations[i]) + " (" +
                                        std::to_string(i + 1) + " of " +
                                        std::to_string(stations.size()) + ")");
        }
    };
    const std::vector<CounterReading> readings =
        co_await ReadControllerCounters(port_, primo_, stations, options_.clear, asking);
    if (host_.progress) {
        EndProgress(host_.err);
    }
    std::vector<std::optional<double>> rates;
    bool allAnswered = true;
    for (const CounterReading& reading : readings) {
        rates.push_back(reading.CrcRate());
        allAnswered = allAnswered && reading.Answered();
    }
    const std::optional<std::size_t> marked = modbus::FirstDropAboveMedian(rates);
    const Provenance provenance = MadeOf(true);
    const std::string lineFailure = port_.Line().PortOpen() ? "" : port_.Line().LastError();
    if (options_.json) {
        QJsonArray controllers;
        for (const CounterReading& reading : readings) {
            controllers.append(ReadingJson(reading));
        }
        QJsonObject document{
            {"command", "counters"},
            {"controllers", controllers},
            {"crcErrorsRiseAt", marked ? QJsonValue(readings[*marked].station) : QJsonValue()},
            {"stopped", !stopCause_.empty()},
            {"lineFailure", TextOrNull(lineFailure)},
        };
        AddProvenance(document, provenance);
        host_.out << JsonText(document);
    } else {
        host_.out << CountersTable(readings, protocol, marked);
        if (marked) {
            host_.out << "CRC errors per thousand bus messages first rise above the line's median "
                         "at address "
                      << protocol.StationText(readings[*marked].station)
                      << ": in address order, noise enters the cable near it.\n";
        }
        host_.out << (stopCause_.empty() ? "Counters of " : "Stopped by " + stopCause_ + ": ")
                  << Counted(static_cast<long>(readings.size()), "controller")
                  << (options_.clear ? " cleared and read" : " read") << ", ended "
                  << Iso8601(provenance.ended) << "\n";
    }
    if (const std::optional<int> failed = FailureStatus(lineFailure, true)) {
        co_return *failed;
    }
    co_return allAnswered && !readings.empty() ? kAllWell : kLineFailures;
}

}  // namespace tarvel
