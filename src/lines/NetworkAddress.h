// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarvel {

// A port at the far end of a network: a serial device server or a host running ser2net.
struct NetworkAddress {
    enum class Kind {
        ComPortControl,  // rfc2217://: Telnet with the COM port control option; we set the port
        RawTcp,          // tcp://: the bytes as they are; the server keeps its own settings
    };
    Kind kind = Kind::ComPortControl;
    std::string host;  // a name or an address, an IPv6 one without its brackets
    int port = 0;
    friend bool operator==(const NetworkAddress&, const NetworkAddress&) = default;
};

// Whether a port's device text names a network port ("rfc2217://..." or "tcp://..."), valid or
// not: such a text is never a device path.
bool IsNetworkDevice(std::string_view device);
// Reads "rfc2217://HOST:PORT" or "tcp://HOST:PORT" (HOST may be "[::1]"); nothing for any other
// text, a missing host, or a port outside 1 to 65535.
std::optional<NetworkAddress> ParseNetworkAddress(std::string_view device);
// Why `device`, which IsNetworkDevice, is no address ParseNetworkAddress reads.
std::string NetworkAddressProblem(std::string_view device);
// "rfc2217://10.0.0.5:4001", the form ParseNetworkAddress reads.
std::string NetworkAddressText(const NetworkAddress& address);

}  // namespace tarvel
