// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CliSession.h"

#include <QString>
#include <cstdio>
#include <ostream>
#include <sstream>

#include "cli/CliReport.h"
#include "cli/ListenReport.h"
#include "core/Analysis.h"
#include "core/AsconFrame.h"
#include "core/ConfigFile.h"
#include "core/ListFile.h"
#include "engine/AsconCycle.h"
#include "engine/Listener.h"
#include "line/LineDetector.h"
#include "line/SettingsSearch.h"
#include "lines/LineSettings.h"
#include "monitor/MonitorCsv.h"
#include "platform/DurableFiles.h"
#include "platform/TextFiles.h"
#include "serial/ReceiveAnswer.h"
#include "serial/Terminal.h"

namespace tarvel {
namespace {

std::string Seconds(Duration time) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f s", std::chrono::duration<double>(time).count());
    return text;
}

// Progress on one line of a terminal, rewritten in place.
void ShowProgress(std::ostream& err, const std::string& text) {
    err << "\r" << text << "\x1b[K" << std::flush;
}

void EndProgress(std::ostream& err) { err << "\r\x1b[K" << std::flush; }

}  // namespace

// Hears the test cycle, the line detector and the listener: progress for the operator, the
// traffic log, the error list, the sweeps and the stop.
class CliSession::ProgressSink final : public CycleSink, public ScanSink, public ListenSink {
public:
    explicit ProgressSink(CliSession& session) : session_(session) {}

    // The test cycle.
    void RunStarted(int controllers) override {
        controllers_ = controllers;
        Started();
    }
    void AttemptStarting(int position) override {
        if (session_.host_.progress) {
            char text[160];
            std::snprintf(text, sizeof text, "sweep %d, controller %c (%d of %d), %s, errors %d",
                          sweeps_ + 1, AddressCharacter(session_.table_[position]), position + 1,
                          controllers_, Seconds(Elapsed()).c_str(),
                          static_cast<int>(records.size()));
            ShowProgress(session_.host_.err, text);
        }
    }
    void ExchangeJudged(const Exchange& exchange) override {
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
        if (listening_) {
            heardFailures_ += exchange.Failed() ? 1 : 0;
            if (session_.host_.progress) {
                char text[160];
                std::snprintf(text, sizeof text, "listening, %s, %ld exchanges heard, %ld failed",
                              Seconds(Elapsed()).c_str(), static_cast<long>(traffic.Added()),
                              heardFailures_);
                ShowProgress(session_.host_.err, text);
            }
            return;
        }
        if (!inCycle_) {
            scanFailures_ += exchange.Failed() ? 1 : 0;
            return;
        }
        if (exchange.Failed()) {
            records.push_back(TimedRecord{ErrorRecord(exchange), exchange.judgedAt});
        }
        // A sweep ends with the last controller's good answer or its last attempt.
        const bool lastAttempt =
            !exchange.Failed() || exchange.request.attempt >= session_.primo_.RetryCount;
        if (lastAttempt && exchange.request.position == controllers_ - 1) {
            ++sweeps_;
            if (session_.options_.sweeps && sweeps_ >= *session_.options_.sweeps) {
                session_.StopRun("the sweeps asked for");
            }
        }
    }
    void RunEnded(const RunEnd&) override { Ended(); }

    // The listener.
    void ListenStarted(Duration) override {
        listening_ = true;
        Started();
    }
    void ListenEnded(const ListenEnd&) override { Ended(); }

    // The line detector.
    void ScanStarted() override {
        inCycle_ = false;
        Started();
    }
    void AddressStarting(int index) override {
        if (session_.host_.progress) {
            char text[160];
            std::snprintf(text, sizeof text, "address %c (%d of %d), %s, found %d, errors %d",
                          AddressCharacter(index), index + 1, kAddressCount,
                          Seconds(Elapsed()).c_str(), found_, scanFailures_);
            ShowProgress(session_.host_.err, text);
        }
    }
    void ControllerFound(int index, int found) override {
        found_ = found;
        if (session_.options_.json) {
            return;
        }
        if (session_.host_.progress) {
            EndProgress(session_.host_.err);
        }
        session_.host_.out << "Controller " << AddressCharacter(index) << " found (address "
                           << index << ")\n"
                           << std::flush;
    }
    void ScanEnded(const ScanEnd&) override { Ended(); }

