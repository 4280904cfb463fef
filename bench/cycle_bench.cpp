// SPDX-License-Identifier: GPL-3.0-or-later
// The test cycle through a pseudo-terminal at 9600 baud, 8N1, against the simulated bus running
// in a child process: good exchanges per second against the physical limit, the program's CPU
// time per exchange, and the duration of a sweep over silent controllers.

#include <sched.h>
#include <sys/prctl.h>

#include <algorithm>

#include <QCoreApplication>

#include "BenchLine.h"
#include "protocol/ascon/AsconFrame.h"
#include "protocol/modbus/ModbusAsciiProtocol.h"
#include "protocol/modbus/ModbusFrame.h"
#include "protocol/modbus/ModbusRtuProtocol.h"
#include "sim/SimulatedSerialLine.h"

using namespace tarvel;
using namespace tarvel::bench;

namespace {

// The same for Modbus RTU, one register read from four controllers, at 9600 and 115200 baud
// (8N1: a pseudo-terminal keeps no parity). The limit: the 3.5-character gap, the request's 8
// characters, the controller's delay and the answer's 7.
//
// Run twice: through the pseudo-terminal to the simulator's process, as above, and on a wire
// inside the program's own process on real time, where each character arrives exactly when its
// stop bit ends. The second leaves out the two pty hops and the simulator's wake-ups (about
// 0.5 ms an exchange, which at 115200 baud is six percent of it), so it shows what the program
// itself costs against the wire, as a real port with a low-latency driver would.
int ModbusCycles(bool inProcess) {
    const ModbusRtuProtocol modbus(ModbusRtuProtocol::Modbus());
    constexpr Duration kAnswerDelay = 5ms;
    for (const int baud : {9600, 115200}) {
        std::vector<SimulatedController> controllers(4);
        for (std::size_t i = 0; i < controllers.size(); ++i) {
            controllers[i].address = std::to_string(i + 1);
            controllers[i].answerDelay = kAnswerDelay;
        }
        ProgramSide program;
        std::unique_ptr<SimulatorProcess> simulator;
        std::unique_ptr<SimulatedSerialLine> inProcessWire;
        std::unique_ptr<BusPeer> bus;
        if (inProcess) {
            // The wire delivers each character by a timer. A real port wakes the program by its
            // file descriptor, which no timer slack delays, so none is granted here either.
            prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
            inProcessWire = std::make_unique<SimulatedSerialLine>(program.scheduler);
            bus = std::make_unique<BusPeer>(*inProcessWire,
                                            SimulatedBus(controllers, 0.0, 1, modbus));
            if (!program.OpenOn(*inProcessWire, "the in-process wire", EchoMode::Off, modbus,
                                baud)) {
                return 1;
            }
        } else {
            simulator = std::make_unique<SimulatorProcess>(controllers, false, modbus);
            if (simulator->Device().empty() ||
                !program.Open(simulator->Device(), EchoMode::Off, modbus, baud)) {
                return 1;
            }
        }
        for (int position = 0; position < 4; ++position) {
            program.table[static_cast<std::size_t>(position)] =
                static_cast<std::int16_t>(position + 1);
        }
        program.Configure(4, 0);
        const double cpu0 = CpuSeconds();
        program.RunUntil([] { Wait(10s); });
        const double cpu = CpuSeconds() - cpu0;
        const auto& shown = program.log.written;
        const std::size_t exchanges = shown.size() - 1;
        const Duration span = shown.back() - shown.front();
        const double perSecond = static_cast<double>(exchanges) / Seconds(span);
        const Duration character = CharacterTime(LineSettings{baud, Parity::None, 8, 1});
        const Duration limit = modbus::FrameGap(character) + character * (8 + 7) + kAnswerDelay;
        std::printf("Modbus RTU at %d 8N1, %s:\n", baud,
                    inProcess ? "wire inside the program's process" : "through a pseudo-terminal");
        std::printf("  good exchanges: %zu in %.3f s = %.2f per second; physical limit %.2f per "
                    "second (%.3f ms each); ratio %.4f; failures %d; program CPU %.1f us per "
                    "exchange\n",
                    exchanges, Seconds(span), perSecond, 1.0 / Seconds(limit), Seconds(limit) * 1e3,
                    perSecond * Seconds(limit), program.log.failures,
                    cpu / static_cast<double>(exchanges) * 1e6);
        // Where an exchange's time goes: the wire (request written to its answer's last
        // character, which includes both pty hops), the verdict after that character, and from
        // the verdict to the next request, of which the frame gap is the due part.
        Duration wire{0}, verdict{0}, toNext{0};
        Duration worstToNext{0};
        std::size_t timed = 0;
        const auto& judged = program.log.judged;
        for (std::size_t i = 0; i + 1 < judged.size() && i + 1 < shown.size(); ++i) {
            if (!judged[i].lastArrival || judged[i].request.written != shown[i]) {
                continue;
            }
            wire += *judged[i].lastArrival - shown[i];
            verdict += judged[i].judged - *judged[i].lastArrival;
            toNext += shown[i + 1] - judged[i].judged;
            worstToNext = std::max(worstToNext, shown[i + 1] - judged[i].judged);
            ++timed;
        }
        if (timed > 0) {
            const auto ms = [timed](Duration total) {
                return Seconds(total) * 1e3 / static_cast<double>(timed);
            };
            std::printf("  per exchange: written to last answer character %.3f ms (wire %.3f); "
                        "to its verdict %.3f ms; verdict to next request %.3f ms (frame gap "
                        "%.3f, worst %.3f)\n",
                        ms(wire), Seconds(character * (8 + 7) + kAnswerDelay) * 1e3, ms(verdict),
                        ms(toNext), Seconds(modbus::FrameGap(character)) * 1e3,
                        Seconds(worstToNext) * 1e3);
        }
    }
    return 0;
}

// Modbus ASCII at 9600 7E1, its usual framing, on the wire inside the program's process (a
// pseudo-terminal keeps no parity): four controllers, one register read each. The limit: the
// request's 17 characters, the controller's delay and the answer's 15; ASCII asks no silence
// between frames.
int AsciiCycles() {
    const ModbusAsciiProtocol ascii(ModbusAsciiProtocol::Modbus());
    constexpr Duration kAnswerDelay = 5ms;
    std::vector<SimulatedController> controllers(4);
    for (std::size_t i = 0; i < controllers.size(); ++i) {
        controllers[i].address = std::to_string(i + 1);
        controllers[i].answerDelay = kAnswerDelay;
    }
    ProgramSide program;
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    SimulatedSerialLine wire(program.scheduler);
    BusPeer bus(wire, SimulatedBus(controllers, 0.0, 1, ascii));
    if (!program.OpenOn(wire, "the in-process wire", EchoMode::Off, ascii, 9600, 'E', 7)) {
        return 1;
    }
    for (int position = 0; position < 4; ++position) {
        program.table[static_cast<std::size_t>(position)] = static_cast<std::int16_t>(position + 1);
    }
    program.Configure(4, 0);
    program.RunUntil([] { Wait(10s); });
    const auto& shown = program.log.written;
    const std::size_t exchanges = shown.size() - 1;
    const double perSecond = static_cast<double>(exchanges) / Seconds(shown.back() - shown.front());
    const Duration character = CharacterTime(LineSettings{9600, Parity::Even, 7, 1});
    const Duration limit = character * (17 + 15) + kAnswerDelay;
    std::printf("Modbus ASCII at 9600 7E1, wire inside the program's process:\n");
    std::printf("  good exchanges: %zu = %.2f per second; physical limit %.2f per second (%.3f ms "
                "each); ratio %.4f; failures %d\n",
                exchanges, perSecond, 1.0 / Seconds(limit), Seconds(limit) * 1e3,
                perSecond * Seconds(limit), program.log.failures);
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    constexpr Duration kAnswerDelay = 5ms;
    SimulatorProcess simulator(
        {{"A", kAnswerDelay}, {"B", kAnswerDelay}, {"C", kAnswerDelay}, {"D", kAnswerDelay}});
    ProgramSide program;
    if (simulator.Device().empty() || !program.Open(simulator.Device())) {
        return 1;
    }

    // Good exchanges with four healthy controllers: once as the scheduler places the two
    // processes, once with both on the same core, where the simulator's characters reach the
    // program without a wake-up across cores (which a real serial port does not need either).
    auto measure = [&](const char* placement) {
        program.Configure(4, 0);
        const double cpu0 = CpuSeconds();
        const double threadCpu0 = CpuSeconds(RUSAGE_THREAD);
        const long switches0 = ContextSwitches();
        program.RunUntil([] { Wait(10s); });
        const double cpu = CpuSeconds() - cpu0;
        const double threadCpu = CpuSeconds(RUSAGE_THREAD) - threadCpu0;
        const long switches = ContextSwitches() - switches0;
        const auto& shown = program.log.written;
        const std::size_t exchanges = shown.size() - 1;
        const Duration span = shown.back() - shown.front();
        const double perSecond = static_cast<double>(exchanges) / Seconds(span);
        const Duration character = CharacterTime(LineSettings{9600, Parity::None, 8, 1});
        const Duration limit = RequestPause + character * (6 + 5) + kAnswerDelay;
        std::printf("%s:\n", placement);
        std::printf("  good exchanges: %zu in %.3f s = %.2f per second; physical limit %.2f per "
                    "second (%.3f ms each); ratio %.4f; failures %d\n",
                    exchanges, Seconds(span), perSecond, 1.0 / Seconds(limit), Seconds(limit) * 1e3,
                    perSecond * Seconds(limit), program.log.failures);
        std::printf("  program CPU: %.1f us per exchange, %.3f %% of a core; %.1f wake-ups per "
                    "exchange\n",
                    cpu / static_cast<double>(exchanges) * 1e6, cpu / Seconds(span) * 100,
                    static_cast<double>(switches) / static_cast<double>(exchanges));
        std::printf("  of which the program's thread: %.1f us per exchange, %.3f %% of a core\n",
                    threadCpu / static_cast<double>(exchanges) * 1e6,
                    threadCpu / Seconds(span) * 100);
    };
    measure("program and simulator placed by the scheduler");
    cpu_set_t anyCore;
    sched_getaffinity(0, sizeof anyCore, &anyCore);
    cpu_set_t firstCore;
    CPU_ZERO(&firstCore);
    CPU_SET(0, &firstCore);
    sched_setaffinity(0, sizeof firstCore, &firstCore);
    sched_setaffinity(simulator.Pid(), sizeof firstCore, &firstCore);
    measure("program and simulator on one core");

    // One sweep over silent controllers (X, Y, Z have no controller on this line).
    for (const int retries : {0, 1, 2}) {
        program.Configure(3, retries);
        program.table[0] = 23;
        program.table[1] = 24;
        program.table[2] = 25;
        const std::size_t perSweep = 3 * static_cast<std::size_t>(retries + 1);
        program.RunUntil([&] {
            while (program.log.written.size() < perSweep + 1) {
                Wait(5ms);
            }
        });
        const Duration sweep = program.log.written[perSweep] - program.log.written[0];
        const double nominal = 3 * (retries + 1) * 0.42;
        std::printf("sweep over 3 silent controllers, RetryCount %d: %.3f s (n x (r + 1) x 0.42 s "
                    "= %.2f s, ratio %.4f)\n",
                    retries, Seconds(sweep), nominal, Seconds(sweep) / nominal);
    }
    // Placed by the scheduler again: the Modbus simulators are forked from this thread.
    sched_setaffinity(0, sizeof anyCore, &anyCore);
    const int throughPty = ModbusCycles(false);
    if (throughPty != 0) {
        return throughPty;
    }
    const int inProcess = ModbusCycles(true);
    return inProcess != 0 ? inProcess : AsciiCycles();
}
