// SPDX-License-Identifier: GPL-3.0-or-later
// `watch`: a line watched without end, for Prometheus, systemd and MQTT. The test cycle (or the
// listener) runs until a signal ends it; a port that is lost is reopened with a growing delay;
// the metrics count across reopenings and days, the files keep a day each.
#include <unistd.h>

#include <QJsonArray>
#include <QJsonObject>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <vector>

#include "cli/CliSession.h"
#include "core/Version.h"
#include "engine/Listener.h"
#include "engine/TestCycle.h"
#include "lines/LineSettings.h"
#include "monitor/MonitorCsv.h"
#include "platform/DurableFiles.h"
#include "platform/TextFiles.h"
#include "platform/Waits.h"
#include "watch/DailyFiles.h"
#include "watch/MetricsEndpoint.h"
#include "watch/MqttPublisher.h"
#include "watch/ServiceNotifier.h"
#include "watch/WatchMetrics.h"
#include "watch/WatchTargets.h"

namespace tarvel {

int CliSession::MetricsPort() const { return endpoint_ ? endpoint_->Port() : 0; }

namespace {

using namespace std::chrono_literals;

// A lost port is tried again after 1 s, then after twice as long each time, up to a minute.
constexpr Duration kFirstReopenDelay = 1s;
constexpr Duration kLongestReopenDelay = 60s;
// A port that stayed open this long was not flapping: its next loss waits the first delay again.
constexpr Duration kSteadilyOpen = 60s;
// How often the line's own counts, the down time and the day are looked at.
constexpr Duration kTick = 1s;
// A watch's documents are replaced at most this often: a day of them is no disk's burden.
constexpr Duration kWatchRewrite = 5s;

// syslog priorities, as journald reads them from the start of a line.
constexpr int kError = 3;
constexpr int kWarning = 4;
constexpr int kNotice = 5;
constexpr int kInfo = 6;

// Cancels the timers of a watch however it ends: their tasks refer to its locals.
struct TimersCancelled {
    Scheduler& scheduler;
    std::vector<std::optional<Scheduler::TimerId>*> timers;
    ~TimersCancelled() {
        for (std::optional<Scheduler::TimerId>* timer : timers) {
            if (*timer) {
                scheduler.Cancel(**timer);
                timer->reset();
            }
        }
    }
};

std::string SecondsText(Duration time) {
    return std::to_string(std::chrono::duration_cast<std::chrono::seconds>(time).count()) + " s";
}

}  // namespace

// Takes every exchange of the loop to the monitor, the traffic log, the metrics and the
// watchdog. The monitor hears of one run for the whole day: a reopened port goes on counting in
// the same statistics.
class CliSession::WatchProgress final : public CliSession::Progress, public ListenSink {
public:
    WatchProgress(CliSession& session, WatchMetrics& metrics, ServiceNotifier& notifier)
        : Progress(session), metrics_(metrics), notifier_(notifier) {}

    // Where each controller's new numbers are published, if anywhere.
    void PublishTo(MqttPublisher* publisher) { publisher_ = publisher; }

    void ListenStarted(Duration answerWindow) override {
        if (!monitorStarted_) {
            monitorStarted_ = true;
            session_.monitor_.ListenEvents().ListenStarted(answerWindow);
        }
        Started();
    }
    void RequestWritten(const Request& request) override {
        session_.monitor_.ListenEvents().RequestWritten(request);
    }
    void ExchangeJudged(const Exchange& exchange) override {
        session_.monitor_.ListenEvents().ExchangeJudged(exchange);
        Counted(exchange);
    }
    // The end of the watch, not of a run: the monitor's run ends with it.
    void Finished() {
        if (monitorStarted_) {
            session_.monitor_.ListenEvents().ListenEnded(ListenEnd{});
        }
    }

