// SPDX-License-Identifier: GPL-3.0-or-later
#include "lines/PortMap.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <algorithm>
#include <cctype>
#include <tuple>

#include "lines/NetworkAddress.h"

namespace tarvel {
namespace {

// "/dev/ttyS10" as ("/dev/ttyS", 10), so that ttyS2 comes before ttyS10.
std::pair<std::string, long> NaturalKey(const std::string& device) {
    std::size_t digits = device.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(device[digits - 1]))) {
        --digits;
    }
    const std::string number = device.substr(digits);
    return {device.substr(0, digits), number.empty() || number.size() > 9 ? -1 : std::stol(number)};
}

bool IsPseudoTerminal(const std::string& device) {
    return device.rfind("/dev/pts/", 0) == 0 || device == "/dev/ptmx";
}

std::string Name(int number) { return "COM" + std::to_string(number); }

}  // namespace

std::vector<HostPort> QtPortEnumerator::List() const {
    // Which by-id name points at which device.
    std::map<std::string, std::string> stableNames;
    const QDir byId("/dev/serial/by-id");
    for (const QFileInfo& link : byId.entryInfoList(QDir::System | QDir::Files)) {
        stableNames[link.canonicalFilePath().toStdString()] = link.fileName().toStdString();
    }
    std::vector<HostPort> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        HostPort port;
        port.device = info.systemLocation().toStdString();
        port.description = info.description().toStdString();
        port.serialNumber = info.serialNumber().toStdString();
        const auto stable = stableNames.find(port.device);
        port.stableName = stable == stableNames.end() ? std::string() : stable->second;
        port.adapter = info.hasVendorIdentifier() || info.portName().startsWith("ttyUSB") ||
                       info.portName().startsWith("ttyACM");
        ports.push_back(std::move(port));
    }
    return ports;
}

std::vector<HostPort> OrderedPorts(std::vector<HostPort> ports) {
    std::erase_if(ports, [](const HostPort& port) { return IsPseudoTerminal(port.device); });
    std::sort(ports.begin(), ports.end(), [](const HostPort& a, const HostPort& b) {
        if (a.adapter != b.adapter) {
            return a.adapter;
        }
        // Adapters by the name that stays theirs; without one, and for UARTs, by device.
        const std::string& aName = a.adapter && !a.stableName.empty() ? a.stableName : a.device;
        const std::string& bName = b.adapter && !b.stableName.empty() ? b.stableName : b.device;
        return NaturalKey(aName) < NaturalKey(bName);
    });
    return ports;
}

PortMap::PortMap(const PortEnumerator* enumerator) : enumerator_(enumerator) { Refresh(); }

void PortMap::Assign(int number, std::string device) { assigned_[number] = std::move(device); }

void PortMap::Refresh() {
    listed_.clear();
#ifdef _WIN32
    for (int number = kFirstPort; number <= kLastPort; ++number) {
        listed_[number] = HostPort{Name(number), {}, {}, {}, false};
    }
#else
    if (enumerator_ == nullptr) {
        return;
    }
    const std::vector<HostPort> ports = OrderedPorts(enumerator_->List());
    for (int number = kFirstPort;
         number <= kLastPort && static_cast<std::size_t>(number - kFirstPort) < ports.size();
         ++number) {
        listed_[number] = ports[static_cast<std::size_t>(number - kFirstPort)];
    }
#endif
}

std::optional<std::string> PortMap::DeviceFor(int number) const {
    if (const auto assigned = assigned_.find(number); assigned != assigned_.end()) {
        return assigned->second;
    }
    if (const auto listed = listed_.find(number); listed != listed_.end()) {
        return listed->second.device;
    }
    return std::nullopt;
}

std::string PortMap::Describe(int number) const {
    if (const auto assigned = assigned_.find(number); assigned != assigned_.end()) {
        const std::string& device = assigned->second;
        if (!IsNetworkDevice(device)) {
            return Name(number) + ": " + device;
        }
        const std::optional<NetworkAddress> address = ParseNetworkAddress(device);
        if (!address) {
            return Name(number) + ": " + NetworkAddressProblem(device);
        }
        return Name(number) + ": " + device +
               (address->kind == NetworkAddress::Kind::ComPortControl
                    ? ", serial device server (Telnet COM port control, RFC 2217)"
                    : ", raw TCP connection (the server keeps its own port settings)");
    }
    const auto listed = listed_.find(number);
    if (listed == listed_.end()) {
        return Name(number) + ": no serial port";
    }
    std::string text = Name(number) + ": " + listed->second.device;
    if (!listed->second.description.empty()) {
        text += ", " + listed->second.description;
    }
    if (!listed->second.serialNumber.empty()) {
        text += ", serial " + listed->second.serialNumber;
    }
    return text;
}

std::string PortMap::NotAttached(int number) const {
    std::string attached;
    for (int other = kFirstPort; other <= kLastPort; ++other) {
        if (DeviceFor(other)) {
            attached += "\n" + Describe(other);
        }
    }
    return "No serial port is attached as " + Name(number) + "." +
           (attached.empty() ? std::string(" This host has no serial port.")
                             : " The ports there are:" + attached);
}

std::optional<PortAssignment> ParsePortAssignment(std::string_view text) {
    const auto equals = text.find('=');
    if (equals != 4 || text.substr(0, 3) != "COM" || equals + 1 >= text.size()) {
        return std::nullopt;
    }
    const int number = text[3] - '0';
    if (number < PortMap::kFirstPort || number > PortMap::kLastPort) {
        return std::nullopt;
    }
    return PortAssignment{number, std::string(text.substr(equals + 1))};
}

}  // namespace tarvel
