// SPDX-License-Identifier: GPL-3.0-or-later
// Which port texts name a port across the network, and how the port map shows them.

#include "lines/NetworkAddress.h"

#include <gtest/gtest.h>

#include "lines/PortMap.h"

namespace tarvel {
namespace {

using Kind = NetworkAddress::Kind;

TEST(NetworkAddress, ReadsBothFormsWithNamesAndAddressesAndRefusesTheRest) {
    EXPECT_EQ(ParseNetworkAddress("rfc2217://10.0.0.5:4001"),
              (NetworkAddress{Kind::ComPortControl, "10.0.0.5", 4001}));
    EXPECT_EQ(ParseNetworkAddress("tcp://cabinet-3.plant:2001"),
              (NetworkAddress{Kind::RawTcp, "cabinet-3.plant", 2001}));
    EXPECT_EQ(ParseNetworkAddress("rfc2217://[fe80::1]:7000"),
              (NetworkAddress{Kind::ComPortControl, "fe80::1", 7000}));
    EXPECT_EQ(NetworkAddressText({Kind::ComPortControl, "fe80::1", 7000}),
              "rfc2217://[fe80::1]:7000");
    EXPECT_EQ(NetworkAddressText({Kind::RawTcp, "10.0.0.5", 1}), "tcp://10.0.0.5:1");
    for (const char* bad : {"rfc2217://10.0.0.5", "rfc2217://:4001", "rfc2217://10.0.0.5:0",
                            "tcp://h:65536", "tcp://h:40x", "tcp://h:", "rfc2217://fe80::1:7000",
                            "rfc2217://[]:1", "tcp://a b:1", "tcp://a,b:1", "tcp://a/b:1"}) {
        EXPECT_TRUE(IsNetworkDevice(bad)) << bad;
        EXPECT_EQ(ParseNetworkAddress(bad), std::nullopt) << bad;
    }
    for (const char* device : {"/dev/ttyUSB0", "COM1", "telnet://h:1", "RFC2217://h:1"}) {
        EXPECT_FALSE(IsNetworkDevice(device)) << device;
        EXPECT_EQ(ParseNetworkAddress(device), std::nullopt) << device;
    }
}

TEST(NetworkAddress, ThePortMapShowsANetworkEntryLikeAnyOtherAndSaysWhatIsWrongWithABadOne) {
    PortMap ports;
    ports.Assign(2, "rfc2217://10.0.0.5:4001");
    ports.Assign(3, "tcp://10.0.0.6:4001");
    ports.Assign(4, "rfc2217://10.0.0.7");
    EXPECT_EQ(ports.Describe(2),
              "COM2: rfc2217://10.0.0.5:4001, serial device server (Telnet COM port control, "
              "RFC 2217)");
    EXPECT_EQ(ports.Describe(3),
              "COM3: tcp://10.0.0.6:4001, raw TCP connection (the server keeps its own port "
              "settings)");
    EXPECT_NE(ports.Describe(4).find("COM4: rfc2217://10.0.0.7: not a network port"),
              std::string::npos);
    EXPECT_EQ(ports.DeviceFor(2), "rfc2217://10.0.0.5:4001");
    EXPECT_EQ(ParsePortAssignment("COM2=rfc2217://10.0.0.5:4001")->device,
              "rfc2217://10.0.0.5:4001");
}

}  // namespace
}  // namespace tarvel
