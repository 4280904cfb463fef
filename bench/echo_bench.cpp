// SPDX-License-Identifier: GPL-3.0-or-later
// The test cycle through a pseudo-terminal at 9600 baud, 8N1, against the simulated bus in a
// child process, behind an adapter that echoes and behind one that does not: good exchanges per
// second against the physical limit, and the program's CPU time per exchange. The echo costs
// no wire time of its own (it comes back while the request goes out), so the two should match.

#include <QCoreApplication>

#include "BenchLine.h"
#include "protocol/ascon/AsconFrame.h"

using namespace tarvel;
using namespace tarvel::bench;

namespace {

constexpr Duration kAnswerDelay = 5ms;

void Measure(const char* title, bool echo, EchoMode mode) {
    SimulatorProcess simulator(
        {{"A", kAnswerDelay}, {"B", kAnswerDelay}, {"C", kAnswerDelay}, {"D", kAnswerDelay}}, echo);
    ProgramSide program;
    if (simulator.Device().empty() || !program.Open(simulator.Device(), mode)) {
        std::printf("%s: the line did not open\n", title);
        return;
    }
    program.Configure(4, 0);
    const double cpu0 = CpuSeconds();
    program.RunUntil([] { Wait(10s); });
    const double cpu = CpuSeconds() - cpu0;
    const auto& shown = program.log.written;
    const std::size_t exchanges = shown.size() - 1;
    const Duration span = shown.back() - shown.front();
    const double perSecond = static_cast<double>(exchanges) / Seconds(span);
    const Duration character = CharacterTime(LineSettings{9600, Parity::None, 8, 1});
    const Duration limit = RequestPause + character * (6 + 5) + kAnswerDelay;
    const EchoReport report = program.echoLayer->Echo().value_or(EchoReport{});
    std::printf("%s:\n", title);
    std::printf("  good exchanges: %zu in %.3f s = %.2f per second; physical limit %.2f per "
                "second; ratio %.4f; failures %d\n",
                exchanges, Seconds(span), perSecond, 1.0 / Seconds(limit),
                perSecond * Seconds(limit), program.log.failures);
    std::printf("  program CPU: %.1f us per exchange\n",
                cpu / static_cast<double>(exchanges) * 1e6);
    std::printf("  echo found: %s; echoes removed %ld, unlike what was sent %ld, missing %ld\n",
                report.echoes ? "yes" : "no", report.removed, report.differed, report.missing);
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    Measure("no echo, the layer off", false, EchoMode::Off);
    Measure("no echo, the layer looking (auto)", false, EchoMode::Auto);
    Measure("an echoing adapter, its echo found and removed (auto)", true, EchoMode::Auto);
    return 0;
}
