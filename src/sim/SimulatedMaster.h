// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Time.h"
#include "core/Verdict.h"
#include "lines/LineSettings.h"
#include "platform/Scheduler.h"
#include "sim/SimulatedBus.h"
#include "sim/SimulatedSerialLine.h"

namespace tarvel {

// One request of the master and what came of it, as it was on the wire.
struct MasterPoll {
    // The station asked, as its protocol writes it: "A" on an Ascon line, "17" on a Modbus one
    // ("0" for a broadcast).
    std::string address = "A";
    bool write = false;      // an Ascon two-frame write, or a Modbus write (function 6 or 16)
    bool broadcast = false;  // a Modbus write to address 0, which no controller answers
    // The protocol of the line; nothing reads as Ascon.
    const Protocol* protocol = nullptr;
    // The bytes of the request frame or frames, carriage returns included: "A?X  \r", or a
    // write's command and value frames, "A!SP \rA0123\r"; a Modbus frame with its CRC.
    std::string request;
    // When the last stop bit of the request's (last frame's) last character left the wire.
    Instant requestEnd{};
    // What the controller put on the wire in answer, as sent (empty when it kept silent).
    std::string answer;
    // The end times of the answer's first and last characters, and of each of them.
    std::optional<Instant> answerFirst, answerLast;
    std::vector<Instant> answerArrivals;
    Duration characterTime{0};  // of the line the poll went over
};

// The verdict the test cycle's rules give what a poll brought back: no answer, one without its
// carriage return, the wrong number of characters for a read, or good; on a Modbus line the
// protocol's own verdict (a broadcast, which awaits nothing, is good). What a listener should
// make of the poll, for tests and benchmarks to compare with.
ExchangeVerdict CycleVerdictOf(const MasterPoll& poll);

struct MasterSchedule {
    // From the end of the answer wait to the start of the next request.
    Duration pollGap = std::chrono::milliseconds(20);
    // From the request's carriage return; an answer still on the wire then is waited out, so
    // that no request ever talks over an answer.
    Duration answerTimeout = std::chrono::milliseconds(200);
    // Every this many polls one is a write instead of a read; 0 for reads only.
    int writeEvery = 7;
    // Nothing: every controller of the bus, in its order; else the stations as the line's
    // protocol writes them.
    std::vector<std::string> addresses;
    // The mnemonic a write's command frame names, three characters as in "A!SP ".
    std::string writeParameter = "SP ";
    // Between handing over a write's command frame and its value frame, as the terminal does.
    Duration valueDelay = std::chrono::milliseconds(50);
    // Modbus only: every this many polls one is a write to every controller at once (address
    // 0) instead, and no answer is awaited; 0 for none. It does not take a controller's turn.
    int broadcastEvery = 11;
    // Modbus only: how long the master leaves the controllers after a broadcast to act on it.
    Duration turnaround = std::chrono::milliseconds(100);
};

// The plant's own master on a simulated bus: it polls the controllers in a cycle with the test
// cycle's read request and now and then writes a value the way the terminal does, so that a
// listener has live traffic to judge. The controllers answer with their faults, delays and
// noise, at the master's framing and speed.
//
// On a Modbus (or JBus) bus it speaks that protocol: it reads holding register 0 of each
// controller (function 3), every writeEvery polls writes it instead (functions 6 and 16 in
// turn), and every broadcastEvery polls writes to address 0 and leaves the turnaround after it.
// It keeps the 3.5-character silence before every request, and waits for the whole answer or
// the time-out.
class SimulatedMaster {
public:
    SimulatedMaster(SimulatedBus bus, MasterSchedule schedule, LineSettings settings);

    // The next poll, starting no earlier than `start` nor before the master is ready again: its
    // bytes (request and answer) in wire order, each with its end time. The poll goes to Log().
    std::vector<TimedByte> NextPoll(Instant start);

    // When the master may start its next request: the end of the last answer wait and the gap.
    Instant ReadyAt() const { return readyAt_; }

    const std::vector<MasterPoll>& Log() const { return log_; }
    // Forgets the log, so that an hour of traffic keeps its memory; PollCount() goes on.
    void ClearLog() { log_.clear(); }
    // Every poll made so far, cleared or not.
    long long PollCount() const { return polls_; }

    const LineSettings& Settings() const { return settings_; }
    const std::vector<std::string>& Addresses() const { return addresses_; }

private:
    void Send(const std::string& frame, Instant start, MasterPoll& poll,
              std::vector<TimedByte>& wire);
    void AsconPoll(Instant begin, MasterPoll& poll, std::vector<TimedByte>& wire);
    void ModbusPoll(Instant begin, MasterPoll& poll, std::vector<TimedByte>& wire);

    SimulatedBus bus_;
    MasterSchedule schedule_;
    LineSettings settings_;
    Duration characterTime_;
    std::vector<std::string> addresses_;
    bool modbus_ = false;
    std::vector<MasterPoll> log_;
    long long polls_ = 0;
    long long addressed_ = 0;  // polls that asked a controller, not every controller
    long long writes_ = 0;
    int writeValue_ = 0;
    Instant readyAt_{Instant::min()};
};

// A master playing on a line of this process (tests on virtual time): polls for ever, from the
// scheduler's present on, and delivers both directions to `line` as a listening host receives
// them, each byte when its last stop bit ends. Destroying it stops the polls; the bytes of the
// poll already on the wire still arrive.
class MasterOnLine {
public:
    MasterOnLine(SimulatedMaster& master, SimulatedSerialLine& line, Scheduler& scheduler);
    ~MasterOnLine();
    MasterOnLine(const MasterOnLine&) = delete;
    MasterOnLine& operator=(const MasterOnLine&) = delete;

private:
    void Poll();

    SimulatedMaster& master_;
    SimulatedSerialLine& line_;
    Scheduler& scheduler_;
    Scheduler::TimerId next_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace tarvel
