#include "line/LineDetector.h"

#include <stdexcept>

#include "core/AsconFrame.h"
#include "platform/Waits.h"
#include "serial/AnswerWait.h"

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
    SerialLine& line = port_.Line();
    Scheduler& time = port_.Time();
    if (!co_await AwaitOutputDrained(line, time)) {
        lineFailure_ = "the serial port has not sent its output for two seconds";
        co_return std::nullopt;
    }
    primo_.RequestText = AsconRequest(request.address);
    request.frame = primo_.RequestText;
    co_await Pause(time, ScanRequestPause);
    if (!line.PortOpen()) {
        lineFailure_ = line.LastError().empty() ? "the port was closed" : line.LastError();
        co_return std::nullopt;
    }
    line.Output(request.frame);
    request.written = time.Now();
    Tell([&](ScanSink& sink) { sink.RequestWritten(request); });
    const AnswerArrival arrival =
        co_await AwaitAnswer(line, time, request.written, ScanAnswerWindow, AnswerLength);
    if (!line.PortOpen()) {
        // What the wait saw is the loss, not the controller.
        lineFailure_ = line.LastError().empty() ? "the port was closed" : line.LastError();
        co_return std::nullopt;
    }
    Exchange exchange = ExchangeAfter(line, time, std::move(request), arrival);
    // The time-out wins even when five characters came at the same moment.
    if (arrival.late) {
        exchange.verdict = ExchangeVerdict::NotDetected;
    } else if (exchange.received == AnswerLength) {
        exchange.answer = line.InputFirst(exchange.received);
        exchange.verdict =
            exchange.answer.back() == '\r' ? ExchangeVerdict::Good : ExchangeVerdict::UnknownFormat;
    } else {
        // More than five: left in the input for the settle to throw away.
        exchange.verdict = ExchangeVerdict::WrongCount;
    }
    Tell([&](ScanSink& sink) { sink.ExchangeJudged(exchange); });
    co_return exchange;
}

}  // namespace tarvel