    // The test cycle's events, taken the same way.
    struct Cycle final : CycleSink {
        explicit Cycle(WatchProgress& progress) : progress_(progress) {}
        void RunStarted(int controllers) override {
            if (!progress_.monitorStarted_) {
                progress_.monitorStarted_ = true;
                progress_.session_.monitor_.CycleEvents().RunStarted(controllers);
            }
            progress_.Started();
        }
        void RequestWritten(const Request& request) override {
            progress_.session_.monitor_.CycleEvents().RequestWritten(request);
        }
        void ExchangeJudged(const Exchange& exchange) override {
            progress_.session_.monitor_.CycleEvents().ExchangeJudged(exchange);
            progress_.Counted(exchange);
        }
        WatchProgress& progress_;
    };
    Cycle cycle{*this};

private:
    // After the monitor has it: its traffic, the metrics, the watchdog and MQTT.
    void Counted(const Exchange& exchange) {
        Logged();
        metrics_.Judged(exchange);
        notifier_.Progressed();
        if (publisher_ != nullptr) {
            if (const ControllerReading* reading =
                    metrics_.ReadingOf(exchange.request.stationText)) {
                publisher_->Offer(*reading, session_.host_.scheduler.Now());
            }
        }
    }

    WatchMetrics& metrics_;
    ServiceNotifier& notifier_;
    MqttPublisher* publisher_ = nullptr;
    bool monitorStarted_ = false;
};

void CliSession::WatchLog(int priority, const std::string& text) {
    host_.err << "<" << priority << ">line-tarvel-cli: " << text << "\n" << std::flush;
}

std::string CliSession::WatchName() const {
    if (!options_.watchName.empty()) {
        return options_.watchName;
    }
    if (options_.simulate) {
        return "simulated";
    }
    const std::string device = std::filesystem::path(host_.portDevice).filename().string();
    return device.empty() ? options_.portEntry : device;
}

void CliSession::Reopen() {
    // Before the files are open there is nothing to reopen; after, it is done at once, between
    // two events of the loop, whatever the watch is doing.
    if (trafficOpened_) {
        ReopenFiles();
    }
}

QCoro::Task<int> CliSession::Watch() {
    if (!options_.targetsFolder.empty()) {
        co_return PrintTargets();
    }
    if (!options_.listen && !LoadConfiguration()) {
        co_return kPortOrFileFailed;
    }
    const Protocol& protocol = port_.LineProtocol();
    const DecoderSettings timing = LineAsHeard();
    const Duration characterTime = timing.characterTime;
    const Duration window = timing.answerWindow;
    WatchedLine watched;
    const LineDescription line = Line();
    watched.port = line.device.empty() ? options_.portEntry : line.device;
    watched.protocol = std::string(protocol.CommandName());
    watched.settings = FramingSummary(line);
    watched.verdicts = protocol.Verdicts();
    watched.characterTime = characterTime;
    watched.listening = options_.listen;
    for (int position = 0; !options_.listen && position < primo_.DeviceCount; ++position) {
        watched.addresses.push_back(protocol.StationText(table_[position]));
    }
    // The slow threshold of the judgements, for the controllers' usual request.
    const Station first = watched.addresses.empty() ? protocol.Stations().front() : table_[0];
    const Duration requestTime =
        characterTime *
        static_cast<std::int64_t>(protocol.RequestFor(first, ExchangeKind::Test).size());
    watched.slowFrom = std::chrono::duration_cast<Duration>(
        std::max(window - requestTime, Duration{0}) * JudgementThresholds::SlowShareOfWindow);

    watchMetrics_ = std::make_unique<WatchMetrics>(watched, kVersion, host_.scheduler.Now());
    WatchMetrics& metrics = *watchMetrics_;
    const std::string name = WatchName();
    auto started = MetricsEndpoint::Start(
        options_.metricsAddress, metrics.Registry(),
        name + ": " + watched.port + ", " + watched.protocol + ", " + watched.settings);
    if (auto* failure = std::get_if<std::string>(&started)) {
        WatchLog(kError, "cannot serve the metrics: " + *failure);
        co_return kPortOrFileFailed;
    }
    // Kept with the session: what was counted can still be read once the watch has ended.
    endpoint_ = std::get<std::unique_ptr<MetricsEndpoint>>(std::move(started));

    ServiceNotifier notifier;
    WatchProgress& progress = KeepProgress<WatchProgress>(metrics, notifier);
    files_.SetRewriteInterval(kWatchRewrite);
    const bool prepared =
        AddDocument(options_.statsFile, "statistics",
                    [this] { return StatisticsCsv(monitor_, host_.scheduler.LocalNow()); }) &&
        AddDocument(options_.jsonStatusFile, "status",
                    [this, &metrics, name] { return WatchStatusJson(metrics, name); }) &&
        OpenTrafficDay();
    statisticsDay_ = trafficDay_;
    if (!prepared) {
        co_return kPortOrFileFailed;
    }
    std::unique_ptr<MqttPublisher> publisher;
    if (!options_.mqttUrl.empty()) {
        // The options were read whole before: the address is a good one.
        const MqttTarget target = std::get<MqttTarget>(ParseMqttUrl(options_.mqttUrl));
        publisher = std::make_unique<MqttPublisher>(target, name, [this](std::string text) {
            WatchLog(text.find("unreachable") != std::string::npos ? kWarning : kNotice, text);
        });
        publisher->SetLineUp(false);  // until the port is open
        progress.PublishTo(publisher.get());
    }
    files_.Start();
    WatchLog(kInfo, "watching " + name + " (" + watched.port + ", " + watched.protocol + ", " +
                        watched.settings + "); metrics at http://" +
                        options_.metricsAddress.substr(0, options_.metricsAddress.rfind(':')) +
                        ":" + std::to_string(endpoint_->Port()) + "/metrics");

    // The line's own counts, the down time, the day and the watchdog, on a timer of their own.
    std::optional<Scheduler::TimerId> tick;
    std::function<void()> onTick = [&] {
        tick = host_.scheduler.CallAt(host_.scheduler.Now() + kTick, onTick);
        metrics.Tick(host_.scheduler.Now());
        if (metrics.IsUp()) {
            if (const auto counts = host_.line.ErrorCounts()) {
                metrics.SetUartErrors(*counts);
            }
            if (const auto echo = host_.line.Echo()) {
                metrics.SetEcho(*echo);
            }
            metrics.SetRoundTrip(host_.line.RoundTrip());
        }
        if (listener_ != nullptr) {
            CountHeard();
            // A quiet line is no hung watch: the listener waits on the loop that runs this.
            notifier.Progressed();
        }
        if (metrics.IsUp() && primo_.DeviceCount == 0 && !options_.listen) {
            notifier.Progressed();  // nothing to ask: the cycle only waits
        }
        const CalendarDate today = host_.scheduler.LocalNow().date;
        if (today != statisticsDay_) {
            NewDay(progress, today);
        }
        // A day's traffic file that could not be opened is tried again each minute.
        if (today != trafficDay_ && ++trafficRetryTicks_ >= 60) {
            trafficRetryTicks_ = 0;
            OpenTrafficDay();
        }
        if (publisher) {
            publisher->Tick(host_.scheduler.Now());
        }
    };
    tick = host_.scheduler.CallAt(host_.scheduler.Now() + kTick, onTick);
    std::optional<Scheduler::TimerId> watchdog;
    std::function<void()> onWatchdog = [&] {
        watchdog =
            host_.scheduler.CallAt(host_.scheduler.Now() + *notifier.WatchdogPeriod(), onWatchdog);
        if (!notifier.FeedWatchdog()) {
            WatchLog(kWarning, "no progress for " + SecondsText(*notifier.WatchdogPeriod()) +
                                   ": the watchdog is not fed");
        }
    };
    if (notifier.WatchdogPeriod()) {
        watchdog =
            host_.scheduler.CallAt(host_.scheduler.Now() + *notifier.WatchdogPeriod(), onWatchdog);
    }
    const TimersCancelled cancelled{host_.scheduler, {&tick, &watchdog}};

    Duration reopenDelay = kFirstReopenDelay;
    std::string lastFailure;
    while (stopCause_.empty()) {
        notifier.Progressed();
        const bool failed = co_await port_.OpenPortAsync();
        if (failed) {
            // The same reason again is not news: once per outage is enough in the log.
            if (port_.OpenFailure() != lastFailure) {
                lastFailure = port_.OpenFailure();
                WatchLog(kWarning, "cannot open the port: " + lastFailure +
                                       "; trying again, at first in " + SecondsText(reopenDelay));
            }
            notifier.Status("cannot open the port: " + lastFailure);
        } else {
            metrics.LineUp(host_.scheduler.Now());
            if (publisher) {
                publisher->SetLineUp(true);
            }
            if (const auto counts = host_.line.ErrorCounts()) {
                metrics.UartErrorsFrom(*counts);
            }
            const Instant openedAt = host_.scheduler.Now();
            // Open again after a failure is news of note; the first opening is not.
            WatchLog(lastFailure.empty() ? kInfo : kNotice,
                     "the port " + watched.port + " is open");
            lastFailure.clear();
            notifier.Ready("watching " + watched.port);
            std::string lost = co_await WatchRun(progress);
            // What the port counted since the last tick, while it can still tell.
            if (const auto counts = host_.line.ErrorCounts()) {
                metrics.SetUartErrors(*counts);
            }
            port_.ClosePort();
            metrics.LineDown(host_.scheduler.Now());
            if (publisher) {
                publisher->SetLineUp(false);
            }
            if (!stopCause_.empty()) {
                break;
            }
            if (host_.scheduler.Now() - openedAt >= kSteadilyOpen) {
                reopenDelay = kFirstReopenDelay;
            }
            lastFailure = lost;
            WatchLog(kWarning, lost + "; reopening in " + SecondsText(reopenDelay));
            notifier.Status(lost);
        }
        // Waiting is progress too: the watchdog hears of it on each turn.
        const Instant until = host_.scheduler.Now() + reopenDelay;
        while (stopCause_.empty() && host_.scheduler.Now() < until) {
            notifier.Progressed();
            co_await NextActivity(host_.scheduler, stopAsked_,
                                  std::min(until, host_.scheduler.Now() + kTick));
        }
        reopenDelay = std::min(reopenDelay * 2, kLongestReopenDelay);
    }

    notifier.Stopping();
    host_.scheduler.Cancel(*tick);
    tick.reset();
    metrics.Tick(host_.scheduler.Now());
    progress.Finished();
    progress.PublishTo(nullptr);
    if (publisher) {
        // The last numbers and "offline", before the files: both are the end's evidence.
        publisher->Tick(host_.scheduler.Now());
        publisher->Close();
    }
    const bool filesWritten = co_await files_.Finish();
    WatchLog(kInfo, "the watch ended by " + stopCause_ +
                        (filesWritten ? "; its files are complete" : "; a file is incomplete"));
    co_return filesWritten ? kAllWell : kPortOrFileFailed;
}

QCoro::Task<std::string> CliSession::WatchRun(WatchProgress& progress) {
    if (options_.listen) {
        Listener listener(ReadOnlyLine(port_.Line()), host_.scheduler, LineAsHeard(),
                          port_.LineProtocol());
        listener.AddSink(progress);
        listener_ = &listener;
        heardFrames_ = heardNoise_ = 0;
        heardBusy_ = Duration{0};
        if (!stopCause_.empty()) {
            listener.Stop();
        }
        struct Forget {
            Listener*& listener;
            ~Forget() { listener = nullptr; }
        } forget{listener_};
        const ListenEnd end = co_await listener.Listen(co_await lineUse_.Acquire());
        CountHeard();  // what it heard since the last tick
        co_return end.lineFailure.empty() ? std::string("the port was closed") : end.lineFailure;
    }
    TestCycle cycle(primo_, port_, table_);
    cycle.IgnoreErrorLimit();
    cycle.AddSink(progress.cycle);
    const RunEnd end = co_await cycle.TxAscon(co_await lineUse_.Acquire());
    co_return end.lineFailure.empty() ? std::string("the port was closed") : end.lineFailure;
}

void CliSession::CountHeard() {
    const FrameDecoder& heard = listener_->Decoder();
    watchMetrics_->AddHeard(heard.Frames() - heardFrames_, heard.Busy() - heardBusy_,
                            heard.NoiseBytes() - heardNoise_);
    heardFrames_ = heard.Frames();
    heardBusy_ = heard.Busy();
    heardNoise_ = heard.NoiseBytes();
}

void CliSession::RemoveOldDaysOf(const std::string& given, const char* what,
                                 const CalendarDate& today) {
    const OldDaysRemoved old = RemoveOldDays(given, today, options_.keepDays);
    for (const std::string& removed : old.removed) {
        WatchLog(kInfo, std::string("removed the ") + what + " of an old day: " + removed);
    }
    for (const std::string& failure : old.failures) {
        WatchLog(kWarning, std::string("cannot remove the ") + what + " of an old day: " + failure);
    }
}

bool CliSession::OpenTrafficDay() {
    const CalendarDate today = host_.scheduler.LocalNow().date;
    trafficOpened_ = true;
    if (options_.trafficFile.empty()) {
        trafficDay_ = today;
        return true;
    }
    RemoveOldDaysOf(options_.trafficFile, "traffic", today);
    if (!files_.ContinueLog(DailyFileName(options_.trafficFile, today), "traffic",
                            TrafficCsvHeader())) {
        return false;  // the day before's file goes on, and the opening is tried again
    }
    trafficDay_ = today;
    return true;
}

void CliSession::NewDay(WatchProgress& progress, const CalendarDate& today) {
    // The day that ended keeps its statistics in a file of its own, beside the name given and
    // kept as long as its traffic; then the statistics start afresh, so that they do not grow
    // for ever.
    if (!options_.statsFile.empty()) {
        const std::string kept = DailyFileName(options_.statsFile, statisticsDay_);
        if (const auto failure =
                WriteFileDurably(kept, StatisticsCsv(monitor_, host_.scheduler.LocalNow()))) {
            WatchLog(kWarning, "cannot keep the day's statistics in " + kept + ": " + *failure);
        }
        RemoveOldDaysOf(options_.statsFile, "statistics", today);
    }
    statisticsDay_ = today;
    monitor_.Reset();
    progress.TrafficCleared();
    OpenTrafficDay();
}

void CliSession::ReopenFiles() {
    WatchLog(kInfo, "reopening the files");
    if (!options_.trafficFile.empty()) {
        files_.ContinueLog(DailyFileName(options_.trafficFile, trafficDay_), "traffic",
                           TrafficCsvHeader());
    }
}

int CliSession::PrintTargets() {
    char hostName[256] = {};
    if (::gethostname(hostName, sizeof hostName - 1) != 0) {
        std::snprintf(hostName, sizeof hostName, "localhost");
    }
    const WatchTargets read = ReadWatchTargets(options_.targetsFolder, hostName,
                                               options_.site.empty() ? hostName : options_.site);
    // The targets that could be read go out all the same: one broken conf must not take a
    // whole site out of Prometheus.
    host_.out << FormatFileSdTargets(read.targets);
    for (const WatchConfProblem& problem : read.problems) {
        host_.err << "line-tarvel-cli: " << ShownPath(options_.targetsFolder) << ": "
                  << problem.file << ": " << problem.reason << "\n";
    }
    return read.problems.empty() ? kAllWell : kLineFailures;
}

std::optional<std::string> CliSession::WatchStatusJson(const WatchMetrics& metrics,
                                                       const std::string& name) const {
    QJsonArray controllers;
    for (const ControllerReading& reading : metrics.Readings()) {
        QJsonObject failures;
        for (const auto& [reason, count] : reading.failuresByReason) {
            failures.insert(QString::fromStdString(reason), static_cast<double>(count));
        }
        controllers.append(QJsonObject{
            {"address", QString::fromStdString(reading.address)},
            {"state", QString::fromStdString(reading.state)},
            {"requests", static_cast<double>(reading.requests)},
            {"good", static_cast<double>(reading.good)},
            {"failures", static_cast<double>(reading.failures)},
            {"failuresByReason", failures},
            {"responseP95Seconds", reading.responseP95Seconds},
            {"lastGoodAnswerSeconds", reading.lastGoodAnswerSeconds},
        });
    }
    const QJsonObject document{
        {"command", "watch"},
        {"name", QString::fromStdString(name)},
        {"lineUp", metrics.IsUp()},
        {"at", QString::fromStdString(Iso8601(host_.scheduler.LocalNow()))},
        {"controllers", controllers},
    };
    return JsonText(document);
}

}  // namespace tarvel
