// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoroTask>
#include <optional>
#include <string>
#include <vector>

#include "core/DeviceTable.h"
#include "core/Exchange.h"
#include "core/Primo.h"
#include "engine/CycleSink.h"
#include "serial/LineUse.h"
#include "serial/PortService.h"

namespace tarvel {

// How a scan ended.
struct ScanEnd {
    std::vector<std::int16_t> found;  // the stations that answered, in the order asked
    bool stopped = false;             // Stop ended it before the last address
    std::string lineFailure;          // why the serial line failed, when it did
};

// What the line detector reports, in the order it happens.
class ScanSink : public ExchangeSink {
public:
    // The first settle is done and StopFlag is 0.
    virtual void ScanStarted() {}
    // The tries at `station` begin: the scan's `position`-th (from 0) of its `count` stations.
    virtual void AddressStarting(Station /*station*/, int /*position*/, int /*count*/) {}
    // The controller at `station` answered; `found` controllers have been found so far, this
    // one included.
    virtual void ControllerFound(Station /*station*/, int /*found*/) {}
    virtual void ScanEnded(const ScanEnd& /*end*/) {}
};

// The line detector: the protocol's probe to each of its stations in turn (for Ascon the 64
// addresses from "A" to "@"), each tried up to 1 + RetryCount times; every station that gives a
// well-formed answer is a controller, written into the device table from position 0 on as it is
// found.
class LineDetector {
public:
    LineDetector(Primo& primo, PortService& port, ControllerAddressTable& table);
    LineDetector(const LineDetector&) = delete;
    LineDetector& operator=(const LineDetector&) = delete;

    void AddSink(ScanSink& sink) { sinks_.push_back(&sink); }
    // Scans these stations, in this order, instead of every station of the protocol.
    void ScanOnly(std::vector<Station> stations) { only_ = std::move(stations); }

    // One scan, from the first settle to the last address (or Stop). It holds the line's lease
    // until it returns.
    QCoro::Task<ScanEnd> Scan(LineUse::Lease lease);

    bool Running() const { return running_; }
    // Running, but still in the settle that comes before StopFlag is cleared.
    bool StartingUp() const { return running_ && !started_; }

private:
    // The exchange of one try, or nothing when the line failed.
    QCoro::Task<std::optional<Exchange>> Try(Request request);
    template <typename Call>
    void Tell(Call call) {
        for (ScanSink* sink : sinks_) {
            call(*sink);
        }
    }

    Primo& primo_;
    PortService& port_;
    ControllerAddressTable& table_;
    std::vector<ScanSink*> sinks_;
    std::optional<std::vector<Station>> only_;
    bool running_ = false;
    bool started_ = false;
    std::string lineFailure_;
};

}  // namespace tarvel
