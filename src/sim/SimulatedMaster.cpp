// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/SimulatedMaster.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "protocol/ascon/AsconFrame.h"
#include "protocol/modbus/ModbusFrame.h"

namespace tarvel {

namespace {

// The request as a loop of the program would have put it on the line.
Request RequestOf(const MasterPoll& poll) {
    Request request;
    request.station = poll.protocol->StationFrom(poll.address).value_or(0);
    request.stationText = poll.address;
    request.frame = poll.request;
    return request;
}

// Whether all of the answer a poll awaits has come.
bool AnswerWhole(const MasterPoll& poll) {
    return !poll.answer.empty() && static_cast<int>(poll.answer.size()) >=
                                       poll.protocol->AnswerLength(RequestOf(poll), poll.answer);
}

}  // namespace

ExchangeVerdict CycleVerdictOf(const MasterPoll& poll) {
    if (poll.protocol != nullptr && poll.protocol->ChecksFrames()) {
        if (poll.broadcast) {
            return ExchangeVerdict::Good;
        }
        // An answer not whole when the wait ran out was late.
        return poll.protocol
            ->CheckAnswer(RequestOf(poll), ExchangeKind::Test, !AnswerWhole(poll),
                          ArrivedAnswer{poll.answer, poll.answerArrivals, poll.characterTime})
            .verdict;
    }
    if (poll.answer.empty()) {
        return ExchangeVerdict::NoAnswer;
    }
    const std::size_t cr = poll.answer.find('\r');
    if (cr == std::string::npos) {
        return ExchangeVerdict::NoCr;
    }
    return !poll.write && cr + 1 != static_cast<std::size_t>(AnswerLength)
               ? ExchangeVerdict::WrongCount
               : ExchangeVerdict::Good;
}

SimulatedMaster::SimulatedMaster(SimulatedBus bus, MasterSchedule schedule, LineSettings settings)
    : bus_(std::move(bus)),
      schedule_(std::move(schedule)),
      settings_(settings),
      characterTime_(CharacterTime(settings)),
      addresses_(schedule_.addresses),
      modbus_(bus_.BusProtocol().ChecksFrames()) {
    // The master's own adapter is not the listener's: what it might echo never reaches the line.
    bus_.SetEcho(false);
    if (addresses_.empty()) {
        for (const SimulatedController& controller : bus_.Controllers()) {
            // One that speaks another protocol is no station of the master's.
            if (controller.protocol == nullptr ||
                controller.protocol->CommandName() == bus_.BusProtocol().CommandName()) {
                addresses_.push_back(controller.address);
            }
        }
    }
    if (modbus_) {
        // A station its protocol cannot write is no station to ask.
        std::erase_if(addresses_, [&](const std::string& address) {
            return !bus_.BusProtocol().StationFrom(address);
        });
    }
}

void SimulatedMaster::Send(const std::string& frame, Instant start, MasterPoll& poll,
                           std::vector<TimedByte>& wire) {
    Instant at = start;
    for (const char c : frame) {
        at += characterTime_;
        const auto byte = static_cast<std::uint8_t>(c);
        wire.push_back({at, byte});
        poll.request.push_back(c);
        for (const TimedByte& answer : bus_.HostCharacter(
                 byte, at, characterTime_, HostWire{settings_.baud, FramingOf(settings_)})) {
            wire.push_back(answer);
            poll.answer.push_back(static_cast<char>(answer.byte));
            if (!poll.answerFirst) {
                poll.answerFirst = answer.end;
            }
            poll.answerLast = answer.end;
            poll.answerArrivals.push_back(answer.end);
        }
    }
    poll.requestEnd = at;
}

std::vector<TimedByte> SimulatedMaster::NextPoll(Instant start) {
    std::vector<TimedByte> wire;
    if (addresses_.empty()) {
        return wire;
    }
    const Instant begin = std::max(start, readyAt_);
    MasterPoll poll;
    poll.protocol = &bus_.BusProtocol();
    poll.characterTime = characterTime_;
    if (modbus_) {
        ModbusPoll(begin, poll, wire);
    } else {
        AsconPoll(begin, poll, wire);
    }
    std::stable_sort(wire.begin(), wire.end(),
                     [](const TimedByte& a, const TimedByte& b) { return a.end < b.end; });
    log_.push_back(std::move(poll));
    return wire;
}

void SimulatedMaster::AsconPoll(Instant begin, MasterPoll& poll, std::vector<TimedByte>& wire) {
    const char address =
        addresses_[static_cast<std::size_t>(polls_ % static_cast<long long>(addresses_.size()))].at(
            0);
    poll.address = std::string(1, address);
    ++polls_;
    poll.write = schedule_.writeEvery > 0 && polls_ % schedule_.writeEvery == 0;
    if (!poll.write) {
        Send(AsconRequest(address), begin, poll, wire);
    } else {
        Send(poll.address + '!' + schedule_.writeParameter + '\r', begin, poll, wire);
        // The value frame is handed over a value delay after the command frame, and goes out
        // once the transmitter (and the line, should a controller have answered) is free.
        const Instant valueStart = std::max(begin + schedule_.valueDelay, wire.back().end);
        char value[8];
        std::snprintf(value, sizeof value, "%04d", writeValue_);
        writeValue_ = (writeValue_ + 37) % 10000;
        Send(poll.address + value + '\r', valueStart, poll, wire);
    }
    // A master waits for the closing carriage return or the time-out, and never talks over an
    // answer that runs past it.
    Instant waitEnd = poll.requestEnd + schedule_.answerTimeout;
    if (poll.answerLast) {
        waitEnd =
            poll.answer.back() == '\r' ? *poll.answerLast : std::max(waitEnd, *poll.answerLast);
    }
    readyAt_ = waitEnd + schedule_.pollGap;
}

void SimulatedMaster::ModbusPoll(Instant begin, MasterPoll& poll, std::vector<TimedByte>& wire) {
    using namespace modbus;
    ++polls_;
    poll.broadcast = schedule_.broadcastEvery > 0 && polls_ % schedule_.broadcastEvery == 0;
    Station station = BroadcastAddress;
    if (!poll.broadcast) {
        poll.address = addresses_[static_cast<std::size_t>(
            addressed_ % static_cast<long long>(addresses_.size()))];
        station = *bus_.BusProtocol().StationFrom(poll.address);
        ++addressed_;
        poll.write = schedule_.writeEvery > 0 && polls_ % schedule_.writeEvery == 0;
    } else {
        poll.address = std::to_string(BroadcastAddress);
        poll.write = true;
    }
    std::string request;
    if (!poll.write) {
        request = ReadHoldingRequest(station, 0, 1);
        request.resize(request.size() - 2);
    } else {
        // Register 0 takes the value, with function 6 and 16 in turn.
        const int value = writeValue_;
        writeValue_ = (writeValue_ + 37) % 10000;
        request += static_cast<char>(station);
        if (writes_++ % 2 == 0) {
            request += static_cast<char>(WriteSingleRegister);
            request += std::string("\0\0", 2);
        } else {
            request += static_cast<char>(WriteMultipleRegisters);
            request += std::string("\0\0\0\1\2", 5);
        }
        request += static_cast<char>(value >> 8 & 0xFF);
        request += static_cast<char>(value & 0xFF);
    }
    // The protocol frames the bytes: a CRC for RTU, ':' LRC CR LF for ASCII.
    Send(bus_.BusProtocol().TerminalFrame(request), begin, poll, wire);
    // No answer comes to a broadcast: the controllers are left the turnaround to act on it.
    // Otherwise the master waits for the whole answer or the time-out, and never talks over an
    // answer that runs past it.
    Instant waitEnd =
        poll.requestEnd + (poll.broadcast ? schedule_.turnaround : schedule_.answerTimeout);
    if (poll.answerLast) {
        waitEnd = AnswerWhole(poll) ? *poll.answerLast : std::max(waitEnd, *poll.answerLast);
    }
    // The silence before the next request is 3.5 characters at the least.
    readyAt_ = waitEnd + std::max(schedule_.pollGap, FrameGap(characterTime_));
}

MasterOnLine::MasterOnLine(SimulatedMaster& master, SimulatedSerialLine& line, Scheduler& scheduler)
    : master_(master), line_(line), scheduler_(scheduler) {
    next_ = scheduler_.CallAt(scheduler_.Now(), [this, alive = alive_] {
        if (*alive) {
            Poll();
        }
    });
}

MasterOnLine::~MasterOnLine() {
    *alive_ = false;
    scheduler_.Cancel(next_);
}

void MasterOnLine::Poll() {
    const std::vector<TimedByte> wire = master_.NextPoll(scheduler_.Now());
    if (wire.empty()) {
        return;  // a master of no controllers
    }
    for (const TimedByte& byte : wire) {
        line_.DeliverAt(byte.end, byte.byte);
    }
    // The next poll is made when it starts, so that a test sees the traffic as it happens.
    next_ = scheduler_.CallAt(master_.ReadyAt(), [this, alive = alive_] {
        if (*alive) {
            Poll();
        }
    });
}

}  // namespace tarvel
