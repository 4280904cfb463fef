// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the built-in simulated line on a pseudo-terminal until interrupted, so that the program
// (with --port COM1=DEVICE) or any other serial tool can be tried against it.

#include <charconv>
#include <csignal>
#include <iostream>
#include <optional>
#include <string>

#include "core/Version.h"
#include "sim/PtyBusHost.h"

namespace {

const char kUsage[] =
    "Usage: line-tarvel-sim [LINE-NOISE]\n"
    "       line-tarvel-sim --help | --version\n"
    "\n"
    "Prints the device of a simulated line (controllers A, B, E healthy, C silent, D noisy)\n"
    "and answers on it until interrupted. LINE-NOISE is the chance, 0 to 1, that a character\n"
    "is corrupted (0 unless given).\n";

// A chance from 0 to 1 written with a decimal point, whatever the locale.
std::optional<double> Chance(const std::string& text) {
    double value = 0.0;
    const char* end = text.data() + text.size();
    const auto [stop, failure] = std::from_chars(text.data(), end, value);
    if (text.empty() || failure != std::errc() || stop != end || !(value >= 0.0 && value <= 1.0)) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

int main(int argc, char* argv[]) {
    using namespace tarvel;
    double noise = 0.0;
    if (argc > 1) {
        const std::string argument = argv[1];
        if (argument == "--help" || argument == "-h") {
            std::cout << kUsage;
            return 0;
        }
        if (argument == "--version") {
            std::cout << "line-tarvel-sim " << kVersion << "\n";
            return 0;
        }
        const auto chance = Chance(argument);
        if (argc > 2 || !chance) {
            std::cerr << "line-tarvel-sim: "
                      << (argc > 2 ? "one argument at most"
                                   : "invalid line noise \"" + argument + "\": allowed is 0 to 1")
                      << "\n\n"
                      << kUsage;
            return 2;
        }
        noise = *chance;
    }
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    std::string error;
    auto host = PtyBusHost::Start(SimulatedBus(DemoControllers(), noise, 1), error);
    if (!host) {
        std::cerr << "line-tarvel-sim: " << error << "\n";
        return 1;
    }
    std::cout << host->DevicePath() << std::endl;
    int signal = 0;
    sigwait(&stop, &signal);
    return 0;
}
