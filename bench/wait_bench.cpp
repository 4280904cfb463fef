// SPDX-License-Identifier: GPL-3.0-or-later
// What waiting on the line costs: the CPU time of one second of waiting for an answer that
// never comes, on the real serial path (QSerialPort on a pseudo-terminal, the simulated bus on
// the other side), and how exactly the settling pause and the answer window hold on the wire.

#include <sys/resource.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <cstdio>

#include "serial/ReceiveAnswer.h"
#include "support/PtyRig.h"

namespace {

using namespace tarvel;
using namespace std::chrono_literals;

double CpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

template <typename T>
T Run(QCoro::Task<T> task) {
    std::optional<T> result;
    QEventLoop loop;
    auto wait = [](QCoro::Task<T> inner, std::optional<T>& out, QEventLoop& l) -> QCoro::Task<> {
        out = co_await inner;
        l.quit();
    };
    auto running = wait(std::move(task), result, loop);
    if (!result) {
        loop.exec();
    }
    return *result;
}

QCoro::Task<int> SettleThenRequest(PortService& port) {
    co_await port.SettleLine();
    port.Line().Output("A?X  \r");
    co_return 0;
}

void Settle(QEventLoop& idle) {
    QTimer::singleShot(50ms, &idle, &QEventLoop::quit);
    idle.exec();
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    tarvel::testing::PtyRig rig({{"A", 5ms}, {"C", 5ms, ControllerFault::Silent}});
    if (!rig.Ready()) {
        std::fprintf(stderr, "no simulated line: %s\n", rig.failure.c_str());
        return 1;
    }
    QtSerialLine& line = *rig.line;
    PortService& port = *rig.port;
    PtyBusHost* host = rig.host.get();

    // One second of waiting for a silent controller, five times.
    constexpr int kRounds = 5;
    double processCpu = 0;
    double threadCpu = 0;
    for (int i = 0; i < kRounds; ++i) {
        line.Output("C?X  \r");
        const double process0 = CpuSeconds(RUSAGE_SELF);
        const double thread0 = CpuSeconds(RUSAGE_THREAD);
        Run(ReceiveAnswer(port, 1s));
        processCpu += CpuSeconds(RUSAGE_SELF) - process0;
        threadCpu += CpuSeconds(RUSAGE_THREAD) - thread0;
    }
    std::printf("waiting 1 s for an answer (+0.2 s settling): %.3f ms CPU for the process, "
                "%.3f ms for the program's thread (mean of %d)\n",
                processCpu / kRounds * 1e3, threadCpu / kRounds * 1e3, kRounds);

    // The settling pause and the answer window, as the far end sees them.
    QEventLoop idle;
    Duration shortest = Duration::max();
    Duration longest = Duration::zero();
    for (int i = 0; i < 20; ++i) {
        const std::size_t before = host->Received().size();
        Run(SettleThenRequest(port));
        Settle(idle);
        const auto received = host->Received();
        const Duration pause = received[before + 1].end - received[before].end;
        shortest = std::min(shortest, pause);
        longest = std::max(longest, pause);
        line.Input();
    }
    std::printf("settling pause on the wire (CR to next request), 20 runs: %.3f .. %.3f ms "
                "(nominal 200)\n",
                shortest.count() / 1e6, longest.count() / 1e6);

    shortest = Duration::max();
    longest = Duration::zero();
    for (int i = 0; i < 10; ++i) {
        const std::size_t before = host->Received().size();
        line.Output("C?X  \r");
        Run(ReceiveAnswer(port, 300ms));
        Settle(idle);
        const auto received = host->Received();
        const Duration window = received.back().end - received[before].end;
        shortest = std::min(shortest, window);
        longest = std::max(longest, window);
    }
    std::printf("request to settling CR for a silent controller, 10 runs: %.3f .. %.3f ms "
                "(time-out 300)\n",
                shortest.count() / 1e6, longest.count() / 1e6);
    return 0;
}
