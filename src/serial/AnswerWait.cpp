#include "serial/AnswerWait.h"

#include "platform/Waits.h"

namespace tarvel {

QCoro::Task<bool> AwaitAnswer(SerialLine& line, Scheduler& scheduler, Duration window,
                              int expected) {
    const Instant start = scheduler.Now();
    // The first moment at which the elapsed time is more than the window.
    const Instant windowPassed = start + window + Duration(1);
    Duration elapsed{};
    int count = 0;
    do {
        elapsed = scheduler.Now() - start;
        if (elapsed > window || line.InBufferCount() >= expected) {
            // This pass ends the wait whatever happens: a plain hand-over, then the count.
            co_await Yield(scheduler);
        } else {
            co_await NextActivity(scheduler, line.Activity(), windowPassed);
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
