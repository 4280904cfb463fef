// SPDX-License-Identifier: GPL-3.0-or-later
// The texts of --help: the program's, and each command's.
#include "cli/CliOptions.h"

namespace tarvel {
namespace {

const char kLineOptions[] =
    "Line options (scan, test, listen, send, counters, watch):\n"
    "  --port DEVICE         a device such as /dev/ttyUSB0, or COM1 to COM4 as the\n"
    "                        window program maps them (see --list-ports); COMn=DEVICE\n"
    "                        makes COMn stand for DEVICE. Without --port: COM1, the\n"
    "                        host's first serial port\n"
    "  --protocol P          ascon, modbus-rtu, jbus-rtu, modbus-ascii or jbus-ascii\n"
    "                        (ascon)\n"
    "  --baud N              150, 300, 600, 1200, 2400, 4800 or 9600 (4800); for\n"
    "                        Modbus and JBus 1200 to 115200\n"
    "  --parity P            none, even or odd: for Ascon 7 data bits with parity, 8\n"
    "                        without; Modbus and JBus RTU always have 8, ASCII 7\n"
    "                        unless --data-bits says otherwise (none)\n"
    "  --data-bits N         7 or 8, for the ASCII framings only (7)\n"
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
    "Diagnostics for a serial field bus of up to 64 controllers, without a window:\n"
    "Ascon, Modbus and JBus, RTU and ASCII.\n"
    "\n"
    "Commands:\n"
    "  scan                  find the controllers on the line (addresses A to @)\n"
    "  test                  the test cycle over a line configuration\n"
    "  analyse FILE.lst      the analysis report of an error list (also \"analyze\")\n"
    "  listen                judge a line another master drives, sending nothing\n"
    "  send FRAME            one hand-typed request and its answer\n"
    "  counters              what each Modbus controller counted of its bus\n"
    "  watch                 watch a line without end, for Prometheus and MQTT\n"
    "\n"
    "Modbus and JBus (--protocol modbus-rtu, jbus-rtu, modbus-ascii or jbus-ascii):\n"
    "addresses are numbers, 1 to 247 (JBus 255), given as numbers and ranges:\n"
    "--addresses 1-10,17. The test request reads --count N holding registers (1) from\n"
    "--register R (0), the address as it goes on the wire: a Modbus document's\n"
    "register n is address n - 1, a JBus document gives the wire address. An\n"
    "exception answer proves the controller and the line, and is counted by its code.\n"
    "--cfg, --lst and --dat hold Ascon addresses only; --traffic, --stats and --json\n"
    "carry everything. The ASCII framings send each byte as two hexadecimal\n"
    "characters between ':' and CR LF, with an LRC; send --hex takes the bytes and\n"
    "makes the frame, and shows it as it went on the wire.\n"
    "\n";

const char kOtherOptions[] =
    "Other options:\n"
    "  --json                print one JSON document instead of text (scan, test,\n"
    "                        listen, analyse, counters)\n"
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
    "Usage: line-tarvel-cli scan [LINE OPTIONS] [--addresses LIST] [--cfg FILE]\n"
    "                            [--answer-window TIME] [--register R] [--count N]\n"
    "                            [--traffic FILE] [--stats FILE] [--json]\n"
    "       line-tarvel-cli scan --all-settings [--port DEVICE] [--cfg FILE] [--json]\n"
    "\n"
    "Asks each of the 64 addresses A to @ in turn (a Modbus scan 1 to 247, each for\n"
    "0.5 s), or those of --addresses, and prints one line per controller found, then\n"
    "the summary. --cfg FILE writes the controllers found as a line configuration,\n"
    "also when the scan was stopped. --answer-window TIME (0.3, 300ms) replaces the\n"
    "protocol's wait for each answer, from the request's write.\n"
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
    "                            [--duration TIME | --sweeps N] [--answer-window TIME]\n"
    "                            [--register R] [--count N]\n"
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
    "       line-tarvel-cli send [LINE OPTIONS] --hex \"01 03 00 00 00 02\"\n"
    "\n"
    "Sends FRAME with a carriage return (and the value frame 0.05 s later), waits\n"
    "0.3 s for a five-character answer and prints it, or what went wrong. Put \"--\"\n"
    "before a FRAME that starts with \"-\". --hex gives the frame's bytes instead; for\n"
    "Modbus and JBus it is the frame without its CRC, which is added: the frame sent\n"
    "is printed, then the answer in hexadecimal with what it says (the registers, or\n"
    "the exception and its name) and \"verdict: good\", or what went wrong and the\n"
    "bytes that did arrive, within 0.5 s. The answer to a function whose length is\n"
    "not known here is taken until the line falls silent. Address 0 is a broadcast,\n"
    "which no controller answers.\n";

const char kCountersUsage[] =
    "Usage: line-tarvel-cli counters --protocol P --addresses LIST [LINE OPTIONS]\n"
    "                                [--clear] [--answer-window TIME] [--json]\n"
    "\n"
    "Reads the counters each Modbus controller keeps of its bus from its own place on\n"
    "the cable (diagnostics function 8, sub-functions 0x0B to 0x12): the messages it\n"
    "saw, its CRC errors, its exceptions, the messages for it, those it did not\n"
    "answer, its NAKs, busy answers and character overruns. Prints one row per\n"
    "controller in address order, with the CRC errors per thousand bus messages, and\n"
    "marks the first controller whose rate rises above the line's median: taking the\n"
    "addresses in the order of the cable, noise enters near it. A controller that\n"
    "refuses the function is shown as not supporting it, not as a failure.\n"
    "--clear sets every counter of each controller back to zero first (the option is\n"
    "the confirmation): a later call shows what the line did in between. Each counter\n"
    "is read from every controller before the next, each request after the protocol's\n"
    "silence and within --answer-window (the protocol's window unless given).\n";

const char kCountersStatus[] =
    "Exit status: 0 every controller answered, 1 one did not, 2 a usage error, 3 the\n"
    "port failed.\n";

const char kWatchUsage[] =
    "Usage: line-tarvel-cli watch [LINE OPTIONS] (--addresses LIST | --cfg FILE | --listen)\n"
    "                             --metrics HOST:PORT [--traffic FILE] [--stats FILE]\n"
    "                             [--json-status FILE] [--mqtt URL] [--name NAME]\n"
    "                             [--keep-days N] [--answer-window TIME]\n"
    "       line-tarvel-cli watch --targets FOLDER [--site NAME]\n"
    "\n"
    "Watches a line without end, for a plant's monitoring: the test cycle over the\n"
    "controllers of --addresses or --cfg (the error limit does not apply), or, with\n"
    "--listen, the exchanges of a line that has its own master. A port that is lost\n"
    "is reopened after 1 s, then after twice as long each time, up to a minute.\n"
    "  --metrics HOST:PORT   serve the metrics for Prometheus at\n"
    "                        http://HOST:PORT/metrics; a port alone listens on\n"
    "                        127.0.0.1 only\n"
    "  --traffic FILE        every request and answer, one file a day beside FILE:\n"
    "                        traffic.csv gives traffic-2026-12-10.csv\n"
    "  --keep-days N         the days of traffic kept, today's included (31)\n"
    "  --stats FILE          the day's statistics of each controller, replaced as\n"
    "                        they change\n"
    "  --json-status FILE    each controller's state and counts as JSON, replaced\n"
    "  --mqtt URL            mqtt://HOST:PORT/PREFIX: each controller's numbers,\n"
    "                        retained, on PREFIX/NAME/ADDRESS when its state changes\n"
    "                        and at most every 10 s; PREFIX/NAME/status is online\n"
    "                        while the port is open, offline while it is lost and\n"
    "                        when the watch ends or dies\n"
    "  --name NAME           the line's name in MQTT and the log (the port's)\n"
    "  --targets FOLDER      print the Prometheus file_sd targets of the watches'\n"
    "                        confs in FOLDER (NAME.conf, ARGS=\"... --metrics ...\")\n"
    "  --site NAME           their site label (the host's name)\n"
    "\n"
    "Log lines go to standard error with their syslog priority (<3> to <6>) in front.\n"
    "SIGHUP reopens the traffic file (for logrotate); SIGTERM or Ctrl+C ends the\n"
    "watch after the exchange in progress, with its files complete. Under systemd\n"
    "(the line-tarvel-watch@.service unit) it tells when it is ready and feeds the\n"
    "watchdog while it makes progress.\n";

const char kWatchStatus[] =
    "Exit status: 0 ended by a signal with its files complete, 2 a usage error, 3 the\n"
    "metrics could not be served or a file not written. --targets: 0 every conf gave\n"
    "its target, 1 one did not (told on standard error; the others are printed).\n";

const char kSendStatus[] =
    "Exit status: 0 a good answer came, 1 none did, 2 a usage error, 3 the port failed.\n";

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
        case CliCommand::Counters:
            return std::string(kCountersUsage) + "\n" + kProgressAndStop + "\n" + kLineOptions +
                   "\n" + kCountersStatus;
        case CliCommand::Watch:
            return std::string(kWatchUsage) + "\n" + kLineOptions + "\n" + kWatchStatus;
        case CliCommand::ListPorts:
        case CliCommand::None: break;
    }
    return CliUsage();
}

}  // namespace tarvel
