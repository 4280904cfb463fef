// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CommandLine.h"

#include "core/Version.h"

namespace tarvel {

Options ParseCommandLine(const std::vector<std::string>& arguments) {
    Options options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            options.help = true;
        } else if (argument == "--version") {
            options.version = true;
        } else if (argument == "--list-ports") {
            options.listPorts = true;
        } else if (argument == "--simulate" || argument.rfind("--simulate=", 0) == 0) {
            // The program takes no operands, so a word after --simulate can only be its file.
            std::string file;
            if (argument != "--simulate") {
                file = argument.substr(11);
                if (file.empty()) {
                    options.error = "--simulate= needs the name of a line description file";
                    return options;
                }
            } else if (i + 1 < arguments.size() && !arguments[i + 1].starts_with("-")) {
                file = arguments[++i];
            }
            if (options.simulate && file != options.simulateFile) {
                options.error = "one simulated line at most: --simulate is given twice";
                return options;
            }
            options.simulate = true;
            options.simulateFile = file;
        } else if (argument == "--echo" || argument.rfind("--echo=", 0) == 0) {
            if (argument == "--echo" && i + 1 == arguments.size()) {
                options.error = "--echo needs a value: auto, on or off";
                return options;
            }
            const std::string value = argument == "--echo" ? arguments[++i] : argument.substr(7);
            const std::optional<EchoMode> echo = EchoModeNamed(value);
            if (!echo) {
                options.error = "cannot read --echo \"" + value + "\"; it takes auto, on or off";
                return options;
            }
            options.echo = *echo;
        } else if (argument == "--rs485") {
            options.rs485 = options.rs485.value_or(Rs485Mode{});
        } else if (argument == "--rs485-delays" || argument.rfind("--rs485-delays=", 0) == 0) {
            if (argument == "--rs485-delays" && i + 1 == arguments.size()) {
                options.error = "--rs485-delays needs a value such as 0,2 (milliseconds)";
                return options;
            }
            const std::string value =
                argument == "--rs485-delays" ? arguments[++i] : argument.substr(15);
            options.rs485 = ParseRs485Delays(value);
            if (!options.rs485) {
                options.error = "cannot read the RS-485 delays \"" + value +
                                "\"; write them as BEFORE,AFTER in milliseconds, each 0 to 100";
                return options;
            }
        } else if (argument == "--port" || argument.rfind("--port=", 0) == 0) {
            std::string value;
            if (argument == "--port") {
                if (i + 1 == arguments.size()) {
                    options.error = "--port needs a value such as COM1=/dev/ttyUSB0";
                    return options;
                }
                value = arguments[++i];
            } else {
                value = argument.substr(7);
            }
            const auto assignment = ParsePortAssignment(value);
            if (!assignment) {
                options.error = "cannot read the port assignment \"" + value +
                                "\"; write it as COM1=/dev/ttyUSB0 (COM1 to COM4)";
                return options;
            }
            options.ports.push_back(*assignment);
        } else {
            options.error = "unknown argument \"" + argument + "\"";
            return options;
        }
    }
    return options;
}

std::string VersionText() { return std::string("Line Tarvel ") + kVersion; }

std::string UsageText(const std::string& program) {
    return "Usage: " + program +
           " [--simulate [FILE]] [--port COMn=DEVICE]... [--rs485]\n"
           "       [--rs485-delays BEFORE,AFTER] [--echo auto|on|off]\n"
           "\n"
           "Diagnostics for an Ascon serial field bus of up to 64 controllers.\n"
           "\n"
           "  --simulate             COM1 is a built-in simulated line of five controllers\n"
           "                         (A, B, E healthy, C silent, D noisy) on a pseudo-terminal\n"
           "  --simulate FILE, --simulate=FILE\n"
           "                         COM1 is the simulated line that FILE describes in JSON\n"
           "                         (see the README); with a \"master\" in it, a master of its\n"
           "                         own polls the line, for listening in the Line Monitor\n"
           "  --port COMn=DEVICE     let the port dialog's COMn (n = 1..4) open DEVICE,\n"
           "                         for example --port COM1=/dev/ttyUSB0; may be repeated\n"
           "  --rs485                open the port in its driver's RS-485 mode, RTS on while\n"
           "                         sending: for a built-in UART wired to a transceiver\n"
           "                         (a USB adapter switches by itself and needs none)\n"
           "  --rs485-delays BEFORE,AFTER\n"
           "                         the same, the transmitter on BEFORE ms ahead of the\n"
           "                         first character and AFTER ms past the last (0 to 100)\n"
           "  --echo auto|on|off     an adapter that gives back what it sends: found on the\n"
           "                         line (auto), or said to (on) or not to (off); its echo\n"
           "                         is taken off before answers are judged (auto)\n"
           "  --list-ports           show which device COM1 ... COM4 stand for, and end\n"
           "  --help                 show this text\n"
           "  --version              show the version\n"
           "\n"
           "Without --port, COM1 ... COM4 stand for the serial ports the host has: USB and ACM\n"
           "adapters first (in the order of their /dev/serial/by-id names), then built-in\n"
           "UARTs with hardware behind them.\n";
}

}  // namespace tarvel
