// SPDX-License-Identifier: GPL-3.0-or-later
// What every command of line-tarvel-cli shares: the session's line and files, the stop, the
// echo told once, and the progress of the loops.
#include "cli/CliSession.h"

#include <ostream>

#include "engine/CycleSink.h"
#include "engine/Listener.h"
#include "line/SettingsSearch.h"
#include "lines/LineSettings.h"
#include "monitor/MonitorCsv.h"
#include "watch/MetricsEndpoint.h"
#include "watch/WatchMetrics.h"

namespace tarvel {

Duration CliSession::Progress::Elapsed() const { return session_.host_.scheduler.Now() - start_; }

void CliSession::Progress::Started() {
    start_ = session_.host_.scheduler.Now();
    // Ctrl+C in the settle before the loop began: the loop has just cleared StopFlag.
    session_.StopIfAsked();
}

bool CliSession::Progress::Showing() const { return session_.host_.progress; }

void CliSession::Progress::Show(const std::string& text) {
    if (Showing()) {
        ShowProgress(session_.host_.err, text);
    }
}

void CliSession::Progress::EndLine() {
    if (Showing()) {
        EndProgress(session_.host_.err);
    }
}

void CliSession::Progress::Logged() {
    session_.NoteEcho();
    // Whatever the monitor's traffic holds that the log does not yet: every exchange once,
    // whichever of the two heard it first.
    const TrafficLog& traffic = session_.monitor_.Traffic();
    const std::uint64_t unlogged = traffic.Added() - trafficLogged_;
    for (std::size_t i = traffic.Size() - std::min<std::uint64_t>(unlogged, traffic.Size());
         i < traffic.Size(); ++i) {
        session_.files_.Append(TrafficCsvRecords(traffic.At(i), traffic.NumberOf(i)));
    }
    trafficLogged_ = traffic.Added();
}

CliSession::CliSession(const CliOptions& options, CliHost host)
    : options_(options),
      host_(std::move(host)),
      port_(host_.line, primo_, host_.scheduler),
      lineUse_(host_.scheduler),
      monitor_(
          host_.scheduler,
          [this] {
              const auto settings = ParseSettingsText(SettingsText(primo_));
              return settings ? CharacterTime(*settings) : Duration{0};
          },
          [this] { return host_.line.ErrorCounts(); },
          // A watch logs each exchange as it is judged and shows no traffic: a few are enough,
          // where a day of them would take tens of megabytes.
          options.command == CliCommand::Watch ? 64 : TrafficLog::DefaultCapacity),
      files_(host_.scheduler, host_.err),
      started_(host_.scheduler.LocalNow()) {
    ApplyLineOptions(options_, primo_);
    if (options_.command == CliCommand::Listen || options_.listen) {
        primo_.RetryCount = 0;  // nothing is sent, so nothing is tried again
    }
    // Ascon's own, shared with the windows; another protocol as the options ask it.
    if (options_.line.protocol != 0) {
        protocol_ = ProtocolOf(options_);
        port_.SetLineProtocol(*protocol_);
    }
    // Listening measures its window from the request's end, itself.
    if (options_.command != CliCommand::Listen && !options_.listen) {
        port_.SetAnswerWindow(options_.answerWindow);
        monitor_.SetAnswerWindow(options_.answerWindow);
    }
    monitor_.SetLineSource([this] { return Line(); });
    monitor_.SetProtocolSource([this]() -> const Protocol& { return port_.LineProtocol(); });
    monitor_.SetRoundTripSource([this] { return host_.line.RoundTrip(); });
    monitor_.SetEchoSource([this] { return host_.line.Echo(); });
    monitor_.SetDroppedSource([this] { return host_.line.DroppedInput(); });
}

LineDescription CliSession::Line() const {
    return DescribeLine(primo_, host_.portDevice, options_.portEntry);
}

DecoderSettings CliSession::LineAsHeard() const {
    const auto settings = ParseSettingsText(SettingsText(primo_));
    DecoderSettings heard;
    heard.characterTime = settings ? CharacterTime(*settings) : Duration{0};
    heard.answerWindow = options_.answerWindow.value_or(port_.TimingsOf(ExchangeKind::Test).window);
    return heard;
}

Provenance CliSession::MadeOf(bool usesLine) const {
    if (usesLine) {
        droppedReported_ = host_.line.DroppedInput();
    }
    return Provenance{started_, host_.scheduler.LocalNow(),
                      usesLine ? std::optional<LineDescription>(Line()) : std::nullopt,
                      usesLine ? host_.line.Echo() : std::nullopt,
                      usesLine ? *droppedReported_ : 0};
}

void CliSession::NoteEcho() {
    const std::optional<EchoReport> echo = host_.line.Echo();
    if (!echo) {
        return;
    }
    const auto tell = [this](const char* notice) {
        if (host_.progress) {
            EndProgress(host_.err);
        }
        host_.err << "line-tarvel-cli: " << notice << "\n";
    };
    if (echo->undecided > undecidedNoted_) {
        undecidedNoted_ = echo->undecided;
        tell(kUndecidedEchoNotice);
    }
    if (!echoNoted_ && echo->echoes) {
        echoNoted_ = true;
        tell(kEchoNotice);
    }
}

CliSession::~CliSession() { port_.ClosePort(); }

void CliSession::Stop(std::string signalName) { StopRun(std::move(signalName)); }

void CliSession::StopRun(std::string cause) {
    if (stopCause_.empty()) {
        stopCause_ = std::move(cause);
    }
    primo_.StopFlag = kTrue;
    if (listener_ != nullptr) {
        listener_->Stop();
    }
    if (search_ != nullptr) {
        search_->RequestStop();
    }
    stopAsked_.Notify();
}

void CliSession::StopIfAsked() {
    if (!stopCause_.empty()) {
        primo_.StopFlag = kTrue;
    }
}

QCoro::Task<int> CliSession::Run() {
    // Nobody above would hear of an escaped exception: the program would wait for ever.
    try {
        const int status = co_await RunCommand();
        // A port that floods is told once, whatever the command made of the rest.
        if (const std::uint64_t dropped = droppedReported_.value_or(host_.line.DroppedInput());
            dropped > 0) {
            const std::optional<LineSettings> settings = ParseSettingsText(SettingsText(primo_));
            host_.err << "line-tarvel-cli: "
                      << DroppedInputNotice(dropped, settings ? settings->baud : 0) << "\n";
        }
        co_return status;
    } catch (const std::exception& failure) {
        host_.err << "line-tarvel-cli: " << failure.what() << "\n";
    } catch (...) {
        host_.err << "line-tarvel-cli: an unknown failure ended the command\n";
    }
    co_return kPortOrFileFailed;
}

QCoro::Task<int> CliSession::RunCommand() {
    switch (options_.command) {
        case CliCommand::Scan: co_return co_await Scan();
        case CliCommand::Test: co_return co_await Test();
        case CliCommand::Send: co_return co_await Send();
        case CliCommand::Counters: co_return co_await Counters();
        case CliCommand::Listen: co_return co_await Listen();
        case CliCommand::Watch: co_return co_await Watch();
        case CliCommand::Analyse: co_return Analyse();
        case CliCommand::ListPorts:
        case CliCommand::None: break;
    }
    co_return kUsageError;
}

QCoro::Task<bool> CliSession::OpenLine() {
    // Each co_await a statement of its own: g++ 12 miscompiles one in a short-circuit operand.
    const bool failed = co_await port_.OpenPortAsync();
    if (!failed) {
        co_return true;
    }
    // The host's reason names the device.
    host_.err << "line-tarvel-cli: cannot open the port: " << port_.OpenFailure() << "\n";
    co_return false;
}

bool CliSession::AddDocument(const std::string& path, const char* what, RunFiles::Content content) {
    return path.empty() || files_.AddDocument(path, what, std::move(content));
}

bool CliSession::PrepareFiles() {
    if (!AddDocument(options_.statsFile, "statistics",
                     [this] { return StatisticsCsv(monitor_, host_.scheduler.LocalNow()); })) {
        return false;
    }
    return options_.trafficFile.empty() ||
           files_.AddLog(options_.trafficFile, "traffic", TrafficCsvHeader());
}

std::optional<int> CliSession::FailureStatus(const std::string& lineFailure, bool filesWritten) {
    if (!lineFailure.empty()) {
        host_.err << "line-tarvel-cli: the serial line failed: " << lineFailure << "\n";
        return kPortOrFileFailed;
    }
    if (!filesWritten) {
        return kPortOrFileFailed;
    }
    return std::nullopt;
}

std::optional<Scheduler::TimerId> CliSession::StopAtDuration() {
    if (!options_.duration) {
        return std::nullopt;
    }
    return host_.scheduler.CallAt(host_.scheduler.Now() + *options_.duration,
                                  [this] { StopRun("the time asked for"); });
}

}  // namespace tarvel
