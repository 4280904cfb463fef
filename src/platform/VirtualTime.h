// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <map>
#include <utility>

#include "platform/Scheduler.h"

namespace tarvel {

// A scheduler whose clock jumps from one event to the next. Runs that would last minutes on a
// real line take milliseconds, and the order of events at equal times is the order in which
// they were scheduled, so every run repeats exactly.
class VirtualTime final : public Scheduler {
public:
    // The wall clock reads `startOfDay` on `startDate` when the virtual clock starts.
    explicit VirtualTime(TimeOfDay startOfDay = {8, 0, 0}, CalendarDate startDate = {2026, 12, 9},
                         int utcOffsetMinutes = 60);

    Instant Now() const override { return now_; }
    LocalDateTime LocalNow() const override;
    TimerId CallAt(Instant when, std::function<void()> task) override;
    void CallSoon(std::function<void()> task) override;
    void Cancel(TimerId id) override;
    // The work runs at once, the completion as soon as the loop gets to it: exact and repeatable.
    void RunAside(std::function<void()> work, std::function<void()> done) override;

    // Runs events in time order until `done()` holds; false when nothing is left to run or the
    // clock would pass now + `limit` first.
    bool RunUntil(const std::function<bool()>& done, Duration limit = std::chrono::hours(24));
    // Runs every event due within `span`, then leaves the clock at the end of it.
    void RunFor(Duration span);
    // Runs the events already due now (and those they schedule for now).
    void RunDue() { RunFor(Duration::zero()); }
    // The program's thread is busy for `span` (a long repaint, a big list being filled): the
    // clock moves on, and what fell due meanwhile runs afterwards, late, in its order. Called
    // from inside an event.
    void Stall(Duration span) { now_ += span; }
    std::size_t PendingEvents() const { return events_.size(); }

private:
    bool RunNextUntil(Instant horizon);

    Instant now_{};
    LocalDateTime start_;
    TimerId nextId_ = 1;
    // Keyed by (time, id): ids grow, so equal times run in scheduling order.
    std::map<std::pair<Instant, TimerId>, std::function<void()>> events_;
    std::map<TimerId, Instant> dueTimes_;
};

}  // namespace tarvel
