#pragma once

#include <QObject>
#include <unordered_map>

#include "platform/Scheduler.h"

class QTimer;

namespace tarvel {

// The scheduler of the running program: Qt's event loop with precise timers and the host's
// monotonic clock. Each timed task has its own timer, so a task that opens a modal dialog (and
// with it a nested event loop) does not hold up the others.
class QtScheduler final : public Scheduler {
public:
    QtScheduler();
    ~QtScheduler() override;

    Instant Now() const override { return clock_.Now(); }
    TimeOfDay LocalTime() const override { return clock_.LocalTime(); }
    TimerId CallAt(Instant when, std::function<void()> task) override;
    void CallSoon(std::function<void()> task) override;
    void Cancel(TimerId id) override;

private:
    void Arm(TimerId id, Instant when);

    SteadyClock clock_;
    QObject context_;
    TimerId nextId_ = 1;
    struct Pending {
        QTimer* timer;
        Instant when;
        std::function<void()> task;
    };
    std::unordered_map<TimerId, Pending> pending_;
};

}  // namespace tarvel
