// SPDX-License-Identifier: GPL-3.0-or-later
// A busy window must not make healthy controllers look faulty. The test cycle runs for 20 s
// through a pseudo-terminal at 9600 baud, 8N1, against two controllers that always answer in
// time: A starts its answer 5 ms after the request, B completes its answer 190 ms after the
// request was written, 10 ms inside the 200 ms window. Meanwhile the program's thread is
// blocked for 100 ms every 500 ms, as a long repaint or a big list would block it. Every record
// is therefore a false one.

#include <QCoreApplication>
#include <thread>

#include "BenchLine.h"
#include "protocol/ascon/AsconFrame.h"

using namespace tarvel;
using namespace tarvel::bench;

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    // The simulated controllers' delays run from the end of the request's last character to
    // the start of the answer: take off the request's and the answer's own wire time.
    const Duration character = CharacterTime(LineSettings{9600, Parity::None, 8, 1});
    auto completingAfter = [&](Duration sinceWrite) { return sinceWrite - character * (6 + 5); };
    SimulatorProcess simulator({{"A", 5ms}, {"B", completingAfter(190ms)}});
    ProgramSide program;
    if (simulator.Device().empty() || !program.Open(simulator.Device())) {
        return 1;
    }
    program.Configure(2, 0);

    int stalls = 0;
    QTimer stall;
    QObject::connect(&stall, &QTimer::timeout, [&] {
        ++stalls;
        std::this_thread::sleep_for(100ms);
    });
    const double cpu0 = CpuSeconds();
    const double threadCpu0 = CpuSeconds(RUSAGE_THREAD);
    const Instant start = program.scheduler.Now();
    stall.start(500ms);
    program.RunUntil([] { Wait(20s); });
    stall.stop();
    const Duration span = program.scheduler.Now() - start;
    const double cpu = CpuSeconds() - cpu0;
    // The blocking itself is not the program's work.
    const double threadCpu = CpuSeconds(RUSAGE_THREAD) - threadCpu0;
    const int exchanges = program.log.exchanges;

    std::printf("%d exchanges in %.1f s (%.2f per second), thread blocked 100 ms %d times\n",
                exchanges, Seconds(span), exchanges / Seconds(span), stalls);
    std::printf("false records: %d\n", program.log.failures);
    std::printf("program CPU: %.1f us per exchange (%.3f %% of a core); program's thread %.1f us "
                "per exchange (%.3f %% of a core)\n",
                cpu / exchanges * 1e6, cpu / Seconds(span) * 100, threadCpu / exchanges * 1e6,
                threadCpu / Seconds(span) * 100);
    return 0;
}
