#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace tarvel {

// Which host device stands behind each port name "COM1" ... "COM4". By default the first four
// serial ports of the host (/dev/ttyS0 ... /dev/ttyS3 on Linux); any of them can be pointed
// elsewhere, for example at a USB adapter or at the built-in simulated line.
class PortMap {
public:
    static constexpr int kFirstPort = 1;
    static constexpr int kLastPort = 4;

    PortMap();
    void Assign(int number, std::string device);
    std::optional<std::string> DeviceFor(int number) const;

private:
    std::map<int, std::string> devices_;
};

struct PortAssignment {
    int number;
    std::string device;
};

// Reads "COM1=/dev/ttyUSB0"; nothing for any other form or a port name other than COM1..COM4.
std::optional<PortAssignment> ParsePortAssignment(std::string_view text);

}  // namespace tarvel
