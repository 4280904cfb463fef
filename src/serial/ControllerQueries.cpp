// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/ControllerQueries.h"

#include "core/Verdict.h"
#include "platform/Waits.h"
#include "protocol/modbus/ModbusCounters.h"
#include "serial/Terminal.h"

namespace tarvel {
namespace {

// A question's answer, as its bytes without the frame's check; or why there is none.
struct Asked {
    std::optional<std::string> bytes;
    std::string failure;
};

QCoro::Task<Asked> Ask(PortService& port, Primo& primo, std::string request) {
    const Protocol& protocol = port.LineProtocol();
    Asked asked;
    for (int attempt = 0; attempt <= std::max<int>(0, primo.RetryCount); ++attempt) {
        co_await Pause(port.Time(), port.TimingsOf(ExchangeKind::Terminal).pause);
        const TerminalAnswer answer = co_await SendTerminalExchange(port, primo, request, {});
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
        if (primo.StopFlag == kTrue) {
            break;
        }
    }
    co_return asked;
}

bool Stopped(const Primo& primo) { return primo.StopFlag == kTrue; }

}  // namespace

std::optional<double> CounterReading::CrcRate() const {
    // The bus messages and the CRC errors are the first two counters read.
    if (values.size() < 2 || !values[0] || !values[1]) {
        return std::nullopt;
    }
    return modbus::CrcErrorsPerThousand(*values[1], *values[0]);
}

QCoro::Task<CounterReading> ReadControllerCounters(PortService& port, Primo& primo, Station station,
                                                   bool clear) {
    using namespace modbus;
    CounterReading reading;
    reading.station = station;
    reading.values.assign(ControllerCounters().size(), std::nullopt);
    if (clear) {
        const std::string request = DiagnosticsRequest(station, ClearCountersSubFunction);
        const Asked asked = co_await Ask(port, primo, request);
        reading.readAt = port.Time().LocalNow();
        if (!asked.bytes) {
            reading.failure = asked.failure;
            co_return reading;
        }
        const std::optional<CounterAnswer> answer = ReadCounterAnswer(request, *asked.bytes);
        if (answer && answer->exceptionCode) {
            reading.refusal = answer->exceptionCode;
            co_return reading;
        }
        reading.cleared = answer.has_value();
    }
    for (std::size_t i = 0; i < ControllerCounters().size(); ++i) {
        if (Stopped(primo)) {
            reading.failure = "stopped";
            break;
        }
        const std::string request =
            DiagnosticsRequest(station, ControllerCounters()[i].subFunction);
        const Asked asked = co_await Ask(port, primo, request);
        reading.readAt = port.Time().LocalNow();
        if (!asked.bytes) {
            reading.failure = asked.failure;
            break;
        }
        const std::optional<CounterAnswer> answer = ReadCounterAnswer(request, *asked.bytes);
        if (!answer) {
            reading.failure = "an answer to another question";
            break;
        }
        if (answer->exceptionCode && i == 0) {
            // Without the bus message count there is nothing to compare the others with: the
            // controller keeps none of the line's counters, or tells none.
            reading.refusal = answer->exceptionCode;
            break;
        }
        reading.values[i] = answer->value;
    }
    co_return reading;
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
