// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/QtScheduler.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include <QMetaObject>
#include <QSocketNotifier>
#include <QThreadPool>
#include <cerrno>
#include <cstdint>
#include <system_error>

namespace tarvel {

namespace {

// Instants are readings of the steady clock, which on this host is CLOCK_MONOTONIC, the clock
// the kernel timer counts on: an Instant is the absolute time the timer takes.
timespec AbsoluteTime(Instant when) {
    const auto sinceBoot = when.time_since_epoch().count();
    timespec at{};
    // A time of zero would stop the timer: a time long past runs the task at once instead.
    if (sinceBoot <= 0) {
        at.tv_nsec = 1;
        return at;
    }
    at.tv_sec = static_cast<time_t>(sinceBoot / 1'000'000'000);
    at.tv_nsec = static_cast<long>(sinceBoot % 1'000'000'000);
    return at;
}

}  // namespace

QtScheduler::QtScheduler() {
    timerFd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (timerFd_ < 0) {
        throw std::system_error(errno, std::generic_category(), "timerfd_create");
    }
    expiry_ = std::make_unique<QSocketNotifier>(timerFd_, QSocketNotifier::Read);
    connect(expiry_.get(), &QSocketNotifier::activated, this, [this] { Expired(); });
}

QtScheduler::~QtScheduler() {
    // Work handed aside posts its completion to this object: none may be left to do so.
    QThreadPool::globalInstance()->waitForDone();
    expiry_.reset();
    ::close(timerFd_);
}

Scheduler::TimerId QtScheduler::CallAt(Instant when, std::function<void()> task) {
    const TimerId id = nextId_++;
    pending_.emplace(std::make_pair(when, id), std::move(task));
    when_.emplace(id, when);
    if (!armedFor_ || when < *armedFor_) {
        Arm();
    }
    return id;
}

void QtScheduler::Arm() {
    itimerspec setting{};
    if (pending_.empty()) {
        armedFor_.reset();
    } else {
        armedFor_ = pending_.begin()->first.first;
        setting.it_value = AbsoluteTime(*armedFor_);
    }
    ::timerfd_settime(timerFd_, TFD_TIMER_ABSTIME, &setting, nullptr);
}

void QtScheduler::Expired() {
    std::uint64_t expirations = 0;
    [[maybe_unused]] const auto got = ::read(timerFd_, &expirations, sizeof expirations);
    if (pending_.empty()) {
        Arm();
        return;
    }
    const auto first = pending_.begin();
    // The kernel counts on the same clock: a task is never early, but say so rather than trust.
    if (Now() < first->first.first) {
        Arm();
        return;
    }
    std::function<void()> task = std::move(first->second);
    when_.erase(first->first.second);
    pending_.erase(first);
    // Armed for the next before this one runs: a task due meanwhile runs even if this one
    // opens a nested event loop.
    Arm();
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
    const auto found = when_.find(id);
    if (found == when_.end()) {
        return;
    }
    const Instant when = found->second;
    when_.erase(found);
    pending_.erase(std::make_pair(when, id));
    // Only the earliest task sets the timer; a timer left early would only find nothing due.
    if (armedFor_ && when == *armedFor_ &&
        (pending_.empty() || pending_.begin()->first.first != when)) {
        Arm();
    }
}

}  // namespace tarvel
