// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/QtScheduler.h"

#include <QMetaObject>
#include <QThreadPool>
#include <QTimerEvent>

namespace tarvel {

QtScheduler::QtScheduler() = default;

QtScheduler::~QtScheduler() {
    // Work handed aside posts its completion to this object: none may be left to do so.
    QThreadPool::globalInstance()->waitForDone();
    for (const auto& [qtTimer, id] : byQtTimer_) {
        killTimer(qtTimer);
    }
}

Scheduler::TimerId QtScheduler::CallAt(Instant when, std::function<void()> task) {
    const TimerId id = nextId_++;
    pending_.emplace(id, Pending{0, when, std::move(task)});
    Arm(id);
    return id;
}

void QtScheduler::Arm(TimerId id) {
    using namespace std::chrono;
    Pending& pending = pending_.at(id);
    const Duration remaining = pending.when - Now();
    // Qt's timers count whole milliseconds: round up, never run a task before its time.
    const auto ms = remaining <= Duration::zero() ? milliseconds(0) : ceil<milliseconds>(remaining);
    pending.qtTimer = startTimer(ms, Qt::PreciseTimer);
    byQtTimer_[pending.qtTimer] = id;
}

void QtScheduler::timerEvent(QTimerEvent* event) {
    const int qtTimer = event->timerId();
    killTimer(qtTimer);
    const auto owner = byQtTimer_.find(qtTimer);
    if (owner == byQtTimer_.end()) {
        return;
    }
    const TimerId id = owner->second;
    byQtTimer_.erase(owner);
    const auto found = pending_.find(id);
    if (found == pending_.end()) {
        return;
    }
    if (Now() < found->second.when) {
        Arm(id);
        return;
    }
    std::function<void()> task = std::move(found->second.task);
    pending_.erase(found);
    task();
}

void QtScheduler::CallSoon(std::function<void()> task) {
    QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

void QtScheduler::RunAside(std::function<void()> work, std::function<void()> done) {
    QThreadPool::globalInstance()->start(
        [this, work = std::move(work), done = std::move(done)]() mutable {
            work();
            // Posted to the scheduler's own thread, which the destructor waits for.
            QMetaObject::invokeMethod(this, std::move(done), Qt::QueuedConnection);
        });
}

void QtScheduler::Cancel(TimerId id) {
    const auto found = pending_.find(id);
    if (found == pending_.end()) {
        return;
    }
    killTimer(found->second.qtTimer);
    byQtTimer_.erase(found->second.qtTimer);
    pending_.erase(found);
}

}  // namespace tarvel
