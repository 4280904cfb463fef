// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/VirtualTime.h"

namespace tarvel {

VirtualTime::VirtualTime(TimeOfDay startOfDay, CalendarDate startDate, int utcOffsetMinutes)
    : start_{startDate, startOfDay, utcOffsetMinutes} {}

LocalDateTime VirtualTime::LocalNow() const {
    return Later(start_, std::chrono::duration_cast<std::chrono::seconds>(now_.time_since_epoch()));
}

Scheduler::TimerId VirtualTime::CallAt(Instant when, std::function<void()> task) {
    const TimerId id = nextId_++;
    if (when < now_) {
        when = now_;
    }
    events_.emplace(std::make_pair(when, id), std::move(task));
    dueTimes_.emplace(id, when);
    return id;
}

void VirtualTime::CallSoon(std::function<void()> task) { CallAt(now_, std::move(task)); }

void VirtualTime::RunAside(std::function<void()> work, std::function<void()> done) {
    work();
    CallSoon(std::move(done));
}

void VirtualTime::Cancel(TimerId id) {
    const auto due = dueTimes_.find(id);
    if (due == dueTimes_.end()) {
        return;
    }
    events_.erase({due->second, id});
    dueTimes_.erase(due);
}

bool VirtualTime::RunNextUntil(Instant horizon) {
    if (events_.empty() || events_.begin()->first.first > horizon) {
        return false;
    }
    auto first = events_.begin();
    const auto [when, id] = first->first;
    std::function<void()> task = std::move(first->second);
    events_.erase(first);
    dueTimes_.erase(id);
    if (when > now_) {
        now_ = when;
    }
    task();
    return true;
}

bool VirtualTime::RunUntil(const std::function<bool()>& done, Duration limit) {
    const Instant horizon = now_ + limit;
    while (!done()) {
        if (!RunNextUntil(horizon)) {
            return false;
        }
    }
    return true;
}

void VirtualTime::RunFor(Duration span) {
    const Instant end = now_ + span;
    while (RunNextUntil(end)) {
    }
    if (end > now_) {
        now_ = end;
    }
}

}  // namespace tarvel
