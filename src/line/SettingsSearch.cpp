// SPDX-License-Identifier: GPL-3.0-or-later
#include "line/SettingsSearch.h"

#include <algorithm>
#include <map>

#include "core/DeviceTable.h"
#include "core/NumberText.h"
#include "platform/Waits.h"
#include "serial/AnswerWait.h"
#include "serial/LineExchange.h"
#include "serial/PortChoices.h"

namespace tarvel {
namespace {

char ParityLetter(Parity parity) {
    switch (parity) {
        case Parity::Even: return 'E';
        case Parity::Odd: return 'O';
        case Parity::None: break;
    }
    return 'N';
}

Parity ParityFromLetter(char letter) {
    switch (letter) {
        case 'E': return Parity::Even;
        case 'O': return Parity::Odd;
        default: return Parity::None;
    }
}

// The port settings of the shared state, which the line runs at and the reports name.
struct PortSettingsText {
    std::string baud, parity, dataBits, stopBits;

    static PortSettingsText Of(const Primo& primo) {
        return {primo.BaudText, primo.ParityText, primo.DataBitsText, primo.StopBitsText};
    }
    void Into(Primo& primo) const {
        primo.BaudText = baud;
        primo.ParityText = parity;
        primo.DataBitsText = dataBits;
        primo.StopBitsText = stopBits;
    }
};

// Puts the operator's settings back into the shared state and onto the line, however the
// search ends; an exception included. A search that ends as it should awaits the line's taking
// them, as it does every setting's.
class SettingsRestore {
public:
    SettingsRestore(Primo& primo, SerialLine& line)
        : primo_(primo), line_(line), saved_(PortSettingsText::Of(primo)) {}
    SettingsRestore(const SettingsRestore&) = delete;
    SettingsRestore& operator=(const SettingsRestore&) = delete;
    ~SettingsRestore() { Restore(); }
    void Restore() {
        if (Back()) {
            line_.SetSettings(SettingsText(primo_));
        }
    }
    QCoro::Task<> RestoreAsync(Scheduler& scheduler) {
        if (Back()) {
            // Named, not temporaries of the co_await: g++ 12 destroys such temporaries twice,
            // or leaks them.
            const std::string text = SettingsText(primo_);
            const QCoro::Task<bool> taking = line_.SetSettingsAsync(scheduler, text);
            co_await taking;
        }
    }

private:
    // Puts them back into the shared state, once: whether the line is to take them too.
    bool Back() {
        if (done_) {
            return false;
        }
        done_ = true;
        saved_.Into(primo_);
        return line_.PortOpen();
    }

