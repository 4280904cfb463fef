// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "engine/CycleSink.h"
#include "engine/Listener.h"
#include "line/LineDetector.h"
#include "lines/SerialLine.h"
#include "monitor/LineStatistics.h"
#include "monitor/TrafficLog.h"
#include "platform/Clock.h"
#include "protocol/Protocols.h"

namespace tarvel {

// What the line monitor knows of the line: the statistics of the last test run and, apart, those
// of the last scan, the traffic of the last exchanges (of both) and the driver's error counts
// since the run began. A scan probes addresses where nothing answers: its silence says what is on
// the line, not how well the line works, so it never counts in the run's statistics. It listens
// to the test cycle and to the line detector like any other sink; windows and the command line
// read it.
class LineMonitor {
public:
    // The time of one character at the line's present settings.
    using CharacterTimeSource = std::function<Duration()>;
    // The driver's error counts, or nothing where the port does not report them.
    using ErrorCountSource = std::function<std::optional<UartErrorCounts>()>;

    LineMonitor(const Clock& clock, CharacterTimeSource characterTime, ErrorCountSource errorCounts,
                std::size_t trafficCapacity = TrafficLog::DefaultCapacity);
    LineMonitor(const LineMonitor&) = delete;
    LineMonitor& operator=(const LineMonitor&) = delete;

    // Where the port and settings of each run are read when it begins; without it the traffic
    // and the statistics say nothing of them.
    using LineSource = std::function<LineDescription()>;
    void SetLineSource(LineSource source) { lineSource_ = std::move(source); }
    // The protocol the line speaks when a run or a scan begins: its answer windows are the ones
    // the statistics judge by. The Ascon protocol without it.
    using ProtocolSource = std::function<const Protocol&()>;
    void SetProtocolSource(ProtocolSource source) { protocolSource_ = std::move(source); }
    // The answer window the operator chose for the runs and scans, in place of the protocol's.
    void SetAnswerWindow(std::optional<Duration> window) { answerWindow_ = window; }
    const Protocol& LineProtocol() const {
        return protocolSource_ ? protocolSource_() : DefaultProtocol();
    }
    // Where a port across the network tells its measured round trip (nothing for a port of
    // this host): what the network adds to every answer.
    using RoundTripSource = std::function<std::optional<Duration>()>;
    void SetRoundTripSource(RoundTripSource source) { roundTripSource_ = std::move(source); }
    std::optional<Duration> RoundTrip() const {
        return roundTripSource_ ? roundTripSource_() : std::nullopt;
    }

    // Where the line tells what it does about an adapter that echoes.
    using EchoSource = std::function<std::optional<EchoReport>()>;
    void SetEchoSource(EchoSource source) { echoSource_ = std::move(source); }
    // Received bytes the line has dropped since the program began, beyond what it keeps.
    void SetDroppedSource(std::function<std::uint64_t()> source) {
        droppedSource_ = std::move(source);
    }
    std::uint64_t DroppedInput() const { return droppedSource_ ? droppedSource_() : 0; }

    CycleSink& CycleEvents() { return cycleEvents_; }
    ScanSink& ScanEvents() { return scanEvents_; }
    // Listening to a line another master drives counts as a run: its statistics are the run's.
    ListenSink& ListenEvents() { return listenEvents_; }

    // The current or last test run's: the health of the line.
    const LineStatistics& Statistics() const { return run_; }
    // The current or last scan's: what is on the line.
    const LineStatistics& ScanStatistics() const { return scan_; }
    // Which protocol's columns the statistics shown have: those of the run's protocol, or of the
    // scan's before any run, or of the protocol chosen now.
    VerdictFamily ShownVerdicts() const {
        const LineStatistics& shown = run_.Begun() || !scan_.Begun() ? run_ : scan_;
        return shown.Begun() ? shown.Verdicts() : LineProtocol().Verdicts();
    }
    const TrafficLog& Traffic() const { return traffic_; }
    // The port and settings of the current or last run, and of the current or last scan.
    const LineDescription& Line() const { return *runLine_; }
    const LineDescription& ScanLine() const { return *scanLine_; }
    // Framing, parity, overrun and break errors since the run began, or nothing where the
    // port does not count them.
    std::optional<UartErrorCounts> ErrorsSinceStart() const;
    // Whether the port echoes now, and what came of the echoes since the run began (since the
    // program started, before any run); nothing where the line does not look for echoes.
    std::optional<EchoReport> EchoSinceStart() const;
    // A run or a scan is going on.
    bool Running() const { return running_; }
    // Whether the run statistics are those of a test run or of listening.
    Activity RunActivity() const { return runActivity_; }
    bool Scanning() const { return running_ && current_ == &scan_; }

