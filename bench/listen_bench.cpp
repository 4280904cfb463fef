// SPDX-License-Identifier: GPL-3.0-or-later
// An hour of a live bus at 9600 baud, polled as fast as its master can (the demo line: healthy
// controllers, a silent one, a noisy one) with character noise of 1e-4 (on what the controllers
// receive and send: the simulated master's requests reach the listener whole), through the
// frame splitter and the statistics, as a listener takes it: how many exchanges were attributed
// otherwise than the master's own log says (the target is none but those noise made ambiguous;
// LISTEN_BENCH_DEBUG=1 prints each),
// the CPU per frame and the memory.
//
// Then the same for a Modbus RTU line at 115200 baud at full load (reads with function 3, now
// and then a write with function 6 or 16 and a broadcast, the 3.5-character silence and no more
// between polls), heard through an adapter that delivers every 16 ms, through the decoder the
// listener makes for the protocol and fed as the listener feeds it.
//
// `listen_bench ascon` or `listen_bench modbus` runs one line alone, for its own peak memory.

#include <sys/resource.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <string_view>

#include "monitor/LineStatistics.h"
#include "protocol/ascon/AsconFrameSplitter.h"
#include "protocol/modbus/ModbusFrame.h"
#include "protocol/modbus/ModbusRtuProtocol.h"
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

double PeakMiB() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void AsconHour() {
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
    std::printf("  peak memory (resident) %.1f MiB\n", PeakMiB());
}

std::string Hex(std::string_view bytes) {
    std::string text;
    for (const char byte : bytes) {
        char pair[4];
        std::snprintf(pair, sizeof pair, text.empty() ? "%02X" : " %02X",
                      static_cast<std::uint8_t>(byte));
        text += pair;
    }
    return text;
}

// A Modbus answer as its controller sent it, before any noise or fault: none, or a frame from
// the station asked whose CRC holds.
bool ModbusClean(const MasterPoll& poll) {
    return poll.answer.empty() ||
           (modbus::CrcHolds(poll.answer) &&
            std::to_string(static_cast<std::uint8_t>(poll.answer[0])) == poll.address);
}

// The demo line's controllers on Modbus addresses, at full load: the one that never answers
// there keeps silent on one poll in twenty only, so that the master's time-outs still come
// but do not leave the line idle most of the time.
std::vector<SimulatedController> ModbusControllers() {
    std::vector<SimulatedController> controllers = DemoControllers();
    for (std::size_t i = 0; i < controllers.size(); ++i) {
        controllers[i].address = std::to_string(i + 1);
        if (controllers[i].fault == ControllerFault::Silent) {
            controllers[i].faultRate = 0.05;
        }
    }
    return controllers;
}

void ModbusHour() {
    const ModbusRtuProtocol modbus(ModbusRtuProtocol::Modbus());
    const auto settings = *ParseSettingsText(" 115200,N,8, 1");
    const Duration character = CharacterTime(settings);
    MasterSchedule schedule;
    schedule.pollGap = Duration{0};  // the 3.5-character silence, no more
    SimulatedMaster master(SimulatedBus(ModbusControllers(), 1e-4, 11, modbus), schedule, settings);
    const std::unique_ptr<FrameDecoder> decoder = modbus.MakeDecoder(
        DecoderSettings{character, modbus.Timings(ExchangeKind::Test, character).window, 10,
                        DecoderSettings{}.hostDelayAllowance});
    // The adapter hands over what has arrived every 16 ms, all of it with the one stamp.
    const auto delivery = [](Instant end) {
        constexpr Duration kBurst = 16ms;
        return Instant((end.time_since_epoch() + kBurst - Duration{1}) / kBurst * kBurst);
    };

    std::deque<TimedByte> wire;  // stamped when the host has them
    std::deque<MasterPoll> expected;
    long long judged = 0;
    long long misattributed = 0;
    long long misattributedInNoise = 0;
    long long ambiguousPolls = 0;
    const bool debug = std::getenv("LISTEN_BENCH_DEBUG") != nullptr;
    const Instant end = Instant{} + 1h;
    Instant now{};
    const double cpuBefore = CpuSeconds();
    while (now < end) {
        // The listener wakes for the next burst or the decoder's next deadline, whichever is
        // first; the master has put on the wire all that the host holds by then.
        Instant wake{};
        while (true) {
            const std::optional<Instant> deadline = decoder->NextDeadline();
            if (!wire.empty()) {
                wake = deadline ? std::min(*deadline, wire.front().end) : wire.front().end;
                if (master.ReadyAt() > wake) {
                    break;
                }
            }
            for (const TimedByte& byte : master.NextPoll(Instant{})) {
                wire.push_back({delivery(byte.end), byte.byte});
            }
            for (const MasterPoll& poll : master.Log()) {
                if (!poll.broadcast) {
                    expected.push_back(poll);
                }
            }
            master.ClearLog();
        }
        now = wake;
        while (!wire.empty() && wire.front().end <= now) {
            decoder->Feed(wire.front().byte, wire.front().end);
            wire.pop_front();
        }
        decoder->Advance(now);
        for (const Exchange& exchange : decoder->TakeExchanges()) {
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
                misattributedInNoise += ModbusClean(poll) ? 0 : 1;
                if (debug) {
                    std::printf("heard %s verdict %d answer [%s]; polled %s [%s] verdict %d "
                                "answer [%s]\n",
                                exchange.request.stationText.c_str(),
                                static_cast<int>(exchange.verdict), Hex(exchange.arrived).c_str(),
                                poll.address.c_str(), Hex(poll.request).c_str(),
                                static_cast<int>(CycleVerdictOf(poll)), Hex(poll.answer).c_str());
                }
            }
            ambiguousPolls += ModbusClean(poll) ? 0 : 1;
        }
    }
    const double cpu = CpuSeconds() - cpuBefore;
    const auto frames = static_cast<long long>(decoder->Frames());
    std::printf("An hour of Modbus RTU at 115200 baud 8N1, full load, character noise 1e-4, "
                "delivered in 16 ms bursts:\n");
    std::printf("  %lld polls, %lld frames, %lld exchanges judged, %lld bytes of noise\n",
                master.PollCount(), frames, judged, static_cast<long long>(decoder->NoiseBytes()));
    for (const FrameDecoder::LineCount& count : decoder->OwnCounts()) {
        std::printf("  %s: %lld\n", count.words.c_str(), static_cast<long long>(count.count));
    }
    std::printf("  line busy %.1f %%\n",
                100.0 * std::chrono::duration<double>(decoder->Busy()).count() / 3600.0);
    std::printf("  polls whose answer a fault or noise changed: %lld\n", ambiguousPolls);
    std::printf("  misattributed exchanges: %lld (%lld of them in such answers)\n", misattributed,
                misattributedInNoise);
    std::printf("  CPU %.3f s in all, %.2f us per frame\n", cpu,
                frames > 0 ? cpu * 1e6 / static_cast<double>(frames) : 0.0);
    std::printf("  peak memory (resident) %.1f MiB\n", PeakMiB());
}

}  // namespace

int main(int argc, char* argv[]) {
    const std::string_view only = argc > 1 ? argv[1] : "";
    if (only.empty() || only == "ascon") {
        AsconHour();
    }
    if (only.empty() || only == "modbus") {
        ModbusHour();
    }
}
