// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/Protocols.h"

#include "protocol/ascon/AsconProtocol.h"
#include "protocol/modbus/ModbusRtuProtocol.h"

namespace tarvel {

namespace {
// The port dialog's entries "Ascon", "MB RTU", "JB RTU".
constexpr int kAscon = 0;
constexpr int kModbusRtu = 1;
constexpr int kJbusRtu = 2;
}  // namespace

const Protocol& DefaultProtocol() {
    static const AsconProtocol ascon;
    return ascon;
}

const Protocol* ProtocolAt(int index) {
    static const ModbusRtuProtocol modbus(ModbusRtuProtocol::Modbus());
    static const ModbusRtuProtocol jbus(ModbusRtuProtocol::Jbus());
    switch (index) {
        case kAscon: return &DefaultProtocol();
        case kModbusRtu: return &modbus;
        case kJbusRtu: return &jbus;
        default: return nullptr;
    }
}

std::vector<std::string> ProtocolCommandNames() {
    std::vector<std::string> names;
    for (int index = 0; const Protocol* protocol = ProtocolAt(index); ++index) {
        names.emplace_back(protocol->CommandName());
    }
    return names;
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
        default: return nullptr;
    }
}

}  // namespace tarvel
