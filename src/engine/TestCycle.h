// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoroTask>
#include <optional>
#include <string>
#include <vector>

#include "core/DeviceTable.h"
#include "core/Exchange.h"
#include "core/Primo.h"
#include "engine/CycleSink.h"
#include "serial/LineUse.h"
#include "serial/PortService.h"

namespace tarvel {

// The Ascon test cycle: sweep after sweep over the configured controllers, each asked up to
// 1 + RetryCount times, every exchange judged and reported to the sinks, every failure counted,
// until StopFlag is -1 (Stop, the error limit, or a line that failed). The cycle owns its
// numbers; what the operator sees of them is the sinks' business.
class TestCycle {
public:
    TestCycle(Primo& primo, PortService& port, const ControllerAddressTable& table);
    TestCycle(const TestCycle&) = delete;
    TestCycle& operator=(const TestCycle&) = delete;

    // Sinks are told in the order they were added; each must outlive the runs it hears of.
    void AddSink(CycleSink& sink) { sinks_.push_back(&sink); }

    // One run, from the first settle to "finished". It holds the line's lease until it returns,
    // so it runs only when nothing else uses the line.
    QCoro::Task<RunEnd> TxAscon(LineUse::Lease lease);

    // A run that is never to end by itself (a watch) goes on past ErrorLimit failures; they are
    // counted all the same.
    void IgnoreErrorLimit() { errorLimited_ = false; }

    // Failed exchanges since the last reset; a run stops when this reaches ErrorLimit.
    int Errors() const { return errors_; }
    // Sets the counter back to 0 and reports it; a run in progress goes on.
    void ResetErrors();

    bool Running() const { return running_; }
    // Running, but still in the settle that comes before StopFlag is cleared.
    bool StartingUp() const { return running_ && !started_; }
    int Position() const { return position_; }  // of the controller being asked
    int Attempt() const { return attempt_; }

private:
    QCoro::Task<> Sweep();
    // The exchange of one attempt, or nothing when the line failed.
    QCoro::Task<std::optional<Exchange>> Attempt(Request request);
    void CountFailure();
    void FailLine(std::string reason);
    template <typename Call>
    void Tell(Call call) {
        for (CycleSink* sink : sinks_) {
            call(*sink);
        }
    }

    Primo& primo_;
    PortService& port_;
    const ControllerAddressTable& table_;
    std::vector<CycleSink*> sinks_;

    int errors_ = 0;
    int position_ = 0;
    int attempt_ = 0;
    bool running_ = false;
    bool started_ = false;
    bool limitReached_ = false;
    bool errorLimited_ = true;
    std::string lineFailure_;
};

}  // namespace tarvel
