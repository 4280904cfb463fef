#pragma once

#include <QCoroTask>
#include <functional>
#include <string>

#include "platform/Notifier.h"
#include "platform/Scheduler.h"

namespace tarvel {

// The owner of the coroutines that handlers start: a run, a scan, a dialog that waits for the
// line. A handler hands its coroutine over and returns; the owner keeps count of those still
// going, lets anyone await the moment none is left, and catches what escapes one of them, so an
// exception can neither vanish nor leave the controls in their running state.
//
// The owner must outlive its coroutines: it belongs to the object whose members they use.
class TaskOwner {
public:
    // Told what escaped a coroutine, by the exception's own text.
    using FailureHandler = std::function<void(const std::string& what)>;

    TaskOwner(Scheduler& scheduler, FailureHandler onFailure);
    TaskOwner(const TaskOwner&) = delete;
    TaskOwner& operator=(const TaskOwner&) = delete;

    // Runs `task` (already started: coroutines here run up to their first wait when called).
    void Start(QCoro::Task<> task);

    int Running() const { return running_; }
    // Resumes once no coroutine of this owner is running any more; at once when none is.
    QCoro::Task<> AllFinished();

private:
    QCoro::Task<> Guard(QCoro::Task<> task);

    Scheduler& scheduler_;
    FailureHandler onFailure_;
    int running_ = 0;
    Notifier finished_;
};

}  // namespace tarvel
