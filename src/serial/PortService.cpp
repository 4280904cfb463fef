// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/PortService.h"

#include "lines/LineSettings.h"
#include "platform/Waits.h"

namespace tarvel {

std::string SettingsText(const Primo& primo) {
    return primo.BaudText + "," + primo.ParityText + "," + primo.DataBitsText + "," +
           primo.StopBitsText;
}

PortService::PortService(SerialLine& line, Primo& primo, Scheduler& scheduler,
                         const Protocol& protocol)
    : line_(line), primo_(primo), scheduler_(scheduler), protocol_(&protocol) {}

Duration PortService::CharacterTime() const {
    const std::optional<LineSettings> settings = ParseSettingsText(SettingsText(primo_));
    return tarvel::CharacterTime(settings.value_or(LineSettings{}));
}

ExchangeTimings PortService::TimingsOf(ExchangeKind kind) const {
    ExchangeTimings timings = protocol_->Timings(kind, CharacterTime());
    if (answerWindow_ && kind != ExchangeKind::Terminal) {
        timings.window = *answerWindow_;
    }
    return timings;
}

void PortService::ClosePort() {
    if (line_.PortOpen()) {
        line_.SetPortOpen(false);
    }
}

bool PortService::OpenPort() {
    ClosePort();
    const bool opened = line_.SetCommPort(primo_.PortNumber) &&
                        line_.SetSettings(SettingsText(primo_)) && line_.SetInputLen(0) &&
                        line_.SetPortOpen(true);
    openFailure_ = opened ? std::string() : line_.LastError();
    return !opened;
}

QCoro::Task<bool> PortService::OpenPortAsync() {
    ClosePort();
    const bool set = line_.SetCommPort(primo_.PortNumber) &&
                     line_.SetSettings(SettingsText(primo_)) && line_.SetInputLen(0);
    // Not `set && co_await ...`: g++ 12 miscompiles a co_await in a short-circuit operand.
    bool opened = false;
    if (set) {
        opened = co_await line_.OpenAsync(scheduler_);
    }
    openFailure_ = opened ? std::string() : line_.LastError();
    co_return !opened;
}

QCoro::Task<> PortService::SettleLine() {
    // What the settle drops has no stamps left to count a silence from: the next request keeps
    // its whole pause.
    lastHeard_.reset();
    // A serial device server's buffer is cleared with the host's.
    line_.PurgeReceived();
    line_.Input();
    line_.Output(protocol_->SettleFrame());
    co_await PauseUntil(scheduler_, scheduler_.Now() + protocol_->SettleTime(CharacterTime()));
    line_.PurgeReceived();
    line_.Input();
}

}  // namespace tarvel
