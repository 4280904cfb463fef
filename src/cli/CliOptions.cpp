// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CliOptions.h"

#include <algorithm>
#include <charconv>
#include <map>

#include "core/DeviceTable.h"

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

bool IsAddress(char c) { return AddressIndexOf(c) >= 0 && AddressIndexOf(c) < kAddressCount; }

// "A,C,E", "A-E,@": single addresses and ranges in the order of the address rule.
std::optional<std::vector<char>> ReadAddresses(const std::string& text) {
    std::vector<char> addresses;
    std::size_t from = 0;
    while (from <= text.size()) {
        const std::size_t comma = std::min(text.find(',', from), text.size());
        const std::string item = text.substr(from, comma - from);
        std::vector<char> named;
        if (item.size() == 1 && IsAddress(item[0])) {
            named.push_back(item[0]);
        } else if (item.size() == 3 && item[1] == '-' && IsAddress(item[0]) && IsAddress(item[2]) &&
                   AddressIndexOf(item[0]) < AddressIndexOf(item[2])) {
            for (int index = AddressIndexOf(item[0]); index <= AddressIndexOf(item[2]); ++index) {
                named.push_back(AddressCharacter(index));
            }
        } else {
            return std::nullopt;
        }
        for (const char address : named) {
            // The window refuses an address used twice: the cycle would ask that controller
            // twice a sweep and count its exchanges twice.
            if (std::find(addresses.begin(), addresses.end(), address) != addresses.end()) {
                return std::nullopt;
            }
            addresses.push_back(address);
        }
        from = comma + 1;
    }
    if (addresses.size() > static_cast<std::size_t>(kMaxControllers)) {
        return std::nullopt;
    }
    return addresses;
}

const std::map<std::string, CliCommand>& Commands() {
    static const std::map<std::string, CliCommand> commands{
        {"scan", CliCommand::Scan},       {"test", CliCommand::Test},
        {"analyse", CliCommand::Analyse}, {"analyze", CliCommand::Analyse},
        {"send", CliCommand::Send},       {"listen", CliCommand::Listen}};
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
        {"--all-settings", &CliOptions::allSettings}};
    return flags;
}