    Duration Elapsed() const { return session_.host_.scheduler.Now() - start_; }
    int Sweeps() const { return sweeps_; }
    int Found() const { return found_; }

    std::vector<TimedRecord> records;  // the error list

private:
    void Started() {
        start_ = session_.host_.scheduler.Now();
        // Ctrl+C in the settle before the loop began: the loop has just cleared StopFlag.
        session_.StopIfAsked();
    }
    void Ended() {
        if (session_.host_.progress) {
            EndProgress(session_.host_.err);
        }
    }

    CliSession& session_;
    Instant start_{};
    int controllers_ = 0;
    int sweeps_ = 0;
    int found_ = 0;
    int scanFailures_ = 0;  // the scan's failed exchanges, most of them at empty addresses
    std::uint64_t trafficLogged_ = 0;  // exchanges of the monitor's traffic in the --traffic log
    bool inCycle_ = true;
    bool listening_ = false;
    long heardFailures_ = 0;
};

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
          [this] { return host_.line.ErrorCounts(); }),
      progress_(std::make_unique<ProgressSink>(*this)),
      files_(host_.scheduler, host_.err),
      started_(host_.scheduler.LocalNow()) {
    ApplyPortChoices(options_.line, primo_);
    if (options_.command == CliCommand::Listen) {
        primo_.RetryCount = 0;  // nothing is sent, so nothing is tried again
    }
    primo_.DataBitsText = DataBitsFor(primo_.ParityText);
    monitor_.SetLineSource([this] { return Line(); });
    monitor_.SetRoundTripSource([this] { return host_.line.RoundTrip(); });
    monitor_.SetEchoSource([this] { return host_.line.Echo(); });
}

LineDescription CliSession::Line() const {
    return DescribeLine(primo_, host_.portDevice, options_.portEntry);
}

Provenance CliSession::MadeOf(bool usesLine) const {
    return Provenance{started_, host_.scheduler.LocalNow(),
                      usesLine ? std::optional<LineDescription>(Line()) : std::nullopt,
                      usesLine ? host_.line.Echo() : std::nullopt};
}

void CliSession::NoteEcho() {
    if (echoNoted_) {
        return;
    }
    const std::optional<EchoReport> echo = host_.line.Echo();
    if (!echo || !echo->echoes) {
        return;
    }
    echoNoted_ = true;
    if (host_.progress) {
        EndProgress(host_.err);
    }
    host_.err << "line-tarvel-cli: " << kEchoNotice << "\n";
}

std::vector<std::string> CliSession::RecordTexts() const {
    std::vector<std::string> texts;
    texts.reserve(progress_->records.size());
    for (const TimedRecord& record : progress_->records) {
        texts.push_back(record.text);
    }
    return texts;
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
}

void CliSession::StopIfAsked() {
    if (!stopCause_.empty()) {
        primo_.StopFlag = kTrue;
    }
}

