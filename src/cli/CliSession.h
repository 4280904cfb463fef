// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoroTask>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/CliReport.h"
#include "cli/RunFiles.h"
#include "core/DeviceTable.h"
#include "core/LineDescription.h"
#include "core/Primo.h"
#include "lines/SerialLine.h"
#include "monitor/LineMonitor.h"
#include "platform/Notifier.h"
#include "platform/Scheduler.h"
#include "protocol/FrameDecoder.h"
#include "serial/LineUse.h"
#include "serial/PortService.h"

namespace tarvel {

// The exit statuses of line-tarvel-cli.
enum ExitStatus : int {
    kAllWell = 0,       // every exchange good, a controller found, an answer came
    kLineFailures = 1,  // failed exchanges, nothing found, no answer
    kUsageError = 2,
    kPortOrFileFailed = 3,
};

// What a session prints on and runs on.
struct CliHost {
    Scheduler& scheduler;
    SerialLine& line;
    std::ostream& out;
    std::ostream& err;
    bool progress = false;  // show progress on `err` (it is a terminal)
    // The device behind the port the options chose, for the reports; empty when none is.
    std::string portDevice;
};

class ExchangeSink;
class Listener;
class MetricsEndpoint;
class WatchMetrics;
class SettingsSearch;

// One command of line-tarvel-cli, from opening the port to the report: the same test cycle,
// line detector, terminal exchange, analysis and file formats as the windows, with the line
// monitor's statistics. The shared part is CliSession.cpp; each command has a file of its own.
class CliSession {
public:
    CliSession(const CliOptions& options, CliHost host);
    ~CliSession();
    CliSession(const CliSession&) = delete;
    CliSession& operator=(const CliSession&) = delete;

    // Runs the command to its end and returns the exit status. Whatever escapes the command is
    // told on standard error and ends it with kPortOrFileFailed.
    QCoro::Task<int> Run();
    // A signal: like Stop, the exchange in progress ends properly, then the files and the
    // report, which says the run was ended by `signalName` ("Ctrl+C", "SIGTERM").
    void Stop(std::string signalName);
    // SIGHUP: a watch reopens its files, for logrotate.
    void Reopen();

    const LineMonitor& Monitor() const { return monitor_; }
    // A watch's metrics and the port they are served on, once it has begun; nothing, 0 before.
    const WatchMetrics* Metrics() const { return watchMetrics_.get(); }
    int MetricsPort() const;

private:
    // What the sinks of the test cycle, the line detector and the listener share: the command's
    // clock, its progress line on a terminal, and the --traffic log (CliSession.cpp).
    class Progress {
    public:
        explicit Progress(CliSession& session) : session_(session) {}
        Duration Elapsed() const;
        // The monitor's traffic started again from nothing (a watch's new day).
        void TrafficCleared() { trafficLogged_ = 0; }

    protected:
        // The loop has begun: the clock starts, and a stop asked before it still holds.
        void Started();
        // Progress is shown on a terminal only; Show rewrites its line.
        bool Showing() const;
        void Show(const std::string& text);
        // Clears the progress line, at the end or for a line of text of its own.
        void EndLine();
        // Each judged exchange: the echo told once, and the traffic the log still lacks.
        void Logged();

        CliSession& session_;

    private:
        Instant start_{};
        std::uint64_t trafficLogged_ = 0;  // exchanges of the monitor's traffic in the log
    };
    // One sink for each loop, each beside its command.
    class ScanProgress;    // CliScan.cpp
    class CycleProgress;   // CliTest.cpp
    class ListenProgress;  // CliListen.cpp
    class WatchProgress;   // CliWatch.cpp
    // The sink of the command's loop, kept as long as the session: the files read it until they
    // are closed, after a command that failed too.
    template <class Sink, class... Parts>
    Sink& KeepProgress(Parts&... parts) {
        auto sink = std::make_unique<Sink>(*this, parts...);
        Sink& kept = *sink;
        progress_ = std::move(sink);
        return kept;
    }

    // Tells on standard error, once, that the port echoes; and, after each answer that may have
    // been the port's echo, that it may have been.
    void NoteEcho();
    bool echoNoted_ = false;
    long undecidedNoted_ = 0;
    // The dropped input the last document told of, so that the notice on standard error gives
    // the same count: the line goes on dropping until it is closed.
    mutable std::optional<std::uint64_t> droppedReported_;

