// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoroTask>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/DeviceTable.h"
#include "core/Primo.h"
#include "engine/TestCycle.h"
#include "line/LineDetector.h"
#include "monitor/LineMonitor.h"
#include "platform/Prompts.h"
#include "platform/Tasks.h"
#include "serial/ControllerQueries.h"
#include "serial/LineUse.h"
#include "serial/PortService.h"

namespace tarvel {

// What the operator chose for a test or a scan from the Line Monitor.
struct MonitorRunChoice {
    std::string addresses;    // "1-10,17", in the protocol's own writing
    RequestChoice request;    // the registers the test request reads
    Duration answerWindow{};  // how long each answer is waited for
};

// "Test", "Scan" and "Stop" of the Line Monitor: the test cycle and the line detector for the
// protocols that the main window's Start and "&Search!" do not speak, on the port and settings
// chosen in "Comm", reported to the monitor as the main window's runs are. The line is held as
// listening holds it. The run has a state of its own (its stop flag, its controllers), so the
// main window's configuration and its device table are never touched.
class MonitorRunControl {
public:
    MonitorRunControl(Primo& primo, PortService& port, LineUse& lineUse, Prompts& prompts,
                      LineMonitor& monitor);
    MonitorRunControl(const MonitorRunControl&) = delete;
    MonitorRunControl& operator=(const MonitorRunControl&) = delete;

    // Refused, with the reason, while the port is closed, the protocol chosen is one the main
    // window runs (or none the program speaks), the choice names no address or too many, or
    // anything else holds the line; a click while one runs asks for nothing more.
    void TestBtn_Click(const MonitorRunChoice& choice);
    void ScanBtn_Click(const MonitorRunChoice& choice);
    // Reads what each controller of the choice counted of its bus, after clearing the counters
    // where `clear` says so and the operator confirms it; refused as a scan is.
    void CountersBtn_Click(const MonitorRunChoice& choice, bool clear);
    // Asks each controller of the choice who it is.
    void IdentifyBtn_Click(const MonitorRunChoice& choice);
    // Ends the run, the scan or the questions after the exchange in progress.
    void StopBtn_Click();

    bool Running() const { return tasks_.Running() > 0; }
    // Whether the protocol chosen in "Comm" is one this control runs: the window shows its
    // controls for those.
    bool Offered() const;
    // Every station of the protocol chosen, as a range: "1-247"; empty where none is offered.
    std::string AllStationsText() const;
    // The answer window of the protocol chosen, as its test cycle waits; nothing where none is
    // offered.
    std::optional<Duration> ProtocolWindow() const;
    // "Testing 10 addresses: sweep 3, address 17 (2 of 10), 4 errors, 12 s" while it goes on,
    // then what the run or the scan came to; empty before the first.
    std::string ProgressText() const;
    // The stations the last scan found, in the order asked.
    const std::vector<std::int16_t>& Found() const { return found_; }
    // What the last reading of the counters gave, one for each controller asked so far, in
    // address order; and the controller where CRC errors first rise above the median, if any.
    const std::vector<CounterReading>& Counters() const { return counters_; }
    std::optional<std::size_t> CountersMarked() const;
    // "2026-12-11 08:12:03", when they were read; empty before the first reading.
    const std::string& CountersReadAt() const { return countersReadAt_; }
    // What the controllers asked last told of themselves, by station.
    const std::map<Station, IdentityReading>& Identities() const { return identities_; }
    // Changes whenever anything shown changes.
    std::uint64_t Revision() const { return revision_; }

private:
    enum class Kind { Test, Scan, Counters, Identify };
    struct CycleProgress final : CycleSink {
        explicit CycleProgress(MonitorRunControl& control) : control_(control) {}
        void RunStarted(int) override { control_.Started(); }
        void AttemptStarting(int position) override;
        void ExchangeJudged(const Exchange& exchange) override;
        void ErrorsCounted(int errors) override;
        MonitorRunControl& control_;
    };
    struct ScanProgress final : ScanSink {
        explicit ScanProgress(MonitorRunControl& control) : control_(control) {}
        void ScanStarted() override { control_.Started(); }
        void AddressStarting(Station station, int position, int count) override;
        void ControllerFound(Station station, int found) override;
        MonitorRunControl& control_;
    };

    // The stations of `choice`, or nothing after telling the operator why not.
    std::optional<std::vector<Station>> Prepare(const MonitorRunChoice& choice, Kind kind);
    void Refuse(const std::string& text, const std::string& detail = std::string());
    QCoro::Task<> Run(Kind kind);
    // The questions of Counters and Identify, to each station in turn.
    QCoro::Task<> Ask(Kind kind);
    // The loop has cleared its stop flag after its first settle: a Stop clicked before then
    // counts now.
    void Started();

    Primo& primo_;
    PortService& port_;
    LineUse& lineUse_;
    Prompts& prompts_;
    LineMonitor& monitor_;
    // The run's own state: a copy of the shared one, its stop flag and controllers its own.
    Primo runPrimo_;
    ControllerAddressTable table_{};
    ControllerAddressTable scanTable_{};
    std::vector<Station> stations_;
    std::unique_ptr<const Protocol> protocol_;
    Duration answerWindow_{};
    TestCycle cycle_;
    LineDetector detector_;
    CycleProgress cycleProgress_{*this};
    ScanProgress scanProgress_{*this};

    Kind kind_ = Kind::Test;
    bool ran_ = false;
    std::optional<RunEnd> runEnd_;
    std::optional<ScanEnd> scanEnd_;
    std::vector<std::int16_t> found_;
    bool clear_ = false;
    std::string readAt_;  // when the last questions ended
    std::string countersReadAt_;
    std::vector<CounterReading> counters_;
    std::map<Station, IdentityReading> identities_;
    int position_ = 0;  // of the station being asked, in stations_
    int sweeps_ = 0;
    int errors_ = 0;
    bool stopAsked_ = false;
    Instant started_{};
    Instant ended_{};
    std::uint64_t revision_ = 0;
    TaskOwner tasks_;
};

}  // namespace tarvel
