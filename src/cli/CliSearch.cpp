// SPDX-License-Identifier: GPL-3.0-or-later
// `scan --all-settings`: the search across settings, its report and its line configuration.
#include <QJsonArray>
#include <QString>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ostream>
#include <string_view>

#include "cli/CliReport.h"
#include "cli/CliSession.h"
#include "core/ConfigFile.h"
#include "core/DeviceTable.h"
#include "core/Version.h"
#include "line/SettingsSearch.h"
#include "platform/TextFiles.h"

namespace tarvel {
namespace {

// Prints each find as it comes and shows where the search stands on a terminal.
class SearchProgress final : public SearchSink {
public:
    SearchProgress(const CliHost& host, bool json, const Protocol& protocol,
                   std::vector<Station> stations)
        : host_(host), json_(json), protocol_(protocol), stations_(std::move(stations)) {}

    void SearchStarted(int settings) override {
        settings_ = settings;
        start_ = host_.scheduler.Now();
    }
    void SettingStarting(int number, const SearchSetting&) override { number_ = number; }
    void SettingRefused(const SearchSetting& setting, const std::string& why) override {
        EndLine();
        host_.err << "line-tarvel-cli: the port does not take " << setting.Name() << " (" << why
                  << "); left out\n";
    }
    void AddressStarting(const SearchSetting& setting, int index) override {
        if (!host_.progress) {
            return;
        }
        const auto position = std::find(stations_.begin(), stations_.end(), index);
        char text[160];
        std::snprintf(
            text, sizeof text, "setting %s (%d of %d), address %s (%d of %zu), %.0f s, found %zu",
            setting.Name().c_str(), number_, settings_, protocol_.StationText(index).c_str(),
            static_cast<int>(position - stations_.begin()) + 1, stations_.size(), Seconds(),
            finds.size());
        ShowProgress(host_.err, text);
    }
    void ControllerFound(const SearchFind& find) override {
        finds.push_back(find);
        if (json_) {
            return;
        }
        EndLine();
        host_.out << "Controller " << protocol_.StationText(find.index) << " found at "
                  << find.setting.Name();
        if (!protocol_.ChecksFrames()) {
            host_.out << " (address " << find.index << ")";
        }
        host_.out << (find.confirmed ? "" : ", not confirmed: no good answer to a second request")
                  << "\n"
                  << std::flush;
    }
    void SearchEnded(const SearchEnd&) override { EndLine(); }

    double Seconds() const {
        return std::chrono::duration<double>(host_.scheduler.Now() - start_).count();
    }

    std::vector<SearchFind> finds;

private:
    void EndLine() {
        if (host_.progress) {
            EndProgress(host_.err);
        }
    }