    // "Res": the run's statistics and the traffic start again from nothing; what the last scan
    // found stays.
    void Reset();
    // Changes whenever anything shown changes, so a view redraws only when there is news.
    std::uint64_t Revision() const { return revision_; }

private:
    Duration WindowOf(ExchangeKind kind) const {
        if (answerWindow_) {
            return *answerWindow_;
        }
        const Protocol& protocol = LineProtocol();
        return protocol.Timings(kind, characterTime_ ? characterTime_() : Duration{0}).window;
    }
    struct CycleListener final : CycleSink {
        explicit CycleListener(LineMonitor& monitor) : monitor_(monitor) {}
        void RunStarted(int) override;
        void RequestWritten(const Request&) override { monitor_.Written(); }
        void ExchangeJudged(const Exchange& exchange) override { monitor_.Judged(exchange); }
        void ErrorsReset() override { monitor_.Reset(); }
        void RunEnded(const RunEnd&) override { monitor_.Ended(); }
        LineMonitor& monitor_;
    };
    struct ScanListener final : ScanSink {
        explicit ScanListener(LineMonitor& monitor) : monitor_(monitor) {}
        void ScanStarted() override;
        void RequestWritten(const Request&) override { monitor_.Written(); }
        void ExchangeJudged(const Exchange& exchange) override { monitor_.Judged(exchange); }
        void ScanEnded(const ScanEnd&) override { monitor_.Ended(); }
        LineMonitor& monitor_;
    };

    struct ListenListener final : ListenSink {
        explicit ListenListener(LineMonitor& monitor) : monitor_(monitor) {}
        void ListenStarted(Duration answerWindow) override {
            monitor_.Began(monitor_.run_, answerWindow, Activity::Listen);
        }
        void RequestWritten(const Request&) override { monitor_.Written(); }
        void ExchangeJudged(const Exchange& exchange) override { monitor_.Judged(exchange); }
        void ListenEnded(const ListenEnd&) override { monitor_.Ended(); }
        LineMonitor& monitor_;
    };

    void Began(LineStatistics& statistics, Duration answerWindow, Activity activity);
    void Written();
    void Judged(const Exchange& exchange);
    void Ended();

    const Clock& clock_;
    CharacterTimeSource characterTime_;
    ErrorCountSource errorCounts_;
    RoundTripSource roundTripSource_;
    LineSource lineSource_;
    ProtocolSource protocolSource_;
    std::optional<Duration> answerWindow_;
    std::shared_ptr<const LineDescription> runLine_ = std::make_shared<const LineDescription>();
    std::shared_ptr<const LineDescription> scanLine_ = runLine_;
    CycleListener cycleEvents_{*this};
    ScanListener scanEvents_{*this};
    ListenListener listenEvents_{*this};
    LineStatistics run_;
    LineStatistics scan_;
    // The one counting now, or last: exchanges judged outside a run or a scan count in the run.
    LineStatistics* current_ = &run_;
    TrafficLog traffic_;
    std::optional<UartErrorCounts> countsAtStart_;
    EchoSource echoSource_;
    std::function<std::uint64_t()> droppedSource_;
    std::optional<EchoReport> echoAtStart_;
    LocalDateTime requestWritten_;
    bool running_ = false;
    Activity activity_ = Activity::Run;  // of the statistics counting now
    Activity runActivity_ = Activity::Run;
    std::uint64_t revision_ = 0;
};

}  // namespace tarvel
