// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoroTask>
#include <functional>
#include <memory>
#include <string>

#include "platform/Notifier.h"
#include "platform/Scheduler.h"

namespace tarvel {

// The owner of the coroutines that handlers start: a run, a scan, a dialog that waits for the
// line. A handler hands its coroutine over and returns; the owner keeps count of those still
// going, lets anyone await the moment none is left, and catches what escapes one of them, so an
// exception can neither vanish nor leave the controls in their running state.
//
// The owner belongs to the object whose members its coroutines use, so it lives as long as they
// may; should it go first all the same, a coroutine that ends later no longer reports to it.
// None resumes after its owner has gone: a coroutine resumes only from the scheduler's loop; the
// window program's owners are members of windows and controls that `Program` keeps for as long
// as that loop runs, and "E&xit !" ends the process from inside the loop without destroying
// them.
class TaskOwner {
public:
    // Told what escaped a coroutine, by the exception's own text. The coroutine still counts as
    // running until this returns.
    using FailureHandler = std::function<void(const std::string& what)>;

    TaskOwner(Scheduler& scheduler, FailureHandler onFailure);
    TaskOwner(const TaskOwner&) = delete;
    TaskOwner& operator=(const TaskOwner&) = delete;

    // Runs `task` (already started: coroutines here run up to their first wait when called).
    void Start(QCoro::Task<> task);

    int Running() const { return state_->running; }
    // Resumes once no coroutine of this owner is running any more; at once when none is.
    QCoro::Task<> AllFinished();

private:
    // What the coroutines report to; it outlives the owner while one of them still runs.
    struct State {
        FailureHandler onFailure;
        int running = 0;
        Notifier finished;
    };
    static QCoro::Task<> Guard(QCoro::Task<> task, std::shared_ptr<State> state);

    Scheduler& scheduler_;
    std::shared_ptr<State> state_;
};

}  // namespace tarvel
