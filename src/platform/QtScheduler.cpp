#include "platform/QtScheduler.h"

#include <QMetaObject>
#include <QTimer>

namespace tarvel {

QtScheduler::QtScheduler() = default;

QtScheduler::~QtScheduler() {
    for (auto& [id, pending] : pending_) {
        delete pending.timer;
    }
}

Scheduler::TimerId QtScheduler::CallAt(Instant when, std::function<void()> task) {
    const TimerId id = nextId_++;
    auto* timer = new QTimer(&context_);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    pending_.emplace(id, Pending{timer, when, std::move(task)});
    QObject::connect(timer, &QTimer::timeout, &context_, [this, id] {
        const auto found = pending_.find(id);
        if (found == pending_.end()) {
            return;
        }
        // Qt's timers count whole milliseconds; never run a task before its time.
        if (Now() < found->second.when) {
            Arm(id, found->second.when);
            return;
        }
        std::function<void()> task = std::move(found->second.task);
        found->second.timer->deleteLater();
        pending_.erase(found);
        task();
    });
    Arm(id, when);
    return id;
}

void QtScheduler::Arm(TimerId id, Instant when) {
    using namespace std::chrono;
    const Duration remaining = when - Now();
    const auto ms = remaining <= Duration::zero() ? milliseconds(0) : ceil<milliseconds>(remaining);
    pending_.at(id).timer->start(ms);
}

void QtScheduler::CallSoon(std::function<void()> task) {
    QMetaObject::invokeMethod(&context_, std::move(task), Qt::QueuedConnection);
}

void QtScheduler::Cancel(TimerId id) {
    const auto found = pending_.find(id);
    if (found == pending_.end()) {
        return;
    }
    found->second.timer->stop();
    found->second.timer->deleteLater();
    pending_.erase(found);
}

}  // namespace tarvel
