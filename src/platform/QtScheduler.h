// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <map>
#include <memory>
#include <optional>
#include <unordered_map>
#include <utility>

#include "platform/Scheduler.h"

class QSocketNotifier;

namespace tarvel {

// The scheduler of the running program: Qt's event loop and the host's monotonic clock. Timed
// tasks wait on one kernel timer (a timerfd on that same clock, armed at the exact time of the
// earliest), not on Qt's timers: those count whole milliseconds, and the shortest waits of a
// fast line last less than two of them. One task runs per expiry, the timer armed for the next
// before it runs, so that a task that opens a modal dialog (and with it a nested event loop)
// does not hold up the others.
class QtScheduler final : public QObject, public Scheduler {
public:
    QtScheduler();
    ~QtScheduler() override;

    Instant Now() const override { return clock_.Now(); }
    LocalDateTime LocalNow() const override { return clock_.LocalNow(); }
    TimerId CallAt(Instant when, std::function<void()> task) override;
    void CallSoon(std::function<void()> task) override;
    void Cancel(TimerId id) override;
    void RunAside(std::function<void()> work, std::function<void()> done) override;

private:
    // Sets the kernel timer to the earliest task's time, or stops it when none waits.
    void Arm();
    void Expired();

    SteadyClock clock_;
    int timerFd_ = -1;
    std::unique_ptr<QSocketNotifier> expiry_;
    TimerId nextId_ = 1;
    // By time, then in the order they were asked for: tasks due at the same time run in turn.
    std::map<std::pair<Instant, TimerId>, std::function<void()>> pending_;
    std::unordered_map<TimerId, Instant> when_;
    // What the kernel timer is set to; nothing while it is stopped.
    std::optional<Instant> armedFor_;
};

}  // namespace tarvel
