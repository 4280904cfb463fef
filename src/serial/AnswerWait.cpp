#include "serial/AnswerWait.h"

#include "platform/Waits.h"

namespace tarvel {

QCoro::Task<bool> AwaitAnswer(SerialLine& line, Scheduler& scheduler, Duration window,
                              int expected) {
    const Instant start = scheduler.Now();
    // Rings at the first moment at which the elapsed time is more than the window.
    Alarm windowPassed(scheduler, start + window + Duration(1));
    Duration elapsed{};
    int count = line.InBufferCount();
    do {
        elapsed = scheduler.Now() - start;
        if (elapsed > window || count >= expected) {
            // This pass ends the wait whatever happens: a plain hand-over, then the count.
            co_await Yield(scheduler);
        } else {
            co_await NextActivity(scheduler, line.InputActivity(), std::nullopt,
                                  &windowPassed.Rang());
            // This one sleep stands for all the passes a polling loop would have made
            // meanwhile; the one that saw what woke the wait began just before it, so it counts
            // with the time of the wake-up. A character after the window is too late even when
            // the pass that slept began inside it.
            elapsed = scheduler.Now() - start;
        }
        count = line.InBufferCount();
    } while (!(elapsed > window || count >= expected));
    co_return elapsed > window;
}

}  // namespace tarvel
