// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/StopSignals.h"

#include <unistd.h>
#include <cerrno>
#include <csignal>

namespace tarvel {
namespace {

int signalPipe = -1;

void Handle(int signal, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    // Both held back while the handler runs, so that a second signal finds the default action.
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    ::sigaction(signal, &action, nullptr);
}

void OnStopSignal(int signal) {
    const int savedErrno = errno;
    Handle(SIGINT, SIG_DFL);
    Handle(SIGTERM, SIG_DFL);
    const auto byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const auto written = ::write(signalPipe, &byte, 1);
    errno = savedErrno;
}

}  // namespace

void CatchStopSignals(int pipeEnd) {
    signalPipe = pipeEnd;
    Handle(SIGINT, OnStopSignal);
    Handle(SIGTERM, OnStopSignal);
}

void CatchReopenSignal(int pipeEnd) {
    signalPipe = pipeEnd;
    struct sigaction action {};
    action.sa_handler = [](int signal) {
        const int savedErrno = errno;
        const auto byte = static_cast<unsigned char>(signal);
        [[maybe_unused]] const auto written = ::write(signalPipe, &byte, 1);
        errno = savedErrno;
    };
    sigemptyset(&action.sa_mask);
    // The HTTP server's and the MQTT client's threads take it too: their calls go on.
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGHUP, &action, nullptr);
}

std::string StopSignalName(int signal) {
    switch (signal) {
        case SIGINT: return "Ctrl+C";
        case SIGTERM: return "SIGTERM";
        default: return "signal " + std::to_string(signal);
    }
}

}  // namespace tarvel
