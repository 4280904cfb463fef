// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/AnswerWait.h"

#include <algorithm>

#include "platform/Waits.h"

namespace tarvel {
namespace {

// How many of the waiting characters had arrived by `moment` (stamps never go backwards).
int ArrivedBy(const SerialLine& line, int waiting, Instant moment) {
    int count = 0;
    while (count < waiting) {
        const auto arrival = line.ArrivalOf(count);
        if (!arrival || *arrival > moment) {
            break;
        }
        ++count;
    }
    return count;
}

// A transmitter that has not sent a few characters in this long is not going to.
constexpr Duration kOutputStuckAfter = std::chrono::seconds(2);

}  // namespace

Exchange ExchangeAfter(const SerialLine& line, const Scheduler& scheduler, Request request,
                       const AnswerArrival& arrival) {
    Exchange exchange;
    exchange.request = std::move(request);
    exchange.received = arrival.count;
    exchange.judged = scheduler.Now();
    exchange.judgedAt = scheduler.LocalNow();
    if (exchange.received > 0) {
        exchange.arrived = line.Peek(exchange.received);
        exchange.firstArrival = line.ArrivalOf(0);
        exchange.lastArrival = line.ArrivalOf(exchange.received - 1);
    }
    return exchange;
}

std::vector<Instant> ArrivalsOf(const SerialLine& line, int count) {
    std::vector<Instant> arrivals;
    if (line.RoundTrip()) {
        return arrivals;
    }
    for (int index = 0; index < count; ++index) {
        const std::optional<Instant> arrival = line.ArrivalOf(index);
        if (!arrival) {
            return {};
        }
        arrivals.push_back(*arrival);
    }
    return arrivals;
}

QCoro::Task<bool> AwaitOutputDrained(SerialLine& line, Scheduler& scheduler) {
    const Instant start = scheduler.Now();
    co_await Yield(scheduler);
    while (line.OutBufferCount() != 0) {
        if (scheduler.Now() - start > kOutputStuckAfter) {
            co_return false;
        }
        // The line tells when its output moves; the deadline only guards against a driver
        // that does not.
        co_await NextActivity(scheduler, line.OutputActivity(),
                              scheduler.Now() + std::chrono::milliseconds(100));
    }
    co_return true;
}

QCoro::Task<AnswerArrival> AwaitAnswer(SerialLine& line, Scheduler& scheduler, Instant start,
                                       Duration window, const AnswerLengthOf& lengthOf,
                                       Duration endingSilence) {
    // A character stamped later than this is too late.
    const Instant lastInTime = start + window;
    Alarm windowPassed(scheduler, lastInTime + Duration(1));
    struct Rearm {
        SerialLine& line;
        ~Rearm() { line.WakeOnInputCount(1); }
    } rearm{line};
    AnswerArrival arrival;
    while (true) {
        // The clock first, then the count: every character stamped before this reading of the
        // clock is in the count.
        const Instant now = scheduler.Now();
        const int waiting = line.InBufferCount();
        // An answer's first characters may say how long it is: asked again as they come.
        const int length = lengthOf(line.Peek(waiting));
        const bool untilSilence = length <= 0 && endingSilence > Duration{0} && waiting > 0;
        const int expected = untilSilence ? waiting + 1 : std::max(length, 1);
        std::optional<Instant> completed =
            waiting >= expected ? line.ArrivalOf(expected - 1) : std::nullopt;
        // The first silence that lasted ends it, by the stamps (characters after it, seen only
        // now by a thread kept busy, are no part of it); its last character completed it.
        std::optional<Instant> quietAt;
        if (untilSilence) {
            std::optional<Instant> last = line.ArrivalOf(0);
            bool silenceSeen = false;
            for (int index = 1; index < waiting && last && !silenceSeen; ++index) {
                const std::optional<Instant> next = line.ArrivalOf(index);
                silenceSeen = next && *next - *last >= endingSilence;
                if (next && !silenceSeen) {
                    last = next;
                }
            }
            if (last && (silenceSeen || *last > lastInTime || now >= *last + endingSilence)) {
                completed = last;
            } else if (last) {
                quietAt = *last + endingSilence;
            }
        }
        if (completed) {
            arrival.late = *completed > lastInTime;
            arrival.count = ArrivedBy(line, waiting, arrival.late ? lastInTime : *completed);
            break;
        }
        if (now > lastInTime || !line.PortOpen()) {
            // Whatever comes now is stamped later than the window.
            arrival.late = true;
            arrival.count = ArrivedBy(line, waiting, lastInTime);
            break;
        }
        // Woken by the completing character (or the window's end), not by each one before it.
        line.WakeOnInputCount(expected);
        co_await NextActivity(scheduler, line.InputActivity(), quietAt, &windowPassed.Rang());
    }
    // The last pass hands the thread over too, before the caller judges.
    co_await Yield(scheduler);
    co_return arrival;
}

}  // namespace tarvel
