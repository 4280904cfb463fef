// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/MonitorRunControl.h"

#include <algorithm>
#include <cstdio>
#include <functional>

#include "protocol/modbus/ModbusCounters.h"

namespace tarvel {
namespace {

constexpr const char* kTitle = "Line Monitor";
// The highest register address a request can reach.
constexpr int kLastRegister = 65535;

std::string Counted(int count, const std::string& what, const std::string& plural = "s") {
    return std::to_string(count) + " " + what + (count == 1 ? "" : plural);
}

std::string Addresses(int count) { return Counted(count, "address", "es"); }

}  // namespace

MonitorRunControl::MonitorRunControl(Primo& primo, PortService& port, LineUse& lineUse,
                                     Prompts& prompts, LineMonitor& monitor)
    : primo_(primo),
      port_(port),
      lineUse_(lineUse),
      prompts_(prompts),
      monitor_(monitor),
      cycle_(runPrimo_, port, table_),
      detector_(runPrimo_, port, scanTable_),
      tasks_(port.Time(), [this](const std::string& what) {
          ++revision_;
          prompts_.ShowMessage({"The Line Monitor's test or scan has stopped on an internal "
                                "error:\n" +
                                    what,
                                kTitle, MessageIcon::Critical, MessageButtons::Ok, std::string()});
      }) {
    cycle_.AddSink(monitor_.CycleEvents());
    cycle_.AddSink(cycleProgress_);
    detector_.AddSink(monitor_.ScanEvents());
    detector_.AddSink(scanProgress_);
}

std::string MonitorRunControl::AllStationsText() const {
    const Protocol* chosen = ProtocolAt(primo_.ProtocolIndex);
    if (chosen == nullptr || !chosen->ChecksFrames()) {
        return std::string();
    }
    const std::vector<Station> all = chosen->Stations();
    return chosen->StationText(all.front()) + "-" + chosen->StationText(all.back());
}

std::optional<Duration> MonitorRunControl::ProtocolWindow() const {
    if (!Offered()) {
        return std::nullopt;
    }
    return ProtocolAt(primo_.ProtocolIndex)->Timings(ExchangeKind::Test, Duration{0}).window;
}

bool MonitorRunControl::Offered() const {
    const Protocol* chosen = ProtocolAt(primo_.ProtocolIndex);
    return chosen != nullptr && chosen->ChecksFrames();
}

void MonitorRunControl::Refuse(const std::string& text, const std::string& detail) {
    prompts_.ShowMessage({text, kTitle, MessageIcon::Exclamation, MessageButtons::Ok, detail});
}

std::optional<std::vector<Station>> MonitorRunControl::Prepare(const MonitorRunChoice& choice,
                                                               Kind kind) {
    if (Running()) {
        return std::nullopt;
    }
    const Protocol* chosen = ProtocolAt(primo_.ProtocolIndex);
    if (chosen == nullptr) {
        Refuse("The Line Monitor tests and scans " + ProtocolNamesText(true) +
               " lines.\nChoose one of them with \"Comm\" first.");
        return std::nullopt;
    }
    if (!chosen->ChecksFrames()) {
        Refuse("An Ascon line is tested with \"Start\" and scanned with \"&Search!\" in the main "
               "window.");
        return std::nullopt;
    }
    if (primo_.PortAccepted != kTrue || !port_.Line().PortOpen()) {
        Refuse("The serial port is closed, so the line cannot be tested.\nOpen it with \"Comm\" "
               "first.",
               port_.Line().LastError());
        return std::nullopt;
    }
    // Its end is the operator's to choose, so nothing waits for it.
    if (lineUse_.Busy()) {
        Refuse("The line is in use by a test run, a scan, the terminal, listening or a search "
               "across settings.\nStop it first.");
        return std::nullopt;
    }
    const std::vector<Station> all = chosen->Stations();
    const std::string range =
        chosen->StationText(all.front()) + " to " + chosen->StationText(all.back());
    const auto stations = ReadStations(choice.addresses, *chosen);
    if (!stations || stations->empty()) {
        Refuse("The addresses \"" + choice.addresses +
               "\" are not understood.\nWrite addresses "
               "from " +
               range +
               " and ranges of them, separated by commas, each once: "
               "such as 1-10,17.");
        return std::nullopt;
    }
    if (kind == Kind::Test && stations->size() > static_cast<std::size_t>(kMaxControllers)) {
        Refuse("A test run asks at most " + std::to_string(kMaxControllers) + " controllers; " +
               std::to_string(stations->size()) +
               " addresses are given.\n\"Scan\" finds which "
               "of them answer.");
        return std::nullopt;
    }
    if (choice.request.start < 0 || choice.request.count < 1 ||
        choice.request.start + choice.request.count - 1 > kLastRegister) {
        Refuse("Registers from " + std::to_string(choice.request.start) + " for " +
               std::to_string(choice.request.count) + " go beyond " +
               std::to_string(kLastRegister) + ", the last register address.");
        return std::nullopt;
    }
    protocol_ = MakeProtocol(primo_.ProtocolIndex, choice.request);
    answerWindow_ = choice.answerWindow;
    return stations;
}

void MonitorRunControl::TestBtn_Click(const MonitorRunChoice& choice) {
    const auto stations = Prepare(choice, Kind::Test);
    if (!stations) {
        return;
    }
    stations_ = *stations;
    table_.fill(0);
    for (std::size_t i = 0; i < stations_.size(); ++i) {
        table_[i] = static_cast<std::int16_t>(stations_[i]);
    }
    tasks_.Start(Run(Kind::Test));
}

void MonitorRunControl::ScanBtn_Click(const MonitorRunChoice& choice) {
    const auto stations = Prepare(choice, Kind::Scan);
    if (!stations) {
        return;
    }
    stations_ = *stations;
    detector_.ScanOnly(stations_);
    tasks_.Start(Run(Kind::Scan));
}

void MonitorRunControl::CountersBtn_Click(const MonitorRunChoice& choice, bool clear) {
    const auto stations = Prepare(choice, Kind::Counters);
    if (!stations) {
        return;
    }
    if (clear) {
        const MessageAnswer answer = prompts_.ShowMessage(
            {"Set every counter of " + Counted(static_cast<int>(stations->size()), "controller") +
                 " (" + choice.addresses +
                 ") back to zero, then read them?\nWhat they counted until now is lost, in the "
                 "controllers and for every other master of the line.",
             kTitle, MessageIcon::Exclamation, MessageButtons::OkCancel, std::string()});
        if (answer != MessageAnswer::Ok) {
            return;
        }
    }
    stations_ = *stations;
    clear_ = clear;
    tasks_.Start(Run(Kind::Counters));
}

void MonitorRunControl::IdentifyBtn_Click(const MonitorRunChoice& choice) {
    const auto stations = Prepare(choice, Kind::Identify);
    if (!stations) {
        return;
    }
    stations_ = *stations;
    tasks_.Start(Run(Kind::Identify));
}

std::optional<std::size_t> MonitorRunControl::CountersMarked() const {
    std::vector<std::optional<double>> rates;
    for (const CounterReading& reading : counters_) {
        rates.push_back(reading.CrcRate());
    }
    return modbus::FirstDropAboveMedian(rates);
}

QCoro::Task<> MonitorRunControl::Ask(Kind kind) {
    // In address order, the order the table and the mark take the cable in.
    std::sort(stations_.begin(), stations_.end());
    if (kind == Kind::Counters) {
        counters_.clear();
        std::function<void(std::size_t)> asking = [this](std::size_t i) {
            position_ = static_cast<int>(i);
            ++revision_;
        };
        counters_ = co_await ReadControllerCounters(port_, runPrimo_, stations_, clear_, asking);
    } else {
        identities_.clear();
        for (std::size_t i = 0; i < stations_.size() && runPrimo_.StopFlag != kTrue; ++i) {
            position_ = static_cast<int>(i);
            ++revision_;
            IdentityReading identity =
                co_await ReadControllerIdentity(port_, runPrimo_, stations_[i]);
            identities_[identity.station] = std::move(identity);
            if (!port_.Line().PortOpen()) {
                break;
            }
        }
    }
    // "2026-12-11 08:12:03", the wall clock's: the counters are worth comparing only with
    // their time.
    readAt_ = Iso8601(port_.Time().LocalNow()).substr(0, 19);
    readAt_[10] = ' ';
    if (kind == Kind::Counters) {
        countersReadAt_ = readAt_;
    }
}

void MonitorRunControl::StopBtn_Click() {
    if (Running()) {
        stopAsked_ = true;
        runPrimo_.StopFlag = kTrue;
        ++revision_;
    }
}

void MonitorRunControl::Started() {
    if (stopAsked_) {
        runPrimo_.StopFlag = kTrue;
    }
}

QCoro::Task<> MonitorRunControl::Run(Kind kind) {
    kind_ = kind;
    ran_ = true;
    runEnd_.reset();
    scanEnd_.reset();
    found_.clear();
    position_ = sweeps_ = errors_ = 0;
    stopAsked_ = false;
    started_ = port_.Time().Now();
    // The shared settings and retries as "Comm" left them; the rest is the run's own.
    runPrimo_ = primo_;
    runPrimo_.DeviceCount = static_cast<std::int16_t>(stations_.size());
    ++revision_;
    // The line is free: the lease comes at once, before anything else may ask for it.
    LineUse::Lease lease = co_await lineUse_.Acquire();
    lease.MarkHeld(LongHold::MonitorRun);
    {
        // The line's protocol and both answer windows are the run's until it ends, however it
        // ends, and are given back before a message of its end is shown.
        struct RunChoices {
            RunChoices(PortService& port, const Protocol& protocol, Duration window,
                       LineMonitor& monitor)
                : speaking(port, protocol, window), monitor_(monitor) {
                monitor.SetAnswerWindow(window);
            }
            ~RunChoices() { monitor_.SetAnswerWindow(std::nullopt); }
            RunChoices(const RunChoices&) = delete;
            RunChoices& operator=(const RunChoices&) = delete;
            ProtocolOnLine speaking;
            LineMonitor& monitor_;
        };
        const RunChoices choices(port_, *protocol_, answerWindow_, monitor_);
        if (kind == Kind::Test) {
            runEnd_ = co_await cycle_.TxAscon(std::move(lease));
        } else if (kind == Kind::Scan) {
            scanEnd_ = co_await detector_.Scan(std::move(lease));
            found_ = scanEnd_->found;
        } else {
            runPrimo_.StopFlag = kFalse;
            Started();
            co_await Ask(kind);
            if (!port_.Line().PortOpen()) {
                scanEnd_ = ScanEnd{{}, false, port_.Line().LastError()};
            }
        }
    }
    ended_ = port_.Time().Now();
    ++revision_;
    const std::string failure = runEnd_    ? runEnd_->lineFailure
                                : scanEnd_ ? scanEnd_->lineFailure
                                           : std::string();
    if (!failure.empty()) {
        const char* what = kind == Kind::Test       ? "test run"
                           : kind == Kind::Scan     ? "scan"
                           : kind == Kind::Counters ? "reading of the counters"
                                                    : "question of identity";
        prompts_.ShowMessage({"The " + std::string(what) +
                                  " has stopped because the serial line failed:\n" + failure +
                                  "\n\nWhat was recorded is kept. Open the port again with "
                                  "\"Comm\".",
                              kTitle, MessageIcon::Critical, MessageButtons::Ok, std::string()});
    }
}

void MonitorRunControl::CycleProgress::AttemptStarting(int position) {
    control_.position_ = position;
    ++control_.revision_;
}

void MonitorRunControl::CycleProgress::ExchangeJudged(const Exchange& exchange) {
    // A sweep ends with the last controller's good answer or its last attempt.
    const bool lastAttempt =
        !exchange.Failed() || exchange.request.attempt >= control_.runPrimo_.RetryCount;
    if (lastAttempt &&
        exchange.request.position == static_cast<int>(control_.stations_.size()) - 1) {
        ++control_.sweeps_;
    }
    ++control_.revision_;
}

void MonitorRunControl::CycleProgress::ErrorsCounted(int errors) {
    control_.errors_ = errors;
    ++control_.revision_;
}

void MonitorRunControl::ScanProgress::AddressStarting(Station, int position, int) {
    control_.position_ = position;
    ++control_.revision_;
}

void MonitorRunControl::ScanProgress::ControllerFound(Station station, int) {
    control_.found_.push_back(static_cast<std::int16_t>(station));
    ++control_.revision_;
}

std::string MonitorRunControl::ProgressText() const {
    if (!ran_ || protocol_ == nullptr) {
        return std::string();
    }
    const Protocol& protocol = *protocol_;
    const Instant until = Running() ? port_.Time().Now() : ended_;
    const double seconds = std::chrono::duration<double>(until - started_).count();
    const int count = static_cast<int>(stations_.size());
    char time[40];
    std::snprintf(time, sizeof time, "%.0f s", seconds);
    std::string foundText;
    for (const std::int16_t station : found_) {
        foundText += (foundText.empty() ? "" : ", ") + protocol.StationText(station);
    }
    if (Running()) {
        const bool stopping = stopAsked_;
        const std::string station =
            position_ < count ? protocol.StationText(stations_[position_]) : std::string();
        const std::string at = "address " + station + " (" + std::to_string(position_ + 1) +
                               " of " + std::to_string(count) + ")";
        if (kind_ == Kind::Counters || kind_ == Kind::Identify) {
            return std::string(stopping                  ? "Stopping after this controller"
                               : kind_ == Kind::Counters ? "Reading the counters of"
                                                         : "Asking who they are:") +
                   " " + Addresses(count) + ": " + at + ", " + time;
        }
        if (kind_ == Kind::Test) {
            return std::string(stopping ? "Stopping after this exchange" : "Testing") + " " +
                   Addresses(count) + ": sweep " + std::to_string(sweeps_ + 1) + ", " + at + ", " +
                   Counted(errors_, "error") + ", " + time;
        }
        return std::string(stopping ? "Stopping after this address" : "Scanning") + " " +
               Addresses(count) + ": " + at + ", " + std::to_string(found_.size()) + " found, " +
               time;
    }
    if (kind_ == Kind::Test && runEnd_) {
        const std::string why = runEnd_->errorLimit             ? "the error limit"
                                : !runEnd_->lineFailure.empty() ? "a failed line"
                                                                : "Stop";
        return "Test run over " + Addresses(count) + ": " + Counted(sweeps_, "sweep") + " in " +
               time + ", " + Counted(runEnd_->errors, "error") + "; ended by " + why;
    }
    if (kind_ == Kind::Counters || kind_ == Kind::Identify) {
        const int asked = static_cast<int>(
            kind_ == Kind::Counters ? counters_.size()
                                    : std::min<std::size_t>(identities_.size(), stations_.size()));
        std::string text = kind_ == Kind::Counters
                               ? (clear_ ? "Counters cleared and read: " : "Counters read: ") +
                                     Counted(asked, "controller") + " at " + readAt_
                               : "Asked " + Addresses(count) + " who they are, at " + readAt_;
        if (scanEnd_ && !scanEnd_->lineFailure.empty()) {
            text += "; the serial line failed: " + scanEnd_->lineFailure;
        }
        return text;
    }
    if (kind_ == Kind::Scan && scanEnd_) {
        std::string text = std::string(scanEnd_->stopped ? "Scan stopped" : "Scan finished") +
                           ": " + std::to_string(found_.size()) + " of " + Addresses(count) +
                           " answer" + (foundText.empty() ? "" : " (" + foundText + ")") + ", in " +
                           time;
        if (!scanEnd_->lineFailure.empty()) {
            text += "; the serial line failed: " + scanEnd_->lineFailure;
        }
        return text;
    }
    return std::string();
}

}  // namespace tarvel
