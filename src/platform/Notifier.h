// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>

namespace tarvel {

// A list of listeners to call when something may have changed. A listener may unsubscribe
// itself, or others, while it is being called; a subscription may outlive its notifier.
class Notifier {
    struct Listeners {
        std::map<std::uint64_t, std::function<void()>> byId;
        std::uint64_t nextId = 1;
    };

public:
    class Subscription {
    public:
        Subscription() = default;
        Subscription(Subscription&& other) noexcept { *this = std::move(other); }
        Subscription& operator=(Subscription&& other) noexcept;
        Subscription(const Subscription&) = delete;
        Subscription& operator=(const Subscription&) = delete;
        ~Subscription() { Reset(); }
        void Reset();

    private:
        friend class Notifier;
        std::weak_ptr<Listeners> owner_;
        std::uint64_t id_ = 0;
    };

    [[nodiscard]] Subscription Subscribe(std::function<void()> listener);
    void Notify();

private:
    std::shared_ptr<Listeners> listeners_ = std::make_shared<Listeners>();
};

}  // namespace tarvel
