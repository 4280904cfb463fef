// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoroTask>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/Primo.h"
#include "core/Station.h"
#include "core/Time.h"
#include "protocol/modbus/ModbusIdentity.h"
#include "serial/PortService.h"

namespace tarvel {

// What a Modbus controller told of the counters it keeps of its bus.
struct CounterReading {
    Station station = 0;
    LocalDateTime readAt;  // when its last counter came
    // In the order of modbus::ControllerCounters(); nothing for a counter the controller does
    // not keep (it refused that one) or that could not be read.
    std::vector<std::optional<int>> values;
    // The controller refused the diagnostics function itself: it keeps no counters, or none
    // that it tells. Not a failure of the line.
    std::optional<int> refusal;
    // Its counters were set back to zero before they were read; or it refused to clear them
    // (with this exception code) and they were read all the same.
    bool cleared = false;
    std::optional<int> clearRefusal;
    // The verdict of the first question that got no good answer ("No answer !", "CRC error !"),
    // or the line's failure. Empty when every question was answered.
    std::string failure;

    bool Answered() const { return failure.empty(); }
    // CRC errors per thousand bus messages; nothing where either count is not known.
    std::optional<double> CrcRate() const;
};

// What a controller told of itself; nothing of what it refused or did not answer.
struct IdentityReading {
    Station station = 0;
    std::optional<modbus::ServerId> serverId;
    std::optional<modbus::DeviceIdentity> device;
    std::string failure;  // as CounterReading's, for the first question left unanswered

    // "Acme Controls TC-100 v2.1, server ID 'TC100' running"; empty when nothing is known.
    std::string Text() const { return modbus::IdentityText(serverId, device); }
};

// The questions below go one after another on the line's protocol (a Modbus one), each after
// the protocol's silence between frames and within the answer window of a test exchange, with
// the line's retries after a failure. Each is a terminal exchange: none goes into the test
// statistics. A stop asked (primo.StopFlag) ends them before the next question.

// Clears the counters of every controller first when `clear` says so, then reads each counter
// from all of them before the next counter: each controller then counts only a pass's questions
// to the others between two of its own readings, not all of theirs. `asking` hears which
// controller (its index in `stations`) is asked next.
QCoro::Task<std::vector<CounterReading>> ReadControllerCounters(
    PortService& port, Primo& primo, std::vector<Station> stations, bool clear,
    std::function<void(std::size_t)> asking = {});

// Report Server ID (17), then the basic objects of Read Device Identification (43 / 14).
QCoro::Task<IdentityReading> ReadControllerIdentity(PortService& port, Primo& primo,
                                                    Station station);

}  // namespace tarvel
