// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CliOptions.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <system_error>

#include "cli/CliValues.h"
#include "core/DeviceTable.h"
#include "core/NumberText.h"
#include "protocol/Protocols.h"
#include "watch/MqttPublisher.h"

namespace tarvel {
namespace {

const std::map<std::string, CliCommand>& Commands() {
    static const std::map<std::string, CliCommand> commands{
        {"scan", CliCommand::Scan},         {"test", CliCommand::Test},
        {"analyse", CliCommand::Analyse},   {"analyze", CliCommand::Analyse},
        {"send", CliCommand::Send},         {"listen", CliCommand::Listen},
        {"counters", CliCommand::Counters}, {"watch", CliCommand::Watch}};
    return commands;
}

// The options without a value, and what each sets.
const std::map<std::string, bool CliOptions::*>& Flags() {
    static const std::map<std::string, bool CliOptions::*> flags{
        {"--help", &CliOptions::help},
        {"-h", &CliOptions::help},
        {"--version", &CliOptions::version},
        {"--list-ports", &CliOptions::listPorts},
        {"--json", &CliOptions::json},
        {"--simulate", &CliOptions::simulate},
        {"--all-settings", &CliOptions::allSettings},
        {"--clear", &CliOptions::clear},
        {"--listen", &CliOptions::listen}};
    return flags;
}

// The options each command takes; --help and --version go with any. Any other is refused, so
// that a misplaced option cannot pass for one that had an effect.
const std::map<CliCommand, std::vector<std::string>>& OptionsTaken() {
    static const std::vector<std::string> line{
        "--port",     "--baud",  "--parity",       "--data-bits", "--stop-bits", "--retry",
        "--simulate", "--rs485", "--rs485-delays", "--echo",      "--protocol"};
    const auto without = [](const std::string& option, std::vector<std::string> options) {
        options.erase(std::remove(options.begin(), options.end(), option), options.end());
        return options;
    };
    const auto with = [](std::vector<std::string> options) {
        options.insert(options.end(), line.begin(), line.end());
        return options;
    };
    static const std::map<CliCommand, std::vector<std::string>> taken{
        {CliCommand::Scan, with({"--cfg", "--addresses", "--answer-window", "--register", "--count",
                                 "--traffic", "--stats", "--json", "--all-settings"})},
        {CliCommand::Test,
         with({"--cfg", "--addresses", "--answer-window", "--register", "--count", "--duration",
               "--sweeps", "--lst", "--dat", "--traffic", "--stats", "--json"})},
        {CliCommand::Analyse, {"--dat", "--json"}},
        {CliCommand::Send, with({"--value", "--hex"})},
        {CliCommand::Counters, with({"--addresses", "--answer-window", "--clear", "--json"})},
        // Listening sends nothing, so it makes no retries either.
        {CliCommand::Listen, without("--retry", with({"--duration", "--answer-window", "--traffic",
                                                      "--stats", "--json"}))},
        {CliCommand::Watch,
         with({"--cfg", "--addresses", "--listen", "--answer-window", "--register", "--count",
               "--traffic", "--stats", "--json-status", "--metrics", "--mqtt", "--name",
               "--keep-days", "--targets", "--site"})},
        // What COM1 to COM4 stand for, with the assignments of --port.
        {CliCommand::ListPorts, {"--port"}},
    };
    return taken;
}

// Whether two names reach one file: "x.lst" and "./x.lst", a folder's name and its way back,
// a symbolic link and where it points, two hard links to one file.
bool SameFile(const std::string& one, const std::string& other) {
    namespace fs = std::filesystem;
    if (one == other) {
        return true;
    }
    std::error_code error;
    const auto resolved = [&error](const std::string& name) {
        // The part that exists is followed through its links; the rest is taken as written.
        fs::path path = fs::weakly_canonical(fs::absolute(name, error), error);
        return error ? fs::absolute(name, error).lexically_normal() : path;
    };
    if (resolved(one) == resolved(other)) {
        return true;
    }
    return fs::exists(one, error) && fs::exists(other, error) && fs::equivalent(one, other, error);
}

// What the options' protocol does not go with; empty when all is well.
std::string ProtocolRefusal(const CliOptions& options, const std::vector<std::string>& given) {
    const std::unique_ptr<const Protocol> protocol = ProtocolOf(options);
    const auto wasGiven = [&given](const char* option) {
        return std::find(given.begin(), given.end(), option) != given.end();
    };
    if (options.dataBits > 0 && protocol->Verdicts() != VerdictFamily::ModbusAscii) {
        return "--data-bits goes with the ASCII framings (--protocol modbus-ascii or "
               "jbus-ascii); the other protocols pair the data bits with the parity";
    }
    if (!protocol->ChecksFrames()) {
        if (options.command == CliCommand::Counters) {
            return "counters reads what Modbus controllers count: it goes with --protocol "
                   "modbus-rtu, jbus-rtu, modbus-ascii or jbus-ascii";
        }
        if (options.requestChosen) {
            return "--register and --count go with the Modbus protocols (--protocol "
                   "modbus-rtu, jbus-rtu, modbus-ascii or jbus-ascii)";
        }
        return {};
    }
    const std::string named = " with --protocol " + std::string(protocol->CommandName());
    // The files of the windows hold Ascon addresses, one character each.
    for (const char* option : {"--cfg", "--lst", "--dat"}) {
        if (wasGiven(option)) {
            return std::string(option) + " holds Ascon addresses only; " + named.substr(1) +
                   " use --traffic, --stats or --json";
        }
    }
    if (options.command == CliCommand::Send && !options.hexFrame) {
        return "send" + named +
               " takes its frame in hexadecimal, without the CRC or LRC: --hex \"01 03 "
               "00 00 00 01\"";
    }
    if (wasGiven("--value")) {
        return "send" + named + " takes one frame: no --value";
    }
    return {};
}

// What a watch's options do not go together with; empty when all is well.
std::string WatchRefusal(const CliOptions& options, const std::vector<std::string>& given) {
    const auto wasGiven = [&given](const char* option) {
        return std::find(given.begin(), given.end(), option) != given.end();
    };
    if (!options.targetsFolder.empty()) {
        for (const std::string& option : given) {
            if (option != "--targets" && option != "--site") {
                return "watch --targets prints the Prometheus targets of the watches' confs and "
                       "takes only --site besides: not " +
                       option;
            }
        }
        return {};
    }
    if (wasGiven("--site")) {
        return "--site goes with --targets";
    }
    if (options.metricsAddress.empty()) {
        return "watch needs --metrics HOST:PORT, where Prometheus scrapes it (such as "
               "127.0.0.1:9780)";
    }
    const int sources = (options.cfgFile.empty() ? 0 : 1) +
                        (options.addressesText.empty() ? 0 : 1) + (options.listen ? 1 : 0);
    if (sources != 1) {
        return "watch takes one of --addresses LIST, --cfg FILE and --listen";
    }
    if (options.listen && wasGiven("--retry")) {
        return "watch --listen sends nothing, so it makes no retries: no --retry";
    }
    if (!options.mqttUrl.empty()) {
        if (const auto read = ParseMqttUrl(options.mqttUrl); read.index() == 1) {
            return std::get<1>(read);
        }
    }
    if (options.addresses.size() > static_cast<std::size_t>(kMaxControllers)) {
        return "watch asks at most " + std::to_string(kMaxControllers) +
               " controllers, as the device table holds";
    }
    return {};
}

}  // namespace

void ApplyLineOptions(const CliOptions& options, Primo& primo) {
    ApplyPortChoices(options.line, primo);
    if (options.baudRate > 0) {
        primo.BaudText = SignedNumberText(options.baudRate);
    }
    const std::unique_ptr<const Protocol> protocol = ProtocolOf(options);
    primo.DataBitsText = std::to_string(
        options.dataBits > 0 ? options.dataBits : protocol->DataBitsFor(primo.ParityText != "N"));
}

std::unique_ptr<const Protocol> ProtocolOf(const CliOptions& options) {
    std::unique_ptr<const Protocol> protocol = MakeProtocol(options.line.protocol, options.request);
    return protocol ? std::move(protocol) : MakeProtocol(0, options.request);
}

CliOptions ParseCliArguments(const std::vector<std::string>& arguments) {
    CliOptions options;
    const std::map<std::string, ValueOption>& valueOptions = ValueOptions();
    std::vector<std::string> positional;
    std::vector<std::string> given;  // the options, as named here
    // The first mistake is the one told; reading goes on, for a --help or --version after it.
    const auto refuse = [&options](std::string message) {
        if (options.error.empty()) {
            options.error = std::move(message);
        }
    };
    bool optionsEnded = false;  // after "--", a frame may begin with "-"
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string argument = arguments[i];
        if (optionsEnded || argument == "--") {
            if (optionsEnded) {
                positional.push_back(argument);
            }
            optionsEnded = true;
            continue;
        }
        std::optional<std::string> attached;
        if (argument.rfind("--", 0) == 0) {
            if (const std::size_t equals = argument.find('='); equals != std::string::npos) {
                attached = argument.substr(equals + 1);
                argument.resize(equals);
            }
        }
        const auto flag = Flags().find(argument);
        const auto valueOption = valueOptions.find(argument);
        if (argument == "--rs485") {
            if (attached) {
                refuse(argument + " takes no value");
            }
            // Beside --rs485-delays, in either order, the delays stay.
            options.rs485 = options.rs485.value_or(Rs485Mode{});
            given.push_back(argument);
        } else if (argument == "--simulate") {
            // Commands take operands (send's frame), so only a word that names a JSON file is
            // taken for the description; --simulate=FILE takes any name.
            if (attached) {
                if (attached->empty()) {
                    refuse("--simulate= needs the name of a line description file");
                }
                options.simulateFile = *attached;
            } else if (i + 1 < arguments.size() && arguments[i + 1].size() > 5 &&
                       arguments[i + 1].ends_with(".json")) {
                options.simulateFile = arguments[++i];
            }
            options.simulate = true;
            given.push_back(argument);
        } else if (flag != Flags().end()) {
            if (attached) {
                refuse(argument + " takes no value");
            }
            options.*(flag->second) = true;
            given.push_back(argument == "-h" ? "--help" : argument);
        } else if (valueOption != valueOptions.end()) {
            if (!attached && i + 1 == arguments.size()) {
                refuse(argument + " needs a value: " + valueOption->second.allowed);
                break;
            }
            const std::string value = attached ? *attached : arguments[++i];
            if (!valueOption->second.read(value, options)) {
                refuse("invalid " + argument + " \"" + value + "\": allowed are " +
                       valueOption->second.allowed);
            }
            given.push_back(argument);
        } else if (argument.size() > 1 && argument[0] == '-') {
            refuse("unknown option \"" + argument + "\"; see --help");
        } else {
            positional.push_back(arguments[i]);
        }
    }
    // What a confused user types to learn more goes before anything wrong.
    if (!positional.empty()) {
        if (const auto command = Commands().find(positional[0]); command != Commands().end()) {
            options.command = command->second;
        }
    }
    if (options.help || options.version) {
        options.error.clear();
        return options;
    }
    if (!options.error.empty()) {
        return options;
    }
    if (!positional.empty() && options.command == CliCommand::None) {
        options.error = "unknown command \"" + positional[0] +
                        "\": allowed are scan, test, listen, analyse, send, counters, watch";
        return options;
    }
    if (options.listPorts) {
        if (options.command != CliCommand::None) {
            options.error = "--list-ports goes without a command";
            return options;
        }
        options.command = CliCommand::ListPorts;
    }
    if (options.command == CliCommand::None) {
        options.error = "no command given: scan, test, listen, analyse or send; see --help";
        return options;
    }
    const std::vector<std::string>& taken = OptionsTaken().at(options.command);
    for (const std::string& option : given) {
        if (option != "--list-ports" &&
            std::find(taken.begin(), taken.end(), option) == taken.end()) {
            options.error = CommandName(options.command) + " does not take " + option;
            return options;
        }
    }