    Primo& primo_;
    SerialLine& line_;
    PortSettingsText saved_;
    bool done_ = false;
};

}  // namespace

std::string SearchSetting::Name() const {
    return std::to_string(baud) + " " + std::to_string(DataBits()) + ParityLetter(parity) +
           std::to_string(stopBits);
}

std::string SearchSetting::ParityWord() const {
    switch (parity) {
        case Parity::Even: return "even";
        case Parity::Odd: return "odd";
        case Parity::None: break;
    }
    return "none";
}

std::vector<SearchSetting> SearchOrder(const Protocol& protocol) {
    std::vector<SearchSetting> order;
    if (const std::vector<CharacterFraming> framings = protocol.SearchFramings();
        !framings.empty()) {
        const std::vector<int>& speeds = protocol.Speeds();
        for (auto speed = speeds.rbegin(); speed != speeds.rend(); ++speed) {
            for (const CharacterFraming& framing : framings) {
                order.push_back(SearchSetting{*speed, ParityFromLetter(framing.parity),
                                              framing.dataBits, framing.stopBits});
            }
        }
        return order;
    }
    const std::vector<std::string>& bauds = PortDialogEntries::Bauds();
    for (auto baud = bauds.rbegin(); baud != bauds.rend(); ++baud) {
        for (const Parity parity : {Parity::None, Parity::Even, Parity::Odd}) {
            order.push_back(SearchSetting{std::stoi(*baud), parity});
        }
    }
    return order;
}

Duration SearchAnswerWindow(const SearchSetting& setting, const SearchTimings& timings,
                            const Protocol& protocol) {
    const Station first = protocol.Stations().front();
    Request request;
    request.station = first;
    request.frame = protocol.RequestFor(first, ExchangeKind::Probe);
    const int characters =
        static_cast<int>(request.frame.size()) + protocol.HealthyAnswerLength(request);
    return characters * CharacterTime(setting.Line()) + timings.answerMargin;
}

SettingsSearch::SettingsSearch(Primo& primo, PortService& port, SearchTimings timings)
    : primo_(primo), port_(port), timings_(timings) {}

QCoro::Task<std::optional<std::string>> SettingsSearch::Apply(const SearchSetting& setting) {
    primo_.BaudText = SignedNumberText(setting.baud);
    primo_.ParityText = std::string(1, ParityLetter(setting.parity));
    primo_.DataBitsText = std::to_string(setting.DataBits());
    primo_.StopBitsText = SignedNumberText(setting.stopBits);
    SerialLine& line = port_.Line();
    const std::string text = SettingsText(primo_);
    const QCoro::Task<bool> taking = line.SetSettingsAsync(port_.Time(), text);
    if (co_await taking) {
        co_return std::nullopt;
    }
    co_return line.LastError().empty() ? std::string("the port refused the settings")
                                       : line.LastError();
}

QCoro::Task<SearchEnd> SettingsSearch::Search(LineUse::Lease lease,
                                              std::vector<SearchSetting> order) {
    // However it ends: idle, and a stop asked for before it began (which holds for it) is spent.
    struct Running {
        bool& running;
        bool& stopAsked;
        Running(bool& flag, bool& stop) : running(flag), stopAsked(stop) { running = true; }
        ~Running() { running = stopAsked = false; }
    } runningNow{running_, stopAsked_};
    lineFailure_.clear();
    SerialLine& line = port_.Line();
    SettingsRestore restore(primo_, line);

    const Protocol& protocol = port_.LineProtocol();
    const std::vector<Station> stations = only_.value_or(protocol.Stations());
    SearchEnd end;
    co_await port_.SettleLine();
    Tell([&](SearchSink& sink) { sink.SearchStarted(static_cast<int>(order.size())); });
    bool stopped = false;
    for (std::size_t number = 0; number < order.size() && !stopped && lineFailure_.empty();
         ++number) {
        const SearchSetting& setting = order[number];
        // A speed changed under a character still on its way garbles it.
        if (!co_await AwaitOutputDrained(line, port_.Time())) {
            lineFailure_ = "the serial port has not sent its output for two seconds";
            break;
        }
        const std::optional<std::string> refusal = co_await Apply(setting);
        if (refusal) {
            if (!line.PortOpen()) {
                lineFailure_ = *refusal;
                break;
            }
            end.refused.emplace_back(setting, *refusal);
            Tell([&](SearchSink& sink) { sink.SettingRefused(setting, *refusal); });
            continue;
        }
        ++end.settingsTried;
        Tell(
            [&](SearchSink& sink) { sink.SettingStarting(static_cast<int>(number) + 1, setting); });
        // What a controller made of the requests at other speeds ends with this carriage
        // return, and whatever was under way is dropped with the quiet time.
        line.Input();
        line.Output(protocol.SettleFrame());
        co_await Pause(port_.Time(), timings_.settle);
        line.Input();

        const Duration window = SearchAnswerWindow(setting, timings_, protocol);
        // A protocol that counts its silences in characters (Modbus) keeps them at every speed;
        // Ascon's own probe pause is the line detector's pace, not a silence it needs.
        pause_ = timings_.pause;
        if (protocol.ChecksFrames()) {
            pause_ = std::max(
                pause_, protocol.Timings(ExchangeKind::Probe, CharacterTime(setting.Line())).pause);
        }
        for (std::size_t at = 0; at < stations.size(); ++at) {
            const Station index = stations[at];
            // A receiver that reads one stop bit reads two as well: a controller confirmed at a
            // speed and parity is not found again at the same with the other stop bits.
            const bool known = std::any_of(end.finds.begin(), end.finds.end(), [&](const auto& f) {
                return f.confirmed && f.index == index && f.setting.baud == setting.baud &&
                       f.setting.parity == setting.parity &&
                       f.setting.DataBits() == setting.DataBits();
            });
            if (known) {
                continue;
            }
            Tell([&](SearchSink& sink) { sink.AddressStarting(setting, index); });
            const std::optional<Exchange> first = co_await Ask(index, 0, window);
            if (!first) {
                break;
            }
            if (first->verdict == ExchangeVerdict::Good) {
                const std::optional<Exchange> second = co_await Ask(index, 1, window);
                if (!second) {
                    break;
                }
                SearchFind find{index, setting, second->verdict == ExchangeVerdict::Good};
                end.finds.push_back(find);
                Tell([&](SearchSink& sink) { sink.ControllerFound(find); });
            }
            if (stopAsked_) {
                stopped = number + 1 < order.size() || at + 1 < stations.size();
                break;
            }
        }
    }
    if (lineFailure_.empty() && line.PortOpen()) {
        co_await AwaitOutputDrained(line, port_.Time());
    }
    co_await restore.RestoreAsync(port_.Time());
    // A server that hung as the operator's settings went back has lost the line too.
    if (lineFailure_.empty() && !line.PortOpen()) {
        lineFailure_ = line.LastError();
    }
    line.Input();
    lease.Release();
    end.stopped = stopped;
    end.lineFailure = lineFailure_;
    Tell([&](SearchSink& sink) { sink.SearchEnded(end); });
    co_return end;
}

QCoro::Task<std::optional<Exchange>> SettingsSearch::Ask(int index, int attempt, Duration window) {
    const Protocol& protocol = port_.LineProtocol();
    Request request;
    request.station = index;
    request.stationText = protocol.StationText(index);
    request.position = index;
    request.attempt = attempt;
    primo_.AddressText = request.stationText;
    // Named, not a temporary of the co_await: g++ 12 destroys such lambda arguments twice.
    ExchangeSteps steps{{}, [this](const Request& r) {
                            // Nothing of the answer can be here yet: what is, is left over
                            // from before (a late answer, garbage) and would spoil the count.
                            port_.Line().Input();
                            Tell([&](SearchSink& sink) { sink.RequestWritten(r); });
                        }};
    ExchangeOnLine made =
        co_await MakeExchange(port_, primo_, protocol, std::move(request), ExchangeKind::Probe,
                              ExchangeTimings{pause_, window}, std::move(steps));
    if (!made.exchange) {
        lineFailure_ = std::move(made.lineFailure);
        co_return std::nullopt;
    }
    Exchange& exchange = *made.exchange;
    JudgeAnswer(port_, protocol, ExchangeKind::Probe, exchange, made.late);
    // No settle after a failure: the next request drops what is left, and the window has
    // already waited out an answer's whole wire time.
    Tell([&](SearchSink& sink) { sink.ExchangeJudged(exchange); });
    co_return exchange;
}

std::vector<SettingGroup> ConfirmedGroups(const std::vector<SearchFind>& finds) {
    std::vector<SettingGroup> groups;
    for (const SearchFind& find : finds) {
        if (!find.confirmed) {
            continue;
        }
        auto group = std::find_if(groups.begin(), groups.end(),
                                  [&](const SettingGroup& g) { return g.setting == find.setting; });
        if (group == groups.end()) {
            groups.push_back(SettingGroup{find.setting, {}});
            group = groups.end() - 1;
        }
        if (std::find(group->addresses.begin(), group->addresses.end(), find.index) ==
            group->addresses.end()) {
            group->addresses.push_back(find.index);
        }
    }
    for (SettingGroup& group : groups) {
        std::sort(group.addresses.begin(), group.addresses.end());
    }
    return groups;
}

std::optional<SettingGroup> LargestGroup(const std::vector<SettingGroup>& groups) {
    const SettingGroup* largest = nullptr;
    for (const SettingGroup& group : groups) {
        if (largest == nullptr || group.addresses.size() > largest->addresses.size()) {
            largest = &group;
        }
    }
    return largest == nullptr ? std::nullopt : std::optional<SettingGroup>(*largest);
}

std::optional<std::string> MixedSettingsWarning(
    const std::vector<SettingGroup>& groups,
    const std::function<std::string(const SearchSetting&)>& reachBy, const Protocol& protocol) {
    if (groups.size() < 2) {
        return std::nullopt;
    }
    std::string text =
        "The controllers of this line answer at different settings, but a line works at one "
        "only: set them all alike, or test each group at its own.";
    for (const SettingGroup& group : groups) {
        std::string addresses;
        for (const int index : group.addresses) {
            addresses += std::string(addresses.empty() ? "" : " ") + protocol.StationText(index);
        }
        text +=
            "\n  " + group.setting.Name() + ": " + addresses + " (" + reachBy(group.setting) + ")";
    }
    return text;
}

std::string ScanCommandFor(const SearchSetting& setting, const Protocol& protocol) {
    std::string command = "line-tarvel-cli scan";
    if (protocol.CommandName() != DefaultProtocol().CommandName()) {
        command += " --protocol " + std::string(protocol.CommandName());
    }
    command += " --baud " + std::to_string(setting.baud) + " --parity " + setting.ParityWord();
    if (setting.dataBits > 0 &&
        setting.dataBits != protocol.DataBitsFor(setting.parity != Parity::None)) {
        command += " --data-bits " + std::to_string(setting.dataBits);
    }
    if (setting.stopBits != 1) {
        command += " --stop-bits " + std::to_string(setting.stopBits);
    }
    return command;
}

std::string PortDialogChoiceFor(const SearchSetting& setting) {
    std::string parity = setting.ParityWord();
    parity.front() = static_cast<char>(std::toupper(static_cast<unsigned char>(parity.front())));
    return "Baud " + std::to_string(setting.baud) + ", Parity " + parity + ", StopBit " +
           std::to_string(setting.stopBits);
}

}  // namespace tarvel
