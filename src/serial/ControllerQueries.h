// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoroTask>
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
    // not keep (it refused that one) or that was not read.
    std::vector<std::optional<int>> values;
    // The controller refused the diagnostics function itself: it keeps no counters, or none
    // that it tells. Not a failure of the line.
    std::optional<int> refusal;
    // Its counters were set back to zero before they were read.
    bool cleared = false;
    // Why the reading stopped short: the verdict of the exchange that failed ("No answer !",
    // "CRC error !"), or the line's failure. Empty when every counter was asked.
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
// its pause, with the line's retries after a failure, and end early when the loop is asked to
// stop (primo.StopFlag). Each question is a terminal exchange: none goes into the test
// statistics.

// Clears the controller's counters first when `clear` says so, then reads each.
QCoro::Task<CounterReading> ReadControllerCounters(PortService& port, Primo& primo, Station station,
                                                   bool clear);

// Report Server ID (17), then the basic objects of Read Device Identification (43 / 14).
QCoro::Task<IdentityReading> ReadControllerIdentity(PortService& port, Primo& primo,
                                                    Station station);

}  // namespace tarvel
