// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <unordered_map>

#include "platform/Scheduler.h"

namespace tarvel {

// The scheduler of the running program: Qt's event loop with precise timers and the host's
// monotonic clock. Each timed task has a timer of its own, so a task that opens a modal dialog
// (and with it a nested event loop) does not hold up the others.
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

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    void Arm(TimerId id);

    SteadyClock clock_;
    TimerId nextId_ = 1;
    struct Pending {
        int qtTimer;
        Instant when;
        std::function<void()> task;
    };
    std::unordered_map<TimerId, Pending> pending_;
    std::unordered_map<int, TimerId> byQtTimer_;
};

}  // namespace tarvel
