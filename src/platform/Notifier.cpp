// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Notifier.h"

#include <vector>

namespace tarvel {

Notifier::Subscription& Notifier::Subscription::operator=(Subscription&& other) noexcept {
    if (this != &other) {
        Reset();
        owner_ = std::move(other.owner_);
        id_ = other.id_;
        other.id_ = 0;
    }
    return *this;
}

void Notifier::Subscription::Reset() {
    if (auto owner = owner_.lock()) {
        owner->byId.erase(id_);
    }
    owner_.reset();
    id_ = 0;
}

Notifier::Subscription Notifier::Subscribe(std::function<void()> listener) {
    Subscription subscription;
    subscription.id_ = listeners_->nextId++;
    subscription.owner_ = listeners_;
    listeners_->byId.emplace(subscription.id_, std::move(listener));
    return subscription;
}

void Notifier::Notify() {
    // Keep the list alive and walk over a snapshot of ids: a listener may change the list.
    const std::shared_ptr<Listeners> keep = listeners_;
    std::vector<std::uint64_t> ids;
    ids.reserve(keep->byId.size());
    for (const auto& [id, listener] : keep->byId) {
        ids.push_back(id);
    }
    for (const std::uint64_t id : ids) {
        const auto found = keep->byId.find(id);
        if (found != keep->byId.end()) {
            auto listener = found->second;
            listener();
        }
    }
}

}  // namespace tarvel
