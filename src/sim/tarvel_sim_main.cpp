// SPDX-License-Identifier: GPL-3.0-or-later
// Runs a simulated line (the built-in one, or one described in a file) on a pseudo-terminal
// until interrupted, so that the program (with --port COM1=DEVICE) or any other serial tool can
// be tried against it. With --master a master polls the line itself, for trying a listener.

#include <pthread.h>

#include <charconv>
#include <csignal>
#include <ctime>
#include <iostream>
#include <map>
#include <optional>
#include <string>

#include "core/Version.h"
#include "protocol/Protocols.h"
#include "sim/PtyBusHost.h"
#include "sim/SimulatedLineFile.h"

namespace {

const char kUsage[] =
    "Usage: line-tarvel-sim [--line FILE | --protocol NAME] [--echo] [LINE-NOISE]\n"
    "       line-tarvel-sim --master [--line FILE | --protocol NAME] [--baud N]\n"
    "                       [--parity none|even|odd] [LINE-NOISE]\n"
    "       line-tarvel-sim --help | --version\n"
    "\n"
    "Prints the device of a simulated line and answers on it until interrupted:\n"
    "the built-in line (controllers A, B, E healthy, C silent, D noisy), or with\n"
    "--line the line that FILE describes in JSON (controllers with their addresses,\n"
    "speeds, framing, delays, faults and noise; see the README, \"Simulated lines\n"
    "described in a file\"). LINE-NOISE is the chance, 0 to 1, that a character is\n"
    "corrupted; given, it stands instead of the file's \"lineNoise\" (0 unless\n"
    "given).\n"
    "\n"
    "--protocol modbus-rtu, jbus-rtu, modbus-ascii or jbus-ascii makes the built-in\n"
    "line speak that protocol, its controllers at addresses 1 to 5 (1, 2, 5 healthy,\n"
    "3 silent, 4 noisy); a FILE says its protocol itself (\"protocol\", Ascon unless\n"
    "given).\n"
    "\n"
    "--echo makes the adapter give back every character sent to the device, as an\n"
    "RS-485 adapter that keeps its receiver on while it sends; the line echoes when\n"
    "--echo or the file's \"echo\" says so.\n"
    "\n"
    "With --master, or a file with a \"master\", the line has a master of its own:\n"
    "it polls the controllers in turn with read requests and every seventh time\n"
    "writes a value (or as the file's \"master\" says), and both directions appear\n"
    "on the device; what is sent to the device is ignored, so --echo goes without\n"
    "it. --baud (150 to 9600) and --parity (7 data bits with parity, 8 without) set\n"
    "the master's line, over what the file's \"master\" says; 9600 and none unless\n"
    "given either way. On a Modbus or JBus line --baud is 1200 to 115200 and the\n"
    "characters always have 8 data bits. When interrupted it prints what it did for\n"
    "each controller.\n"
    "\n"
    "Exit status: 0 when interrupted, 1 without a pseudo-terminal, 2 a usage error\n"
    "or a line description that cannot be read or is wrong.\n";

// A chance from 0 to 1 written with a decimal point, whatever the locale.
std::optional<double> Chance(const std::string& text) {
    double value = 0.0;
    const char* end = text.data() + text.size();
    const auto [stop, failure] = std::from_chars(text.data(), end, value);
    if (text.empty() || failure != std::errc() || stop != end || !(value >= 0.0 && value <= 1.0)) {
        return std::nullopt;
    }
    return value;
}

std::optional<int> Baud(const std::string& text, int protocol) {
    for (const int baud : tarvel::SimulatedLineSpeeds(protocol)) {
        if (text == std::to_string(baud)) {
            return baud;
        }
    }
    return std::nullopt;
}

std::optional<tarvel::Parity> ParityNamed(const std::string& text) {
    if (text == "none") {
        return tarvel::Parity::None;
    }
    if (text == "even") {
        return tarvel::Parity::Even;
    }
    if (text == "odd") {
        return tarvel::Parity::Odd;
    }
    return std::nullopt;
}

int UsageError(const std::string& message) {
    std::cerr << "line-tarvel-sim: " << message << "\n\n" << kUsage;
    return 2;
}

// What the master did for one controller.
struct Tally {
    long long requests = 0;
    long long writes = 0;
    // Ascon: five characters, the last a carriage return; Modbus: a good answer, an exception
    // included.
    long long good = 0;
    long long other = 0;
    long long none = 0;
};

// The stations in their order: by the length of their text first, so that 9 comes before 10.
using Tallies = std::map<std::pair<std::size_t, std::string>, Tally>;

void Count(Tallies& tallies, const std::vector<tarvel::MasterPoll>& polls) {
    for (const tarvel::MasterPoll& poll : polls) {
        Tally& tally = tallies[{poll.address.size(), poll.address}];
        ++tally.requests;
        tally.writes += poll.write ? 1 : 0;
        const bool checked = poll.protocol != nullptr && poll.protocol->ChecksFrames();
        if (poll.broadcast) {
            continue;
        }
        if (poll.answer.empty()) {
            ++tally.none;
        } else if (checked ? tarvel::CycleVerdictOf(poll) == tarvel::ExchangeVerdict::Good
                           : poll.answer.size() == 5 && poll.answer.back() == '\r') {
            ++tally.good;
        } else {
            ++tally.other;
        }
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    using namespace tarvel;
    double noise = 0.0;
    bool master = false;
    bool echo = false;
    bool noiseGiven = false;
    std::optional<std::string> lineFile;
    std::optional<std::string> protocolName;
    std::optional<std::string> baudText;
    std::optional<int> baud;
    std::optional<Parity> parity;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::cout << kUsage;
            return 0;
        }
        if (argument == "--version") {
            std::cout << "line-tarvel-sim " << kVersion << "\n";
            return 0;
        }
        if (argument == "--master") {
            master = true;
            continue;
        }
        if (argument == "--echo") {
            echo = true;
            continue;
        }
        std::string value;
        std::string name = argument;
        if (const auto equals = argument.find('=');
            argument.starts_with("--") && equals != std::string::npos) {
            name = argument.substr(0, equals);
            value = argument.substr(equals + 1);
        } else if (argument == "--baud" || argument == "--parity" || argument == "--line" ||
                   argument == "--protocol") {
            if (i + 1 == argc) {
                return UsageError(argument + " needs a value");
            }
            value = argv[++i];
        }
        if (name == "--line") {
            if (lineFile) {
                return UsageError("one --line at most");
            }
            if (value.empty()) {
                return UsageError("--line needs the name of a line description file");
            }
            lineFile = value;
        } else if (name == "--protocol") {
            if (!ProtocolIndexNamed(value)) {
                std::string names;
                for (const std::string& known : ProtocolCommandNames()) {
                    names += (names.empty() ? "" : ", ") + known;
                }
                return UsageError("invalid protocol \"" + value + "\": allowed is " + names);
            }
            protocolName = value;
        } else if (name == "--baud") {
            // The speeds are the line's protocol's: known once the line is.
            baudText = value;
        } else if (name == "--parity") {
            parity = ParityNamed(value);
            if (!parity) {
                return UsageError("invalid parity \"" + value + "\": allowed is none, even, odd");
            }
        } else if (argument.starts_with("--")) {
            return UsageError("unknown option \"" + argument + "\"");
        } else {
            const auto chance = Chance(argument);
            if (noiseGiven) {
                return UsageError("one line noise at most");
            }
            if (!chance) {
                return UsageError("invalid line noise \"" + argument + "\": allowed is 0 to 1");
            }
            noise = *chance;
            noiseGiven = true;
        }
    }
    if (lineFile && protocolName) {
        return UsageError("--protocol goes without --line: the file says its protocol");
    }
    SimulatedLine line = BuiltInLine(protocolName ? *ProtocolIndexNamed(*protocolName) : 0);
    if (lineFile) {
        auto read = ReadSimulatedLineFile(*lineFile);
        if (const auto* error = std::get_if<std::string>(&read)) {
            std::cerr << "line-tarvel-sim: " << *error << "\n";
            return 2;
        }
        line = std::get<SimulatedLine>(std::move(read));
    }
    if (baudText) {
        baud = Baud(*baudText, line.protocol);
        if (!baud) {
            return UsageError("invalid speed \"" + *baudText + "\": allowed is " +
                              (line.protocol == 0 ? "150 to 9600" : "1200 to 115200"));
        }
    }
    if (noiseGiven) {
        line.lineNoise = noise;
    }
    line.echo = line.echo || echo;
    // A file's master makes the line one that is driven; --master without one brings the
    // default master.
    master = master || line.master.has_value();
    if (!master && (baud || parity)) {
        return UsageError("--baud and --parity set the master's line: they need --master");
    }
    if (master && echo) {
        return UsageError("--echo goes without --master: the master's line ignores what is sent");
    }
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    std::string error;
    std::unique_ptr<PtyBusHost> host;
    if (master) {
        SimulatedLineMaster polling = line.master.value_or(SimulatedLineMaster{});
        if (baud) {
            polling.settings.baud = *baud;
        }
        if (parity) {
            polling.settings.parity = *parity;
            polling.settings.dataBits =
                ProtocolAt(line.protocol)->DataBitsFor(*parity != Parity::None);
        }
        host = PtyBusHost::StartMaster(MasterOf(line, polling), error);
        if (lineFile) {
            std::cerr << "line-tarvel-sim: " << *lineFile << ": " << SimulatedLineSummary(line)
                      << "; its master polls at " << MasterSettingsText(polling) << "\n";
        }
    } else {
        host = PtyBusHost::Start(BusOf(line), error);
        if (lineFile) {
            std::cerr << "line-tarvel-sim: " << *lineFile << ": " << SimulatedLineSummary(line)
                      << "\n";
        }
    }
    if (!host) {
        std::cerr << "line-tarvel-sim: " << error << "\n";
        return 1;
    }
    std::cout << host->DevicePath() << std::endl;
    if (!master) {
        int signal = 0;
        sigwait(&stop, &signal);
        return 0;
    }
    // The log is folded into the tallies as it goes, so that a day of polling keeps its memory.
    Tallies tallies;
    const timespec second{1, 0};
    while (sigtimedwait(&stop, nullptr, &second) < 0) {
        Count(tallies, host->TakeMasterLog());
    }
    // The poll still on the wire is not counted: it is not in the log yet.
    Count(tallies, host->TakeMasterLog());
    host.reset();
    for (const auto& [key, tally] : tallies) {
        const std::string& address = key.second;
        if (line.protocol == 0) {
            std::cout << address << ": requests " << tally.requests << ", writes " << tally.writes
                      << ", answers of 5 characters " << tally.good << ", other answers "
                      << tally.other << ", without an answer " << tally.none << "\n";
        } else if (address == "0") {
            std::cout << "0: broadcast writes " << tally.requests << "\n";
        } else {
            std::cout << address << ": requests " << tally.requests << ", writes " << tally.writes
                      << ", good answers " << tally.good << ", other answers " << tally.other
                      << ", without an answer " << tally.none << "\n";
        }
    }
    return 0;
}
