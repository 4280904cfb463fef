// SPDX-License-Identifier: GPL-3.0-or-later
#include "line/LineDetector.h"

#include <algorithm>

#include "serial/LineExchange.h"

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
    const Protocol& protocol = port_.LineProtocol();
    const std::vector<Station> stations = only_.value_or(protocol.Stations());
    const int count = static_cast<int>(stations.size());
    for (std::size_t at = 0; at < stations.size(); ++at) {
        const Station index = stations[at];
        primo_.AddressText = protocol.StationText(index);
        Tell([&](ScanSink& sink) { sink.AddressStarting(index, static_cast<int>(at), count); });
        for (int attempt = 0; attempt < tries; ++attempt) {
            Request request;
            request.station = index;
            request.stationText = primo_.AddressText;
            request.position = static_cast<int>(at);
            request.attempt = attempt;
            const std::optional<Exchange> exchange = co_await Try(std::move(request));
            if (!exchange) {
                break;
            }
            if (exchange->verdict == ExchangeVerdict::Good) {
                if (end.found.size() < table_.size()) {
                    table_[end.found.size()] = static_cast<std::int16_t>(index);
                }
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
            end.stopped = at + 1 < stations.size();
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
    const Protocol& protocol = port_.LineProtocol();
    ExchangeOnLine made =
        co_await MakeExchange(port_, primo_, protocol, std::move(request), ExchangeKind::Probe,
                              port_.TimingsOf(ExchangeKind::Probe), std::move(steps));
    if (!made.exchange) {
        lineFailure_ = std::move(made.lineFailure);
        co_return std::nullopt;
    }
    Exchange& exchange = *made.exchange;
    // What the protocol does not take as the answer stays for the settle to throw away.
    JudgeAnswer(port_, protocol, ExchangeKind::Probe, exchange, made.late);
    Tell([&](ScanSink& sink) { sink.ExchangeJudged(exchange); });
    co_return exchange;
}

}  // namespace tarvel
