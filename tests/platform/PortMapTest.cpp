#include "platform/PortMap.h"

#include <gtest/gtest.h>

namespace tarvel {
namespace {

TEST(PortMap, ComPortsStartOnTheHostsFirstSerialPortsAndCanBePointedElsewhere) {
    PortMap ports;
    EXPECT_EQ(ports.DeviceFor(1), "/dev/ttyS0");
    EXPECT_EQ(ports.DeviceFor(4), "/dev/ttyS3");
    EXPECT_FALSE(ports.DeviceFor(5).has_value());
    ports.Assign(1, "/dev/ttyUSB0");
    EXPECT_EQ(ports.DeviceFor(1), "/dev/ttyUSB0");
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
