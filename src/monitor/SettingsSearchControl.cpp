// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/SettingsSearchControl.h"

#include <cstdio>

#include <algorithm>

#include "serial/PortChoices.h"

namespace tarvel {
namespace {

constexpr const char* kTitle = "Line Monitor";

}  // namespace

SettingsSearchControl::SettingsSearchControl(Primo& primo, PortService& port, LineUse& lineUse,
                                             Prompts& prompts)
    : primo_(primo),
      port_(port),
      lineUse_(lineUse),
      prompts_(prompts),
      search_(primo, port),
      tasks_(port.Time(), [this](const std::string& what) {
          ++revision_;
          prompts_.ShowMessage(
              {"The search across settings has stopped on an internal error:\n" + what, kTitle,
               MessageIcon::Critical, MessageButtons::Ok, std::string()});
      }) {
    search_.AddSink(*this);
}

void SettingsSearchControl::SearchBtn_Click() {
    if (Searching()) {
        return;
    }
    const Protocol* chosen = ProtocolAt(primo_.ProtocolIndex);
    if (chosen == nullptr) {
        prompts_.ShowMessage({"The search across settings knows " + ProtocolNamesText() +
                                  ".\nChoose one of them with \"Comm\" first.",
                              kTitle, MessageIcon::Exclamation, MessageButtons::Ok, std::string()});
        return;
    }
    if (primo_.PortAccepted != kTrue || !port_.Line().PortOpen()) {
        prompts_.ShowMessage({"The serial port is closed, so the line cannot be searched.\nOpen "
                              "it with \"Comm\" first.",
                              kTitle, MessageIcon::Exclamation, MessageButtons::Ok,
                              port_.Line().LastError()});
        return;
    }
    // A run, a scan, the terminal or listening uses the line; their end is the operator's to
    // choose, so nothing waits for it.
    if (lineUse_.Busy()) {
        prompts_.ShowMessage({"The line is in use by a test run, a scan, the terminal or "
                              "listening.\nStop it first, then search.",
                              kTitle, MessageIcon::Exclamation, MessageButtons::Ok, std::string()});
        return;
    }
    protocol_ = chosen;
    finds_.clear();
    refused_.clear();
    end_.reset();
    settings_ = number_ = index_ = 0;
    searched_ = true;
    started_ = port_.Time().Now();
    ++revision_;
    tasks_.Start(Run());
}

void SettingsSearchControl::StopBtn_Click() {
    if (Searching()) {
        search_.RequestStop();
        ++revision_;
    }
}

QCoro::Task<> SettingsSearchControl::Run() {
    // The line is free: the lease comes at once, before anything else may ask for it. Those
    // that ask meanwhile are told why rather than made to wait for minutes.
    LineUse::Lease lease = co_await lineUse_.Acquire();
    lease.MarkHeld(LongHold::Searching);
    const ProtocolOnLine speaking(port_, *protocol_, std::nullopt);
    const std::vector<SearchSetting> order = SearchOrder(*protocol_);
    const SearchEnd end = co_await search_.Search(std::move(lease), order);
    if (!end.lineFailure.empty()) {
        prompts_.ShowMessage(
            {"The search across settings has stopped because the serial line failed:\n" +
                 end.lineFailure + "\n\nWhat was found is kept. Open the port again with \"Comm\".",
             kTitle, MessageIcon::Critical, MessageButtons::Ok, std::string()});
    }
}

void SettingsSearchControl::SearchStarted(int settings) {
    settings_ = settings;
    ++revision_;
}

void SettingsSearchControl::SettingStarting(int number, const SearchSetting& setting) {
    number_ = number;
    setting_ = setting;
    index_ = 0;
    ++revision_;
}

void SettingsSearchControl::SettingRefused(const SearchSetting& setting, const std::string& why) {
    refused_.push_back(setting.Name() + " (" + why + ")");
    ++revision_;
}

void SettingsSearchControl::AddressStarting(const SearchSetting&, int index) {
    index_ = index;
    ++revision_;
}

void SettingsSearchControl::ControllerFound(const SearchFind& find) {
    finds_.push_back(find);
    ++revision_;
}

void SettingsSearchControl::SearchEnded(const SearchEnd& end) {
    end_ = end;
    ended_ = port_.Time().Now();
    ++revision_;
}

std::string SettingsSearchControl::ProgressText() const {
    if (!searched_) {
        return std::string();
    }
    int confirmed = 0;
    for (const SearchFind& find : finds_) {
        confirmed += find.confirmed ? 1 : 0;
    }
    const Instant until = end_ ? ended_ : port_.Time().Now();
    const double seconds = std::chrono::duration<double>(until - started_).count();
    char text[200];
    if (!end_) {
        if (number_ == 0) {
            return "Searching: settling the line";
        }
        const std::vector<Station> stations = protocol_->Stations();
        const auto position = std::find(stations.begin(), stations.end(), index_);
        std::snprintf(
            text, sizeof text, "%s: %s (%d of %d), address %s (%d of %zu), %d found, %.0f s",
            Stopping() ? "Stopping after this address" : "Searching", setting_.Name().c_str(),
            number_, settings_, protocol_->StationText(index_).c_str(),
            static_cast<int>(position - stations.begin()) + 1, stations.size(), confirmed, seconds);
        return text;
    }
    std::snprintf(text, sizeof text, "%s: %d of %d settings tried, %d controller%s found in %.0f s",
                  end_->stopped ? "Search stopped" : "Search finished", end_->settingsTried,
                  settings_, confirmed, confirmed == 1 ? "" : "s", seconds);
    std::string result = text;
    if (const int unconfirmed = static_cast<int>(finds_.size()) - confirmed; unconfirmed > 0) {
        result += ", " + std::to_string(unconfirmed) + " not confirmed";
    }
    for (const std::string& refusal : refused_) {
        result += "; the port does not take " + refusal;
    }
    if (!end_->lineFailure.empty()) {
        result += "; the serial line failed: " + end_->lineFailure;
    }
    return result;
}

std::string SettingsSearchControl::AdviceText() const {
    const Protocol& protocol = *protocol_;
    // "Comm" offers the speeds up to 9600 only; the faster lines of some protocols are reached
    // from the command line.
    const auto offered = [](const SearchSetting& setting) {
        const std::vector<std::string>& bauds = PortDialogEntries::Bauds();
        return std::find(bauds.begin(), bauds.end(), std::to_string(setting.baud)) != bauds.end();
    };
    const auto reachBy = [&](const SearchSetting& setting) {
        return offered(setting) ? "in \"Comm\": " + PortDialogChoiceFor(setting)
                                : "with " + ScanCommandFor(setting, protocol);
    };
    const std::vector<SettingGroup> groups = ConfirmedGroups(finds_);
    if (const auto warning = MixedSettingsWarning(groups, reachBy, protocol)) {
        return "Warning: " + *warning;
    }
    if (groups.size() != 1 || !end_) {
        return std::string();
    }
    const SearchSetting& setting = groups[0].setting;
    const std::string found = "All found answer at " + setting.Name() + ": ";
    if (!protocol.ChecksFrames()) {
        return found + "choose " + PortDialogChoiceFor(setting) +
               " in \"Comm\", then \"&Search!\" makes them the device table.";
    }
    if (!offered(setting)) {
        return found + "\"Comm\" does not offer " + std::to_string(setting.baud) +
               " baud; reach them " + reachBy(setting) + ".";
    }
    return found + "choose " + PortDialogChoiceFor(setting) +
           " in \"Comm\", then \"Test\" in this window tests them.";
}

}  // namespace tarvel
