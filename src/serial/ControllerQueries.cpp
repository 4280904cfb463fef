// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/ControllerQueries.h"

#include "core/Verdict.h"
#include "platform/Waits.h"
#include "protocol/modbus/ModbusCounters.h"
#include "serial/LineExchange.h"
#include "serial/ReceiveAnswer.h"

namespace tarvel {
namespace {

// A question's answer, as its bytes without the frame's check; or why there is none.
struct Asked {
    std::optional<std::string> bytes;
    std::string failure;
    bool heard = false;  // something came back, good or not: a controller is there
};

bool Stopped(const Primo& primo) { return primo.StopFlag == kTrue; }

QCoro::Task<Asked> Ask(PortService& port, Primo& primo, std::string question) {
    const Protocol& protocol = port.LineProtocol();
    // A test exchange's timings: the silence a controller needs between frames (the terminal's
    // one frame needs none), and the answer window the operator chose.
    const ExchangeTimings timings = port.TimingsOf(ExchangeKind::Test);
    Request request;
    request.frame = protocol.TerminalFrame(question);
    Asked asked;
    for (int attempt = 0; attempt <= std::max<int>(0, primo.RetryCount); ++attempt) {
        if (attempt > 0 && Stopped(primo)) {
            break;
        }
        co_await Pause(port.Time(), timings.pause);
        primo.RequestText = question;
        port.Line().OutputRequest(request.frame,
                                  AnswerMayRepeat(protocol, request, ExchangeKind::Terminal));
        const TerminalAnswer answer = co_await ReceiveTerminalAnswer(port, timings.window, request);
        if (!port.Line().PortOpen()) {
            asked.failure = "the serial line failed: " + port.Line().LastError();
            co_return asked;
        }
        if (answer.verdict == ExchangeVerdict::Good) {
            asked.bytes = protocol.AnswerBytes(answer.answer);
            asked.failure.clear();
            co_return asked;
        }
        asked.failure = answer.shown;
        asked.heard = asked.heard || answer.verdict != ExchangeVerdict::NoAnswer;
    }
    co_return asked;
}

}  // namespace

std::optional<double> CounterReading::CrcRate() const {
    // The bus messages and the CRC errors are the first two counters read.
    if (values.size() < 2 || !values[0] || !values[1]) {
        return std::nullopt;
    }
    return modbus::CrcErrorsPerThousand(*values[1], *values[0]);
}

QCoro::Task<std::vector<CounterReading>> ReadControllerCounters(
    PortService& port, Primo& primo, std::vector<Station> stations, bool clear,
    std::function<void(std::size_t)> asking) {
    using namespace modbus;
    std::vector<CounterReading> readings(stations.size());
    // A controller that gave nothing back to its first question, or refused them all, is asked
    // nothing more: eight windows for a silent address would tell nothing. One whose answer was
    // spoiled is there, and asked on.
    std::vector<bool> done(stations.size(), false);
    for (std::size_t i = 0; i < stations.size(); ++i) {
        readings[i].station = stations[i];
        readings[i].values.assign(ControllerCounters().size(), std::nullopt);
    }
    for (std::size_t i = 0; clear && i < stations.size() && !Stopped(primo); ++i) {
        if (asking) {
            asking(i);
        }
        const std::string request = DiagnosticsRequest(stations[i], ClearCountersSubFunction);
        const Asked asked = co_await Ask(port, primo, request);
        if (!asked.bytes) {
            readings[i].failure = asked.failure;
            done[i] = !asked.heard;  // one whose answer was spoiled is still read
            continue;
        }
        const std::optional<CounterAnswer> answer = ReadCounterAnswer(request, *asked.bytes);
        if (answer && answer->exceptionCode) {
            readings[i].clearRefusal = answer->exceptionCode;
        } else {
            readings[i].cleared = answer.has_value();
        }
    }
    for (std::size_t kind = 0; kind < ControllerCounters().size(); ++kind) {
        const int subFunction = ControllerCounters()[kind].subFunction;
        for (std::size_t i = 0; i < stations.size(); ++i) {
            if (done[i]) {
                continue;
            }
            if (Stopped(primo) || !port.Line().PortOpen()) {
                co_return readings;
            }
            if (asking) {
                asking(i);
            }
            const std::string request = DiagnosticsRequest(stations[i], subFunction);
            const Asked asked = co_await Ask(port, primo, request);
            CounterReading& reading = readings[i];
            reading.readAt = port.Time().LocalNow();
            const std::optional<CounterAnswer> answer =
                asked.bytes ? ReadCounterAnswer(request, *asked.bytes) : std::nullopt;
            if (!answer) {
                if (reading.failure.empty()) {
                    reading.failure = asked.bytes ? "an answer to another question" : asked.failure;
                }
                done[i] = kind == 0 && !asked.heard && !asked.bytes;
                continue;
            }
            if (answer->exceptionCode && kind == 0) {
                // Without the bus message count there is nothing to compare the others with: the
                // controller keeps none of the line's counters, or tells none.
                reading.refusal = answer->exceptionCode;
                done[i] = true;
                continue;
            }
            reading.values[kind] = answer->value;
        }
    }
    co_return readings;
}

QCoro::Task<IdentityReading> ReadControllerIdentity(PortService& port, Primo& primo,
                                                    Station station) {
    using namespace modbus;
    IdentityReading reading;
    reading.station = station;
    const std::string serverRequest = ServerIdRequest(station);
    const Asked server = co_await Ask(port, primo, serverRequest);
    if (!server.bytes) {
        reading.failure = server.failure;
        co_return reading;
    }
    if (const auto read = ReadServerIdAnswer(serverRequest, *server.bytes)) {
        reading.serverId = read->serverId;
    }
    // The basic objects come in one answer or a few; a controller that keeps saying more
    // follows is not asked for ever.
    int from = 0;
    for (int round = 0; round < 4 && !Stopped(primo); ++round) {
        const std::string request = DeviceIdRequest(station, from);
        const Asked asked = co_await Ask(port, primo, request);
        if (!asked.bytes) {
            reading.failure = asked.failure;
            break;
        }
        const std::optional<DeviceIdAnswerRead> read = ReadDeviceIdAnswer(request, *asked.bytes);
        if (!read || read->exceptionCode) {
            break;
        }
        if (!reading.device) {
            reading.device.emplace();
        }
        AddObjects(*reading.device, read->objects);
        if (!read->moreFollows || read->nextObjectId <= from) {
            break;
        }
        from = read->nextObjectId;
    }
    co_return reading;
}

}  // namespace tarvel
