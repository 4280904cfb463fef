// The test cycle through a pseudo-terminal at 9600 baud, 8N1, against the simulated bus running
// in a child process: good exchanges per second against the physical limit, the program's CPU
// time per exchange, and the duration of a sweep over silent controllers.

#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <cstdio>

#include "core/AsconFrame.h"
#include "engine/AsconCycle.h"
#include "platform/QtScheduler.h"
#include "platform/QtSerialLine.h"
#include "platform/Tasks.h"
#include "sim/PtyBusHost.h"

namespace {

using namespace tarvel;
using namespace std::chrono_literals;

constexpr Duration kAnswerDelay = 5ms;

// CPU time of the whole program, or of the calling thread alone.
double CpuSeconds(int who = RUSAGE_SELF) {
    rusage usage{};
    getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long ContextSwitches() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_nvcsw;
}

double Seconds(Duration d) { return std::chrono::duration<double>(d).count(); }

// Starts the simulated line in a child process; returns its device and the child's id.
std::pair<std::string, pid_t> StartSimulatorProcess() {
    int path[2];
    if (pipe(path) != 0) {
        return {};
    }
    const pid_t child = fork();
    if (child == 0) {
        prctl(PR_SET_NAME, "bench-simulator");
        close(path[0]);
        std::vector<SimulatedController> line;
        for (const char address : {'A', 'B', 'C', 'D'}) {
            line.push_back({address, kAnswerDelay});
        }
        std::string error;
        auto host = PtyBusHost::Start(SimulatedBus(line, 0.0, 1), error);
        const std::string device = host ? host->DevicePath() : "";
        [[maybe_unused]] auto written = write(path[1], device.c_str(), device.size() + 1);
        close(path[1]);
        pause();
        _exit(0);
    }
    close(path[1]);
    char device[256] = {};
    [[maybe_unused]] auto got = read(path[0], device, sizeof device - 1);
    close(path[0]);
    return {device, child};
}

// When each request was written, and how many exchanges failed.
struct BenchSink final : CycleSink {
    std::vector<Instant> written;
    int failures = 0;
    void RequestWritten(const Request& request) override { written.push_back(request.written); }
    void ExchangeJudged(const Exchange& exchange) override { failures += exchange.Failed(); }
};

QCoro::Task<> RunOnce(AsconCycle& cycle, LineUse& lineUse) {
    co_await cycle.TxAscon(co_await lineUse.Acquire());
}

void Wait(Duration span) {
    QEventLoop loop;
    QTimer::singleShot(std::chrono::ceil<std::chrono::milliseconds>(span), &loop,
                       &QEventLoop::quit);
    loop.exec();
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    const auto [device, simulator] = StartSimulatorProcess();
    if (device.empty()) {
        std::fprintf(stderr, "cannot start the simulated line\n");
        return 1;
    }
    PortMap ports;
    ports.Assign(1, device);
    QtScheduler scheduler;
    QtSerialLine line(ports, scheduler);
    Primo primo;
    primo.PortNumber = 1;
    primo.BaudText = " 9600";
    primo.ParityText = "N";
    primo.DataBitsText = "8";
    primo.StopBitsText = " 1";
    PortService port(line, primo, scheduler);
    if (port.OpenPort()) {
        std::fprintf(stderr, "cannot open %s: %s\n", device.c_str(), port.OpenFailure().c_str());
        return 1;
    }
    LineUse lineUse(scheduler);
    ControllerAddressTable table = StartupAddressTable();
    AsconCycle cycle(primo, port, table);
    BenchSink sink;
    cycle.AddSink(sink);
    TaskOwner tasks(scheduler, [](const std::string& what) {
        std::fprintf(stderr, "the run failed: %s\n", what.c_str());
    });
    auto runFor = [&](auto until) {
        tasks.Start(RunOnce(cycle, lineUse));
        until();
        primo.StopFlag = kTrue;
        while (tasks.Running() > 0) {
            Wait(10ms);
        }
    };
    auto configure = [&](int count, int retries) {
        primo.DeviceCount = static_cast<std::int16_t>(count);
        primo.RetryCount = static_cast<std::int16_t>(retries);
        sink.written.clear();
        sink.failures = 0;
    };

    // Good exchanges with four healthy controllers: once as the scheduler places the two
    // processes, once with both on the same core, where the simulator's characters reach the
    // program without a wake-up across cores (which a real serial port does not need either).
    auto measure = [&](const char* placement) {
        configure(4, 0);
        const double cpu0 = CpuSeconds();
        const double threadCpu0 = CpuSeconds(RUSAGE_THREAD);
        const long switches0 = ContextSwitches();
        runFor([] { Wait(10s); });
        const double cpu = CpuSeconds() - cpu0;
        const double threadCpu = CpuSeconds(RUSAGE_THREAD) - threadCpu0;
        const long switches = ContextSwitches() - switches0;
        const auto& shown = sink.written;
        const std::size_t exchanges = shown.size() - 1;
        const Duration span = shown.back() - shown.front();
        const double perSecond = static_cast<double>(exchanges) / Seconds(span);
        const Duration character = CharacterTime(LineSettings{9600, Parity::None, 8, 1});
        const Duration limit = RequestPause + character * (6 + 5) + kAnswerDelay;
        std::printf("%s:\n", placement);
        std::printf("  good exchanges: %zu in %.3f s = %.2f per second; physical limit %.2f per "
                    "second (%.3f ms each); ratio %.4f; failures %d\n",
                    exchanges, Seconds(span), perSecond, 1.0 / Seconds(limit), Seconds(limit) * 1e3,
                    perSecond * Seconds(limit), sink.failures);
        std::printf("  program CPU: %.1f us per exchange, %.3f %% of a core; %.1f wake-ups per "
                    "exchange\n",
                    cpu / static_cast<double>(exchanges) * 1e6, cpu / Seconds(span) * 100,
                    static_cast<double>(switches) / static_cast<double>(exchanges));
        std::printf("  of which the program's thread: %.1f us per exchange, %.3f %% of a core\n",
                    threadCpu / static_cast<double>(exchanges) * 1e6,
                    threadCpu / Seconds(span) * 100);
    };
    measure("program and simulator placed by the scheduler");
    cpu_set_t firstCore;
    CPU_ZERO(&firstCore);
    CPU_SET(0, &firstCore);
    sched_setaffinity(0, sizeof firstCore, &firstCore);
    sched_setaffinity(simulator, sizeof firstCore, &firstCore);
    measure("program and simulator on one core");

    // One sweep over silent controllers (X, Y, Z have no controller on this line).
    for (const int retries : {0, 1, 2}) {
        configure(3, retries);
        table[0] = 23;
        table[1] = 24;
        table[2] = 25;
        const std::size_t perSweep = 3 * static_cast<std::size_t>(retries + 1);
        runFor([&] {
            while (sink.written.size() < perSweep + 1) {
                Wait(5ms);
            }
        });
        const Duration sweep = sink.written[perSweep] - sink.written[0];
        const double nominal = 3 * (retries + 1) * 0.42;
        std::printf("sweep over 3 silent controllers, RetryCount %d: %.3f s (n x (r + 1) x 0.42 s "
                    "= %.2f s, ratio %.4f)\n",
                    retries, Seconds(sweep), nominal, Seconds(sweep) / nominal);
    }
    kill(simulator, SIGTERM);
    waitpid(simulator, nullptr, 0);
    return 0;
}
