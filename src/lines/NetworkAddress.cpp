// SPDX-License-Identifier: GPL-3.0-or-later
#include "lines/NetworkAddress.h"

#include <charconv>

namespace tarvel {
namespace {

constexpr std::string_view kComPortScheme = "rfc2217://";
constexpr std::string_view kRawScheme = "tcp://";

bool StartsWith(std::string_view text, std::string_view head) {
    return text.substr(0, head.size()) == head;
}

}  // namespace

bool IsNetworkDevice(std::string_view device) {
    return StartsWith(device, kComPortScheme) || StartsWith(device, kRawScheme);
}

std::optional<NetworkAddress> ParseNetworkAddress(std::string_view device) {
    NetworkAddress address;
    if (StartsWith(device, kComPortScheme)) {
        address.kind = NetworkAddress::Kind::ComPortControl;
        device.remove_prefix(kComPortScheme.size());
    } else if (StartsWith(device, kRawScheme)) {
        address.kind = NetworkAddress::Kind::RawTcp;
        device.remove_prefix(kRawScheme.size());
    } else {
        return std::nullopt;
    }
    const std::size_t colon = device.rfind(':');
    if (colon == std::string_view::npos || colon == 0) {
        return std::nullopt;
    }
    std::string_view host = device.substr(0, colon);
    const std::string_view port = device.substr(colon + 1);
    if (host.front() == '[') {
        if (host.size() < 3 || host.back() != ']') {
            return std::nullopt;
        }
        host = host.substr(1, host.size() - 2);
    } else if (host.find(':') != std::string_view::npos) {
        return std::nullopt;  // an IPv6 address needs its brackets, or its port is unclear
    }
    if (host.find_first_of(" ,/") != std::string_view::npos) {
        return std::nullopt;
    }
    int number = 0;
    const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), number);
    if (port.empty() || error != std::errc() || end != port.data() + port.size() || number < 1 ||
        number > 65535) {
        return std::nullopt;
    }
    address.host = std::string(host);
    address.port = number;
    return address;
}

std::string NetworkAddressProblem(std::string_view device) {
    return std::string(device) +
           ": not a network port; write rfc2217://HOST:PORT or tcp://HOST:PORT (a port 1 to "
           "65535, an IPv6 address in brackets)";
}

std::string NetworkAddressText(const NetworkAddress& address) {
    const bool bracketed = address.host.find(':') != std::string::npos;
    return std::string(address.kind == NetworkAddress::Kind::ComPortControl ? kComPortScheme
                                                                            : kRawScheme) +
           (bracketed ? "[" + address.host + "]" : address.host) + ":" +
           std::to_string(address.port);
}

}  // namespace tarvel
