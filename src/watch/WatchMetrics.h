// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Exchange.h"
#include "core/Time.h"
#include "lines/SerialLine.h"
#include "watch/ControllerReading.h"

namespace prometheus {
class Counter;
class Gauge;
class Histogram;
class Registry;
template <typename T>
class Family;
}  // namespace prometheus

namespace tarvel {

// What a watch's metrics are about, fixed when it starts.
struct WatchedLine {
    std::string port;      // the device or the address across the network
    std::string protocol;  // as --protocol names it: "modbus-rtu"
    std::string settings;  // "9600 8N1"
    VerdictFamily verdicts = VerdictFamily::Ascon;
    // The controllers asked, as the protocol writes them; none when listening, where a
    // controller appears with its first exchange heard.
    std::vector<std::string> addresses;
    Duration characterTime{0};
    // Listening: the frames, the busy time and the noise come from what the listener heard
    // (AddHeard), not from the exchanges.
    bool listening = false;
    // From the end of a request: an answer later than this is slow (the judgement's threshold).
    Duration slowFrom{0};
};

// A failure's reason as a label value: "no_answer", "bad_crc", ...
std::string_view ReasonLabel(ExchangeVerdict verdict);
// Every failure a test exchange of the family can have, in the order of the statistics.
const std::vector<ExchangeVerdict>& FailureVerdicts(VerdictFamily family);
// Seconds since 1970 in UTC of a moment of the local wall clock.
double UnixSeconds(const LocalDateTime& moment);

// A watch's metrics, in a registry of prometheus-cpp that the HTTP endpoint serves from its own
// threads: every value is set here as it changes, on the watch's thread, so that a scrape reads
// them without ever waiting for the line. Counters count from the start of the watch, across
// reopened ports and days; the controller's state is judged on its recent exchanges only, so
// that it says what the controller does now.
class WatchMetrics {
public:
    // Exchanges a controller's state is judged on.
    // Enough that one late answer among them does not make a controller slow (its 95th
    // percentile is the second latest), few enough that a controller gone silent is told within
    // a few sweeps.
    static constexpr std::size_t kRecentExchanges = 32;

    WatchMetrics(const WatchedLine& line, std::string_view version, Instant start);
    ~WatchMetrics();
    WatchMetrics(const WatchMetrics&) = delete;
    WatchMetrics& operator=(const WatchMetrics&) = delete;

    // Each exchange the test cycle or the listener judged.
    void Judged(const Exchange& exchange);
    // What a listener heard of the line beyond the exchanges: added as it grows.
    void AddHeard(std::int64_t frames, Duration busy, std::int64_t noiseBytes);
    // The line's own counts since it was opened, or since the program began (the echo): a count
    // that goes back means a reopened port, and counts again from nothing.
    void SetUartErrors(const UartErrorCounts& counts);
    // Right after an opening: the counts the port starts from, of which nothing is new.
    void UartErrorsFrom(const UartErrorCounts& counts) { uartSeen_ = counts; }
    void SetEcho(const EchoReport& report);
    void SetRoundTrip(std::optional<Duration> roundTrip);

    // The line was opened, or lost; the time it is down counts until it is up again.
    void LineUp(Instant now);
    void LineDown(Instant now);
    // Brings the down time up to `now`.
    void Tick(Instant now);
    bool IsUp() const { return up_; }

    // Every controller known, configured or heard, in the order first known.
    std::vector<ControllerReading> Readings() const;
    // One of them; nothing for an address not known.
    const ControllerReading* ReadingOf(std::string_view address) const;
    // The text exposition format 0.0.4 of everything registered.
    std::string Exposition() const;
    const std::shared_ptr<prometheus::Registry>& Registry() const { return registry_; }

private:
    struct Outcome {
        enum Kind : std::uint8_t { Good, Missing, Garbled } kind = Good;
        std::optional<Duration> toLast;  // of a good answer
    };
    struct Controller {
        ControllerReading reading;
        prometheus::Counter* requests = nullptr;
        std::map<std::string, prometheus::Counter*, std::less<>> failures;
        prometheus::Histogram* response = nullptr;
        std::map<std::string, prometheus::Gauge*, std::less<>> state;
        prometheus::Gauge* lastGood = nullptr;
        std::array<Outcome, kRecentExchanges> recent{};
        std::size_t recentCount = 0;  // filled, up to the size
        std::size_t recentNext = 0;
    };
    Controller& ControllerAt(const std::string& address);
    void Judge(Controller& controller);
    void SetState(Controller& controller, const std::string& state);

    WatchedLine line_;
    std::shared_ptr<prometheus::Registry> registry_;
    std::vector<double> buckets_;
    prometheus::Family<prometheus::Counter>* requests_;
    prometheus::Family<prometheus::Counter>* failures_;
    prometheus::Family<prometheus::Histogram>* response_;
    prometheus::Family<prometheus::Gauge>* state_;
    prometheus::Family<prometheus::Gauge>* lastGood_;
    prometheus::Gauge* lineUp_;
    prometheus::Counter* downSeconds_;
    prometheus::Counter* opens_;
    prometheus::Counter* frames_;
    prometheus::Counter* busySeconds_;
    prometheus::Counter* noiseBytes_;
    prometheus::Family<prometheus::Counter>* uartFamily_;
    prometheus::Family<prometheus::Counter>* echoFamily_;
    std::map<std::string, prometheus::Counter*, std::less<>> uartErrors_;
    std::map<std::string, prometheus::Counter*, std::less<>> echoFaults_;
    prometheus::Family<prometheus::Gauge>* roundTripFamily_;
    prometheus::Gauge* roundTrip_ = nullptr;

    std::vector<std::unique_ptr<Controller>> controllers_;
    std::map<std::string, Controller*, std::less<>> byAddress_;
    bool up_ = false;
    Instant downSince_{};
    UartErrorCounts uartSeen_;
    EchoReport echoSeen_;
};

}  // namespace tarvel