    const CliHost& host_;
    bool json_;
    const Protocol& protocol_;
    std::vector<Station> stations_;  // asked at each setting, in order
    Instant start_{};
    int settings_ = 0;
    int number_ = 0;
};

std::string Addresses(const std::vector<int>& stations, const Protocol& protocol) {
    std::string text;
    for (const int station : stations) {
        text += std::string(text.empty() ? "" : " ") + protocol.StationText(station);
    }
    return text;
}

QString Text(const std::string& text) { return QString::fromStdString(text); }

// A word as a POSIX shell reads it back unchanged.
std::string ShellWord(const std::string& word) {
    const bool plain = !word.empty() && std::all_of(word.begin(), word.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 ||
               std::string_view("_-./:=,+@%").find(c) != std::string_view::npos;
    });
    if (plain) {
        return word;
    }
    std::string quoted = "'";
    for (const char c : word) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

// The options that named the line searched, so that a command suggested for its controllers
// reaches the same line: " --port /dev/ttyUSB0", " --simulate=training-line.json".
std::string LineOptionsOf(const CliOptions& options) {
    std::string text;
    if (options.simulate) {
        text += options.simulateFile.empty() ? " --simulate"
                                             : " --simulate=" + ShellWord(options.simulateFile);
    } else {
        const int number = options.line.port + 1;
        const auto assigned = std::find_if(
            options.assignments.rbegin(), options.assignments.rend(),
            [number](const PortAssignment& assignment) { return assignment.number == number; });
        if (options.portEntry.empty() && assigned != options.assignments.rend()) {
            text += " --port " + ShellWord(assigned->device);
        } else if (assigned != options.assignments.rend()) {
            text += " --port " + ShellWord(options.portEntry + "=" + assigned->device);
        } else if (!options.portEntry.empty() && options.portEntry != "COM1") {
            text += " --port " + options.portEntry;
        }
    }
    if (options.rs485) {
        text += " --rs485";
        if (*options.rs485 != Rs485Mode{}) {
            text += " --rs485-delays " + std::to_string(options.rs485->delayBeforeSend.count()) +
                    "," + std::to_string(options.rs485->delayAfterSend.count());
        }
    }
    if (options.echo != EchoMode::Auto) {
        text += options.echo == EchoMode::On ? " --echo on" : " --echo off";
    }
    return text;
}

}  // namespace

QCoro::Task<int> CliSession::SearchAllSettings() {
    const Protocol& protocol = port_.LineProtocol();
    const std::vector<Station> stations =
        options_.addresses.empty() ? protocol.Stations() : options_.addresses;
    SearchProgress progress(host_, options_.json, protocol, stations);
    // The line configuration holds addresses and no settings: it is written from the controllers
    // of one setting, the one with the most, and the report says which.
    if (!AddDocument(options_.cfgFile, "line configuration",
                     [&progress]() -> std::optional<std::string> {
                         const auto group = LargestGroup(ConfirmedGroups(progress.finds));
                         if (!group) {
                             return std::nullopt;
                         }
                         ControllerAddressTable table = StartupAddressTable();
                         for (std::size_t i = 0; i < group->addresses.size(); ++i) {
                             table[i] = static_cast<std::int16_t>(group->addresses[i]);
                         }
                         return FormatLineConfiguration(
                             static_cast<std::int16_t>(group->addresses.size()), table);
                     })) {
        co_return kPortOrFileFailed;
    }
    // A statement of its own: g++ 12 miscompiles an awaited opening inside a condition.
    const bool opened = co_await OpenLine();
    if (!opened) {
        co_return kPortOrFileFailed;
    }
    if (!options_.json) {
        host_.out << "line-tarvel-cli " << kVersion << ", scan --all-settings on "
                  << PortText(Line()) << ", from " << Iso8601(started_) << "\n"
                  << std::flush;
    }
    SettingsSearch search(primo_, port_);
    search.AddSink(progress);
    search.AskOnly(stations);
    search_ = &search;
    if (!stopCause_.empty()) {
        search.RequestStop();  // Ctrl+C while the port was being opened
    }
    files_.Start();
    const SearchEnd end =
        co_await search.Search(co_await lineUse_.Acquire(), SearchOrder(protocol));
    search_ = nullptr;
    const bool filesWritten = co_await files_.Finish();

    const std::vector<SettingGroup> groups = ConfirmedGroups(end.finds);
    const std::optional<SettingGroup> written = LargestGroup(groups);
    const std::string lineOptions = LineOptionsOf(options_);
    const auto reachBy = [&lineOptions, &protocol](const SearchSetting& setting) {
        return ScanCommandFor(setting, protocol) + lineOptions;
    };
    const std::optional<std::string> warning = MixedSettingsWarning(groups, reachBy, protocol);
    int confirmed = 0;
    for (const SearchFind& find : end.finds) {
        confirmed += find.confirmed ? 1 : 0;
    }
    if (!options_.cfgFile.empty()) {
        if (!written) {
            host_.err << "line-tarvel-cli: no controller confirmed, so "
                      << ShownPath(options_.cfgFile) << " is not written\n";
        } else if (groups.size() > 1) {
            host_.err << "line-tarvel-cli: " << ShownPath(options_.cfgFile) << " holds "
                      << Addresses(written->addresses, protocol) << ", the controllers at "
                      << written->setting.Name() << "; test them with --baud "
                      << written->setting.baud << " --parity " << written->setting.ParityWord()
                      << "\n";
        }
    }
    if (options_.json) {
        QJsonArray finds;
        for (const SearchFind& find : end.finds) {
            finds.append(QJsonObject{
                {"address", protocol.ChecksFrames() ? QJsonValue(find.index)
                                                    : QJsonValue(QString(QChar::fromLatin1(
                                                          AddressCharacter(find.index))))},
                {"baud", find.setting.baud},
                {"parity", Text(find.setting.ParityWord())},
                {"dataBits", find.setting.DataBits()},
                {"stopBits", find.setting.stopBits},
                {"confirmed", find.confirmed},
            });
        }
        QJsonArray refused;
        for (const auto& [setting, why] : end.refused) {
            refused.append(QJsonObject{{"setting", Text(setting.Name())}, {"reason", Text(why)}});
        }
        QJsonObject document{
            {"command", "scan"},
            {"allSettings", true},
            {"finds", finds},
            {"settingsTried", end.settingsTried},
            {"settingsRefused", refused},
            {"warning", warning ? QJsonValue(Text(*warning)) : QJsonValue(QJsonValue::Null)},
            {"cfgSetting",
             written ? QJsonValue(Text(written->setting.Name())) : QJsonValue(QJsonValue::Null)},
            {"stopped", end.stopped},
            {"lineFailure", TextOrNull(end.lineFailure)},
            {"seconds", Rounded(progress.Seconds(), 1)},
        };
        AddProvenance(document, MadeOf(true));
        // The search tried every setting; the port dialog's own is not what it ran at.
        document.remove("settings");
        host_.out << JsonText(document);
    } else {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.0f s", progress.Seconds());
        host_.out << (end.stopped ? "Search stopped: " : "Search finished: ")
                  << Counted(end.settingsTried, "setting") << " tried, "
                  << Counted(confirmed, "controller") << " found";
        if (groups.size() == 1) {
            host_.out << " at " << groups[0].setting.Name() << ": "
                      << Addresses(groups[0].addresses, protocol);
        } else if (groups.size() > 1) {
            host_.out << " at " << Counted(static_cast<long>(groups.size()), "setting");
        }
        const int unconfirmed = static_cast<int>(end.finds.size()) - confirmed;
        if (unconfirmed > 0) {
            host_.out << ", " << unconfirmed << " not confirmed";
        }
        host_.out << " (" << seconds << ", ended " << Iso8601(host_.scheduler.LocalNow()) << ")\n";
        if (groups.size() == 1) {
            host_.out << "Reach them with: " << reachBy(groups[0].setting) << "\n";
        }
        if (warning) {
            host_.out << "Warning: " << *warning << "\n";
        }
    }
    if (warning) {
        host_.err << "line-tarvel-cli: the controllers answer at different settings\n";
    }
    if (const std::optional<int> failed = FailureStatus(end.lineFailure, filesWritten)) {
        co_return *failed;
    }
    co_return confirmed > 0 ? kAllWell : kLineFailures;
}

}  // namespace tarvel
