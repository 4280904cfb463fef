// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Station.h"
#include "core/Time.h"
#include "lines/EchoCancellingLine.h"
#include "lines/PortMap.h"
#include "lines/Rs485.h"
#include "protocol/Protocol.h"
#include "serial/PortChoices.h"

namespace tarvel {

// ListPorts is --list-ports, which goes without a command.
enum class CliCommand { None, Scan, Test, Listen, Analyse, Send, Counters, Watch, ListPorts };

// What the command line of line-tarvel-cli asks for.
struct CliOptions {
    CliCommand command = CliCommand::None;
    bool help = false;
    bool version = false;
    bool listPorts = false;
    bool json = false;
    bool allSettings = false;  // scan: every speed and parity instead of the one given
    bool clear = false;        // counters: set back to zero before they are read
    bool listen = false;       // watch: listen to a line that has its own master

    // The line, as the port dialog would choose it; port 1 unless --port says otherwise.
    PortChoices line;
    std::vector<PortAssignment> assignments;
    // "COM2" when the port was named as a port dialog entry (COM1 without --port); empty for a
    // device named directly.
    std::string portEntry = "COM1";
    bool simulate = false;
    std::string simulateFile;  // the simulated line's description; empty for the built-in line
    std::optional<Rs485Mode> rs485;  // the port opened in its driver's RS-485 mode
    EchoMode echo = EchoMode::Auto;  // whether the adapter gives back what it sends

    std::string cfgFile;  // scan: written; test: read
    // test: instead of a configuration file; scan: the stations scanned, instead of all. As the
    // line's protocol numbers them, read from addressesText once the protocol is known.
    std::vector<Station> addresses;
    std::string addressesText;
    // --baud as a number, read once the protocol is known; 0 for the port dialog's entry.
    int baudRate = 0;
    std::string baudText;
    // --data-bits; 0 for what the protocol pairs with the parity.
    int dataBits = 0;
    // scan, test: what the test request asks, for the protocols that let the operator choose.
    RequestChoice request;
    bool requestChosen = false;
    std::optional<std::string> hexFrame;  // send: the frame's bytes in hexadecimal
    std::optional<Duration> duration;
    // listen: from the end of the request; scan, test: from its write, instead of the protocol's
    std::optional<Duration> answerWindow;
    std::optional<int> sweeps;
    std::string lstFile;
    std::string datFile;
    std::string trafficFile;  // scan, test: every request and answer, as CSV
    std::string statsFile;    // scan, test: the statistics of each controller, as CSV
    std::string listFile;     // analyse: the error list read
    std::string frame;        // send
    std::optional<std::string> value;

    // watch: where the metrics are served ("127.0.0.1:9780"), and its other outputs.
    std::string metricsAddress;
    std::string jsonStatusFile;
    std::string mqttUrl;
    // The line's name, in MQTT topics and the log; the port's device name without it.
    std::string watchName;
    int keepDays = 31;  // of daily traffic files
    // watch --targets: the folder of the watches' confs whose Prometheus targets are printed,
    // and the site they are at (the host's name without --site).
    std::string targetsFolder;
    std::string site;

    // Set when the command line could not be read: one line naming the option and what it
    // takes. Never with --help or --version: those are answered whatever else is wrong.
    std::string error;
};

CliOptions ParseCliArguments(const std::vector<std::string>& arguments);

// The line's speed, parity, framing and retry count as the options choose them, for the
// options' protocol.
void ApplyLineOptions(const CliOptions& options, Primo& primo);
// The protocol the options name, asking what they chose of the test request.
std::unique_ptr<const Protocol> ProtocolOf(const CliOptions& options);

// "90s", "10m", "8h", or seconds without a unit; nothing for anything else or for 0.
std::optional<Duration> ParseDuration(const std::string& text);
// "0.2", "0.35s", "200ms": from 1 ms to 10 s; nothing for anything else.
std::optional<Duration> ParseAnswerWindow(const std::string& text);

std::string CliUsage();
std::string CommandUsage(CliCommand command);
std::string CommandName(CliCommand command);

}  // namespace tarvel
