// SPDX-License-Identifier: GPL-3.0-or-later
// A million error records: the analysis, the .lst file saved and loaded, and the analyzer's
// list filled and shown, with the longest time the program's thread was kept from its events.
// Runs on Qt's offscreen platform unless a display is given.

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <functional>

#include "analysis/AnalizerDlg.h"
#include "core/Analysis.h"
#include "core/ListFile.h"
#include "platform/QtScheduler.h"
#include "platform/Tasks.h"
#include "ui/QtPrompts.h"

using namespace tarvel;

namespace {

constexpr int kRecords = 1'000'000;

// Starts `work` from the event loop, runs the loop until `done`, and reports how long that took
// and the longest gap between two ticks of a 5 ms timer meanwhile (the longest time the window
// could not react).
void Measure(
    const char* what, const std::function<void()>& work,
    const std::function<bool()>& done = [] { return true; }) {
    QElapsedTimer clock;
    qint64 longestGap = 0;
    qint64 lastTick = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longestGap = std::max(longestGap, now - lastTick);
        lastTick = now;
    });
    qint64 started = -1;
    qint64 ended = -1;
    clock.start();
    ticker.start(5);
    QTimer::singleShot(20, [&] {
        started = clock.nsecsElapsed();
        work();
    });
    // Until the work is done, then a little longer: the window draws what it left, and the
    // ticker sees the last gap.
    while (ended < 0 || clock.nsecsElapsed() - ended < 100'000'000) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        if (ended < 0 && started >= 0 && done()) {
            ended = clock.nsecsElapsed();
        }
    }
    std::printf("%-44s %8.1f ms; longest stall of the window %8.1f ms\n", what,
                (ended - started) / 1e6, longestGap / 1e6);
}

// A command's own task, for an owner that keeps tasks without results.
QCoro::Task<> Done(QCoro::Task<bool> command) { co_await std::move(command); }

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    std::vector<std::string> records;
    records.reserve(kRecords);
    const char* messages[] = {"No answer !", "Wrong # of characters !", "CR not received !"};
    for (int i = 0; i < kRecords; ++i) {
        const char address = AddressCharacter(i % 64);
        char time[9];
        std::snprintf(time, sizeof time, "%02d:%02d:%02d", i / 3600 % 24, i / 60 % 60, i % 60);
        records.push_back(std::string(1, address) + "  " + time + "  " + messages[i % 7 % 3] +
                          "   " + std::to_string(i % 3));
    }

    QTemporaryDir folder;
    const std::string path = folder.filePath("million.lst").toStdString();
    QtPrompts prompts;
    QtScheduler scheduler;
    struct Button final : Switch {
        bool on = true;
        void SetEnabled(bool enabled) override { on = enabled; }
        bool Enabled() const override { return on; }
    } analize;
    AnalizerDlg analyzer([&]() -> Switch& { return analize; }, prompts, scheduler);
    ListCommands commands(prompts, scheduler);
    analyzer.show();

    Measure("analysis of 1,000,000 records", [&] {
        const AnalysisReport report = Analyse(records);
        if (report.records != kRecords) {
            std::printf("  (counted %d)\n", report.records);
        }
    });
    std::vector<std::string> copy = records;
    Measure("analyzer's list given them and shown",
            [&] { analyzer.List().ReplaceAll(std::move(copy)); });
    Measure("the same with a copy of each line (\"Analize\")",
            [&] { analyzer.List().ReplaceAll(records); });
    Measure("\"Start Analisys\" on that list", [&] { analyzer.StartMenu_Click(); });
    analyzer.List().ReplaceAll(records);
    TaskOwner tasks(scheduler,
                    [](const std::string& what) { std::printf("  failed: %s\n", what.c_str()); });
    auto filesDone = [&] { return tasks.Running() == 0; };
    Measure(
        "saved as a 1,000,000-line .lst",
        [&] { tasks.Start(Done(commands.SaveTo(analyzer.List(), path))); }, filesDone);
    Measure(
        "loaded into the analyzer from that file",
        [&] { tasks.Start(Done(commands.LoadFrom(analyzer.List(), path))); }, filesDone);
    std::printf("file size: %.1f MB\n",
                static_cast<double>(QFileInfo(QString::fromStdString(path)).size()) / 1e6);
    return 0;
}
