// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CliValues.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "core/DeviceTable.h"
#include "core/HexText.h"
#include "protocol/Protocols.h"
#include "watch/MetricsEndpoint.h"

namespace tarvel {
namespace {

std::optional<int> WholeNumber(const std::string& text) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, failure] = std::from_chars(text.data(), end, value);
    if (text.empty() || failure != std::errc() || stop != end) {
        return std::nullopt;
    }
    return value;
}

// The position of `value` among the port dialog's entries, compared without case.
std::optional<int> EntryIndex(const std::vector<std::string>& entries, std::string value) {
    std::transform(value.begin(), value.end(), value.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (std::size_t i = 0; i < entries.size(); ++i) {
        std::string entry = entries[i];
        std::transform(entry.begin(), entry.end(), entry.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (entry == value) {
            return static_cast<int>(i);
        }
    }
    return std::nullopt;
}

std::string Joined(const std::vector<std::string>& entries, const char* separator) {
    std::string text;
    for (const std::string& entry : entries) {
        text += (text.empty() ? "" : separator) + entry;
    }
    return text;
}

// "--port": COMn, COMn=DEVICE, or a device that COM1 then stands for.
bool ReadPort(const std::string& value, CliOptions& options) {
    if (value.empty()) {
        return false;
    }
    const bool namesCom = EntryIndex({"com"}, value.substr(0, 3)).has_value();
    if (namesCom && value.find('=') != std::string::npos) {
        // Meant as COMn=DEVICE: read mistyped, it would open a device of that odd name and
        // fail only once the line is wanted.
        const auto assignment = ParsePortAssignment("COM" + value.substr(3));
        if (!assignment) {
            return false;
        }
        options.assignments.push_back(*assignment);
        options.line.port = assignment->number - 1;
        options.portEntry = "COM" + std::to_string(assignment->number);
        return true;
    }
    if (const auto number = EntryIndex(PortDialogEntries::Ports(), value)) {
        options.line.port = *number;
        options.portEntry = PortDialogEntries::Ports()[static_cast<std::size_t>(*number)];
        return true;
    }
    if (namesCom && value.find('/') == std::string::npos) {
        return false;  // COM0, COM5: no such entry, and surely no device name
    }
    options.assignments.push_back(PortAssignment{1, value});
    options.line.port = 0;
    options.portEntry.clear();
    return true;
}

// Whether a line of some protocol takes `baud`; which protocol's is read once it is known.
bool SomeLineTakes(int baud) {
    for (int index = 0; const Protocol* protocol = ProtocolAt(index); ++index) {
        const std::vector<int>& speeds = protocol->Speeds();
        if (std::find(speeds.begin(), speeds.end(), baud) != speeds.end()) {
            return true;
        }
    }
    return false;
}

std::string JoinedNumbers(const std::vector<int>& numbers) {
    std::string text;
    for (const int number : numbers) {
        text += (text.empty() ? "" : ", ") + std::to_string(number);
    }
    return text;
}

}  // namespace

std::optional<Duration> ParseDuration(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    Duration unit = std::chrono::seconds(1);
    std::string digits = text;
    switch (text.back()) {
        case 's': digits.pop_back(); break;
        case 'm': unit = std::chrono::minutes(1), digits.pop_back(); break;
        case 'h': unit = std::chrono::hours(1), digits.pop_back(); break;
        default: break;
    }
    const auto number = WholeNumber(digits);
    // Up to a year: longer is a typing error, and would overflow the clock's arithmetic.
    const auto mostUnits = std::chrono::hours(24 * 366) / unit;
    if (!number || *number <= 0 || *number > mostUnits) {
        return std::nullopt;
    }
    return unit * static_cast<std::int64_t>(*number);
}

std::optional<Duration> ParseAnswerWindow(const std::string& text) {
    std::string number = text;
    double unit = 1.0;
    if (number.size() > 2 && number.compare(number.size() - 2, 2, "ms") == 0) {
        number.resize(number.size() - 2);
        unit = 1e-3;
    } else if (!number.empty() && number.back() == 's') {
        number.pop_back();
    }
    double value = 0.0;
    const char* end = number.data() + number.size();
    const auto [stop, failure] = std::from_chars(number.data(), end, value);
    if (number.empty() || failure != std::errc() || stop != end) {
        return std::nullopt;
    }
    const double seconds = value * unit;
    if (!(seconds >= 0.001 && seconds <= 10.0)) {
        return std::nullopt;
    }
    return std::chrono::duration_cast<Duration>(std::chrono::duration<double>(seconds));
}

const std::map<std::string, ValueOption>& ValueOptions() {
    static const std::map<std::string, ValueOption> options{
        {"--port",
         {"a device such as /dev/ttyUSB0, COM1 to COM4, or COMn=DEVICE with n from 1 to 4",
          [](const std::string& v, CliOptions& o) { return ReadPort(v, o); }}},
        {"--baud",
         {Joined(PortDialogEntries::Bauds(), ", "),
          [](const std::string& v, CliOptions& o) {
              // Which of the speeds a line takes is the protocol's, read later.
              o.baudText = v;
              return EntryIndex(PortDialogEntries::Bauds(), v).has_value() ||
                     SomeLineTakes(WholeNumber(v).value_or(0));
          }}},
        {"--protocol",
         {Joined(ProtocolCommandNames(), ", "),
          [](const std::string& v, CliOptions& o) {
              const auto index = ProtocolIndexNamed(v);
              o.line.protocol = index.value_or(o.line.protocol);
              return index.has_value();
          }}},
        {"--register",
         {"a register address from 0 to 65535 as it goes on the wire",
          [](const std::string& v, CliOptions& o) {
              const auto start = WholeNumber(v);
              o.request.start = start.value_or(0);
              o.requestChosen = true;
              return start && *start >= 0 && *start <= 65535;
          }}},
        {"--count",
         {"a number of registers from 1 to 125",
          [](const std::string& v, CliOptions& o) {
              const auto count = WholeNumber(v);
              o.request.count = count.value_or(1);
              o.requestChosen = true;
              return count && *count >= 1 && *count <= 125;
          }}},
        {"--hex",
         {"bytes as pairs of hexadecimal digits, such as \"01 03 00 00 00 02\"",
          [](const std::string& v, CliOptions& o) {
              o.hexFrame = BytesOfHex(v);
              return o.hexFrame.has_value();
          }}},
        {"--parity",
         {"none, even or odd",
          [](const std::string& v, CliOptions& o) {
              const auto index = EntryIndex(PortDialogEntries::Parities(), v);
              o.line.parity = index.value_or(o.line.parity);
              return index.has_value();
          }}},
        {"--data-bits",
         {"7 or 8",
          [](const std::string& v, CliOptions& o) {
              o.dataBits = v == "7" ? 7 : v == "8" ? 8 : 0;
              return o.dataBits > 0;
          }}},
        {"--stop-bits",
         {"1 or 2",
          [](const std::string& v, CliOptions& o) {
              const auto index = EntryIndex(PortDialogEntries::StopBits(), v);
              o.line.stopBits = index.value_or(o.line.stopBits);
              return index.has_value();
          }}},
        {"--retry",
         {"0 to 4",
          [](const std::string& v, CliOptions& o) {
              const auto index = EntryIndex(PortDialogEntries::Retries(), v);
              o.line.retry = index.value_or(o.line.retry);
              return index.has_value();
          }}},
        {"--cfg",
         {"a file name",
          [](const std::string& v, CliOptions& o) {
              o.cfgFile = v;
              return !v.empty();
          }}},
        {"--lst",
         {"a file name",
          [](const std::string& v, CliOptions& o) {
              o.lstFile = v;
              return !v.empty();
          }}},
        {"--dat",
         {"a file name",
          [](const std::string& v, CliOptions& o) {
              o.datFile = v;
              return !v.empty();
          }}},
        {"--traffic",
         {"a file name",
          [](const std::string& v, CliOptions& o) {
              o.trafficFile = v;
              return !v.empty();
          }}},
        {"--stats",
         {"a file name",
          [](const std::string& v, CliOptions& o) {
              o.statsFile = v;
              return !v.empty();
          }}},
        {"--addresses",
         {"different addresses or ranges of them separated by commas, such as A,B,@ or A-E,@",
          [](const std::string& v, CliOptions& o) {
              // Read once the protocol is known.
              o.addressesText = v;
              return !v.empty();
          }}},
        {"--duration",
         {"a time such as 90s, 10m, 8h, or 90 (seconds)",
          [](const std::string& v, CliOptions& o) {
              o.duration = ParseDuration(v);
              return o.duration.has_value();
          }}},
        {"--answer-window",
         {"a time from 1 ms to 10 s such as 0.2, 0.35s or 200ms",
          [](const std::string& v, CliOptions& o) {
              o.answerWindow = ParseAnswerWindow(v);
              return o.answerWindow.has_value();
          }}},
        {"--sweeps",
         {"a whole number from 1 on",
          [](const std::string& v, CliOptions& o) {
              const auto sweeps = WholeNumber(v);
              if (sweeps && *sweeps > 0) {
                  o.sweeps = sweeps;
              }
              return sweeps && *sweeps > 0;
          }}},
        {"--echo",
         {"auto, on or off",
          [](const std::string& v, CliOptions& o) {
              const std::optional<EchoMode> mode = EchoModeNamed(v);
              o.echo = mode.value_or(o.echo);
              return mode.has_value();
          }}},
        {"--rs485-delays",
         {"BEFORE,AFTER in milliseconds, each 0 to 100, such as 0,2",
          [](const std::string& v, CliOptions& o) {
              o.rs485 = ParseRs485Delays(v);
              return o.rs485.has_value();
          }}},
        {"--value",
         {"a frame",
          [](const std::string& v, CliOptions& o) {
              o.value = v;
              return true;
          }}},
        {"--metrics",
         {"HOST:PORT, [IPv6]:PORT or a port alone (on 127.0.0.1), such as 127.0.0.1:9780",
          [](const std::string& v, CliOptions& o) {
              auto address = MetricsAddress(v);
              if (address.index() != 0) {
                  return false;
              }
              o.metricsAddress = std::get<0>(std::move(address));
              return true;
          }}},
        {"--json-status",
         {"a file name",
          [](const std::string& v, CliOptions& o) {
              o.jsonStatusFile = v;
              return !v.empty();
          }}},
        {"--mqtt",
         {"mqtt://HOST:PORT/TOPIC-PREFIX",
          [](const std::string& v, CliOptions& o) {
              // Read in full with the other options of the watch, for the reason of a refusal.
              o.mqttUrl = v;
              return !v.empty();
          }}},
        {"--name",
         {"a name of letters, digits, '-', '_' and '.', such as boiler-house",
          [](const std::string& v, CliOptions& o) {
              o.watchName = v;
              return !v.empty() && std::all_of(v.begin(), v.end(), [](char c) {
                  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '_' ||
                         c == '.' || c == '@';
              });
          }}},
        {"--keep-days",
         {"a whole number of days from 1 to 3650",
          [](const std::string& v, CliOptions& o) {
              const auto days = WholeNumber(v);
              if (days && *days >= 1 && *days <= 3650) {
                  o.keepDays = *days;
                  return true;
              }
              return false;
          }}},
        {"--targets",
         {"the folder of the watches' confs, such as /etc/line-tarvel/watch/",
          [](const std::string& v, CliOptions& o) {
              o.targetsFolder = v;
              return !v.empty();
          }}},
        {"--site",
         {"the site's name",
          [](const std::string& v, CliOptions& o) {
              o.site = v;
              return !v.empty();
          }}},
    };
    return options;
}

std::string ResolveProtocolValues(CliOptions& options) {
    const std::unique_ptr<const Protocol> protocol = ProtocolOf(options);
    const bool ascon = !protocol->ChecksFrames();
    if (!options.baudText.empty()) {
        const int baud = WholeNumber(options.baudText).value_or(0);
        if (ascon) {
            const auto index = EntryIndex(PortDialogEntries::Bauds(), options.baudText);
            if (!index) {
                return "invalid --baud \"" + options.baudText + "\": allowed are " +
                       Joined(PortDialogEntries::Bauds(), ", ");
            }
            options.line.baud = *index;
        } else {
            const std::vector<int>& speeds = protocol->Speeds();
            if (std::find(speeds.begin(), speeds.end(), baud) == speeds.end()) {
                return "invalid --baud \"" + options.baudText + "\": with --protocol " +
                       std::string(protocol->CommandName()) + " allowed are " +
                       JoinedNumbers(speeds);
            }
            options.baudRate = baud;
        }
    }
    if (!options.addressesText.empty()) {
        const auto stations = ReadStations(options.addressesText, *protocol);
        if (!stations) {
            const Station first = protocol->Stations().front();
            const Station last = protocol->Stations().back();
            return "invalid --addresses \"" + options.addressesText + "\": allowed are " +
                   (ascon ? ValueOptions().at("--addresses").allowed
                          : "different addresses from " + protocol->StationText(first) + " to " +
                                protocol->StationText(last) +
                                " or ranges of them separated by commas, such as 1-10,17");
        }
        options.addresses = *stations;
    }
    return {};
}

}  // namespace tarvel
