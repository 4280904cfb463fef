// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvel {

// A serial port the host has.
struct HostPort {
    std::string device;        // "/dev/ttyUSB0"
    std::string description;   // "FT232R USB UART", as the host names it
    std::string serialNumber;  // "A10K3XYZ", when the adapter has one
    // A name that stays the same while the same adapter is plugged in (its /dev/serial/by-id
    // name on Linux); empty when the host gives none.
    std::string stableName;
    bool adapter = false;  // a USB or ACM adapter rather than a built-in UART
};

// Lists the host's serial ports.
class PortEnumerator {
public:
    virtual ~PortEnumerator() = default;
    virtual std::vector<HostPort> List() const = 0;
};

// The host's ports as Qt Serial Port finds them (a built-in UART only with hardware behind it),
// with their /dev/serial/by-id names. Pseudo-terminals are never among them.
class QtPortEnumerator final : public PortEnumerator {
public:
    std::vector<HostPort> List() const override;
};

// The order "COM1" ... "COM4" take the host's ports in: adapters first, by their stable names,
// then built-in UARTs by device (ttyS2 before ttyS10), so the order does not change between
// starts while the same adapters are plugged in. Pseudo-terminals are left out.
std::vector<HostPort> OrderedPorts(std::vector<HostPort> ports);

// Which host device stands behind each port name "COM1" ... "COM4": the host's ports in the
// order above (on Windows, the native port of the same name), each of which can be pointed
// elsewhere, for example at the built-in simulated line. Made again at each Refresh, so an
// adapter plugged in while the program runs is there the next time the port dialog is shown.
class PortMap {
public:
    static constexpr int kFirstPort = 1;
    static constexpr int kLastPort = 4;

    // Without an enumerator a port name stands for nothing until it is assigned.
    explicit PortMap(const PortEnumerator* enumerator = nullptr);

    // Points COMn at `device`, whatever the host lists; kept across refreshes.
    void Assign(int number, std::string device);
    // Asks the host again which ports it has.
    void Refresh();

    std::optional<std::string> DeviceFor(int number) const;
    // "COM1: /dev/ttyUSB0, FT232R USB UART, serial A10K3XYZ", or "COM3: no serial port".
    std::string Describe(int number) const;
    // Why COMn cannot be opened when nothing stands behind it, with the ports that do.
    std::string NotAttached(int number) const;

private:
    const PortEnumerator* enumerator_;
    std::map<int, HostPort> listed_;
    std::map<int, std::string> assigned_;
};

struct PortAssignment {
    int number;
    std::string device;
};

// Reads "COM1=/dev/ttyUSB0"; nothing for any other form or a port name other than COM1..COM4.
std::optional<PortAssignment> ParsePortAssignment(std::string_view text);

}  // namespace tarvel
