// Runs the built-in simulated line on a pseudo-terminal until interrupted, so that the program
// (with --port COM1=DEVICE) or any other serial tool can be tried against it.

#include <csignal>
#include <iostream>

#include "sim/PtyBusHost.h"

int main(int argc, char* argv[]) {
    using namespace tarvel;
    double noise = 0.0;
    if (argc > 1) {
        const std::string argument = argv[1];
        if (argument == "--help" || argc > 2) {
            std::cout << "Usage: " << argv[0] << " [line-noise]\n"
                      << "Prints the device of a simulated line (controllers A, B, E healthy, C "
                         "silent, D noisy)\nand answers on it until interrupted. line-noise is "
                         "the chance, 0 to 1, that a character is corrupted.\n";
            return argument == "--help" ? 0 : 2;
        }
        noise = std::stod(argument);
    }
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    std::string error;
    auto host = PtyBusHost::Start(SimulatedBus(DemoControllers(), noise, 1), error);
    if (!host) {
        std::cerr << argv[0] << ": " << error << "\n";
        return 1;
    }
    std::cout << host->DevicePath() << std::endl;
    int signal = 0;
    sigwait(&stop, &signal);
    return 0;
}