QCoro::Task<int> CliSession::Run() {
    // Nobody above would hear of an escaped exception: the program would wait for ever.
    try {
        co_return co_await RunCommand();
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
        case CliCommand::Listen: co_return co_await Listen();
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

bool CliSession::PrepareFiles() {
    const bool scan = options_.command == CliCommand::Scan;
    const bool listen = options_.command == CliCommand::Listen;
    bool prepared = true;
    const auto document = [&](const std::string& path, const char* what,
                              RunFiles::Content content) {
        prepared = prepared && (path.empty() || files_.AddDocument(path, what, std::move(content)));
    };
    if (scan) {
        document(options_.cfgFile, "line configuration", [this]() -> std::optional<std::string> {
            // The table holds the controllers found so far; none found, no file.
            if (progress_->Found() == 0) {
                return std::nullopt;
            }
            return FormatLineConfiguration(static_cast<std::int16_t>(progress_->Found()), table_);
        });
    } else if (!listen) {
        document(options_.lstFile, "error list", [this] { return FormatListFile(RecordTexts()); });
        document(options_.datFile, "analysis report",
                 [this] { return FormatListFile(tarvel::Analyse(RecordTexts()).lines); });
    }
    document(options_.statsFile, "statistics",
             [this] { return StatisticsCsv(monitor_, host_.scheduler.LocalNow()); });
    if (prepared && !options_.trafficFile.empty()) {
        prepared = files_.AddLog(options_.trafficFile, "traffic", TrafficCsvHeader());
    }
    return prepared;
}

bool CliSession::LoadConfiguration() {
    if (options_.cfgFile.empty()) {
        primo_.DeviceCount = static_cast<std::int16_t>(options_.addresses.size());
        for (std::size_t i = 0; i < options_.addresses.size(); ++i) {
            table_[i] = static_cast<std::int16_t>(AddressIndexOf(options_.addresses[i]));
        }
        return true;
    }
    const auto read = ReadLineConfigurationFile(options_.cfgFile);
    if (const auto* refusal = std::get_if<FileRefusal>(&read)) {
        host_.err << "line-tarvel-cli: cannot read the line configuration "
                  << ShownPath(options_.cfgFile) << ": " << refusal->text << "\n";
        return false;
    }
    if (const auto* problem = std::get_if<ConfigProblem>(&read)) {
        host_.err << "line-tarvel-cli: " << ShownPath(options_.cfgFile)
                  << " is no line configuration: " << problem->text << "\n";
        return false;
    }
    const auto& configuration = std::get<LineConfiguration>(read);
    primo_.DeviceCount = configuration.deviceCount;
    for (std::size_t i = 0; i < configuration.addresses.size(); ++i) {
        table_[i] = configuration.addresses[i];
    }
    return true;
}

QCoro::Task<int> CliSession::Scan() {
    if (options_.allSettings) {
        co_return co_await SearchAllSettings();
    }
    if (!PrepareFiles()) {
        co_return kPortOrFileFailed;
    }
    const bool opened = co_await OpenLine();
    if (!opened) {
        co_return kPortOrFileFailed;
    }
    if (!options_.json) {
        host_.out << ProvenanceStart("scan", started_, Line()) << "\n" << std::flush;
    }
    LineDetector detector(primo_, port_, table_);
    detector.AddSink(monitor_.ScanEvents());
    detector.AddSink(*progress_);
    files_.Start();
    const ScanEnd end = co_await detector.Scan(co_await lineUse_.Acquire());

    const bool filesWritten = co_await files_.Finish();
    if (!options_.cfgFile.empty() && end.found.empty()) {
        host_.err << "line-tarvel-cli: no controller found, so " << ShownPath(options_.cfgFile)
                  << " is not written\n";
    }
    const LineStatistics& statistics = monitor_.ScanStatistics();
    const Provenance provenance = MadeOf(true);
    if (options_.json) {
        QJsonArray found;
        for (const std::int16_t index : end.found) {
            found.append(QString(QChar::fromLatin1(AddressCharacter(index))));
        }
        QJsonObject document{
            {"command", "scan"},
            {"found", found},
            {"stopped", end.stopped},
            {"lineFailure", end.lineFailure.empty()
                                ? QJsonValue(QJsonValue::Null)
                                : QJsonValue(QString::fromStdString(end.lineFailure))},
            {"seconds", Rounded(std::chrono::duration<double>(progress_->Elapsed()).count(), 1)},
            // What the scan found, not the line's health: a test run tells that.
            {"scan", ScanJson(statistics)},
            {"controllers", AnsweringControllersJson(statistics)},
        };
        AddProvenance(document, provenance);
        host_.out << JsonText(document);
    } else {
        std::string names;
        for (const std::int16_t index : end.found) {
            names += std::string(" ") + AddressCharacter(index);
        }
        host_.out << (end.stopped ? "Scan stopped: " : "Scan finished: ")
                  << Counted(static_cast<long>(end.found.size()), "controller") << " found"
                  << (end.found.empty() ? "" : ":" + names) << " (" << Seconds(progress_->Elapsed())
                  << ", ended " << Iso8601(provenance.ended) << ")\n";
    }
    if (!end.lineFailure.empty()) {
        host_.err << "line-tarvel-cli: the serial line failed: " << end.lineFailure << "\n";
        co_return kPortOrFileFailed;
    }
    if (!filesWritten) {
        co_return kPortOrFileFailed;
    }
    co_return end.found.empty() ? kLineFailures : kAllWell;
}

QCoro::Task<int> CliSession::Test() {
    if (!LoadConfiguration() || !PrepareFiles()) {
        co_return kPortOrFileFailed;
    }
    const bool opened = co_await OpenLine();
    if (!opened) {
        co_return kPortOrFileFailed;
    }
    AsconCycle cycle(primo_, port_, table_);
    cycle.AddSink(monitor_.CycleEvents());
    cycle.AddSink(*progress_);
    files_.Start();
    std::optional<Scheduler::TimerId> timer;
    if (options_.duration) {
        timer = host_.scheduler.CallAt(host_.scheduler.Now() + *options_.duration,
                                       [this] { StopRun("the time asked for"); });
    }
    const RunEnd end = co_await cycle.TxAscon(co_await lineUse_.Acquire());
    if (timer) {
        host_.scheduler.Cancel(*timer);
    }

    const bool filesWritten = co_await files_.Finish();
    const std::vector<std::string> records = RecordTexts();
    const AnalysisReport report = tarvel::Analyse(records);
    const Provenance provenance = MadeOf(true);

    const LineStatistics& statistics = monitor_.Statistics();
    // Nothing else sets StopFlag, so one of these is always there.
    const std::string why = end.errorLimit             ? "the error limit"
                            : !end.lineFailure.empty() ? "a failed line"
                                                       : stopCause_;
    // Stopped before its first exchange, a run has seen no failure and proved nothing either.
    const bool nothingAsked = statistics.Exchanges() == 0;
    if (options_.json) {
        QJsonObject document{
            {"command", "test"},
            {"controllers", ControllersJson(statistics)},
            {"sweeps", progress_->Sweeps()},
            {"seconds", Rounded(std::chrono::duration<double>(progress_->Elapsed()).count(), 1)},
            {"errors", end.errors},
            {"errorLimit", end.errorLimit},
            {"stoppedBy", QString::fromStdString(why)},
            {"lineFailure", end.lineFailure.empty()
                                ? QJsonValue(QJsonValue::Null)
                                : QJsonValue(QString::fromStdString(end.lineFailure))},
            {"line", LineJson(statistics, monitor_.ErrorsSinceStart())},
            {"records", RecordsJson(progress_->records)},
            {"analysis", AnalysisJson(report)},
        };
        AddProvenance(document, provenance);
        if (const std::optional<Duration> roundTrip = monitor_.RoundTrip()) {
            // A port across the network: what it adds to every response time.
            document["roundTripMs"] =
                Rounded(std::chrono::duration<double, std::milli>(*roundTrip).count(), 2);
        }
        host_.out << JsonText(document);
    } else {
        std::ostream& out = host_.out;
        out << ProvenanceLine("test", provenance) << "\n";
        out << "Test run over " << Counted(primo_.DeviceCount, "controller") << ": "
            << Counted(progress_->Sweeps(), "sweep") << ", "
            << Counted(statistics.Exchanges(), "exchange") << " in "
            << Seconds(progress_->Elapsed()) << ", " << Counted(end.errors, "error")
            << "; ended by " << why << "\n";
        if (nothingAsked) {
            out << "No exchange was made: nothing is known of the line.\n";
        }
        out << "\n";
        out << "Analysis:\n";
        for (const std::string& line : report.lines) {
            out << line << "\n";
        }
        out << "\nStatistics (response times in ms from the end of the request):\n"
            << StatisticsTable(statistics) << LineSummary(statistics, monitor_.ErrorsSinceStart());
        if (const std::optional<Duration> roundTrip = monitor_.RoundTrip()) {
            char text[120];
            std::snprintf(text, sizeof text,
                          "Network round trip: %.2f ms, in every response time above\n",
                          std::chrono::duration<double, std::milli>(*roundTrip).count());
            out << text;
        }
    }
    if (!end.lineFailure.empty()) {
        host_.err << "line-tarvel-cli: the serial line failed: " << end.lineFailure << "\n";
        co_return kPortOrFileFailed;
    }
    if (!filesWritten) {
        co_return kPortOrFileFailed;
    }
    co_return end.errors == 0 && records.empty() && !nothingAsked ? kAllWell : kLineFailures;
}

QCoro::Task<int> CliSession::Listen() {
    if (!PrepareFiles()) {
        co_return kPortOrFileFailed;
    }
    const bool opened = co_await OpenLine();
    if (!opened) {
        co_return kPortOrFileFailed;
    }
    const auto settings = ParseSettingsText(SettingsText(primo_));
    SplitterSettings heard;
    heard.characterTime = settings ? CharacterTime(*settings) : Duration{0};
    heard.answerWindow = options_.answerWindow.value_or(AnswerWindow);
    // The listener is given the line's receiving side only: nothing here can send.
    Listener listener(ReadOnlyLine(port_.Line()), host_.scheduler, heard);
    listener.AddSink(monitor_.ListenEvents());
    listener.AddSink(*progress_);
    listener_ = &listener;
    if (!stopCause_.empty()) {
        listener.Stop();  // Ctrl+C while the port was being opened
    }
    std::optional<Scheduler::TimerId> timer;
    if (options_.duration) {
        timer = host_.scheduler.CallAt(host_.scheduler.Now() + *options_.duration,
                                       [this] { StopRun("the time asked for"); });
    }
    files_.Start();
    const ListenEnd end = co_await listener.Listen(co_await lineUse_.Acquire());
    listener_ = nullptr;
    if (timer) {
        host_.scheduler.Cancel(*timer);
    }
    const bool filesWritten = co_await files_.Finish();

    const LineStatistics& statistics = monitor_.Statistics();
    const FrameSplitter& splitter = listener.Splitter();
    const Duration listened = progress_->Elapsed();
    const std::optional<UartErrorCounts> driverErrors = monitor_.ErrorsSinceStart();
    const auto warning = WrongSpeedWarning(splitter, driverErrors, Line());
    const std::string why = !end.lineFailure.empty() ? "a failed line" : stopCause_;
    const Provenance provenance = MadeOf(true);
    if (options_.json) {
        QJsonArray controllers;
        for (const ControllerStatistics& controller : statistics.Controllers()) {
            QJsonObject one = ControllerJson(controller, statistics.AnswerWindow());
            one.insert("pollCycle", PollCycleJson(splitter.PollsOf(controller.address)));
            controllers.append(one);
        }
        QJsonObject document{
            {"command", "listen"},
            {"controllers", controllers},
            {"answerWindowMs",
             Rounded(std::chrono::duration<double, std::milli>(heard.answerWindow).count(), 1)},
            {"seconds", Rounded(std::chrono::duration<double>(listened).count(), 1)},
            {"stoppedBy", QString::fromStdString(why)},
            {"lineFailure", end.lineFailure.empty()
                                ? QJsonValue(QJsonValue::Null)
                                : QJsonValue(QString::fromStdString(end.lineFailure))},
            {"line", LineJson(statistics, driverErrors)},
            {"heard", ListenedLineJson(splitter, listened)},
            {"warning",
             warning ? QJsonValue(QString::fromStdString(*warning)) : QJsonValue(QJsonValue::Null)},
        };
        AddProvenance(document, provenance);
        host_.out << JsonText(document);
    } else {
        std::ostream& out = host_.out;
        out << ProvenanceLine("listen", provenance) << "\n";
        out << "Listened for " << Seconds(listened) << ": "
            << Counted(splitter.Requests(), "request") << " heard, "
            << Counted(statistics.Exchanges(), "exchange") << " judged; ended by " << why << "\n";
        if (warning) {
            out << "Warning: " << *warning << "\n";
        }
        if (splitter.Bytes() == 0) {
            out << "Nothing was heard on the line: is its master polling, and are the A and B "
                   "wires the right way round?\n";
        }
        out << "\nStatistics (response times in ms from the end of the request):\n"
            << StatisticsTable(statistics) << LineSummary(statistics, driverErrors)
            << ListenedLineText(splitter, listened, statistics);
    }
    if (warning) {
        host_.err << "line-tarvel-cli: " << *warning << "\n";
    }
    if (!end.lineFailure.empty()) {
        host_.err << "line-tarvel-cli: the serial line failed: " << end.lineFailure << "\n";
        co_return kPortOrFileFailed;
    }
    if (!filesWritten) {
        co_return kPortOrFileFailed;
    }
    const bool allAnswered =
        statistics.Exchanges() > 0 && statistics.Good() == statistics.Exchanges();
    co_return allAnswered ? kAllWell : kLineFailures;
}

QCoro::Task<int> CliSession::Send() {
    // The command line comes as UTF-8; the line takes one byte a character, as the terminal
    // window does.
    std::string frames[2];
    const std::string typed[2] = {options_.frame, options_.value.value_or("")};
    for (int i = 0; i < 2; ++i) {
        const QString text =
            QString::fromUtf8(typed[i].data(), static_cast<qsizetype>(typed[i].size()));
        for (const QChar c : text) {
            if (c.unicode() > 0xFF) {
                host_.err << "line-tarvel-cli: the frame holds a character without an 8-bit code; "
                             "nothing was sent\n";
                co_return kUsageError;
            }
        }
        frames[i] = text.toLatin1().toStdString();
    }
    const bool opened = co_await OpenLine();
    if (!opened) {
        co_return kPortOrFileFailed;
    }
    const std::string answer = co_await SendTerminalFrames(port_, primo_, frames[0], frames[1]);
    NoteEcho();
    host_.out
        << QString::fromLatin1(answer.data(), static_cast<qsizetype>(answer.size())).toStdString()
        << "\n";
    if (!port_.Line().PortOpen()) {
        host_.err << "line-tarvel-cli: the serial line failed: " << port_.Line().LastError()
                  << "\n";
        co_return kPortOrFileFailed;
    }
    const bool failed = answer == kNoAnswer || answer == kWrongCount || answer == kUnknownFormat;
    co_return failed ? kLineFailures : kAllWell;
}

int CliSession::Analyse() {
    std::string bytes;
    if (const auto refusal = ReadRegularFile(options_.listFile, bytes)) {
        host_.err << "line-tarvel-cli: cannot read the error list " << ShownPath(options_.listFile)
                  << ": " << refusal->text << "\n";
        return kPortOrFileFailed;
    }
    const auto read = ReadListFile(bytes);
    if (const auto* problem = std::get_if<ListFileProblem>(&read)) {
        host_.err << "line-tarvel-cli: " << ShownPath(options_.listFile)
                  << " is no list file: " << problem->text << "\n";
        return kPortOrFileFailed;
    }
    const AnalysisReport report = tarvel::Analyse(std::get<std::vector<std::string>>(read));
    if (report.skipped > 0) {
        host_.err << "line-tarvel-cli: " << Counted(report.skipped, "line")
                  << (report.skipped == 1 ? " is" : " are") << " no error record and left out\n";
    }
    if (!options_.datFile.empty()) {
        if (const auto failure = WriteFileDurably(options_.datFile, FormatListFile(report.lines))) {
            host_.err << "line-tarvel-cli: cannot write the analysis report "
                      << ShownPath(options_.datFile) << ": " << *failure << "\n";
            return kPortOrFileFailed;
        }
    }
    if (options_.json) {
        QJsonObject document = AnalysisJson(report);
        document.insert("command", "analyse");
        AddProvenance(document, MadeOf(false));
        host_.out << JsonText(document);
    } else {
        for (const std::string& line : report.lines) {
            host_.out << line << "\n";
        }
    }
    return kAllWell;
}

}  // namespace tarvel
