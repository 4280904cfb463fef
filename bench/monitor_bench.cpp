// SPDX-License-Identifier: GPL-3.0-or-later
// The line monitor over a day at the full rate, on virtual time: 2,400,000 exchanges of the real
// test cycle with about 5 % failures (one controller in twenty silent, a little noise on the
// line), every one through the statistics and the traffic ring. Prints the process's peak memory
// before and after, and the time the monitor spends per exchange.
//
// Usage: monitor_bench [EXCHANGES]

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "core/DeviceTable.h"
#include "engine/TestCycle.h"
#include "lines/LineSettings.h"
#include "monitor/LineMonitor.h"
#include "monitor/MonitorCsv.h"
#include "platform/Tasks.h"
#include "platform/VirtualTime.h"
#include "serial/PortService.h"
#include "sim/SimulatedSerialLine.h"

using namespace tarvel;
using namespace std::chrono_literals;

namespace {

double PeakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// Hands the cycle's events on to the monitor, timing them, and keeps the run going past the
// error limit: the counter is set back without the monitor hearing of it as "Res".
class TimedMonitor final : public CycleSink {
public:
    TimedMonitor(LineMonitor& monitor, TestCycle& cycle, Primo& primo, SimulatedSerialLine& line,
                 long exchanges)
        : monitor_(monitor), cycle_(cycle), primo_(primo), line_(line), exchanges_(exchanges) {}

    void RunStarted(int controllers) override { monitor_.CycleEvents().RunStarted(controllers); }
    void ExchangeJudged(const Exchange& exchange) override {
        const auto start = std::chrono::steady_clock::now();
        monitor_.CycleEvents().ExchangeJudged(exchange);
        spent += std::chrono::steady_clock::now() - start;
        if (++judged >= exchanges_) {
            primo_.StopFlag = kTrue;
        }
        if (judged % 1000 == 0) {
            line_.ClearTransmitted();  // the simulator's record, not the monitor's
        }
        if (judged % 240000 == 0) {
            std::printf("  %7ld exchanges, peak memory %.1f MB\n", judged, PeakMegabytes());
            std::fflush(stdout);
        }
    }
    void ErrorsCounted(int errors) override {
        if (errors >= ErrorLimit - 1) {
            cycle_.ResetErrors();
        }
    }
    void RunEnded(const RunEnd& end) override { monitor_.CycleEvents().RunEnded(end); }

    long judged = 0;
    std::chrono::steady_clock::duration spent{};

private:
    LineMonitor& monitor_;
    TestCycle& cycle_;
    Primo& primo_;
    SimulatedSerialLine& line_;
    long exchanges_;
};

QCoro::Task<> RunOnce(TestCycle& cycle, LineUse& lineUse) {
    co_await cycle.TxAscon(co_await lineUse.Acquire());
}

}  // namespace

int main(int argc, char* argv[]) {
    const long exchanges = argc > 1 ? std::atol(argv[1]) : 2400000;
    VirtualTime time;
    SimulatedSerialLine line(time);
    std::vector<SimulatedController> controllers;
    for (int i = 0; i < 20; ++i) {
        SimulatedController controller{std::string(1, AddressCharacter(i)), 5ms + i * 1ms};
        controller.fault = i == 2 ? ControllerFault::Silent : ControllerFault::None;
        controllers.push_back(controller);
    }
    BusPeer bus(line, SimulatedBus(controllers, 0.0005, 7));

    Primo primo;
    primo.PortNumber = 1;
    primo.BaudText = " 9600";
    primo.ParityText = "N";
    primo.DataBitsText = "8";
    primo.StopBitsText = " 1";
    primo.RetryCount = 0;
    primo.DeviceCount = static_cast<std::int16_t>(controllers.size());
    PortService port(line, primo, time);
    if (port.OpenPort()) {
        std::fprintf(stderr, "cannot open the simulated line: %s\n", port.OpenFailure().c_str());
        return 1;
    }
    LineUse lineUse(time);
    ControllerAddressTable table = StartupAddressTable();
    TestCycle cycle(primo, port, table);
    LineMonitor monitor(
        time, [&] { return CharacterTime(line.Settings()); }, [] { return std::nullopt; });
    TimedMonitor timed(monitor, cycle, primo, line, exchanges);
    cycle.AddSink(timed);

    const double before = PeakMegabytes();
    std::printf("one traffic entry: %zu bytes\n", sizeof(TrafficEntry));
    std::printf("monitor_bench: %ld exchanges over %zu controllers, peak memory before %.1f MB\n",
                exchanges, controllers.size(), before);
    const auto wallStart = std::chrono::steady_clock::now();
    TaskOwner tasks(time, [](const std::string& what) {
        std::fprintf(stderr, "the run failed: %s\n", what.c_str());
        std::exit(1);
    });
    tasks.Start(RunOnce(cycle, lineUse));
    time.RunUntil([&] { return tasks.Running() == 0; }, std::chrono::hours(24 * 30));
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    const double after = PeakMegabytes();

    const LineStatistics& statistics = monitor.Statistics();
    const double perExchange =
        std::chrono::duration<double, std::micro>(timed.spent).count() / timed.judged;
    std::printf("exchanges judged: %ld (%.2f %% good), line time %.1f h, traffic ring %zu\n",
                timed.judged, statistics.SuccessRate(),
                std::chrono::duration<double>(time.Now().time_since_epoch()).count() / 3600,
                monitor.Traffic().Size());
    std::printf("statistics and ring: %.3f us per exchange\n", perExchange);
    std::printf("peak memory: %.1f MB before, %.1f MB after, growth %.1f MB\n", before, after,
                after - before);
    std::printf("whole run on virtual time: %.1f s (%.2f us per exchange, engine included)\n", wall,
                wall * 1e6 / timed.judged);

    const auto csvStart = std::chrono::steady_clock::now();
    const std::string traffic = TrafficCsv(monitor.Traffic());
    std::printf(
        "traffic CSV of the ring: %.1f MB in %.0f ms\n", traffic.size() / 1e6,
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - csvStart)
            .count());
    return 0;
}
