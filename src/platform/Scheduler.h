// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>

#include "platform/Clock.h"

namespace tarvel {

// The one event loop on which the program's coroutines wait. Every callback runs on the
// user-interface thread, from the loop itself, never from inside the call that schedules it.
class Scheduler : public Clock {
public:
    using TimerId = std::uint64_t;

    // Runs `task` once the clock has reached `when` (as soon as possible when it already has).
    virtual TimerId CallAt(Instant when, std::function<void()> task) = 0;
    // Runs `task` after the events that are already pending.
    virtual void CallSoon(std::function<void()> task) = 0;
    // Forgets a task of CallAt that has not run yet; an unknown id is ignored.
    virtual void Cancel(TimerId id) = 0;
    // Runs `work` away from the program's thread (reading or writing a big file, say), then
    // `done` on it, from the loop. `work` must touch nothing that the program's thread uses.
    virtual void RunAside(std::function<void()> work, std::function<void()> done) = 0;
};

}  // namespace tarvel
