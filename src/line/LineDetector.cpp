// SPDX-License-Identifier: GPL-3.0-or-later
#include "line/LineDetector.h"

#include <algorithm>

#include "core/AsconFrame.h"
#include "serial/AsconExchange.h"

namespace tarvel {

LineDetector::LineDetector(Primo& primo, PortService& port, ControllerAddressTable& table)
    : primo_(primo), port_(port), table_(table) {}

QCoro::Task<ScanEnd> LineDetector::Scan(LineUse::Lease lease) {
    // Whatever ends the scan, an exception included, leaves the detector idle and the line
    // free before anyone hears of the end.
    const LoopOnLine loop(lease, running_, started_, "a scan");
    lineFailure_.clear();

    ScanEnd end;
    co_await port_.SettleLine();
    primo_.StopFlag = kFalse;
    started_ = true;
    Tell([](ScanSink& sink) { sink.ScanStarted(); });
    const int tries = std::max<int>(primo_.RetryCount, 0) + 1;
    for (int index = 0; index < kAddressCount; ++index) {
        primo_.AddressText = std::string(1, AddressCharacter(index));
        Tell([&](ScanSink& sink) { sink.AddressStarting(index); });
        for (int attempt = 0; attempt < tries; ++attempt) {
            Request request;
            request.address = primo_.AddressText.front();
            request.position = index;
            request.attempt = attempt;
            const std::optional<Exchange> exchange = co_await Try(std::move(request));
            if (!exchange) {
                break;
            }
            if (exchange->verdict == ExchangeVerdict::Good) {
                table_[end.found.size()] = static_cast<std::int16_t>(index);
                end.found.push_back(static_cast<std::int16_t>(index));
                const int found = static_cast<int>(end.found.size());
                Tell([&](ScanSink& sink) { sink.ControllerFound(index, found); });
                break;
            }
            co_await port_.SettleLine();
        }
        if (!lineFailure_.empty()) {
            break;
        }
        if (primo_.StopFlag == kTrue) {
            end.stopped = index + 1 < kAddressCount;
            break;
        }
    }
    lease.Release();
    end.lineFailure = lineFailure_;
    Tell([&](ScanSink& sink) { sink.ScanEnded(end); });
    co_return end;
}

QCoro::Task<std::optional<Exchange>> LineDetector::Try(Request request) {
    // Named, not a temporary of the co_await: g++ 12 destroys such lambda arguments twice.
    ExchangeSteps steps{
        {}, [this](const Request& r) { Tell([&](ScanSink& sink) { sink.RequestWritten(r); }); }};
    ExchangeOnLine made = co_await MakeAsconExchange(
        port_, primo_, std::move(request), ScanRequestPause, ScanAnswerWindow, std::move(steps));
    if (!made.exchange) {
        lineFailure_ = std::move(made.lineFailure);
        co_return std::nullopt;
    }
    Exchange& exchange = *made.exchange;
    // More than five characters stay in the input for the settle to throw away.
    JudgeProbe(port_.Line(), exchange, made.late);
    Tell([&](ScanSink& sink) { sink.ExchangeJudged(exchange); });
    co_return exchange;
}

}  // namespace tarvel
