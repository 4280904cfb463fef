// SPDX-License-Identifier: GPL-3.0-or-later
// The test cycle through ser2net on this machine against the same cycle on the pseudo-terminal
// directly: the simulated bus at 9600 baud 8N1 in a child process, ser2net (Debian's) in front
// of its pty on 127.0.0.1, once with the Telnet COM port control option (rfc2217://) and once
// as raw TCP (tcp://). For each: good exchanges a second against the wire limit, the time from
// a request handed over to the last character of its answer, the round trip the line measured,
// and the CPU per exchange of the program and of ser2net.

#include <QCoreApplication>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <numeric>
#include <sstream>

#include "BenchLine.h"
#include "protocol/ascon/AsconFrame.h"
#include "support/Ser2net.h"

using namespace tarvel;
using namespace tarvel::bench;

namespace {

// User and system time of process `pid` so far, from /proc.
double ProcessCpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos) {
        return 0;
    }
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    double ticks = 0;
    for (int index = 3; fields >> field && index <= 15; ++index) {
        if (index == 14 || index == 15) {
            ticks += std::stod(field);
        }
    }
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

struct AnswerTimes final : CycleSink {
    std::vector<double> toLast;  // ms from the request handed over to its answer's last character
    void ExchangeJudged(const Exchange& exchange) override {
        if (!exchange.Failed() && exchange.lastArrival) {
            toLast.push_back(Seconds(*exchange.lastArrival - exchange.request.written) * 1e3);
        }
    }
};

double Percentile(std::vector<double> values, double share) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(share * static_cast<double>(values.size() - 1))];
}

constexpr Duration kAnswerDelay = 5ms;
constexpr Duration kRun = 10s;

void Measure(const char* what, const std::string& device, pid_t server) {
    ProgramSide program;
    if (!program.Open(device)) {
        return;
    }
    AnswerTimes times;
    program.cycle->AddSink(times);
    program.Configure(4, 0);
    const double cpu0 = CpuSeconds();
    const double serverCpu0 = server > 0 ? ProcessCpuSeconds(server) : 0;
    program.RunUntil([] { Wait(kRun); });
    const double cpu = CpuSeconds() - cpu0;
    const double serverCpu = server > 0 ? ProcessCpuSeconds(server) - serverCpu0 : 0;
    const auto& shown = program.log.written;
    const std::size_t exchanges = shown.size() - 1;
    const Duration span = shown.back() - shown.front();
    const double perSecond = static_cast<double>(exchanges) / Seconds(span);
    const Duration character = CharacterTime(LineSettings{9600, Parity::None, 8, 1});
    const Duration limit = RequestPause + character * (6 + 5) + kAnswerDelay;
    const double mean = times.toLast.empty()
                            ? 0
                            : std::accumulate(times.toLast.begin(), times.toLast.end(), 0.0) /
                                  static_cast<double>(times.toLast.size());
    std::printf("%s (%s):\n", what, device.c_str());
    std::printf("  good exchanges: %zu in %.3f s = %.2f per second; wire limit %.2f per second "
                "(%.3f ms each); ratio %.4f; failures %d\n",
                exchanges, Seconds(span), perSecond, 1.0 / Seconds(limit), Seconds(limit) * 1e3,
                perSecond * Seconds(limit), program.log.failures);
    std::printf("  request handed over to the answer's last character: mean %.3f ms, p95 %.3f "
                "ms, max %.3f ms (the wire alone: %.3f ms)\n",
                mean, Percentile(times.toLast, 0.95), Percentile(times.toLast, 1.0),
                Seconds(character * (6 + 5) + kAnswerDelay) * 1e3);
    const std::optional<Duration> roundTrip = program.line->RoundTrip();
    if (roundTrip) {
        std::printf("  round trip measured by the line: %.3f ms\n", Seconds(*roundTrip) * 1e3);
    } else {
        std::printf("  round trip measured by the line: none (a port of this host)\n");
    }
    std::printf("  program CPU: %.1f us per exchange (%.3f %% of a core)",
                cpu / static_cast<double>(exchanges) * 1e6, cpu / Seconds(span) * 100);
    if (server > 0) {
        std::printf("; ser2net: %.1f us per exchange",
                    serverCpu / static_cast<double>(exchanges) * 1e6);
    }
    std::printf("\n");
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    if (!testing::Ser2netProgram()) {
        std::fprintf(stderr, "%s\n", testing::kNoSer2net);
        return 1;
    }
    SimulatorProcess simulator(
        {{"A", kAnswerDelay}, {"B", kAnswerDelay}, {"C", kAnswerDelay}, {"D", kAnswerDelay}});
    if (simulator.Device().empty()) {
        return 1;
    }
    std::printf(
        "four healthy controllers answering after %lld ms, 9600 baud 8N1, %lld s each\n",
        static_cast<long long>(kAnswerDelay.count() / 1'000'000),
        static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(kRun).count()));
    Measure("pseudo-terminal directly", simulator.Device(), -1);
    {
        testing::Ser2net server(simulator.Device(), true);
        if (!server.failure.empty()) {
            std::fprintf(stderr, "%s\n", server.failure.c_str());
            return 1;
        }
        Measure("through ser2net, Telnet COM port control", server.Url(true), server.pid);
    }
    {
        testing::Ser2net server(simulator.Device(), false);
        if (!server.failure.empty()) {
            std::fprintf(stderr, "%s\n", server.failure.c_str());
            return 1;
        }
        Measure("through ser2net, raw TCP", server.Url(false), server.pid);
    }
    return 0;
}
