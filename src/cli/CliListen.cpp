// SPDX-License-Identifier: GPL-3.0-or-later
// `listen`: the listener on a line another master drives, and what it heard.
#include <QJsonArray>
#include <QString>
#include <cstdio>
#include <ostream>

#include "cli/CliSession.h"
#include "cli/ListenReport.h"
#include "engine/Listener.h"
#include "lines/LineSettings.h"
#include "monitor/ListenedLine.h"

namespace tarvel {

// Shows how much has been heard, and how much of it failed.
class CliSession::ListenProgress final : public CliSession::Progress, public ListenSink {
public:
    using Progress::Progress;

    void ListenStarted(Duration) override { Started(); }
    void ExchangeJudged(const Exchange& exchange) override {
        Logged();
        failures_ += exchange.Failed() ? 1 : 0;
        if (Showing()) {
            char text[160];
            std::snprintf(text, sizeof text, "listening, %s, %ld exchanges heard, %ld failed",
                          Seconds(Elapsed()).c_str(),
                          static_cast<long>(session_.monitor_.Traffic().Added()), failures_);
            Show(text);
        }
    }
    void ListenEnded(const ListenEnd&) override { EndLine(); }

private:
    long failures_ = 0;
};

QCoro::Task<int> CliSession::Listen() {
    ListenProgress& progress = KeepProgress<ListenProgress>();
    if (!PrepareFiles()) {
        co_return kPortOrFileFailed;
    }
    const bool opened = co_await OpenLine();
    if (!opened) {
        co_return kPortOrFileFailed;
    }
    const DecoderSettings heard = LineAsHeard();
    const Protocol& protocol = port_.LineProtocol();
    // The listener is given the line's receiving side only: nothing here can send.
    Listener listener(ReadOnlyLine(port_.Line()), host_.scheduler, heard, protocol);
    listener.AddSink(monitor_.ListenEvents());
    listener.AddSink(progress);
    listener_ = &listener;
    if (!stopCause_.empty()) {
        listener.Stop();  // Ctrl+C while the port was being opened
    }
    const std::optional<Scheduler::TimerId> timer = StopAtDuration();
    files_.Start();
    const ListenEnd end = co_await listener.Listen(co_await lineUse_.Acquire());
    listener_ = nullptr;
    if (timer) {
        host_.scheduler.Cancel(*timer);
    }
    const bool filesWritten = co_await files_.Finish();

    const LineStatistics& statistics = monitor_.Statistics();
    const FrameDecoder& splitter = listener.Decoder();
    const Duration listened = progress.Elapsed();
    const std::optional<UartErrorCounts> driverErrors = monitor_.ErrorsSinceStart();
    const auto warning = WrongSpeedWarning(splitter, driverErrors, Line());
    const std::string why = !end.lineFailure.empty() ? "a failed line" : stopCause_;
    const Provenance provenance = MadeOf(true);
    if (options_.json) {
        QJsonArray controllers;
        for (const ControllerStatistics& controller : statistics.Controllers()) {
            QJsonObject one = ControllerJson(controller, statistics.AnswerWindow(), protocol);
            one.insert("pollCycle", PollCycleJson(splitter.PollsOf(controller.station)));
            controllers.append(one);
        }
        QJsonObject document{
            {"command", "listen"},
            {"controllers", controllers},
            {"answerWindowMs",
             Rounded(std::chrono::duration<double, std::milli>(heard.answerWindow).count(), 1)},
            {"seconds", Rounded(std::chrono::duration<double>(listened).count(), 1)},
            {"stoppedBy", QString::fromStdString(why)},
            {"lineFailure", TextOrNull(end.lineFailure)},
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
            << StatisticsTable(statistics, port_.LineProtocol())
            << LineSummary(statistics, driverErrors)
            << ListenedLineText(splitter, listened, statistics);
    }
    if (warning) {
        host_.err << "line-tarvel-cli: " << *warning << "\n";
    }
    if (const std::optional<int> failed = FailureStatus(end.lineFailure, filesWritten)) {
        co_return *failed;
    }
    const bool allAnswered =
        statistics.Exchanges() > 0 && statistics.Good() == statistics.Exchanges();
    co_return allAnswered ? kAllWell : kLineFailures;
}

}  // namespace tarvel