    // One file each.
    QCoro::Task<int> Scan();
    // scan --all-settings: the search across settings (CliSearch.cpp).
    QCoro::Task<int> SearchAllSettings();
    QCoro::Task<int> Test();
    // The controllers a test asks, from --cfg or --addresses; false, told, for a file that
    // cannot be read or is no line configuration.
    bool LoadConfiguration();
    QCoro::Task<int> Send();
    // What each controller counted of its bus (CliCounters.cpp).
    QCoro::Task<int> Counters();
    QCoro::Task<int> Listen();
    // A line watched until a signal ends it (CliWatch.cpp).
    QCoro::Task<int> Watch();
    // One opening of the port: the test cycle or the listener until the line is lost (the
    // reason) or the watch is stopped.
    QCoro::Task<std::string> WatchRun(WatchProgress& progress);
    // watch --targets: the file_sd targets of the watches' confs.
    int PrintTargets();
    // A line of the watch's log, with its syslog priority in front for journald.
    void WatchLog(int priority, const std::string& text);
    std::string WatchName() const;
    // The traffic file of today, after the old days beyond --keep-days are removed.
    bool OpenTrafficDay();
    void NewDay(WatchProgress& progress, const CalendarDate& today);
    void RemoveOldDaysOf(const std::string& given, const char* what, const CalendarDate& today);
    // What the listener heard since it was last counted, into the metrics.
    void CountHeard();
    void ReopenFiles();
    std::optional<std::string> WatchStatusJson(const WatchMetrics& metrics,
                                               const std::string& name) const;
    int Analyse();
    // Opens the line; false, with the reason on standard error, when it cannot be. A port across
    // the network connects meanwhile, so a Ctrl+C is still heard.
    QCoro::Task<bool> OpenLine();
    // The output files are checked before the line is opened: false, with the reason on standard
    // error, when one cannot be written. A command adds its own documents first, then the
    // statistics and the traffic of --stats and --traffic.
    bool AddDocument(const std::string& path, const char* what, RunFiles::Content content);
    bool PrepareFiles();
    // kPortOrFileFailed when the line failed (told on standard error) or a file was not written.
    std::optional<int> FailureStatus(const std::string& lineFailure, bool filesWritten);
    // Stops the run once --duration is over; nothing without it.
    std::optional<Scheduler::TimerId> StopAtDuration();
    LineDescription Line() const;
    // The character time of the line's settings and the answer window of its test exchanges
    // (--answer-window's, when given), as the listener judges by them.
    DecoderSettings LineAsHeard() const;
    Provenance MadeOf(bool usesLine) const;
    // Ends the run after the exchange in progress; the first cause given is the one reported.
    void StopRun(std::string cause);
    // Stops again a loop that has just cleared StopFlag, when a stop came before it began.
    void StopIfAsked();
    QCoro::Task<int> RunCommand();

    const CliOptions& options_;
    CliHost host_;
    std::unique_ptr<const Protocol> protocol_;  // when the line speaks another than Ascon
    Primo primo_;
    PortService port_;
    LineUse lineUse_;
    ControllerAddressTable table_ = StartupAddressTable();
    LineMonitor monitor_;
    std::string stopCause_;  // empty until something asks the run to stop
    std::unique_ptr<ExchangeSink> progress_;
    Listener* listener_ = nullptr;      // while listening
    SettingsSearch* search_ = nullptr;  // while searching across settings
    // A watch's: woken by a stop while it waits to reopen the port.
    Notifier stopAsked_;
    CalendarDate trafficDay_;
    CalendarDate statisticsDay_;
    bool trafficOpened_ = false;  // its day's file, once the watch has begun
    int trafficRetryTicks_ = 0;
    // What the listener of the present opening has heard and the metrics have counted.
    std::int64_t heardFrames_ = 0;
    Duration heardBusy_{0};
    std::int64_t heardNoise_ = 0;
    std::unique_ptr<WatchMetrics> watchMetrics_;
    std::unique_ptr<MetricsEndpoint> endpoint_;
    RunFiles files_;
    LocalDateTime started_;
};

}  // namespace tarvel