// The options each command takes; --help and --version go with any. Any other is refused, so
// that a misplaced option cannot pass for one that had an effect.
const std::map<CliCommand, std::vector<std::string>>& OptionsTaken() {
    static const std::vector<std::string> line{"--port",      "--baud",         "--parity",
                                               "--stop-bits", "--retry",        "--simulate",
                                               "--rs485",     "--rs485-delays", "--echo"};
    const auto without = [](const std::string& option, std::vector<std::string> options) {
        options.erase(std::remove(options.begin(), options.end(), option), options.end());
        return options;
    };
    const auto with = [](std::vector<std::string> options) {
        options.insert(options.end(), line.begin(), line.end());
        return options;
    };
    static const std::map<CliCommand, std::vector<std::string>> taken{
        {CliCommand::Scan, with({"--cfg", "--traffic", "--stats", "--json", "--all-settings"})},
        {CliCommand::Test, with({"--cfg", "--addresses", "--duration", "--sweeps", "--lst", "--dat",
                                 "--traffic", "--stats", "--json"})},
        {CliCommand::Analyse, {"--dat", "--json"}},
        {CliCommand::Send, with({"--value"})},
        // Listening sends nothing, so it makes no retries either.
        {CliCommand::Listen, without("--retry", with({"--duration", "--answer-window", "--traffic",
                                                      "--stats", "--json"}))},
        // What COM1 to COM4 stand for, with the assignments of --port.
        {CliCommand::ListPorts, {"--port"}},
    };
    return taken;
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

CliOptions ParseCliArguments(const std::vector<std::string>& arguments) {
    CliOptions options;
    // Options that take a value: what to do with it, and what the message says they take.
    struct ValueOption {
        std::string allowed;
        bool (*read)(const std::string& value, CliOptions& options);
    };
    static const std::map<std::string, ValueOption> valueOptions{
        {"--port",
         {"a device such as /dev/ttyUSB0, COM1 to COM4, or COMn=DEVICE with n from 1 to 4",
          [](const std::string& v, CliOptions& o) { return ReadPort(v, o); }}},
        {"--baud",
         {Joined(PortDialogEntries::Bauds(), ", "),
          [](const std::string& v, CliOptions& o) {
              const auto index = EntryIndex(PortDialogEntries::Bauds(), v);
              o.line.baud = index.value_or(o.line.baud);
              return index.has_value();
          }}},
        {"--parity",
         {"none, even or odd",
          [](const std::string& v, CliOptions& o) {
              const auto index = EntryIndex(PortDialogEntries::Parities(), v);
              o.line.parity = index.value_or(o.line.parity);
              return index.has_value();
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
              const auto addresses = ReadAddresses(v);
              o.addresses = addresses.value_or(std::vector<char>{});
              return addresses.has_value();
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
    };

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
                        "\": allowed are scan, test, listen, analyse, send";
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
            if (operands != 1) {
                options.error = "send takes one frame, such as 'A?X  '";
                return options;
            }
            options.frame = positional[1];
            break;
        case CliCommand::Scan:
        case CliCommand::Test:
        case CliCommand::Listen:
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
        for (const char* option :
             {"--baud", "--parity", "--stop-bits", "--retry", "--traffic", "--stats"}) {
            if (std::find(given.begin(), given.end(), option) != given.end()) {
                options.error = std::string("scan --all-settings does not take ") + option;
                return options;
            }
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
        if (options.duration && options.sweeps) {
            options.error = "test takes --duration or --sweeps, not both";
            return options;
        }
    }
    // Two outputs in one file would overwrite each other, and a test's own line configuration
    // would be lost under its error list.
    const std::vector<std::pair<std::string, const std::string*>> files{
        {"--cfg", &options.cfgFile},
        {"--lst", &options.lstFile},
        {"--dat", &options.datFile},
        {"--traffic", &options.trafficFile},
        {"--stats", &options.statsFile}};
    for (std::size_t i = 0; i < files.size(); ++i) {
        for (std::size_t j = i + 1; j < files.size(); ++j) {
            if (!files[i].second->empty() && *files[i].second == *files[j].second) {
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
        case CliCommand::ListPorts: return "--list-ports";
        case CliCommand::None: break;
    }
    return "";
}

namespace {

const char kLineOptions[] =
    "Line options (scan, test, listen, send):\n"
    "  --port DEVICE         a device such as /dev/ttyUSB0, or COM1 to COM4 as the\n"
    "                        window program maps them (see --list-ports); COMn=DEVICE\n"
    "                        makes COMn stand for DEVICE. Without --port: COM1, the\n"
    "                        host's first serial port\n"
    "  --baud N              150, 300, 600, 1200, 2400, 4800 or 9600 (4800)\n"
    "  --parity P            none, even or odd: 7 data bits with parity, 8 without\n"
    "                        (none)\n"
    "  --stop-bits N         1 or 2 (1)\n"
    "  --retry N             further attempts after a failed exchange, 0 to 4 (2)\n"
    "  --simulate            the built-in simulated line instead of a port: A, B, E\n"
    "                        healthy, C silent, D noisy; not with --port or --rs485\n"
    "  --simulate FILE.json, --simulate=FILE\n"
    "                        the simulated line FILE describes (see the README); its\n"
    "                        \"master\", if any, is the master that listen hears\n"
    "  --rs485               open the port in its driver's RS-485 mode, RTS on while\n"
    "                        sending: for a built-in UART wired to a transceiver (a\n"
    "                        USB adapter switches by itself and needs none)\n"
    "  --rs485-delays BEFORE,AFTER\n"
    "                        the same, the transmitter on BEFORE ms ahead of the\n"
    "                        first character and AFTER ms past the last (0 to 100)\n"
    "  --echo auto|on|off    an adapter that gives back what it sends: found on the\n"
    "                        line (auto), or said to (on) or not to (off); its echo is\n"
    "                        taken off before answers are judged (auto)\n";

const char kProgressAndStop[] =
    "Progress goes to standard error when it is a terminal. Ctrl+C (or SIGTERM) stops\n"
    "after the exchange in progress; then the files are written and the report is\n"
    "printed. A second Ctrl+C or SIGTERM ends the program at once.\n";

const char kProgramUsage[] =
    "Usage: line-tarvel-cli COMMAND [OPTIONS]\n"
    "       line-tarvel-cli --list-ports [--port COMn=DEVICE]\n"
    "       line-tarvel-cli --help | -h | --version\n"
    "\n"
    "Diagnostics for an Ascon serial field bus of up to 64 controllers, without a\n"
    "window.\n"
    "\n"
    "Commands:\n"
    "  scan                  find the controllers on the line (addresses A to @)\n"
    "  test                  the test cycle over a line configuration\n"
    "  analyse FILE.lst      the analysis report of an error list (also \"analyze\")\n"
    "  listen                judge a line another master drives, sending nothing\n"
    "  send FRAME            one hand-typed request and its answer\n"
    "\n";

const char kOtherOptions[] =
    "Other options:\n"
    "  --json                print one JSON document instead of text (scan, test,\n"
    "                        listen, analyse)\n"
    "  --help, -h            this text; COMMAND --help tells more of a command\n"
    "  --version             the version\n"
    "  --list-ports          what COM1 to COM4 stand for on this host\n"
    "\n"
    "A value follows its option or is joined to it: --baud 9600 or --baud=9600.\n"
    "\"--\" ends the options, so that a frame starting with \"-\" can follow. A command\n"
    "refuses the options it does not take. --help and --version are answered whatever\n"
    "else the command line holds.\n"
    "\n"
    "Exit status: 0 all well, 1 the line showed failures, nothing was found or no\n"
    "exchange was made, 2 a usage error, 3 the port or a file failed.\n";

const char kEvidenceFiles[] =
    "Every file is checked before the line is opened: a file that cannot be written\n"
    "ends the program (status 3) before a byte is sent. While the command runs, each\n"
    "file holds what was done up to about a second ago, complete, so a run that is\n"
    "killed or loses its power leaves its evidence: the line configuration, the error\n"
    "list, the analysis report and the statistics are replaced whole (through a\n"
    "temporary file in the same folder), the traffic is appended as it happens.\n"
    "  --traffic FILE        every request and answer, as CSV\n"
    "  --stats FILE          the statistics of each controller, as CSV\n"
    "Each CSV row ends with its date and time (ISO 8601), the port and the settings.\n";

const char kScanUsage[] =
    "Usage: line-tarvel-cli scan [LINE OPTIONS] [--cfg FILE] [--traffic FILE]\n"
    "                            [--stats FILE] [--json]\n"
    "       line-tarvel-cli scan --all-settings [--port DEVICE] [--cfg FILE] [--json]\n"
    "\n"
    "Asks each of the 64 addresses A to @ in turn and prints one line per controller\n"
    "found, then the summary. --cfg FILE writes the controllers found as a line\n"
    "configuration, also when the scan was stopped.\n"
    "\n"
    "--all-settings asks the 64 addresses at every speed (9600 down to 150) with no,\n"
    "even and odd parity, one stop bit, and confirms each find with a second request;\n"
    "it prints the setting each controller answered at, and warns when they answer at\n"
    "different ones, naming the scan that reaches each. --cfg FILE then holds the\n"
    "controllers of the setting with the most (a line configuration has no settings).\n"
    "It takes no --baud, --parity, --stop-bits, --retry, --traffic or --stats. An\n"
    "empty line takes about 6 minutes.\n";

const char kScanStatus[] =
    "Exit status: 0 a controller was found, 1 none was found, 2 a usage error, 3 the\n"
    "port or a file failed.\n";

const char kTestUsage[] =
    "Usage: line-tarvel-cli test [LINE OPTIONS] (--cfg FILE | --addresses A,B,...)\n"
    "                            [--duration TIME | --sweeps N]\n"
    "                            [--lst FILE] [--dat FILE] [--traffic FILE]\n"
    "                            [--stats FILE] [--json]\n"
    "\n"
    "Runs the test cycle: every controller asked in turn, again and again, for TIME\n"
    "(90s, 10m, 8h, or 90 for seconds) or N sweeps, until Ctrl+C without either; the\n"
    "run stops by itself at 900 errors. --addresses names each controller once, and\n"
    "takes ranges: A-E,@. --lst writes the error list, --dat the analysis report.\n"
    "Prints the analysis report and the statistics of each controller.\n";

const char kTestStatus[] =
    "Exit status: 0 every exchange was good, 1 an exchange failed or none was made\n"
    "(stopped at once), 2 a usage error, 3 the port or a file failed.\n";

const char kAnalyseUsage[] =
    "Usage: line-tarvel-cli analyse FILE.lst [--dat FILE] [--json]\n"
    "\n"
    "Prints the analysis report of an error list; --dat FILE saves it. \"analyze\" is\n"
    "the same command. It uses no line.\n"
    "Exit status: 0 the report was made, 2 a usage error, 3 a file could not be read\n"
    "or written.\n";

const char kListenUsage[] =
    "Usage: line-tarvel-cli listen [LINE OPTIONS] [--duration TIME]\n"
    "                              [--answer-window TIME] [--traffic FILE]\n"
    "                              [--stats FILE] [--json]\n"
    "\n"
    "Listens to a line that the plant's own master drives, and never sends a byte:\n"
    "each request heard and its answer are judged as the test cycle judges its own,\n"
    "for TIME (90s, 10m, 8h) or until Ctrl+C. A request whose answer has not begun\n"
    "within the answer window (0.2 s, from its carriage return, unless\n"
    "--answer-window says otherwise), or that the next request follows first, had no\n"
    "answer; an answer without its carriage return is garbled. Prints the statistics\n"
    "of each controller, the master's poll cycle, and the line's load; says so when\n"
    "the line does not look like Ascon traffic at the speed and parity given.\n";

const char kListenFiles[] =
    "The files are checked before the port is opened: one that cannot be written ends\n"
    "the program (status 3). While it listens, --stats holds the statistics as they\n"
    "stood about a second ago, replaced whole, and --traffic every exchange heard,\n"
    "appended as it is judged; a listen that is killed leaves both complete. Each CSV\n"
    "row ends with its date and time (ISO 8601), the port, the settings and \"listen\".\n"
    "  --traffic FILE        every request and answer heard, as CSV\n"
    "  --stats FILE          the statistics of each controller, as CSV\n"
    "Progress goes to standard error when it is a terminal. Ctrl+C (or SIGTERM) ends\n"
    "the listening at once: nothing is waited for on a line the program does not\n"
    "drive; then the files are written and the report is printed.\n";

const char kListenStatus[] =
    "Exit status: 0 every request heard was answered well, 1 a request was not (or\n"
    "none was heard), 2 a usage error, 3 the port or a file failed.\n";

const char kSendUsage[] =
    "Usage: line-tarvel-cli send [LINE OPTIONS] [--value FRAME] [--] FRAME\n"
    "\n"
    "Sends FRAME with a carriage return (and the value frame 0.05 s later), waits\n"
    "0.3 s for a five-character answer and prints it, or what went wrong. Put \"--\"\n"
    "before a FRAME that starts with \"-\".\n";

const char kSendStatus[] =
    "Exit status: 0 an answer came, 1 none came, 2 a usage error, 3 the port failed.\n";

}  // namespace

std::string CliUsage() { return std::string(kProgramUsage) + kLineOptions + "\n" + kOtherOptions; }

std::string CommandUsage(CliCommand command) {
    switch (command) {
        case CliCommand::Scan:
            return std::string(kScanUsage) + "\n" + kEvidenceFiles + "\n" + kProgressAndStop +
                   "\n" + kLineOptions + "\n" + kScanStatus;
        case CliCommand::Test:
            return std::string(kTestUsage) + "\n" + kEvidenceFiles + "\n" + kProgressAndStop +
                   "\n" + kLineOptions + "\n" + kTestStatus;
        case CliCommand::Listen:
            return std::string(kListenUsage) + "\n" + kListenFiles + "\n" + kLineOptions +
                   "  (--retry: listening makes no retries)\n\n" + kListenStatus;
        case CliCommand::Analyse: return kAnalyseUsage;
        case CliCommand::Send:
            return std::string(kSendUsage) + "\n" + kLineOptions + "\n" + kSendStatus;
        case CliCommand::ListPorts:
        case CliCommand::None: break;
    }
    return CliUsage();
}

}  // namespace tarvel
