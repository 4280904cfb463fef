// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Notifier.h"

#include <gtest/gtest.h>

#include <optional>

namespace tarvel {
namespace {

TEST(Notifier, AListenerMayUnsubscribeItselfAndOthersWhileBeingCalled) {
    Notifier notifier;
    int first = 0;
    int second = 0;
    std::optional<Notifier::Subscription> a;
    std::optional<Notifier::Subscription> b;
    a = notifier.Subscribe([&] {
        ++first;
        a.reset();
        b.reset();
    });
    b = notifier.Subscribe([&] { ++second; });
    notifier.Notify();
    notifier.Notify();
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 0);
}

TEST(Notifier, ASubscriptionMayOutliveItsNotifierAndStopsOnDestruction) {
    int calls = 0;
    Notifier::Subscription kept;
    {
        Notifier notifier;
        auto subscription = notifier.Subscribe([&] { ++calls; });
        notifier.Notify();
        kept = std::move(subscription);
        notifier.Notify();
    }
    kept.Reset();
    EXPECT_EQ(calls, 2);
}

}  // namespace
}  // namespace tarvel
