// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/TestCycle.h"

#include <algorithm>
#include <limits>

#include "platform/Waits.h"
#include "serial/LineExchange.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;

// How long an empty sweep (no controller configured) waits before the next.
constexpr Duration kEmptySweepPause = 100ms;

}  // namespace

TestCycle::TestCycle(Primo& primo, PortService& port, const ControllerAddressTable& table)
    : primo_(primo), port_(port), table_(table) {}

void TestCycle::ResetErrors() {
    errors_ = 0;
    Tell([](CycleSink& sink) { sink.ErrorsCounted(0); });
    Tell([](CycleSink& sink) { sink.ErrorsReset(); });
}

QCoro::Task<RunEnd> TestCycle::TxAscon(LineUse::Lease lease) {
    // Whatever ends the run, an exception included, leaves the cycle idle and the line free
    // before anyone hears of the end.
    const LoopOnLine loop(lease, running_, started_, "a test run");
    lineFailure_.clear();
    limitReached_ = false;
    position_ = 0;
    attempt_ = 0;

    co_await port_.SettleLine();
    primo_.StopFlag = kFalse;
    started_ = true;
    const int controllers = primo_.DeviceCount;
    Tell([&](CycleSink& sink) { sink.RunStarted(controllers); });
    while (primo_.StopFlag != kTrue) {
        co_await Sweep();
    }
    lease.Release();
    const RunEnd end{errors_, limitReached_, lineFailure_};
    Tell([&](CycleSink& sink) { sink.RunEnded(end); });
    co_return end;
}

QCoro::Task<> TestCycle::Sweep() {
    // The end of the sweep is fixed when it starts; the table is read afresh for each position.
    const int end = std::clamp<int>(primo_.DeviceCount, 0, kMaxControllers);
    if (end == 0) {
        co_await Pause(port_.Time(), kEmptySweepPause);
        co_return;
    }
    const int attempts = std::max<int>(primo_.RetryCount, 0) + 1;
    const Protocol& protocol = port_.LineProtocol();
    for (int position = 0; position < end; ++position) {
        position_ = position;
        const Station station = table_[position];
        primo_.AddressText = protocol.StationText(station);
        for (int attempt = 0; attempt < attempts; ++attempt) {
            attempt_ = attempt;
            Request request;
            request.station = station;
            request.stationText = primo_.AddressText;
            request.position = position;
            request.attempt = attempt;
            const std::optional<Exchange> exchange = co_await Attempt(std::move(request));
            if (!exchange) {
                co_return;
            }
            if (!exchange->Failed()) {
                break;
            }
            CountFailure();
            co_await port_.SettleLine();
            if (primo_.StopFlag == kTrue) {
                break;
            }
        }
        if (primo_.StopFlag == kTrue) {
            co_return;
        }
    }
}

QCoro::Task<std::optional<Exchange>> TestCycle::Attempt(Request request) {
    // Named, not temporaries of the co_await: g++ 12 destroys such lambda arguments twice.
    ExchangeSteps steps{
        [this](const Request& r) {
            Tell([&](CycleSink& sink) { sink.AttemptStarting(r.position); });
        },
        [this](const Request& r) { Tell([&](CycleSink& sink) { sink.RequestWritten(r); }); }};
    const Protocol& protocol = port_.LineProtocol();
    ExchangeOnLine made =
        co_await MakeExchange(port_, primo_, protocol, std::move(request), ExchangeKind::Test,
                              port_.TimingsOf(ExchangeKind::Test), std::move(steps));
    if (!made.exchange) {
        FailLine(std::move(made.lineFailure));
        co_return std::nullopt;
    }
    Exchange& exchange = *made.exchange;
    JudgeAnswer(port_, protocol, ExchangeKind::Test, exchange, made.late);
    Tell([&](CycleSink& sink) { sink.ExchangeJudged(exchange); });
    co_return exchange;
}

void TestCycle::CountFailure() {
    // Years of failures on a watched line stop at the largest count rather than wrap.
    errors_ += errors_ < std::numeric_limits<int>::max() ? 1 : 0;
    Tell([&](CycleSink& sink) { sink.ErrorsCounted(errors_); });
    if (errorLimited_ && errors_ >= ErrorLimit) {
        limitReached_ = true;
        primo_.StopFlag = kTrue;
    }
}

void TestCycle::FailLine(std::string reason) {
    lineFailure_ = reason.empty() ? "the port was closed" : std::move(reason);
    // The run ends as if Stop had been pressed.
    primo_.StopFlag = kTrue;
}

}  // namespace tarvel
