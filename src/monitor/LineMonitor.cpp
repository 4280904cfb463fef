#include "monitor/LineMonitor.h"

#include "core/AsconFrame.h"

namespace tarvel {

LineMonitor::LineMonitor(const Clock& clock, CharacterTimeSource characterTime,
                         ErrorCountSource errorCounts, std::size_t trafficCapacity)
    : clock_(clock),
      characterTime_(std::move(characterTime)),
      errorCounts_(std::move(errorCounts)),
      traffic_(trafficCapacity) {}

void LineMonitor::CycleListener::RunStarted(int) { monitor_.Began(AnswerWindow); }

void LineMonitor::ScanListener::ScanStarted() { monitor_.Began(ScanAnswerWindow); }

void LineMonitor::Began(Duration answerWindow) {
    statistics_.Begin(clock_.Now(), characterTime_ ? characterTime_() : Duration{0}, answerWindow);
    countsAtStart_ = errorCounts_ ? errorCounts_() : std::nullopt;
    if (lineSource_) {
        line_ = std::make_shared<const LineDescription>(lineSource_());
    }
    running_ = true;
    ++revision_;
}

void LineMonitor::Written() { requestWritten_ = clock_.LocalNow(); }

void LineMonitor::Judged(const Exchange& exchange) {
    if (!statistics_.Begun()) {
        // Counting goes on after "Res" in the middle of a run, from that moment.
        statistics_.Begin(clock_.Now(), characterTime_ ? characterTime_() : Duration{0},
                          statistics_.AnswerWindow());
    }
    statistics_.Add(exchange);
    traffic_.Add(exchange, statistics_.Start(), requestWritten_, line_);
    ++revision_;
}

void LineMonitor::Ended() {
    running_ = false;
    ++revision_;
}

void LineMonitor::Reset() {
    const Duration window = statistics_.AnswerWindow();
    statistics_.Clear();
    if (running_) {
        statistics_.Begin(clock_.Now(), characterTime_ ? characterTime_() : Duration{0}, window);
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

}  // namespace tarvel
