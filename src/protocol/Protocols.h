// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/Protocol.h"

namespace tarvel {

// The protocol of the port dialog's first entry, "Ascon", which every line starts with.
const Protocol& DefaultProtocol();
// The protocol at `index` of the port dialog's list, or nothing for one the program does not
// speak yet.
const Protocol* ProtocolAt(int index);

// The protocols the command line names, in the port dialog's order: "ascon", "modbus-rtu",
// "jbus-rtu", "modbus-ascii", "jbus-ascii".
std::vector<std::string> ProtocolCommandNames();
// The port dialog's names of the protocols the program speaks, as a sentence lists them ("Ascon,
// MB RTU and JB RTU"); with `framesChecked`, only those that check their frames.
std::string ProtocolNamesText(bool framesChecked = false);
// The port dialog's index of the protocol the command line calls `commandName`; nothing for a
// name no protocol has.
std::optional<int> ProtocolIndexNamed(std::string_view commandName);
// The protocol at `index`, asking what `choice` says; nothing where ProtocolAt has nothing.
std::unique_ptr<const Protocol> MakeProtocol(int index, RequestChoice choice);

// "A,C,E", "A-E,@", "1-10,17": single stations and ranges of them in the protocol's order, each
// once; nothing for text that names no station or one station twice.
std::optional<std::vector<Station>> ReadStations(const std::string& text, const Protocol& protocol);

}  // namespace tarvel
