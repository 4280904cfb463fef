// SPDX-License-Identifier: GPL-3.0-or-later
// What the line monitor's window costs while a run goes on. The test cycle runs at the full rate
// through a pseudo-terminal at 9600 baud, 8N1, against eight controllers that always answer in
// time, one of them (H) only 10 ms inside the 200 ms window, so that any delay the window adds
// to the program's thread shows as a false record. The run goes on in four phases, the window
// hidden, shown, hidden, shown; the difference in CPU between the phases is the window's.
//
// The window lives on the program's thread: its figure is the one that counts. The process
// figure adds the serial line's own thread, whose cost on a virtual machine varies from phase
// to phase by more than the window's.
//
// build/bench/monitor_window_bench [seconds per phase, 60 unless given]; under a display
// (xvfb-run) or with QT_QPA_PLATFORM=offscreen. The simulator runs in a child process.

#include <QApplication>
#include <cstdlib>
#include <map>
#include <string>

#include "BenchLine.h"
#include "monitor/LineMonitor.h"
#include "monitor/MonitorDlg.h"
#include "protocol/ascon/AsconFrame.h"
#include "ui/QtPrompts.h"

using namespace tarvel;
using namespace tarvel::bench;

namespace {

// Where the program's thread paints, by the class of what it paints: CPU seconds.
std::map<std::string, double> paintedBy;

class PaintTimingApplication final : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        if (event->type() != QEvent::Paint) {
            return QApplication::notify(receiver, event);
        }
        // A view's viewport is a bare QWidget: named after its view.
        QObject* named = receiver;
        if (std::string(receiver->metaObject()->className()) == "QWidget" && receiver->parent()) {
            named = receiver->parent();
        }
        std::string name = named->metaObject()->className();
        if (!named->objectName().isEmpty()) {
            name += " " + named->objectName().toStdString();
        }
        const double before = CpuSeconds(RUSAGE_THREAD);
        const bool handled = QApplication::notify(receiver, event);
        paintedBy[name] += CpuSeconds(RUSAGE_THREAD) - before;
        return handled;
    }
};

// Every failed exchange, with its times on the wire: a record here is a false one, and its
// times tell whether the answer really came late or was judged wrong.
struct FailureReport final : CycleSink {
    void ExchangeJudged(const Exchange& exchange) override {
        if (!exchange.Failed()) {
            return;
        }
        const auto ms = [&](std::optional<Instant> at) {
            return at ? std::chrono::duration<double, std::milli>(*at - exchange.request.written)
                            .count()
                      : -1.0;
        };
        std::printf("    false record: %s, %d characters \"%s\", the first %.1f ms and the last "
                    "%.1f ms after the write (-1: none), judged after %.1f ms\n",
                    ErrorRecord(exchange).c_str(), exchange.received, exchange.arrived.c_str(),
                    ms(exchange.firstArrival), ms(exchange.lastArrival), ms(exchange.judged));
    }
};

struct Phase {
    bool shown = false;
    int exchanges = 0;
    int failures = 0;
    double seconds = 0;
    double processCpu = 0;
    double threadCpu = 0;
    double paintCpu = 0;
};

Phase Run(ProgramSide& program, bool shown, Duration span) {
    Phase phase;
    phase.shown = shown;
    program.log.Clear();
    const double process0 = CpuSeconds();
    const double thread0 = CpuSeconds(RUSAGE_THREAD);
    double painted0 = 0;
    for (const auto& [name, cpu] : paintedBy) {
        painted0 += cpu;
    }
    const Instant start = program.scheduler.Now();
    program.RunUntil([&] { Wait(span); });
    phase.seconds = Seconds(program.scheduler.Now() - start);
    phase.processCpu = CpuSeconds() - process0;
    phase.threadCpu = CpuSeconds(RUSAGE_THREAD) - thread0;
    for (const auto& [name, cpu] : paintedBy) {
        phase.paintCpu += cpu;
    }
    phase.paintCpu -= painted0;
    phase.exchanges = program.log.exchanges;
    phase.failures = program.log.failures;
    std::printf("window %-6s %5d exchanges in %5.1f s (%.1f per second), false records %d; "
                "CPU %% of a core: program's thread %.3f, painting %.3f, process %.3f\n",
                shown ? "shown" : "hidden", phase.exchanges, phase.seconds,
                phase.exchanges / phase.seconds, phase.failures,
                phase.threadCpu / phase.seconds * 100, phase.paintCpu / phase.seconds * 100,
                phase.processCpu / phase.seconds * 100);
    return phase;
}

}  // namespace

int main(int argc, char* argv[]) {
    PaintTimingApplication application(argc, argv);
    const Duration span{std::chrono::seconds(argc > 1 ? std::atoi(argv[1]) : 60)};
    const Duration character = CharacterTime(LineSettings{9600, Parity::None, 8, 1});
    // The simulated controllers' delays run from the end of the request to the start of the
    // answer: H's answer ends 190 ms after the request was written.
    const Duration lateButInTime = 190ms - character * (6 + 5);
    SimulatorProcess simulator({{"A", 5ms},
                                {"B", 5ms},
                                {"C", 8ms},
                                {"D", 12ms},
                                {"E", 20ms},
                                {"F", 40ms},
                                {"G", 80ms},
                                {"H", lateButInTime}});
    ProgramSide program;
    if (simulator.Device().empty() || !program.Open(simulator.Device())) {
        return 1;
    }
    // The main window's monitor listens to every run, whether or not its window is open.
    LineMonitor monitor(
        program.scheduler, [character] { return character; },
        [&program] { return program.line->ErrorCounts(); });
    program.cycle->AddSink(monitor.CycleEvents());
    FailureReport failures;
    program.cycle->AddSink(failures);
    QtPrompts prompts;
    MonitorDlg window(monitor, prompts, program.scheduler);
    window.resize(1240, 900);
    program.Configure(8, 0);
    std::printf("platform %s, %.0f s per phase\n", qPrintable(QApplication::platformName()),
                Seconds(span));

    std::vector<Phase> phases;
    for (const bool shown : {false, true, false, true}) {
        if (shown) {
            // Opening the window (its layout, fonts, first paint) happens once; the figures are
            // those of a window that stays open.
            window.show();
            Wait(2s);
        } else {
            window.hide();
        }
        phases.push_back(Run(program, shown, span));
    }

    double seconds[2] = {}, threadCpu[2] = {}, processCpu[2] = {}, paintCpu = 0;
    int exchanges = 0, falseRecords = 0;
    for (const Phase& phase : phases) {
        seconds[phase.shown] += phase.seconds;
        threadCpu[phase.shown] += phase.threadCpu;
        processCpu[phase.shown] += phase.processCpu;
        paintCpu += phase.shown ? phase.paintCpu : 0;
        exchanges += phase.exchanges;
        falseRecords += phase.failures;
    }
    std::printf("the window's extra CPU, %% of a core: program's thread %.3f (painting %.3f), "
                "process %.3f\n",
                (threadCpu[1] / seconds[1] - threadCpu[0] / seconds[0]) * 100,
                paintCpu / seconds[1] * 100,
                (processCpu[1] / seconds[1] - processCpu[0] / seconds[0]) * 100);
    std::printf("false records: %d in %d exchanges; chart redraws: %d\n", falseRecords, exchanges,
                window.ChartRedraws());
    std::printf("painting while shown, ms per second:");
    for (const auto& [name, cpu] : paintedBy) {
        if (cpu * 1000 / seconds[1] >= 0.05) {
            std::printf(" %s %.2f;", name.c_str(), cpu * 1000 / seconds[1]);
        }
    }
    std::printf("\n");
    return 0;
}
