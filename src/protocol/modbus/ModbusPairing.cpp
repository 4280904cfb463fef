// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/modbus/ModbusPairing.h"

#include <algorithm>
#include <utility>

#include "protocol/modbus/ModbusFrame.h"

namespace tarvel {
namespace {

int ByteAt(std::string_view bytes, std::size_t at) { return static_cast<std::uint8_t>(bytes[at]); }

// The byte count a whole answer to `request` must carry, where the request tells it (its
// quantity, read or to read, is in its fifth and sixth bytes).
std::optional<int> ExpectedCount(std::string_view request) {
    if (request.size() < 6) {
        return std::nullopt;
    }
    const auto quantity = [&] { return ByteAt(request, 4) << 8 | ByteAt(request, 5); };
    switch (ByteAt(request, 1)) {
        case modbus::ReadCoils:
        case modbus::ReadDiscreteInputs: return (quantity() + 7) / 8;
        case modbus::ReadHoldingRegisters:
        case modbus::ReadInputRegisters:
        case modbus::ReadWriteMultipleRegisters: return 2 * quantity();
        default: return std::nullopt;
    }
}

}  // namespace

bool ModbusPairing::LikeTheAnswer(std::string_view bytes) const {
    const int function = ByteAt(bytes, 1) & ~modbus::ExceptionBit;
    return ByteAt(bytes, 0) == pending_->address && function == pending_->function;
}

void ModbusPairing::HeardRequest(std::string frame, std::string bytes, Instant end) {
    if (pending_) {
        // The master went on to the next request: the last one had no answer.
        Judge(ExchangeVerdict::NoAnswer, std::min(end, WindowEnd()), std::string(), std::nullopt,
              std::nullopt);
    }
    const int address = ByteAt(bytes, 0);
    if (address == modbus::BroadcastAddress) {
        ++broadcasts_;
        return;
    }
    CountRequest(address, end);
    Pending pending;
    pending.request.station = address;
    pending.request.stationText = std::to_string(address);
    pending.request.position = address;
    pending.request.attempt = 0;
    pending.request.written =
        end - settings_.characterTime * static_cast<std::int64_t>(frame.size());
    pending.end = end;
    pending.address = address;
    pending.function = ByteAt(bytes, 1);
    pending.bytes = std::move(bytes);
    pending.request.frame = std::move(frame);
    pending_ = std::move(pending);
}

bool ModbusPairing::CountFits(std::string_view answer) const {
    if ((ByteAt(answer, 1) & modbus::ExceptionBit) != 0) {
        return true;
    }
    const std::optional<int> count = ExpectedCount(pending_->bytes);
    return !count || (answer.size() > 2 && ByteAt(answer, 2) == *count);
}

void ModbusPairing::HeardAnswer(std::string frame, std::string_view bytes, Instant first,
                                Instant last) {
    if (!pending_) {
        return;  // an answer to a request not heard: a frame, and no exchange
    }
    if (first > WindowEnd()) {
        Judge(ExchangeVerdict::NoAnswer, WindowEnd(), std::string(), std::nullopt, std::nullopt);
        return;
    }
    const int address = ByteAt(bytes, 0);
    const int function = ByteAt(bytes, 1);
    ExchangeVerdict verdict = ExchangeVerdict::Good;
    std::optional<int> exceptionCode;
    if (address != pending_->address) {
        verdict = ExchangeVerdict::WrongSource;
    } else if (bytes.size() < 3) {
        verdict = ExchangeVerdict::WrongLength;  // address and function alone
    } else if (function == (pending_->function | modbus::ExceptionBit)) {
        exceptionCode = ByteAt(bytes, 2);
    } else if (function != pending_->function) {
        verdict = ExchangeVerdict::WrongSource;
    } else if (!CountFits(bytes)) {
        verdict = ExchangeVerdict::WrongLength;
    }
    Judge(verdict, last, std::move(frame), first, last, exceptionCode);
}

void ModbusPairing::Judge(ExchangeVerdict verdict, Instant at, std::string arrived,
                          std::optional<Instant> first, std::optional<Instant> last,
                          std::optional<int> exceptionCode) {
    Exchange exchange;
    exchange.request = std::move(pending_->request);
    pending_.reset();
    exchange.family = family_;
    exchange.verdict = verdict;
    exchange.received = static_cast<int>(arrived.size());
    if (verdict == ExchangeVerdict::Good) {
        exchange.answer = arrived;
    }
    exchange.arrived = std::move(arrived);
    exchange.judged = at;
    exchange.firstArrival = first;
    exchange.lastArrival = last;
    exchange.exceptionCode = exceptionCode;
    Judged(std::move(exchange));
}

}  // namespace tarvel
