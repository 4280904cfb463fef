// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoroTask>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/Exchange.h"
#include "core/Primo.h"
#include "engine/CycleSink.h"
#include "lines/LineSettings.h"
#include "serial/LineUse.h"
#include "serial/PortService.h"

namespace tarvel {

using namespace std::chrono_literals;

// One speed and framing the search tries. For Ascon: 8 data bits without parity, 7 with, one
// stop bit (a receiver set to one stop bit also reads frames with two, so two need no trying of
// their own). Modbus RTU always has 8 data bits, and 2 stop bits where it has no parity.
struct SearchSetting {
    int baud = 9600;
    Parity parity = Parity::None;
    int dataBits = 0;  // 0: as Ascon pairs them with the parity
    int stopBits = 1;

    int DataBits() const { return dataBits > 0 ? dataBits : parity == Parity::None ? 8 : 7; }
    LineSettings Line() const { return LineSettings{baud, parity, DataBits(), stopBits}; }
    // "2400 7E1"
    std::string Name() const;
    // "none", "even", "odd": the word the command line takes.
    std::string ParityWord() const;
    friend bool operator==(const SearchSetting&, const SearchSetting&) = default;
};

// Every speed of the port dialog from the fastest down, each with no, even and odd parity: the
// fast ones first, as they cost least and are where most lines run. For a protocol that checks
// its frames (Modbus), every speed from 115200 down to 1200, each 8E1 (Modbus's default), 8N2,
// 8O1 and 8N1.
std::vector<SearchSetting> SearchOrder(const Protocol& protocol = DefaultProtocol());

// The search's own pace, apart from the line detector's. Each request gets its own wire time
// and that of a five-character answer plus the margin; no retry, since a second request
// confirms every find anyway.
struct SearchTimings {
    // From the drained output to the request: a controller that has just answered has turned
    // its transmitter off again.
    Duration pause = 20ms;
    // Beyond the wire time of request and answer: the controller's own delay before answering.
    Duration answerMargin = 50ms;
    // After each change of settings: input is read and dropped meanwhile, so that what was
    // under way at the old settings is not taken for an answer at the new.
    Duration settle = DefaultProtocol().SettleTime(Duration{0});
};

// From the write of the request: the wire time of the protocol's probe and of its answer at
// `setting` (for Ascon six characters and five), and the margin.
Duration SearchAnswerWindow(const SearchSetting& setting, const SearchTimings& timings,
                            const Protocol& protocol = DefaultProtocol());

// A controller that answered the read request at one setting.
struct SearchFind {
    int index = 0;  // the address index, 0 to 63
    SearchSetting setting;
    // It answered the second request too. One that did not is shown, but is not taken for a
    // controller.
    bool confirmed = false;
};

// How a search ended.
struct SearchEnd {
    std::vector<SearchFind> finds;  // in the order found
    // Settings the port would not take, with the host's reason; they were left out.
    std::vector<std::pair<SearchSetting, std::string>> refused;
    int settingsTried = 0;  // begun, the one Stop ended included
    bool stopped = false;   // Stop ended it before the last address of the last setting
    std::string lineFailure;
};

// What the search reports, in the order it happens.
class SearchSink : public ExchangeSink {
public:
    // The first settle is done; `settings` settings will be tried.
    virtual void SearchStarted(int /*settings*/) {}
    // The line runs at `setting` now, the `number`-th of the search (from 1).
    virtual void SettingStarting(int /*number*/, const SearchSetting& /*setting*/) {}
    // The port would not take `setting`: it is left out.
    virtual void SettingRefused(const SearchSetting& /*setting*/, const std::string& /*why*/) {}
    // The request to address `index` (0 to 63) at `setting` is next.
    virtual void AddressStarting(const SearchSetting& /*setting*/, int /*index*/) {}
    // An address answered, and the second request has told whether it did so again.
    virtual void ControllerFound(const SearchFind& /*find*/) {}
    virtual void SearchEnded(const SearchEnd& /*end*/) {}
};

// The search across settings: the Ascon read request to each of the 64 addresses at every
// speed and parity of the port dialog. The line's settings are changed on the open port and
// put back as they were when the search ends, however it ends, so the port dialog's choice
// stands afterwards as before.
class SettingsSearch {
public:
    SettingsSearch(Primo& primo, PortService& port, SearchTimings timings = {});
    SettingsSearch(const SettingsSearch&) = delete;
    SettingsSearch& operator=(const SettingsSearch&) = delete;

    void AddSink(SearchSink& sink) { sinks_.push_back(&sink); }
    // Asks these stations at each setting, in this order, instead of every station.
    void AskOnly(std::vector<Station> stations) { only_ = std::move(stations); }

    // One search, holding the line's lease until it returns. `order` is the settings to try,
    // SearchOrder() unless a caller wants fewer.
    QCoro::Task<SearchEnd> Search(LineUse::Lease lease,
                                  std::vector<SearchSetting> order = SearchOrder());
    // Ends the search once the address being asked is done (its confirmation included), with
    // what was found. Asked before the search begins (Ctrl+C while the port opens), it ends the
    // search after its first address.
    void RequestStop() { stopAsked_ = true; }

    bool Running() const { return running_; }
    bool Stopping() const { return running_ && stopAsked_; }

private:
    // The exchange of one request at `window`, or nothing when the line failed.
    QCoro::Task<std::optional<Exchange>> Ask(int index, int attempt, Duration window);
    // Applies `setting` to the open line through the shared state; the host's reason when the
    // port refused it.
    QCoro::Task<std::optional<std::string>> Apply(const SearchSetting& setting);
    template <typename Call>
    void Tell(Call call) {
        for (SearchSink* sink : sinks_) {
            call(*sink);
        }
    }

    Primo& primo_;
    PortService& port_;
    SearchTimings timings_;
    std::vector<SearchSink*> sinks_;
    std::optional<std::vector<Station>> only_;
    Duration pause_{0};  // before each request at the setting being tried
    bool running_ = false;
    bool stopAsked_ = false;
    std::string lineFailure_;
};

// The controllers that confirmed, gathered by the setting they answered at, in the order of
// the search; each group's addresses in address order.
struct SettingGroup {
    SearchSetting setting;
    std::vector<int> addresses;
};
std::vector<SettingGroup> ConfirmedGroups(const std::vector<SearchFind>& finds);

// The group a line configuration is written from: the one with the most controllers, the
// first found of those that tie. Nothing when no controller confirmed.
std::optional<SettingGroup> LargestGroup(const std::vector<SettingGroup>& groups);

// When the controllers of one line answer at different settings: the warning, one line a
// setting with its addresses and what would reach them (`reachBy`: a command, a choice in the
// port dialog). Nothing when they all answer at one.
std::optional<std::string> MixedSettingsWarning(
    const std::vector<SettingGroup>& groups,
    const std::function<std::string(const SearchSetting&)>& reachBy,
    const Protocol& protocol = DefaultProtocol());

// "line-tarvel-cli scan --baud 2400 --parity even": the scan that reaches controllers at
// `setting`, with "--stop-bits 2" where it has two and the protocol where it is not Ascon.
std::string ScanCommandFor(const SearchSetting& setting,
                           const Protocol& protocol = DefaultProtocol());
// "Baud 2400, Parity Even, StopBit 1": the port dialog's choice for `setting`.
std::string PortDialogChoiceFor(const SearchSetting& setting);

}  // namespace tarvel
