// SPDX-License-Identifier: GPL-3.0-or-later
// A watch through 24 hours of virtual time on the simulated line (A, B, E healthy, C silent,
// D noisy) at 9600 baud, with its statistics, status and daily traffic files: its resident
// memory each few hours, which must not grow with the exchanges, and the real time a day takes.
// Usage: watch_day_bench [HOURS] (24).

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "cli/CliSession.h"
#include "platform/VirtualTime.h"
#include "sim/SimulatedBus.h"
#include "sim/SimulatedSerialLine.h"
#include "watch/WatchMetrics.h"

namespace {

using namespace std::chrono_literals;

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    using namespace tarvel;
    const int hours = argc > 1 ? std::atoi(argv[1]) : 24;
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("watch-day-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);

    VirtualTime time;
    SimulatedSerialLine line{time};
    BusPeer bus{line, SimulatedBus(DemoControllers(), 0.0, 1)};
    std::ostringstream out;
    std::ostringstream err;
    const CliOptions options = ParseCliArguments(
        {"watch", "--simulate", "--addresses", "A-E", "--baud", "9600", "--metrics", "127.0.0.1:0",
         "--stats", (folder / "stats.csv").string(), "--json-status",
         (folder / "status.json").string(), "--traffic", (folder / "traffic.csv").string()});
    if (!options.error.empty()) {
        std::cerr << options.error << "\n";
        return 2;
    }
    CliSession session(options, CliHost{time, line, out, err, false, "/dev/ttyS9"});
    std::optional<int> status;
    auto run = [&]() -> QCoro::Task<> { status = co_await session.Run(); };
    auto task = run();

    std::printf("watch through %d h of virtual time at 9600 baud, 5 controllers\n", hours);
    std::printf("%6s %12s %12s %10s\n", "hour", "exchanges", "RSS KiB", "real s");
    const auto began = std::chrono::steady_clock::now();
    const Instant start = time.Now();
    long firstHour = 0;
    for (int minute = 1; minute <= hours * 60 && !status; ++minute) {
        time.RunUntil([&] { return time.Now() >= start + std::chrono::minutes(minute); }, 2min);
        // The simulated line keeps what the host sent, for tests: not the watch's memory.
        line.ClearTransmitted();
        if (minute % 60 == 0 && (minute / 60 == 1 || minute / 60 % 3 == 0)) {
            const long rss = ResidentKiB();
            firstHour = firstHour == 0 ? rss : firstHour;
            long long exchanges = 0;
            for (const ControllerReading& reading : session.Metrics()->Readings()) {
                exchanges += reading.requests;
            }
            std::printf(
                "%6d %12lld %12ld %10.1f\n", minute / 60, exchanges, rss,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count());
            std::fflush(stdout);
        }
    }
    std::printf("growth from hour 1 to the end: %ld KiB\n", ResidentKiB() - firstHour);
    const std::string exposition = session.Metrics()->Exposition();
    const auto requests = exposition.find("linetarvel_requests_total{address=\"A\"}");
    std::printf("%s\n",
                exposition.substr(requests, exposition.find('\n', requests) - requests).c_str());
    session.Stop("the end of the benchmark");
    time.RunUntil([&] { return status.has_value(); }, 1min);
    std::filesystem::remove_all(folder);
    return 0;
}
