// SPDX-License-Identifier: GPL-3.0-or-later
#include "lines/Transport.h"

#include <QMetaObject>
#include <utility>

namespace tarvel {

TransportLink::TransportLink(const Clock& clock, Notifier& input, Notifier& output,
                             const std::atomic<int>& inputThreshold)
    : clock_(clock), input_(input), output_(output), inputThreshold_(inputThreshold) {}

void TransportLink::Receive(std::string_view bytes) {
    if (bytes.empty()) {
        return;
    }
    std::size_t waiting = 0;
    {
        std::lock_guard lock(mutex_);
        const Instant now = clock_.Now();
        received_.Append(bytes, now);
        waiting = static_cast<std::size_t>(received_.Count());
    }
    if (waiting >= static_cast<std::size_t>(inputThreshold_.load())) {
        PostInputActivity();
    }
}

void TransportLink::Lose(std::string reason) {
    std::lock_guard lock(mutex_);
    lastError_ = std::move(reason);
    received_.Clear();
}

void TransportLink::PostLoss() {
    PostInputActivity();
    PostOutputActivity();
}

void TransportLink::PostInputActivity() {
    if (inputPosted_.exchange(true)) {
        return;
    }
    QMetaObject::invokeMethod(
        &here_,
        [this] {
            inputPosted_ = false;
            input_.Notify();
        },
        Qt::QueuedConnection);
}

void TransportLink::PostOutputActivity() {
    if (outputPosted_.exchange(true)) {
        return;
    }
    QMetaObject::invokeMethod(
        &here_,
        [this] {
            outputPosted_ = false;
            output_.Notify();
        },
        Qt::QueuedConnection);
}

void TransportLink::TellOutputMoved() {
    if (outputWanted.exchange(false)) {
        PostOutputActivity();
    }
}

std::string TransportLink::Take(int count) {
    std::lock_guard lock(mutex_);
    return received_.Take(count);
}

std::string TransportLink::Peek(int count) const {
    std::lock_guard lock(mutex_);
    return received_.Peek(count);
}

int TransportLink::Count() const {
    std::lock_guard lock(mutex_);
    return received_.Count();
}

std::optional<Instant> TransportLink::ArrivalOf(int index) const {
    std::lock_guard lock(mutex_);
    return received_.ArrivalOf(index);
}

void TransportLink::ClearReceived() {
    std::lock_guard lock(mutex_);
    received_.Clear();
}

void TransportLink::SetInputCapacity(std::size_t characters) {
    std::lock_guard lock(mutex_);
    received_.SetCapacity(characters);
}

std::uint64_t TransportLink::DroppedInput() const {
    std::lock_guard lock(mutex_);
    return received_.Dropped();
}

bool TransportLink::Fail(std::string reason) {
    std::lock_guard lock(mutex_);
    lastError_ = std::move(reason);
    return false;
}

void TransportLink::ClearError() {
    std::lock_guard lock(mutex_);
    lastError_.clear();
}

std::string TransportLink::LastError() const {
    std::lock_guard lock(mutex_);
    return lastError_;
}

}  // namespace tarvel
