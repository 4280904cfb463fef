// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/LineMonitor.h"

namespace tarvel {

LineMonitor::LineMonitor(const Clock& clock, CharacterTimeSource characterTime,
                         ErrorCountSource errorCounts, std::size_t trafficCapacity)
    : clock_(clock),
      characterTime_(std::move(characterTime)),
      errorCounts_(std::move(errorCounts)),
      traffic_(trafficCapacity) {}

void LineMonitor::CycleListener::RunStarted(int) {
    monitor_.Began(monitor_.run_, monitor_.WindowOf(ExchangeKind::Test), Activity::Run);
}

void LineMonitor::ScanListener::ScanStarted() {
    monitor_.Began(monitor_.scan_, monitor_.WindowOf(ExchangeKind::Probe), Activity::Scan);
}

void LineMonitor::Began(LineStatistics& statistics, Duration answerWindow, Activity activity) {
    current_ = &statistics;
    activity_ = activity;
    if (current_ == &run_) {
        runActivity_ = activity;
    }
    statistics.Begin(clock_.Now(), characterTime_ ? characterTime_() : Duration{0}, answerWindow);
    statistics.CountVerdicts(LineProtocol().Verdicts());
    std::shared_ptr<const LineDescription>& line = current_ == &run_ ? runLine_ : scanLine_;
    if (lineSource_) {
        line = std::make_shared<const LineDescription>(lineSource_());
    }
    // The driver's counts belong to the line's health: only a run starts them again.
    if (current_ == &run_) {
        countsAtStart_ = errorCounts_ ? errorCounts_() : std::nullopt;
        echoAtStart_ = echoSource_ ? echoSource_() : std::nullopt;
    }
    running_ = true;
    ++revision_;
}

void LineMonitor::Written() { requestWritten_ = clock_.LocalNow(); }

void LineMonitor::Judged(const Exchange& exchange) {
    LineStatistics& statistics = *current_;
    if (!statistics.Begun()) {
        // Counting goes on after "Res" in the middle of a run, from that moment.
        statistics.Begin(clock_.Now(), characterTime_ ? characterTime_() : Duration{0},
                         statistics.AnswerWindow());
        if (!running_) {
            statistics.CountVerdicts(LineProtocol().Verdicts());
        }
    }
    statistics.Add(exchange);
    traffic_.Add(exchange, statistics.Start(), requestWritten_,
                 current_ == &run_ ? runLine_ : scanLine_, activity_);
    ++revision_;
}

void LineMonitor::Ended() {
    running_ = false;
    current_ = &run_;
    activity_ = runActivity_;
    ++revision_;
}

void LineMonitor::Reset() {
    const Duration window = run_.AnswerWindow();
    run_.Clear();
    if (running_ && current_ == &run_) {
        run_.Begin(clock_.Now(), characterTime_ ? characterTime_() : Duration{0}, window);
    }
    traffic_.Clear();
    ++revision_;
}

std::optional<UartErrorCounts> LineMonitor::ErrorsSinceStart() const {
    if (!countsAtStart_ || !errorCounts_) {
        return std::nullopt;
    }
    const std::optional<UartErrorCounts> now = errorCounts_();
    if (!now) {
        return std::nullopt;
    }
    return UartErrorCounts{
        now->framing - countsAtStart_->framing, now->parity - countsAtStart_->parity,
        now->overrun - countsAtStart_->overrun, now->breaks - countsAtStart_->breaks};
}

std::optional<EchoReport> LineMonitor::EchoSinceStart() const {
    const std::optional<EchoReport> now = echoSource_ ? echoSource_() : std::nullopt;
    if (!now) {
        return std::nullopt;
    }
    const EchoReport start = echoAtStart_.value_or(EchoReport{});
    return EchoReport{now->echoes, now->removed - start.removed, now->differed - start.differed,
                      now->missing - start.missing, now->undecided - start.undecided};
}

}  // namespace tarvel
