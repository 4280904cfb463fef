// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "lines/SerialLine.h"

namespace tarvel {

// A serial line in front of another that hands every operation on to it, the port control and
// the diagnostics included, and passes its notifications on. A filter overrides only what it
// changes: whatever it leaves alone, it can neither drop nor get wrong.
class LineFilter : public SerialLine {
public:
    explicit LineFilter(SerialLine& below) : below_(below) {
        inputSubscription_ = below_.InputActivity().Subscribe([this] { InputBelow(); });
        outputSubscription_ = below_.OutputActivity().Subscribe([this] { OutputBelow(); });
    }
    LineFilter(const LineFilter&) = delete;
    LineFilter& operator=(const LineFilter&) = delete;

    bool SetCommPort(std::int16_t number) override { return below_.SetCommPort(number); }
    bool SetSettings(std::string_view settingsText) override {
        return below_.SetSettings(settingsText);
    }
    bool SetInputLen(std::int16_t length) override { return below_.SetInputLen(length); }
    bool SetPortOpen(bool open) override { return below_.SetPortOpen(open); }
    bool PortOpen() const override { return below_.PortOpen(); }
    void Output(std::string_view text) override { below_.Output(text); }
    std::string Input() override { return below_.Input(); }
    std::string InputFirst(int count) override { return below_.InputFirst(count); }
    std::string Peek(int count) const override { return below_.Peek(count); }
    int InBufferCount() override { return below_.InBufferCount(); }
    int OutBufferCount() override { return below_.OutBufferCount(); }
    std::optional<Instant> ArrivalOf(int index) const override { return below_.ArrivalOf(index); }
    std::string LastError() const override { return below_.LastError(); }
    QCoro::Task<bool> OpenAsync(Scheduler& scheduler) override {
        return below_.OpenAsync(scheduler);
    }
    QCoro::Task<bool> SetSettingsAsync(Scheduler& scheduler, std::string settingsText) override {
        return below_.SetSettingsAsync(scheduler, std::move(settingsText));
    }
    void PurgeReceived() override { below_.PurgeReceived(); }
    void LowerRequestToSend() override { below_.LowerRequestToSend(); }
    void Diagnose(LineDiagnostics& report) const override { below_.Diagnose(report); }

protected:
    SerialLine& Below() const { return below_; }

    // The line below may have characters, or was lost: readers of this line hear of it once
    // enough are waiting here.
    virtual void InputBelow() {
        if (InBufferCount() >= inputThreshold_.load() || !PortOpen()) {
            input_.Notify();
        }
    }
    virtual void OutputBelow() { output_.Notify(); }

private:
    SerialLine& below_;
    Notifier::Subscription inputSubscription_;
    Notifier::Subscription outputSubscription_;
};

}  // namespace tarvel
