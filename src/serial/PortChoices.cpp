// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/PortChoices.h"

#include "core/NumberText.h"

namespace tarvel {

const std::vector<std::string>& PortDialogEntries::Ports() {
    static const std::vector<std::string> entries = {"COM1", "COM2", "COM3", "COM4"};
    return entries;
}

const std::vector<std::string>& PortDialogEntries::Bauds() {
    static const std::vector<std::string> entries = {"150",  "300",  "600", "1200",
                                                     "2400", "4800", "9600"};
    return entries;
}

const std::vector<std::string>& PortDialogEntries::Parities() {
    static const std::vector<std::string> entries = {"None", "Even", "Odd"};
    return entries;
}

const std::vector<std::string>& PortDialogEntries::StopBits() {
    static const std::vector<std::string> entries = {"1", "2"};
    return entries;
}

const std::vector<std::string>& PortDialogEntries::Retries() {
    static const std::vector<std::string> entries = {"0", "1", "2", "3", "4"};
    return entries;
}

const std::vector<std::string>& PortDialogEntries::Protocols() {
    static const std::vector<std::string> entries = {"Ascon",    "MB RTU",   "JB RTU",
                                                     "MB ASCII", "JB ASCII", "Pyromat"};
    return entries;
}

void ApplyPortChoices(const PortChoices& choices, Primo& primo) {
    primo.PortNumber = static_cast<std::int16_t>(
        LeadingNumber(std::string_view(PortDialogEntries::Ports().at(choices.port)).substr(3)));
    primo.BaudText = SignedNumberText(LeadingNumber(PortDialogEntries::Bauds().at(choices.baud)));
    primo.ParityText = PortDialogEntries::Parities().at(choices.parity).substr(0, 1);
    primo.RetryCount =
        static_cast<std::int16_t>(LeadingNumber(PortDialogEntries::Retries().at(choices.retry)));
    primo.StopBitsText =
        SignedNumberText(LeadingNumber(PortDialogEntries::StopBits().at(choices.stopBits)));
    primo.ProtocolIndex = static_cast<std::int16_t>(choices.protocol);
}

std::string DataBitsFor(const std::string& parityText) { return parityText == "N" ? "8" : "7"; }

}  // namespace tarvel
