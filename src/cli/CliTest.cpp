// SPDX-License-Identifier: GPL-3.0-or-later
// `test`: the test cycle over a line configuration, its error list, analysis and statistics.
#include <cstdio>
#include <ostream>

#include "cli/CliSession.h"
#include "core/Analysis.h"
#include "core/ConfigFile.h"
#include "core/ListFile.h"
#include "engine/TestCycle.h"
#include "platform/TextFiles.h"

namespace tarvel {

// Shows where the run stands, keeps the error list, and counts the sweeps for --sweeps.
class CliSession::CycleProgress final : public CliSession::Progress, public CycleSink {
public:
    using Progress::Progress;

    void RunStarted(int controllers) override {
        controllers_ = controllers;
        Started();
    }
    void AttemptStarting(int position) override {
        if (Showing()) {
            char text[160];
            std::snprintf(text, sizeof text, "sweep %d, controller %c (%d of %d), %s, errors %d",
                          sweeps_ + 1, AddressCharacter(session_.table_[position]), position + 1,
                          controllers_, Seconds(Elapsed()).c_str(),
                          static_cast<int>(records.size()));
            Show(text);
        }
    }
    void ExchangeJudged(const Exchange& exchange) override {
        Logged();
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
    void RunEnded(const RunEnd&) override { EndLine(); }

    int Sweeps() const { return sweeps_; }
    std::vector<std::string> RecordTexts() const {
        std::vector<std::string> texts;
        texts.reserve(records.size());
        for (const TimedRecord& record : records) {
            texts.push_back(record.text);
        }
        return texts;
    }

    std::vector<TimedRecord> records;  // the error list

private:
    int controllers_ = 0;
    int sweeps_ = 0;
};

bool CliSession::LoadConfiguration() {
    if (options_.cfgFile.empty()) {
        primo_.DeviceCount = static_cast<std::int16_t>(options_.addresses.size());
        for (std::size_t i = 0; i < options_.addresses.size(); ++i) {
            table_[i] = static_cast<std::int16_t>(options_.addresses[i]);
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

QCoro::Task<int> CliSession::Test() {
    CycleProgress& progress = KeepProgress<CycleProgress>();
    const bool prepared =
        LoadConfiguration() &&
        AddDocument(options_.lstFile, "error list",
                    [&progress] { return FormatListFile(progress.RecordTexts()); }) &&
        AddDocument(options_.datFile, "analysis report",
                    [&progress] {
                        return FormatListFile(tarvel::Analyse(progress.RecordTexts()).lines);
                    }) &&
        PrepareFiles();
    if (!prepared) {
        co_return kPortOrFileFailed;
    }
    const bool opened = co_await OpenLine();
    if (!opened) {
        co_return kPortOrFileFailed;
    }
    TestCycle cycle(primo_, port_, table_);
    cycle.AddSink(monitor_.CycleEvents());
    cycle.AddSink(progress);
    files_.Start();
    const std::optional<Scheduler::TimerId> timer = StopAtDuration();
    const RunEnd end = co_await cycle.TxAscon(co_await lineUse_.Acquire());
    if (timer) {
        host_.scheduler.Cancel(*timer);
    }

    const bool filesWritten = co_await files_.Finish();
    const std::vector<std::string> records = progress.RecordTexts();
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
            {"controllers", ControllersJson(statistics, port_.LineProtocol())},
            {"sweeps", progress.Sweeps()},
            {"seconds", Rounded(std::chrono::duration<double>(progress.Elapsed()).count(), 1)},
            {"errors", end.errors},
            {"errorLimit", end.errorLimit},
            {"stoppedBy", QString::fromStdString(why)},
            {"lineFailure", TextOrNull(end.lineFailure)},
            {"line", LineJson(statistics, monitor_.ErrorsSinceStart())},
            {"records", RecordsJson(progress.records)},
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
            << Counted(progress.Sweeps(), "sweep") << ", "
            << Counted(statistics.Exchanges(), "exchange") << " in " << Seconds(progress.Elapsed())
            << ", " << Counted(end.errors, "error") << "; ended by " << why << "\n";
        if (nothingAsked) {
            out << "No exchange was made: nothing is known of the line.\n";
        }
        out << "\n";
        out << "Analysis:\n";
        for (const std::string& line : report.lines) {
            out << line << "\n";
        }
        out << "\nStatistics (response times in ms from the end of the request):\n"
            << StatisticsTable(statistics, port_.LineProtocol())
            << LineSummary(statistics, monitor_.ErrorsSinceStart());
        if (const std::optional<Duration> roundTrip = monitor_.RoundTrip()) {
            char text[120];
            std::snprintf(text, sizeof text,
                          "Network round trip: %.2f ms, in every response time above\n",
                          std::chrono::duration<double, std::milli>(*roundTrip).count());
            out << text;
        }
    }
    if (const std::optional<int> failed = FailureStatus(end.lineFailure, filesWritten)) {
        co_return *failed;
    }
    co_return end.errors == 0 && records.empty() && !nothingAsked ? kAllWell : kLineFailures;
}

}  // namespace tarvel