    const std::size_t operands = positional.empty() ? 0 : positional.size() - 1;
    switch (options.command) {
        case CliCommand::Analyse:
            if (operands != 1) {
                options.error = "analyse takes one error list file (FILE.lst)";
                return options;
            }
            options.listFile = positional[1];
            break;
        case CliCommand::Send:
            if (options.hexFrame) {
                if (operands != 0) {
                    options.error = "send takes its frame either in hexadecimal with --hex or as "
                                    "text, not both";
                    return options;
                }
                options.frame = *options.hexFrame;
                break;
            }
            if (operands != 1) {
                options.error = "send takes one frame, such as 'A?X  '";
                return options;
            }
            options.frame = positional[1];
            break;
        case CliCommand::Scan:
        case CliCommand::Test:
        case CliCommand::Listen:
        case CliCommand::Counters:
        case CliCommand::Watch:
            if (operands != 0) {
                options.error = "unexpected argument \"" + positional[1] + "\"; see --help";
                return options;
            }
            break;
        case CliCommand::ListPorts:
        case CliCommand::None: break;
    }
    if (options.allSettings) {
        // The search sets speed and parity itself, asks once and confirms each find; it keeps
        // no monitor's statistics or traffic of its own.
        for (const char* option : {"--baud", "--parity", "--data-bits", "--stop-bits", "--retry",
                                   "--traffic", "--stats"}) {
            if (std::find(given.begin(), given.end(), option) != given.end()) {
                options.error = std::string("scan --all-settings does not take ") + option;
                return options;
            }
        }
    }
    if (std::string refusal = ResolveProtocolValues(options); !refusal.empty()) {
        options.error = std::move(refusal);
        return options;
    }
    if (const std::string refusal = ProtocolRefusal(options, given); !refusal.empty()) {
        options.error = refusal;
        return options;
    }
    if (options.command == CliCommand::Counters && options.addresses.empty()) {
        options.error = "counters needs --addresses, such as 1-10: the controllers to read";
        return options;
    }
    if (options.command == CliCommand::Watch) {
        if (std::string refusal = WatchRefusal(options, given); !refusal.empty()) {
            options.error = std::move(refusal);
            return options;
        }
    }
    if (options.command == CliCommand::Test) {
        if (!options.cfgFile.empty() && !options.addresses.empty()) {
            options.error = "test takes --cfg FILE or --addresses A,B,..., not both";
            return options;
        }
        if (options.cfgFile.empty() && options.addresses.empty()) {
            options.error = "test needs either --cfg FILE or --addresses A,B,...";
            return options;
        }
        if (options.addresses.size() > static_cast<std::size_t>(kMaxControllers)) {
            options.error = "test asks at most " + std::to_string(kMaxControllers) +
                            " controllers, as the device table holds";
            return options;
        }
        if (options.duration && options.sweeps) {
            options.error = "test takes --duration or --sweeps, not both";
            return options;
        }
    }
    // Two outputs in one file would overwrite each other, and a test's own line configuration
    // would be lost under its error list.
    const std::vector<std::pair<std::string, const std::string*>> files{
        {"--cfg", &options.cfgFile},     {"--lst", &options.lstFile},
        {"--dat", &options.datFile},     {"--traffic", &options.trafficFile},
        {"--stats", &options.statsFile}, {"--json-status", &options.jsonStatusFile}};
    for (std::size_t i = 0; i < files.size(); ++i) {
        for (std::size_t j = i + 1; j < files.size(); ++j) {
            if (!files[i].second->empty() && !files[j].second->empty() &&
                SameFile(*files[i].second, *files[j].second)) {
                options.error = files[i].first + " and " + files[j].first + " name the same file";
                return options;
            }
        }
    }
    if (options.simulate && std::find(given.begin(), given.end(), "--port") != given.end()) {
        options.error = "--simulate and --port exclude each other";
        return options;
    }
    if (options.simulate && options.rs485) {
        // The simulated line is a pseudo-terminal, which has no RS-485 mode to switch to.
        options.error = "--simulate and --rs485 exclude each other";
        return options;
    }
    return options;
}

std::string CommandName(CliCommand command) {
    switch (command) {
        case CliCommand::Scan: return "scan";
        case CliCommand::Test: return "test";
        case CliCommand::Analyse: return "analyse";
        case CliCommand::Send: return "send";
        case CliCommand::Listen: return "listen";
        case CliCommand::Counters: return "counters";
        case CliCommand::Watch: return "watch";
        case CliCommand::ListPorts: return "--list-ports";
        case CliCommand::None: break;
    }
    return "";
}
}  // namespace tarvel
