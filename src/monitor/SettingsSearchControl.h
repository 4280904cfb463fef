// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoroTask>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/Primo.h"
#include "line/SettingsSearch.h"
#include "platform/Prompts.h"
#include "platform/Tasks.h"
#include "serial/LineUse.h"
#include "serial/PortService.h"

namespace tarvel {

// "Search all settings..." and its Stop in the Line Monitor: the search across settings on the
// port chosen in the port dialog, with the line held as a scan holds it, and what the window
// shows of it. Created once, with the program; it owns the search and its coroutine, so both
// live as long as the search may.
class SettingsSearchControl final : private SearchSink {
public:
    SettingsSearchControl(Primo& primo, PortService& port, LineUse& lineUse, Prompts& prompts);
    SettingsSearchControl(const SettingsSearchControl&) = delete;
    SettingsSearchControl& operator=(const SettingsSearchControl&) = delete;

    // Refused, with the reason, while the port is closed, the protocol chosen is none the
    // program speaks, or a run, a scan, the terminal or listening holds the line; a second click
    // while searching asks for nothing more.
    void SearchBtn_Click();
    void StopBtn_Click();

    bool Searching() const { return tasks_.Running() > 0; }
    bool Stopping() const { return Searching() && search_.Stopping(); }
    // Whether there is anything to show: searching now, or searched before.
    bool Searched() const { return searched_; }
    // The finds of the current or last search, in the order found.
    const std::vector<SearchFind>& Finds() const { return finds_; }

    // "Searching: 2400 7E1 (10 of 21), address C (3 of 64), 2 found, 95 s" while it goes on,
    // then what the search came to; empty before the first.
    std::string ProgressText() const;
    // The mixed-settings warning, with the port dialog's choice for each group, or what to
    // choose when all answer at one; empty when there is nothing to say.
    std::string AdviceText() const;
    // Changes whenever anything shown changes.
    std::uint64_t Revision() const { return revision_; }
    // A station as the protocol of the current or last search writes it.
    std::string StationText(Station station) const { return protocol_->StationText(station); }

private:
    QCoro::Task<> Run();
    void SearchStarted(int settings) override;
    void SettingStarting(int number, const SearchSetting& setting) override;
    void SettingRefused(const SearchSetting& setting, const std::string& why) override;
    void AddressStarting(const SearchSetting& setting, int index) override;
    void ControllerFound(const SearchFind& find) override;
    void SearchEnded(const SearchEnd& end) override;

    Primo& primo_;
    PortService& port_;
    LineUse& lineUse_;
    Prompts& prompts_;
    SettingsSearch search_;
    std::vector<SearchFind> finds_;
    std::optional<SearchEnd> end_;
    std::vector<std::string> refused_;
    SearchSetting setting_;
    // Of the current or last search: the one chosen in "Comm" when it began.
    const Protocol* protocol_ = &DefaultProtocol();
    int settings_ = 0;
    int number_ = 0;
    int index_ = 0;
    Instant started_{};
    Instant ended_{};
    bool searched_ = false;
    std::uint64_t revision_ = 0;
    TaskOwner tasks_;
};

}  // namespace tarvel
