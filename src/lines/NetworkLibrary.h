// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the network port needs of the network library (libgensio) beyond its sessions: the
// library's handler and its wake-up signal, its time and waits, and one awaited reply. Only
// NetworkPort.cpp includes it.

// Before the library, which includes the C headers inside its own namespace.
#include <signal.h>

#include <gensio/gensio>

#include <atomic>
#include <chrono>
#include <string>

#include "core/Time.h"
#include "lines/LineSettings.h"

namespace tarvel::network_library {

inline gensios::gensio_time ToGensio(Duration span) {
    const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(span).count();
    return gensios::gensio_time{nanoseconds / 1'000'000'000,
                                static_cast<int>(nanoseconds % 1'000'000'000)};
}

inline std::string Seconds(Duration span) {
    const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(span).count();
    return milliseconds % 1000 == 0 ? std::to_string(milliseconds / 1000) + " s"
                                    : std::to_string(milliseconds) + " ms";
}

// The library wakes a thread that waits in it with a signal; without one, a wait learns of an
// event of another thread only at its next time-out. Its own handler comes with a process-wide
// set-up (signal masks, SIGPIPE, SIGCHLD) that is not the library's to make here, so the signal
// gets a handler that does nothing: delivered, it interrupts the wait and nothing else. An
// ignored signal (a disposition a parent process can pass on) would never interrupt it, and
// every wait would last its whole time-out; looked at for each connection, as anything may
// have changed it since. SA_RESTART: a late one must not break another call of that thread.
inline int WakeSignal() {
    struct sigaction action {};
    ::sigaction(SIGUSR2, nullptr, &action);
    if (action.sa_handler == SIG_DFL || action.sa_handler == SIG_IGN) {
        struct sigaction nothing {};
        nothing.sa_handler = [](int /*number*/) {};
        nothing.sa_flags = SA_RESTART;
        sigemptyset(&nothing.sa_mask);
        ::sigaction(SIGUSR2, &nothing, nullptr);
    }
    return SIGUSR2;
}

// The library's operating-system handler, made once and kept for the life of the program. The
// library counts its users and frees it with the last; a connection whose free the library
// finished on its own thread after the session had gone (a peer that closed in the middle of the
// negotiation) dropped that count to zero under the next connection's feet, and the next
// allocation called through a handler already freed.
inline gensios::Os_Funcs& LibraryOs() {
    static gensios::Os_Funcs* const os = new gensios::Os_Funcs(WakeSignal());
    return *os;
}

inline unsigned int GensioParity(Parity parity) {
    switch (parity) {
        case Parity::Even: return SERGENSIO_PARITY_EVEN;
        case Parity::Odd: return SERGENSIO_PARITY_ODD;
        case Parity::None: break;
    }
    return SERGENSIO_PARITY_NONE;
}

// The connection's own timings (the round trip, a server's silence) are the library's, in real
// time, and need no clock that may be gone before the connection is.
using SteadyInstant = std::chrono::steady_clock::time_point;
inline SteadyInstant SteadyNow() { return std::chrono::steady_clock::now(); }

// Waits on `waiter` until `done` holds or `until` has come: whether it holds. A wake left over
// from something else (a reply that came too late) ends one wait of the loop, not the whole.
inline bool AwaitDone(gensios::Waiter& waiter, const std::atomic<bool>& done, SteadyInstant until) {
    while (!done) {
        const Duration left = until - SteadyNow();
        if (left <= Duration::zero()) {
            break;
        }
        gensios::gensio_time rest = ToGensio(left);
        waiter.wait(1, &rest);
    }
    return done;
}

// One awaited reply of the library: an opening or a COM port request.
struct Reply final : gensios::Gensio_Open_Done, gensios::Serial_Op_Done {
    explicit Reply(gensios::Os_Funcs& os)
        : os(os),
          waiter(os),
          timer(gensios::gensio_os_funcs_alloc_timer(
              os,
              [](gensios::gensio_timer* /*timer*/, void* self) {
                  static_cast<Reply*>(self)->waiter.wake();
              },
              this)) {}
    ~Reply() override {
        if (timer != nullptr) {
            gensios::gensio_os_funcs_stop_timer(os, timer);
            gensios::gensio_os_funcs_free_timer(os, timer);
        }
    }
    Reply(const Reply&) = delete;
    Reply& operator=(const Reply&) = delete;

    void open_done(int err) override { Finish(err, 0); }
    void serial_op_done(int err, unsigned int val) override { Finish(err, val); }
    void Finish(int err, unsigned int val) {
        error = err;
        value = val;
        done = true;
        waiter.wake();
    }
    // False when the time ran out first. A wait of the library counts against its time-out
    // only the time it spends idle: a peer that floods the connection (an endless
    // subnegotiation, Telnet commands without end) held a wait of 1 s for 4, until the
    // library's own negotiation timer gave up. A timer of the library ends it on time; a wake
    // left over from a reply that came too late ends one wait of the loop, not the Await.
    bool Await(Duration limit) {
        const SteadyInstant until = SteadyNow() + limit;
        gensios::gensio_time whole = ToGensio(limit);
        const bool timed =
            timer != nullptr && gensios::gensio_os_funcs_start_timer(os, timer, &whole) == 0;
        AwaitDone(waiter, done, until);
        if (timed) {
            gensios::gensio_os_funcs_stop_timer(os, timer);
        }
        return done;
    }
    void Reset() {
        done = false;
        error = 0;
        value = 0;
    }
    gensios::Os_Funcs& os;
    gensios::Waiter waiter;
    gensios::gensio_timer* timer;  // wakes the waiter when the time is up
    std::atomic<bool> done = false;
    std::atomic<int> error = 0;
    std::atomic<unsigned int> value = 0;
};

}  // namespace tarvel::network_library
