// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoroTask>
#include <coroutine>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

#include "platform/Notifier.h"
#include "platform/Scheduler.h"

// The awaitables on which the program's loops wait. Each one suspends the loop and hands the
// user-interface thread back to the event loop; the loop resumes from the event loop, never from
// inside the call that woke it.

namespace tarvel {

// Resumes once the clock has reached `when`. Other handlers keep running meanwhile; the loop that
// waits takes no step.
class PauseUntil {
public:
    PauseUntil(Scheduler& scheduler, Instant when) : scheduler_(scheduler), when_(when) {}
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> loop) {
        scheduler_.CallAt(when_, [loop] { loop.resume(); });
    }
    void await_resume() const noexcept {}

private:
    Scheduler& scheduler_;
    Instant when_;
};

inline PauseUntil Pause(Scheduler& scheduler, Duration span) {
    return PauseUntil(scheduler, scheduler.Now() + span);
}

// Resumes after the events that are pending now have been handled.
class Yield {
public:
    explicit Yield(Scheduler& scheduler) : scheduler_(scheduler) {}
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> loop) {
        scheduler_.CallSoon([loop] { loop.resume(); });
    }
    void await_resume() const noexcept {}

private:
    Scheduler& scheduler_;
};

// Resumes after the next notification of `activity`, or of `alsoWakeOn`, or once the clock has
// reached `deadline`, whichever comes first. Costs nothing while it waits.
class NextActivity {
public:
    NextActivity(Scheduler& scheduler, Notifier& activity, std::optional<Instant> deadline,
                 Notifier* alsoWakeOn = nullptr)
        : scheduler_(scheduler),
          activity_(activity),
          alsoWakeOn_(alsoWakeOn),
          deadline_(deadline) {}
    // Moved only before it suspends: once it waits, callbacks hold its address.
    NextActivity(NextActivity&&) = default;

    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> loop) {
        loop_ = loop;
        subscription_ = activity_.Subscribe([this] { Wake(); });
        if (alsoWakeOn_ != nullptr) {
            alsoSubscription_ = alsoWakeOn_->Subscribe([this] { Wake(); });
        }
        if (deadline_) {
            timer_ = scheduler_.CallAt(*deadline_, [this] {
                timer_ = 0;
                Wake();
            });
        }
    }
    void await_resume() const noexcept {}

private:
    void Wake() {
        if (woken_) {
            return;
        }
        woken_ = true;
        subscription_.Reset();
        alsoSubscription_.Reset();
        if (timer_ != 0) {
            scheduler_.Cancel(timer_);
            timer_ = 0;
        }
        scheduler_.CallSoon([loop = loop_] { loop.resume(); });
    }

    Scheduler& scheduler_;
    Notifier& activity_;
    Notifier* alsoWakeOn_;
    std::optional<Instant> deadline_;
    std::coroutine_handle<> loop_;
    Notifier::Subscription subscription_;
    Notifier::Subscription alsoSubscription_;
    Scheduler::TimerId timer_ = 0;
    bool woken_ = false;
};

// A moment that waits can wake on: its notifier fires once when the clock reaches it. One timer
// serves every pass of a wait.
class Alarm {
public:
    Alarm(Scheduler& scheduler, Instant when)
        : scheduler_(scheduler), timer_(scheduler.CallAt(when, [this] {
              timer_ = 0;
              rang_.Notify();
          })) {}
    Alarm(const Alarm&) = delete;
    Alarm& operator=(const Alarm&) = delete;
    ~Alarm() { scheduler_.Cancel(timer_); }
    Notifier& Rang() { return rang_; }

private:
    Scheduler& scheduler_;
    Notifier rang_;
    Scheduler::TimerId timer_;
};

// Runs `work` away from the program's thread and resumes with its result on that thread; what
// the work throws (running out of memory on a huge file, say) is thrown here. The work gets
// nothing but what it captures by value.
template <typename Result>
class Aside {
public:
    Aside(Scheduler& scheduler, std::function<Result()> work)
        : scheduler_(scheduler), work_(std::move(work)) {}
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> loop) {
        scheduler_.RunAside(
            [work = std::move(work_), outcome = outcome_] {
                try {
                    outcome->result.emplace(work());
                } catch (...) {
                    outcome->error = std::current_exception();
                }
            },
            [loop] { loop.resume(); });
    }
    Result await_resume() {
        if (outcome_->error) {
            std::rethrow_exception(outcome_->error);
        }
        return std::move(*outcome_->result);
    }

private:
    struct Outcome {
        std::optional<Result> result;
        std::exception_ptr error;
    };
    Scheduler& scheduler_;
    std::function<Result()> work_;
    // Shared with the work, which runs on another thread.
    std::shared_ptr<Outcome> outcome_ = std::make_shared<Outcome>();
};

}  // namespace tarvel
