// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <signal.h>
#include <unistd.h>

// Ends the test program if the scope is still running after a few seconds, for calls that must
// return at once but would block for ever when broken (reading a FIFO no one writes to): the
// fault fails the suite instead of hanging it.
namespace tarvel::testing {

class Watchdog {
public:
    explicit Watchdog(unsigned seconds = 10) {
        struct sigaction action {};
        action.sa_handler = &Bark;
        ::sigemptyset(&action.sa_mask);
        ::sigaction(SIGALRM, &action, &before_);
        ::alarm(seconds);
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;
    ~Watchdog() {
        ::alarm(0);
        ::sigaction(SIGALRM, &before_, nullptr);
    }

private:
    static void Bark(int) {
        static const char kText[] = "\nwatchdog: a call that must return at once blocked\n";
        [[maybe_unused]] const auto written = ::write(2, kText, sizeof kText - 1);
        ::_exit(1);
    }

    struct sigaction before_ {};
};

}  // namespace tarvel::testing
