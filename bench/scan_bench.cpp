// SPDX-License-Identifier: GPL-3.0-or-later
// The line detector through a pseudo-terminal at 9600 baud, 8N1, against the simulated bus in a
// child process: a scan of an empty line against its nominal 64 x (r + 1) x 0.6 s, and a scan
// of a full line of 64 controllers answering after 5 ms.

#include <QCoreApplication>

#include "BenchLine.h"
#include "line/LineDetector.h"

using namespace tarvel;
using namespace tarvel::bench;

namespace {

QCoro::Task<> ScanOnce(LineDetector& detector, LineUse& lineUse, ScanEnd* end) {
    *end = co_await detector.Scan(co_await lineUse.Acquire());
}

// Scans the line on `device` and returns how long it took and what it found.
std::pair<Duration, std::size_t> TimeScan(const std::string& device, int retries) {
    ProgramSide program;
    if (!program.Open(device)) {
        return {};
    }
    LineDetector detector(program.primo, *program.port, program.table);
    program.primo.RetryCount = static_cast<std::int16_t>(retries);
    ScanEnd end;
    const Instant start = program.scheduler.Now();
    program.tasks.Start(ScanOnce(detector, program.lineUse, &end));
    while (program.tasks.Running() > 0) {
        Wait(50ms);
    }
    return {program.scheduler.Now() - start, end.found.size()};
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    {
        SimulatorProcess empty({});
        for (const int retries : {0, 1}) {
            const auto [took, found] = TimeScan(empty.Device(), retries);
            const double nominal = 64 * (retries + 1) * 0.6;
            std::printf("empty line, RetryCount %d: %.3f s against 64 x (r + 1) x 0.6 s = %.1f s, "
                        "ratio %.4f (%zu found)\n",
                        retries, Seconds(took), nominal, Seconds(took) / nominal, found);
        }
    }
    std::vector<SimulatedController> full;
    for (int i = 0; i < 64; ++i) {
        full.push_back({std::string(1, AddressCharacter(i)), 5ms});
    }
    SimulatorProcess line(full);
    const auto [took, found] = TimeScan(line.Device(), 2);
    std::printf("full line of 64 controllers answering after 5 ms: %.3f s, %zu found "
                "(%.1f ms per controller)\n",
                Seconds(took), found, Seconds(took) * 1e3 / 64);
    return 0;
}
