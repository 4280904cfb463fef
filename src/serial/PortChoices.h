// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/Primo.h"

namespace tarvel {

// The fixed entries of the port dialog's lists, in order, and their presets.
struct PortDialogEntries {
    static const std::vector<std::string>& Ports();      // "COM1" ... "COM4"
    static const std::vector<std::string>& Bauds();      // "150" ... "9600"
    static const std::vector<std::string>& Parities();   // "None", "Even", "Odd"
    static const std::vector<std::string>& StopBits();   // "1", "2"
    static const std::vector<std::string>& Retries();    // "0" ... "4"
    static const std::vector<std::string>& Protocols();  // "Ascon" ... "Pyromat"
};

// The chosen entry of each list, by position.
struct PortChoices {
    int port = 0;      // "COM1"
    int baud = 5;      // "4800"
    int parity = 0;    // "None"
    int stopBits = 0;  // "1"
    int retry = 2;     // "2"
    int protocol = 0;  // "Ascon"
};

// Port number, speed, parity, retry count, stop bits and protocol from the choices.
void ApplyPortChoices(const PortChoices& choices, Primo& primo);
// "8" data bits without parity, "7" with even or odd parity.
std::string DataBitsFor(const std::string& parityText);

}  // namespace tarvel
