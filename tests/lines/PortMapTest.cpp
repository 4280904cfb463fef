// SPDX-License-Identifier: GPL-3.0-or-later
#include "lines/PortMap.h"

#include <gtest/gtest.h>

#include "support/FakePorts.h"

namespace tarvel {
namespace {

using FakeEnumerator = testing::FakePortEnumerator;

HostPort Adapter(std::string device, std::string stable, std::string serial = "") {
    return {std::move(device), "FT232R USB UART", std::move(serial), std::move(stable), true};
}
HostPort Uart(std::string device) { return {std::move(device), "", "", "", false}; }

std::vector<std::string> Devices(const std::vector<HostPort>& ports) {
    std::vector<std::string> devices;
    for (const HostPort& port : ports) {
        devices.push_back(port.device);
    }
    return devices;
}

TEST(PortOrder, AdaptersFirstByTheirStableNamesThenUartsByNumberAndNoPseudoTerminals) {
    const std::vector<HostPort> listed = {
        Uart("/dev/ttyS10"),
        Adapter("/dev/ttyUSB0", "usb-FTDI_FT232R_B222-if00-port0"),
        Uart("/dev/ttyS2"),
        Uart("/dev/pts/3"),
        Adapter("/dev/ttyACM0", "usb-Arduino_Uno_1234-if00"),
        Adapter("/dev/ttyUSB1", "usb-FTDI_FT232R_A111-if00-port0"),
    };
    EXPECT_EQ(Devices(OrderedPorts(listed)),
              (std::vector<std::string>{"/dev/ttyACM0", "/dev/ttyUSB1", "/dev/ttyUSB0",
                                        "/dev/ttyS2", "/dev/ttyS10"}));
    // The same adapters plugged in the other way round (their device names swapped) keep their
    // places: the order follows the adapters, not the order the host numbered them in.
    std::vector<HostPort> swapped = listed;
    std::swap(swapped[1].device, swapped[5].device);
    std::reverse(swapped.begin(), swapped.end());
    const auto again = OrderedPorts(swapped);
    EXPECT_EQ(again[1].stableName, "usb-FTDI_FT232R_A111-if00-port0");
    EXPECT_EQ(again[2].stableName, "usb-FTDI_FT232R_B222-if00-port0");
}

TEST(PortMap, ComPortsStandForTheHostsPortsInOrderAndCanBePointedElsewhere) {
    FakeEnumerator host;
    host.ports = {Uart("/dev/ttyS0"), Adapter("/dev/ttyUSB0", "usb-FTDI_X-if00", "A10K3XYZ")};
    PortMap ports(&host);
    EXPECT_EQ(ports.DeviceFor(1), "/dev/ttyUSB0");
    EXPECT_EQ(ports.DeviceFor(2), "/dev/ttyS0");
    EXPECT_FALSE(ports.DeviceFor(3).has_value());
    EXPECT_EQ(ports.Describe(1), "COM1: /dev/ttyUSB0, FT232R USB UART, serial A10K3XYZ");
    EXPECT_EQ(ports.Describe(2), "COM2: /dev/ttyS0");
    EXPECT_EQ(ports.Describe(3), "COM3: no serial port");
    EXPECT_EQ(ports.NotAttached(3),
              "No serial port is attached as COM3. The ports there are:\n"
              "COM1: /dev/ttyUSB0, FT232R USB UART, serial A10K3XYZ\nCOM2: /dev/ttyS0");

    ports.Assign(1, "/dev/pts/7");  // --port COM1=... or --simulate
    EXPECT_EQ(ports.DeviceFor(1), "/dev/pts/7");
    EXPECT_EQ(ports.Describe(1), "COM1: /dev/pts/7");

    // An adapter plugged in meanwhile is there at the next refresh; the assignment stays.
    host.ports.push_back(Adapter("/dev/ttyUSB1", "usb-FTDI_A-if00"));
    EXPECT_FALSE(ports.DeviceFor(3).has_value());
    ports.Refresh();
    EXPECT_EQ(ports.DeviceFor(1), "/dev/pts/7");
    EXPECT_EQ(ports.DeviceFor(2), "/dev/ttyUSB0");  // entry 2 of the list now
    EXPECT_EQ(ports.DeviceFor(3), "/dev/ttyS0");
}

TEST(PortMap, AHostWithoutPortsSaysSo) {
    FakeEnumerator host;
    PortMap ports(&host);
    EXPECT_FALSE(ports.DeviceFor(1).has_value());
    EXPECT_EQ(ports.NotAttached(1),
              "No serial port is attached as COM1. This host has no serial port.");
    EXPECT_FALSE(PortMap().DeviceFor(1).has_value());
}

TEST(PortMap, ReadsAssignmentsOfTheFourPortNamesOnly) {
    const auto usb = ParsePortAssignment("COM2=/dev/ttyUSB0");
    ASSERT_TRUE(usb.has_value());
    EXPECT_EQ(usb->number, 2);
    EXPECT_EQ(usb->device, "/dev/ttyUSB0");
    for (const char* text : {"COM5=/dev/x", "COM0=/dev/x", "COM1=", "COM1", "com1=/dev/x",
                             "COM12=/dev/x", "=/dev/x", ""}) {
        EXPECT_FALSE(ParsePortAssignment(text).has_value()) << text;
    }
}

}  // namespace
}  // namespace tarvel
