// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/Protocols.h"

#include <algorithm>

#include "core/HexText.h"
#include "protocol/ascon/AsconProtocol.h"
#include "protocol/modbus/ModbusAsciiProtocol.h"
#include "protocol/modbus/ModbusRtuProtocol.h"

namespace tarvel {

namespace {
// The port dialog's entries "Ascon", "MB RTU", "JB RTU", "MB ASCII", "JB ASCII".
constexpr int kAscon = 0;
constexpr int kModbusRtu = 1;
constexpr int kJbusRtu = 2;
constexpr int kModbusAscii = 3;
constexpr int kJbusAscii = 4;
}  // namespace

const Protocol& DefaultProtocol() {
    static const AsconProtocol ascon;
    return ascon;
}

const Protocol* ProtocolAt(int index) {
    static const ModbusRtuProtocol modbus(ModbusRtuProtocol::Modbus());
    static const ModbusRtuProtocol jbus(ModbusRtuProtocol::Jbus());
    static const ModbusAsciiProtocol modbusAscii(ModbusAsciiProtocol::Modbus());
    static const ModbusAsciiProtocol jbusAscii(ModbusAsciiProtocol::Jbus());
    switch (index) {
        case kAscon: return &DefaultProtocol();
        case kModbusRtu: return &modbus;
        case kJbusRtu: return &jbus;
        case kModbusAscii: return &modbusAscii;
        case kJbusAscii: return &jbusAscii;
        default: return nullptr;
    }
}

std::string Protocol::WireShown(std::string_view characters) const { return HexText(characters); }

std::vector<std::string> ProtocolCommandNames() {
    std::vector<std::string> names;
    for (int index = 0; const Protocol* protocol = ProtocolAt(index); ++index) {
        names.emplace_back(protocol->CommandName());
    }
    return names;
}

std::string ProtocolNamesText(bool framesChecked) {
    std::vector<std::string> names;
    for (int index = 0; const Protocol* protocol = ProtocolAt(index); ++index) {
        if (!framesChecked || protocol->ChecksFrames()) {
            names.emplace_back(protocol->Name());
        }
    }
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    }
    return text;
}

std::optional<int> ProtocolIndexNamed(std::string_view commandName) {
    for (int index = 0; const Protocol* protocol = ProtocolAt(index); ++index) {
        if (protocol->CommandName() == commandName) {
            return index;
        }
    }
    return std::nullopt;
}

std::unique_ptr<const Protocol> MakeProtocol(int index, RequestChoice choice) {
    switch (index) {
        case kAscon: return std::make_unique<AsconProtocol>();
        case kModbusRtu:
            return std::make_unique<ModbusRtuProtocol>(ModbusRtuProtocol::Modbus(), choice);
        case kJbusRtu:
            return std::make_unique<ModbusRtuProtocol>(ModbusRtuProtocol::Jbus(), choice);
        case kModbusAscii:
            return std::make_unique<ModbusAsciiProtocol>(ModbusAsciiProtocol::Modbus(), choice);
        case kJbusAscii:
            return std::make_unique<ModbusAsciiProtocol>(ModbusAsciiProtocol::Jbus(), choice);
        default: return nullptr;
    }
}

std::optional<std::vector<Station>> ReadStations(const std::string& text,
                                                 const Protocol& protocol) {
    const std::vector<Station> all = protocol.Stations();
    const auto place = [&all](Station station) {
        return std::find(all.begin(), all.end(), station) - all.begin();
    };
    std::vector<Station> stations;
    std::size_t from = 0;
    while (from <= text.size()) {
        const std::size_t comma = std::min(text.find(',', from), text.size());
        const std::string item = text.substr(from, comma - from);
        std::vector<Station> named;
        const std::size_t dash = item.find('-', 1);
        if (const auto single = protocol.StationFrom(item)) {
            named.push_back(*single);
        } else if (dash != std::string::npos) {
            const auto first = protocol.StationFrom(item.substr(0, dash));
            const auto last = protocol.StationFrom(item.substr(dash + 1));
            if (!first || !last || place(*first) >= place(*last)) {
                return std::nullopt;
            }
            named.assign(all.begin() + place(*first), all.begin() + place(*last) + 1);
        } else {
            return std::nullopt;
        }
        for (const Station station : named) {
            // The window refuses an address used twice: the cycle would ask that controller
            // twice a sweep and count its exchanges twice.
            if (std::find(stations.begin(), stations.end(), station) != stations.end()) {
                return std::nullopt;
            }
            stations.push_back(station);
        }
        from = comma + 1;
    }
    return stations;
}

}  // namespace tarvel
