#include "platform/Tasks.h"

#include <exception>

#include "platform/Waits.h"

namespace tarvel {

TaskOwner::TaskOwner(Scheduler& scheduler, FailureHandler onFailure)
    : scheduler_(scheduler), onFailure_(std::move(onFailure)) {}

void TaskOwner::Start(QCoro::Task<> task) {
    ++running_;
    // The guard's own task object may go at once: a QCoro coroutine runs on without it.
    Guard(std::move(task));
}

QCoro::Task<> TaskOwner::Guard(QCoro::Task<> task) {
    std::string failure;
    try {
        co_await std::move(task);
    } catch (const std::exception& error) {
        failure = error.what();
        if (failure.empty()) {
            failure = "an unnamed error";
        }
    } catch (...) {
        failure = "an error of unknown kind";
    }
    --running_;
    if (!failure.empty() && onFailure_) {
        onFailure_(failure);
    }
    finished_.Notify();
}

QCoro::Task<> TaskOwner::AllFinished() {
    while (running_ > 0) {
        co_await NextActivity(scheduler_, finished_, std::nullopt);
    }
}

}  // namespace tarvel
