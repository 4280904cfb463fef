// SPDX-License-Identifier: GPL-3.0-or-later
// An hour of a live bus at 9600 baud, polled as fast as its master can (the demo line: healthy
// controllers, a silent one, a noisy one) with character noise of 1e-4 (on what the controllers
// receive and send: the simulated master's requests reach the listener whole), through the
// frame splitter and the statistics, as a listener takes it: how many exchanges were attributed
// otherwise than the master's own log says (the target is none but those noise made ambiguous;
// LISTEN_BENCH_DEBUG=1 prints each),
// the CPU per frame and the memory.

#include <sys/resource.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>

#include "monitor/LineStatistics.h"
#include "protocol/ascon/AsconFrameSplitter.h"
#include "sim/SimulatedMaster.h"

using namespace tarvel;
using namespace std::chrono_literals;

namespace {

// An answer as a controller sends it, before any noise or fault: its address, three digits or
// letters ("ACK" for a write), a CR.
bool Clean(const MasterPoll& poll) {
    if (poll.answer.empty()) {
        return true;
    }
    if (poll.answer.size() != 5 || poll.answer.substr(0, 1) != poll.address ||
        poll.answer[4] != '\r') {
        return false;
    }
    for (int i = 1; i < 4; ++i) {
        if (std::isalnum(static_cast<unsigned char>(poll.answer[i])) == 0) {
            return false;
        }
    }
    return true;
}

double CpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

}  // namespace

int main() {
    const auto settings = *ParseSettingsText(" 9600,N,8, 1");
    MasterSchedule schedule;
    schedule.pollGap = 2ms;  // as fast as a master goes
    SimulatedMaster master(SimulatedBus(DemoControllers(), 1e-4, 11), schedule, settings);
    AsconFrameSplitter splitter(DecoderSettings{CharacterTime(settings), 200ms, 10, 25ms});
    LineStatistics statistics;
    statistics.Begin(Instant{}, CharacterTime(settings), 200ms);

    std::deque<MasterPoll> expected;
    long long judged = 0;
    long long misattributed = 0;
    long long misattributedInNoise = 0;
    long long ambiguousPolls = 0;
    const Instant end = Instant{} + 1h;
    Instant now{};
    const double cpuBefore = CpuSeconds();
    while (now < end) {
        for (const TimedByte& byte : master.NextPoll(now)) {
            splitter.Feed(byte.byte, byte.end);
        }
        for (const MasterPoll& poll : master.Log()) {
            expected.push_back(poll);
        }
        master.ClearLog();
        now = master.ReadyAt();
        splitter.Advance(now);
        for (const Exchange& exchange : splitter.TakeExchanges()) {
            statistics.Add(exchange);
            ++judged;
            if (expected.empty()) {
                ++misattributed;
                continue;
            }
            const MasterPoll poll = expected.front();
            expected.pop_front();
            if (exchange.request.stationText != poll.address ||
                exchange.verdict != CycleVerdictOf(poll)) {
                ++misattributed;
                misattributedInNoise += Clean(poll) ? 0 : 1;
                if (std::getenv("LISTEN_BENCH_DEBUG") != nullptr) {
                    std::printf(
                        "heard %s %s verdict %d answer [%s]; polled %s %s verdict %d answer [%s]\n",
                        exchange.request.stationText.c_str(), exchange.request.frame.c_str(),
                        static_cast<int>(exchange.verdict), exchange.arrived.c_str(),
                        poll.address.c_str(), poll.request.c_str(),
                        static_cast<int>(CycleVerdictOf(poll)), poll.answer.c_str());
                }
            }
            ambiguousPolls += Clean(poll) ? 0 : 1;
        }
    }
    const double cpu = CpuSeconds() - cpuBefore;
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("An hour at 9600 baud 8N1, master gap 2 ms, character noise 1e-4 (demo line):\n");
    std::printf("  %lld polls, %lld frames, %lld exchanges judged, %lld bytes of noise\n",
                master.PollCount(), static_cast<long long>(splitter.Frames()), judged,
                static_cast<long long>(splitter.NoiseBytes()));
    std::printf("  line busy %.1f %%\n",
                100.0 * std::chrono::duration<double>(splitter.Busy()).count() / 3600.0);
    std::printf("  polls whose answer a fault or noise changed: %lld\n", ambiguousPolls);
    std::printf("  misattributed exchanges: %lld (%lld of them in such answers)\n", misattributed,
                misattributedInNoise);
    std::printf("  CPU %.3f s in all, %.2f us per frame\n", cpu,
                splitter.Frames() > 0 ? cpu * 1e6 / static_cast<double>(splitter.Frames()) : 0.0);
    std::printf("  peak memory (resident) %.1f MiB\n", usage.ru_maxrss / 1024.0);
}
