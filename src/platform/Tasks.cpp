// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Tasks.h"

#include <exception>

#include "platform/Waits.h"

namespace tarvel {

TaskOwner::TaskOwner(Scheduler& scheduler, FailureHandler onFailure)
    : scheduler_(scheduler), state_(std::make_shared<State>()) {
    state_->onFailure = std::move(onFailure);
}

void TaskOwner::Start(QCoro::Task<> task) {
    ++state_->running;
    // The guard's own task object may go at once: a QCoro coroutine runs on without it.
    Guard(std::move(task), state_);
}

QCoro::Task<> TaskOwner::Guard(QCoro::Task<> task, std::shared_ptr<State> state) {
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
    if (!failure.empty() && state->onFailure) {
        try {
            state->onFailure(failure);
        } catch (...) {
            // The report itself failed; the count below must still come down.
        }
    }
    --state->running;
    state->finished.Notify();
}

QCoro::Task<> TaskOwner::AllFinished() {
    const std::shared_ptr<State> state = state_;
    while (state->running > 0) {
        co_await NextActivity(scheduler_, state->finished, std::nullopt);
    }
}

}  // namespace tarvel
