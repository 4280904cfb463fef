// SPDX-License-Identifier: GPL-3.0-or-later
#include "watch/WatchMetrics.h"

#include <prometheus/counter.h>
#include <prometheus/family.h>
#include <prometheus/gauge.h>
#include <prometheus/histogram.h>
#include <prometheus/registry.h>
#include <prometheus/text_serializer.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <sstream>

#include "monitor/LineStatistics.h"

namespace tarvel {
namespace {

double Seconds(Duration time) { return std::chrono::duration<double>(time).count(); }

// The nearest-rank percentile of the times, as the statistics take it.
Duration Percentile(std::vector<Duration> times, double share) {
    if (times.empty()) {
        return Duration{0};
    }
    std::sort(times.begin(), times.end());
    const auto rank = std::max<std::size_t>(
        1, static_cast<std::size_t>(std::ceil(share * static_cast<double>(times.size()) - 1e-9)));
    return times[rank - 1];
}

}  // namespace

std::string_view ReasonLabel(ExchangeVerdict verdict) {
    switch (verdict) {
        case ExchangeVerdict::NoAnswer: return "no_answer";
        case ExchangeVerdict::WrongCount: return "wrong_count";
        case ExchangeVerdict::NoCr: return "no_cr";
        case ExchangeVerdict::Good: return "good";
        case ExchangeVerdict::BadCrc: return "bad_crc";
        case ExchangeVerdict::WrongLength: return "wrong_length";
        case ExchangeVerdict::WrongSource: return "wrong_source";
        case ExchangeVerdict::Cut: return "cut";
        case ExchangeVerdict::BadLrc: return "bad_lrc";
        case ExchangeVerdict::NotHex: return "not_hex";
        case ExchangeVerdict::NoLf: return "no_lf";
        case ExchangeVerdict::OddLength: return "odd_length";
    }
    return "unknown";
}

const std::vector<ExchangeVerdict>& FailureVerdicts(VerdictFamily family) {
    using V = ExchangeVerdict;
    static const std::vector<V> ascon{V::NoAnswer, V::WrongCount, V::NoCr};
    static const std::vector<V> rtu{V::NoAnswer, V::BadCrc, V::WrongLength, V::WrongSource, V::Cut};
    static const std::vector<V> ascii{V::NoAnswer,  V::BadLrc,      V::NotHex,      V::NoLf,
                                      V::OddLength, V::WrongLength, V::WrongSource, V::Cut};
    switch (family) {
        case VerdictFamily::ModbusRtu: return rtu;
        case VerdictFamily::ModbusAscii: return ascii;
        case VerdictFamily::Ascon: break;
    }
    return ascon;
}

double UnixSeconds(const LocalDateTime& moment) {
    using namespace std::chrono;
    const sys_days day{year{moment.date.year} / month{static_cast<unsigned>(moment.date.month)} /
                       static_cast<unsigned>(moment.date.day)};
    const auto local = day.time_since_epoch() + hours{moment.time.hours} +
                       minutes{moment.time.minutes} + seconds{moment.time.seconds};
    return static_cast<double>(
        duration_cast<seconds>(local - minutes{moment.utcOffsetMinutes}).count());
}

WatchMetrics::WatchMetrics(const WatchedLine& line, std::string_view version, Instant start)
    : line_(line), registry_(std::make_shared<prometheus::Registry>()), downSince_(start) {
    using namespace prometheus;
    prometheus::Registry& registry = *registry_;
    // The edges are shares of what the answer window leaves after the request, one of them the
    // threshold of a slow answer, so that a quantile over the buckets tells slow from not.
    const double slow = Seconds(line_.slowFrom);
    if (slow > 0) {
        const double left = slow / JudgementThresholds::SlowShareOfWindow;
        for (const double share : {0.05, 0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.9, 1.0}) {
            buckets_.push_back(left * share);
        }
        buckets_.push_back(slow);
        std::sort(buckets_.begin(), buckets_.end());
    } else {
        buckets_ = {0.005, 0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 1.0};
    }

    requests_ = &BuildCounter()
                     .Name("linetarvel_requests_total")
                     .Help("Requests judged, to each controller (listening: heard).")
                     .Register(registry);
    failures_ = &BuildCounter()
                     .Name("linetarvel_request_failures_total")
                     .Help("Requests that got no good answer, by controller and reason.")
                     .Register(registry);
    response_ = &BuildHistogram()
                     .Name("linetarvel_response_seconds")
                     .Help("Time from the end of a request to the last character of its good "
                           "answer.")
                     .Register(registry);
    state_ = &BuildGauge()
                  .Name("linetarvel_controller_state")
                  .Help("1 for the controller's current judgement on its recent exchanges, 0 for "
                        "the others.")
                  .Register(registry);
    lastGood_ = &BuildGauge()
                     .Name("linetarvel_last_good_answer_timestamp_seconds")
                     .Help("Unix time of the controller's last good answer.")
                     .Register(registry);
    BuildGauge()
        .Name("linetarvel_slow_threshold_seconds")
        .Help("An answer that takes longer than this from the end of its request is slow.")
        .Register(registry)
        .Add({})
        .Set(slow);
    lineUp_ = &BuildGauge()
                   .Name("linetarvel_line_up")
                   .Help("1 while the port is open, 0 while it is lost and being reopened.")
                   .Register(registry)
                   .Add({});
    downSeconds_ = &BuildCounter()
                        .Name("linetarvel_line_down_seconds_total")
                        .Help("Time the port was not open since the watch started.")
                        .Register(registry)
                        .Add({});
    opens_ = &BuildCounter()
                  .Name("linetarvel_line_opens_total")
                  .Help("Times the port was opened: once, and once for each reopening.")
                  .Register(registry)
                  .Add({});
    frames_ = &BuildCounter()
                   .Name("linetarvel_frames_total")
                   .Help("Frames on the line: requests and answers.")
                   .Register(registry)
                   .Add({});
    busySeconds_ = &BuildCounter()
                        .Name("linetarvel_busy_seconds_total")
                        .Help("Time the line carried characters.")
                        .Register(registry)
                        .Add({});
    noiseBytes_ = &BuildCounter()
                       .Name("linetarvel_noise_bytes_total")
                       .Help("Bytes received that made no good frame.")
                       .Register(registry)
                       .Add({});
    // Their series appear once the port has counts to give: a port that counts nothing (a
    // pseudo-terminal, one across the network) has none rather than zeros that say nothing.
    uartFamily_ = &BuildCounter()
                       .Name("linetarvel_uart_errors_total")
                       .Help("Errors the serial port's driver counted, by kind.")
                       .Register(registry);
    echoFamily_ = &BuildCounter()
                       .Name("linetarvel_echo_faults_total")
                       .Help("Echoes of the requests that came back unlike what was sent, did "
                             "not come back, or could not be told from an answer.")
                       .Register(registry);
    roundTripFamily_ = &BuildGauge()
                            .Name("linetarvel_round_trip_seconds")
                            .Help("Round trip to the device server the port is across the "
                                  "network.")
                            .Register(registry);
    BuildGauge()
        .Name("linetarvel_line_info")
        .Help("The line watched: its port, protocol and settings.")
        .Register(registry)
        .Add({{"port", line_.port}, {"protocol", line_.protocol}, {"settings", line_.settings}})
        .Set(1);
    BuildGauge()
        .Name("linetarvel_build_info")
        .Help("The version of the program.")
        .Register(registry)
        .Add({{"version", std::string(version)}})
        .Set(1);
    for (const std::string& address : line_.addresses) {
        ControllerAt(address);
    }
}

WatchMetrics::~WatchMetrics() = default;

WatchMetrics::Controller& WatchMetrics::ControllerAt(const std::string& address) {
    if (const auto found = byAddress_.find(address); found != byAddress_.end()) {
        return *found->second;
    }
    auto controller = std::make_unique<Controller>();
    controller->reading.address = address;
    controller->requests = &requests_->Add({{"address", address}});
    for (const ExchangeVerdict verdict : FailureVerdicts(line_.verdicts)) {
        const std::string reason(ReasonLabel(verdict));
        controller->failures[reason] = &failures_->Add({{"address", address}, {"reason", reason}});
        controller->reading.failuresByReason[reason] = 0;
    }
    controller->response = &response_->Add({{"address", address}}, buckets_);
    for (const char* state : kControllerStates) {
        controller->state[state] = &state_->Add({{"address", address}, {"state", state}});
    }
    SetState(*controller, "not_asked");
    Controller& added = *controller;
    byAddress_[address] = &added;
    controllers_.push_back(std::move(controller));
    return added;
}

void WatchMetrics::Judged(const Exchange& exchange) {
    Controller& controller = ControllerAt(exchange.request.stationText);
    ControllerReading& reading = controller.reading;
    ++reading.requests;
    controller.requests->Increment();

    const Duration requestTime =
        line_.characterTime * static_cast<std::int64_t>(exchange.request.frame.size());
    if (!line_.listening) {
        frames_->Increment(exchange.arrived.empty() ? 1 : 2);
        busySeconds_->Increment(
            Seconds(line_.characterTime * static_cast<std::int64_t>(exchange.request.frame.size() +
                                                                    exchange.arrived.size())));
    }

    Outcome outcome;
    if (exchange.Failed()) {
        ++reading.failures;
        const std::string reason(ReasonLabel(exchange.verdict));
        auto counter = controller.failures.find(reason);
        if (counter == controller.failures.end()) {
            // A finding the protocol's list lacks (a probe's, say) still counts, under its name.
            counter =
                controller.failures
                    .emplace(reason,
                             &failures_->Add({{"address", reading.address}, {"reason", reason}}))
                    .first;
        }
        counter->second->Increment();
        ++reading.failuresByReason[reason];
        if (!line_.listening) {
            noiseBytes_->Increment(static_cast<double>(exchange.arrived.size()));
        }
        outcome.kind =
            exchange.verdict == ExchangeVerdict::NoAnswer ? Outcome::Missing : Outcome::Garbled;
    } else {
        ++reading.good;
        if (exchange.lastArrival) {
            const Duration toLast = std::max(
                *exchange.lastArrival - (exchange.request.written + requestTime), Duration{0});
            outcome.toLast = toLast;
            controller.response->Observe(Seconds(toLast));
        }
        reading.lastGoodAnswerSeconds = UnixSeconds(exchange.judgedAt);
        if (controller.lastGood == nullptr) {
            controller.lastGood = &lastGood_->Add({{"address", reading.address}});
        }
        controller.lastGood->Set(reading.lastGoodAnswerSeconds);
    }
    controller.recent[controller.recentNext] = outcome;
    controller.recentNext = (controller.recentNext + 1) % kRecentExchanges;
    controller.recentCount = std::min(controller.recentCount + 1, kRecentExchanges);
    Judge(controller);
}

void WatchMetrics::Judge(Controller& controller) {
    bool garbled = false;
    bool missing = false;
    std::vector<Duration> times;
    int good = 0;
    for (std::size_t i = 0; i < controller.recentCount; ++i) {
        const Outcome& outcome = controller.recent[i];
        garbled = garbled || outcome.kind == Outcome::Garbled;
        missing = missing || outcome.kind == Outcome::Missing;
        if (outcome.kind == Outcome::Good) {
            ++good;
            if (outcome.toLast) {
                times.push_back(*outcome.toLast);
            }
        }
    }
    const Duration p95 = Percentile(std::move(times), JudgementThresholds::SlowPercentile);
    controller.reading.responseP95Seconds = Seconds(p95);
    // In the order the run's judgement takes: noise first, then silence, lost answers, lateness.
    const char* state = controller.recentCount == 0                            ? "not_asked"
                        : garbled                                              ? "garbled"
                        : good == 0                                            ? "silent"
                        : missing                                              ? "intermittent"
                        : line_.slowFrom > Duration{0} && p95 > line_.slowFrom ? "slow"
                                                                               : "healthy";
    SetState(controller, state);
}

void WatchMetrics::SetState(Controller& controller, const std::string& state) {
    controller.reading.state = state;
    for (const auto& [name, gauge] : controller.state) {
        gauge->Set(name == state ? 1 : 0);
    }
}

void WatchMetrics::AddHeard(std::int64_t frames, Duration busy, std::int64_t noiseBytes) {
    frames_->Increment(static_cast<double>(std::max<std::int64_t>(frames, 0)));
    busySeconds_->Increment(Seconds(std::max(busy, Duration{0})));
    noiseBytes_->Increment(static_cast<double>(std::max<std::int64_t>(noiseBytes, 0)));
}

namespace {

// What a count that may start again from nothing has grown by since it was last seen.
long Growth(long now, long& seen) {
    const long growth = now >= seen ? now - seen : now;
    seen = now;
    return growth;
}

}  // namespace

void WatchMetrics::SetUartErrors(const UartErrorCounts& counts) {
    if (uartErrors_.empty()) {
        for (const char* kind : {"framing", "parity", "overrun", "break"}) {
            uartErrors_[kind] = &uartFamily_->Add({{"kind", kind}});
        }
    }
    uartErrors_["framing"]->Increment(
        static_cast<double>(Growth(counts.framing, uartSeen_.framing)));
    uartErrors_["parity"]->Increment(static_cast<double>(Growth(counts.parity, uartSeen_.parity)));
    uartErrors_["overrun"]->Increment(
        static_cast<double>(Growth(counts.overrun, uartSeen_.overrun)));
    uartErrors_["break"]->Increment(static_cast<double>(Growth(counts.breaks, uartSeen_.breaks)));
}

void WatchMetrics::SetEcho(const EchoReport& report) {
    if (echoFaults_.empty()) {
        for (const char* kind : {"differed", "missing", "undecided"}) {
            echoFaults_[kind] = &echoFamily_->Add({{"kind", kind}});
        }
    }
    echoFaults_["differed"]->Increment(
        static_cast<double>(Growth(report.differed, echoSeen_.differed)));
    echoFaults_["missing"]->Increment(
        static_cast<double>(Growth(report.missing, echoSeen_.missing)));
    echoFaults_["undecided"]->Increment(
        static_cast<double>(Growth(report.undecided, echoSeen_.undecided)));
}

void WatchMetrics::SetRoundTrip(std::optional<Duration> roundTrip) {
    if (!roundTrip) {
        return;  // a port of this host: no such series at all
    }
    if (roundTrip_ == nullptr) {
        roundTrip_ = &roundTripFamily_->Add({});
    }
    roundTrip_->Set(Seconds(*roundTrip));
}

void WatchMetrics::LineUp(Instant now) {
    Tick(now);
    up_ = true;
    lineUp_->Set(1);
    opens_->Increment();
}

void WatchMetrics::LineDown(Instant now) {
    if (up_) {
        up_ = false;
        downSince_ = now;
        lineUp_->Set(0);
    }
}

void WatchMetrics::Tick(Instant now) {
    if (!up_ && now > downSince_) {
        downSeconds_->Increment(Seconds(now - downSince_));
        downSince_ = now;
    }
}

std::vector<ControllerReading> WatchMetrics::Readings() const {
    std::vector<ControllerReading> readings;
    readings.reserve(controllers_.size());
    for (const auto& controller : controllers_) {
        readings.push_back(controller->reading);
    }
    return readings;
}

const ControllerReading* WatchMetrics::ReadingOf(std::string_view address) const {
    const auto found = byAddress_.find(address);
    return found == byAddress_.end() ? nullptr : &found->second->reading;
}

std::string WatchMetrics::Exposition() const {
    std::ostringstream text;
    prometheus::TextSerializer().Serialize(text, registry_->Collect());
    return text.str();
}

}  // namespace tarvel
