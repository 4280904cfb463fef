// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/LineStatistics.h"

#include <algorithm>
#include <cmath>
#include <string>

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
            // A bin's time is rounded; the extremes are exact and bound it.
            return bin == Bins - 1 ? maximum_ : std::clamp(bin * Resolution, minimum_, maximum_);
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
    slotOf_.clear();
    begun_ = false;
    exchanges_ = good_ = failureRun_ = longestFailureRun_ = 0;
    failuresByMinute_.clear();
}

ControllerStatistics& LineStatistics::Slot(const Request& request) {
    const auto [slot, added] = slotOf_.try_emplace(request.station, controllers_.size());
    if (added) {
        ControllerStatistics& controller = controllers_.emplace_back();
        controller.station = request.station;
        controller.address = request.stationText;
    }
    return controllers_[slot->second];
}

const ControllerStatistics* LineStatistics::Find(Station station) const {
    const auto slot = slotOf_.find(station);
    return slot == slotOf_.end() ? nullptr : &controllers_[slot->second];
}

void LineStatistics::Add(const Exchange& exchange) {
    ControllerStatistics& controller = Slot(exchange.request);
    ++controller.requests;
    controller.requestTime =
        characterTime_ * static_cast<std::int64_t>(exchange.request.frame.size());
    ++exchanges_;
    lastVerdict_ = std::max(lastVerdict_, exchange.judged);
    const bool ascon = exchange.family == VerdictFamily::Ascon;
    switch (exchange.verdict) {
        case ExchangeVerdict::Good: {
            ++controller.good;
            ++good_;
            if (exchange.exceptionCode) {
                ++controller.exceptions;
                ++controller.exceptionCodes[*exchange.exceptionCode];
            }
            failureRun_ = 0;
            controller.lastGood = exchange.judgedAt;
            const Instant requestEnd = exchange.request.written + controller.requestTime;
            if (exchange.firstArrival) {
                controller.toFirst.Add(*exchange.firstArrival - requestEnd);
            }
            if (exchange.lastArrival) {
                controller.toLast.Add(*exchange.lastArrival - requestEnd);
            }
            return;
        }
        // Ascon's line detector keeps columns of its own, as its words differ.
        case ExchangeVerdict::NoAnswer:
            ++(ascon && exchange.kind == ExchangeKind::Probe ? controller.notDetected
                                                             : controller.noAnswer);
            break;
        case ExchangeVerdict::WrongCount: ++controller.wrongCount; break;
        case ExchangeVerdict::NoCr:
            ++(ascon && exchange.kind != ExchangeKind::Test ? controller.unknownFormat
                                                            : controller.noCr);
            break;
        case ExchangeVerdict::BadCrc: ++controller.badCrc; break;
        case ExchangeVerdict::WrongLength: ++controller.wrongLength; break;
        case ExchangeVerdict::WrongSource: ++controller.wrongSource; break;
        case ExchangeVerdict::Cut: ++controller.cut; break;
        case ExchangeVerdict::BadLrc: ++controller.badLrc; break;
        case ExchangeVerdict::NotHex: ++controller.notHex; break;
        case ExchangeVerdict::NoLf: ++controller.noLf; break;
        case ExchangeVerdict::OddLength: ++controller.oddLength; break;
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

namespace {

// From the end of the request: what the window leaves the controller for its answer.
Duration SlowFrom(const ControllerStatistics& controller, Duration answerWindow) {
    const Duration left = std::max(answerWindow - controller.requestTime, Duration{0});
    return std::chrono::duration_cast<Duration>(left * JudgementThresholds::SlowShareOfWindow);
}

std::string Percent(double share) { return std::to_string(std::lround(share * 100)) + " %"; }

}  // namespace

Assessment Assess(const ControllerStatistics& controller, Duration answerWindow) {
    if (controller.requests == 0) {
        return {Judgement::NotAsked, "No exchange with this controller yet."};
    }
    const std::string ofAll = " of " + std::to_string(controller.requests);
    if (controller.Garbled() > 0) {
        const bool framedByEnd =
            controller.wrongCount + controller.noCr + controller.unknownFormat > 0;
        const bool framedAsText =
            controller.badLrc + controller.notHex + controller.noLf + controller.oddLength > 0;
        const char* what =
            framedByEnd    ? " brought an answer with the wrong number of characters or no "
                             "carriage return: the sign of noise on the line."
            : framedAsText ? " brought an answer with an LRC error, characters that are not "
                             "hexadecimal, no LF, an odd length, the wrong length, cut short or "
                             "from another address: the sign of noise on the line."
                           : " brought an answer with a CRC error, of the wrong length, cut "
                             "short or from another address: the sign of noise on the line.";
        return {Judgement::Garbled, std::to_string(controller.Garbled()) + ofAll +
                                        (controller.requests == 1 ? " exchange" : " exchanges") +
                                        what};
    }
    if (controller.good == 0) {
        return {Judgement::Silent,
                controller.requests == 1
                    ? std::string("No answer to its only request.")
                    : "No answer to any of " + std::to_string(controller.requests) + " requests."};
    }
    const Duration slowFrom = SlowFrom(controller, answerWindow);
    const Duration percentile = controller.toLast.Percentile(JudgementThresholds::SlowPercentile);
    const bool late = controller.toLast.Count() > 0 && percentile > slowFrom;
    // "95 % of them took up to 170.2 ms to complete, more than 145.3 ms (75 % of the 193.8 ms
    // the answer window leaves after the request)"
    const std::string lateness =
        Percent(JudgementThresholds::SlowPercentile) + " of them took up to " +
        Milliseconds(percentile) + " ms to complete, more than " + Milliseconds(slowFrom) +
        " ms (" + Percent(JudgementThresholds::SlowShareOfWindow) + " of the " +
        Milliseconds(std::max(answerWindow - controller.requestTime, Duration{0})) +
        " ms the answer window leaves after the request)";
    if (controller.Missing() > 0) {
        // The controller that grows slower loses answers to the window first: say so.
        return {Judgement::Intermittent,
                std::to_string(controller.Missing()) + ofAll +
                    " requests got no answer in time; every answer that came was good" +
                    (late ? ", but " + lateness : std::string()) + "."};
    }
    if (late) {
        return {Judgement::Slow, "Every answer was good, but " + lateness + "."};
    }
    return {Judgement::Healthy,
            controller.requests == 1
                ? std::string("The only exchange was good.")
                : "All " + std::to_string(controller.requests) + " exchanges were good."};
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

namespace {

std::string Tenths(std::int64_t tenths) {
    const bool negative = tenths < 0;
    const std::uint64_t magnitude =
        negative ? 0 - static_cast<std::uint64_t>(tenths) : static_cast<std::uint64_t>(tenths);
    return (negative ? "-" : "") + std::to_string(magnitude / 10) + "." +
           std::to_string(magnitude % 10);
}

}  // namespace

std::string Milliseconds(Duration time) {
    constexpr std::int64_t tenth = std::chrono::duration_cast<Duration>(100us).count();
    const std::int64_t ns = time.count();
    return Tenths(ns >= 0 ? (ns + tenth / 2) / tenth : -((-ns + tenth / 2) / tenth));
}

std::string OneDecimal(double value) { return Tenths(std::llround(value * 10)); }

ScanFindings FindingsOf(const LineStatistics& scan) {
    ScanFindings findings;
    findings.addressesTried = static_cast<int>(scan.Controllers().size());
    for (const ControllerStatistics& controller : scan.Controllers()) {
        if (controller.good == 0) {
            continue;
        }
        findings.found.push_back(controller.address);
        const Duration fastest = controller.toLast.Minimum();
        const Duration slowest = controller.toLast.Maximum();
        findings.fastest = findings.fastest ? std::min(*findings.fastest, fastest) : fastest;
        findings.slowest = findings.slowest ? std::max(*findings.slowest, slowest) : slowest;
    }
    return findings;
}

std::string ScanFindingsText(const ScanFindings& findings) {
    const int tried = findings.addressesTried;
    std::string text =
        std::to_string(tried) + (tried == 1 ? " address" : " addresses") + " tried, ";
    if (findings.found.empty()) {
        return text + "no controller found";
    }
    const std::size_t found = findings.found.size();
    text += std::to_string(found) + (found == 1 ? " controller" : " controllers") + " found (";
    for (std::size_t i = 0; i < found; ++i) {
        text += (i == 0 ? "" : " ") + findings.found[i];
    }
    const std::string fastest = Milliseconds(*findings.fastest);
    const std::string slowest = Milliseconds(*findings.slowest);
    return text + "), response " + fastest + (slowest == fastest ? "" : "\u2013" + slowest) + " ms";
}

double FailuresPerMinute(int failures, Duration covered) {
    if (covered >= std::chrono::minutes(1)) {
        return failures;
    }
    return failures * 60.0 /
           std::chrono::duration<double>(std::max(covered, MinimumCovered)).count();
}

RunMinutes MinutesOf(Duration elapsed, std::size_t minutesCounted) {
    const Duration minute = std::chrono::minutes(1);
    const auto started = elapsed <= Duration{0} ? 0 : (elapsed + minute - Duration{1}) / minute;
    RunMinutes minutes;
    minutes.begun = std::max({std::size_t{1}, static_cast<std::size_t>(started), minutesCounted});
    minutes.coveredOfLast = std::clamp(
        elapsed - static_cast<Duration::rep>(minutes.begun - 1) * minute, Duration{0}, minute);
    return minutes;
}

}  // namespace tarvel
