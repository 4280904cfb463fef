#include "monitor/LineStatistics.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tarvel {
namespace {

double Percent(int part, int whole) { return whole == 0 ? 0.0 : 100.0 * part / whole; }

void CountInMinute(std::vector<int>& minutes, std::size_t minute) {
    if (minutes.size() <= minute) {
        minutes.resize(minute + 1, 0);
    }
    ++minutes[minute];
}

}  // namespace

void ResponseTimes::Add(Duration time) {
    if (time < Duration{0}) {
        time = Duration{0};
    }
    const auto rounded = (time + Resolution / 2) / Resolution;
    const int bin = static_cast<int>(std::min<std::int64_t>(rounded, Bins - 1));
    if (bins_.empty()) {
        bins_.assign(Bins, 0);
        minimum_ = maximum_ = time;
        lowestBin_ = highestBin_ = bin;
    }
    ++bins_[bin];
    ++count_;
    sum_ += time;
    minimum_ = std::min(minimum_, time);
    maximum_ = std::max(maximum_, time);
    lowestBin_ = std::min(lowestBin_, bin);
    highestBin_ = std::max(highestBin_, bin);
}

Duration ResponseTimes::Mean() const { return count_ == 0 ? Duration{0} : sum_ / count_; }

Duration ResponseTimes::Percentile(double share) const {
    if (count_ == 0) {
        return Duration{0};
    }
    const auto rank = std::max<std::int64_t>(
        1, static_cast<std::int64_t>(std::ceil(share * static_cast<double>(count_) - 1e-9)));
    std::int64_t seen = 0;
    for (int bin = lowestBin_; bin <= highestBin_; ++bin) {
        seen += bins_[bin];
        if (seen >= rank) {
            return bin == Bins - 1 ? maximum_ : bin * Resolution;
        }
    }
    return maximum_;
}

double ControllerStatistics::SuccessRate() const { return Percent(good, requests); }

void LineStatistics::Begin(Instant start, Duration characterTime, Duration answerWindow) {
    Clear();
    begun_ = true;
    start_ = lastVerdict_ = start;
    characterTime_ = characterTime;
    answerWindow_ = answerWindow;
}

void LineStatistics::Clear() {
    controllers_.clear();
    slotOf_ = EmptySlots();
    begun_ = false;
    exchanges_ = good_ = failureRun_ = longestFailureRun_ = 0;
    failuresByMinute_.clear();
}

ControllerStatistics& LineStatistics::Slot(char address) {
    std::int16_t& slot = slotOf_[static_cast<unsigned char>(address)];
    if (slot < 0) {
        slot = static_cast<std::int16_t>(controllers_.size());
        controllers_.emplace_back().address = address;
    }
    return controllers_[slot];
}

const ControllerStatistics* LineStatistics::Find(char address) const {
    const std::int16_t slot = slotOf_[static_cast<unsigned char>(address)];
    return slot < 0 ? nullptr : &controllers_[slot];
}

void LineStatistics::Add(const Exchange& exchange) {
    ControllerStatistics& controller = Slot(exchange.request.address);
    ++controller.requests;
    ++exchanges_;
    lastVerdict_ = std::max(lastVerdict_, exchange.judged);
    switch (exchange.verdict) {
        case ExchangeVerdict::Good: {
            ++controller.good;
            ++good_;
            failureRun_ = 0;
            controller.lastGood = exchange.timeOfDay;
            const Instant requestEnd =
                exchange.request.written +
                characterTime_ * static_cast<std::int64_t>(exchange.request.frame.size());
            if (exchange.firstArrival) {
                controller.toFirst.Add(*exchange.firstArrival - requestEnd);
            }
            if (exchange.lastArrival) {
                controller.toLast.Add(*exchange.lastArrival - requestEnd);
            }
            return;
        }
        case ExchangeVerdict::NoAnswer: ++controller.noAnswer; break;
        case ExchangeVerdict::WrongCount: ++controller.wrongCount; break;
        case ExchangeVerdict::NoCr: ++controller.noCr; break;
        case ExchangeVerdict::NotDetected: ++controller.notDetected; break;
        case ExchangeVerdict::UnknownFormat: ++controller.unknownFormat; break;
    }
    longestFailureRun_ = std::max(longestFailureRun_, ++failureRun_);
    const auto minute =
        static_cast<std::size_t>(std::max<Duration>(exchange.judged - start_, Duration{0}) / 1min);
    CountInMinute(failuresByMinute_, minute);
    CountInMinute(controller.failuresByMinute, minute);
}

double LineStatistics::SuccessRate() const { return Percent(good_, exchanges_); }

double LineStatistics::ExchangesPerSecond() const {
    const double seconds = std::chrono::duration<double>(lastVerdict_ - start_).count();
    return seconds <= 0 ? 0.0 : exchanges_ / seconds;
}

Assessment Assess(const ControllerStatistics& controller, Duration answerWindow) {
    char text[200];
    if (controller.requests == 0) {
        return {Judgement::NotAsked, "No exchange with this controller yet."};
    }
    if (controller.Garbled() > 0) {
        std::snprintf(text, sizeof text,
                      "%d of %d exchanges brought an answer with the wrong number of characters or "
                      "no carriage return: the sign of noise on the line.",
                      controller.Garbled(), controller.requests);
        return {Judgement::Garbled, text};
    }
    if (controller.good == 0) {
        std::snprintf(text, sizeof text, "No answer to any of %d requests.", controller.requests);
        return {Judgement::Silent, text};
    }
    if (controller.Missing() > 0) {
        std::snprintf(text, sizeof text,
                      "%d of %d requests got no answer in time; every answer that came was good.",
                      controller.Missing(), controller.requests);
        return {Judgement::Intermittent, text};
    }
    const Duration slowFrom =
        std::chrono::duration_cast<Duration>(answerWindow * JudgementThresholds::SlowShareOfWindow);
    const Duration percentile = controller.toLast.Percentile(JudgementThresholds::SlowPercentile);
    if (controller.toLast.Count() > 0 && percentile > slowFrom) {
        std::snprintf(text, sizeof text,
                      "Every answer was good, but %.0f %% of them took up to %s ms to complete, "
                      "more than %s ms (%.0f %% of the %s ms answer window).",
                      JudgementThresholds::SlowPercentile * 100, Milliseconds(percentile).c_str(),
                      Milliseconds(slowFrom).c_str(), JudgementThresholds::SlowShareOfWindow * 100,
                      Milliseconds(answerWindow).c_str());
        return {Judgement::Slow, text};
    }
    std::snprintf(text, sizeof text, "All %d exchanges were good.", controller.requests);
    return {Judgement::Healthy, text};
}

std::string JudgementName(Judgement judgement) {
    switch (judgement) {
        case Judgement::NotAsked: return "-";
        case Judgement::Healthy: return "healthy";
        case Judgement::Silent: return "silent";
        case Judgement::Intermittent: return "intermittent";
        case Judgement::Garbled: return "garbled";
        case Judgement::Slow: return "slow";
    }
    return "-";
}

std::string Milliseconds(Duration time) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f",
                  std::chrono::duration<double, std::milli>(time).count());
    return text;
}

}  // namespace tarvel
