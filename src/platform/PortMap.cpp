#include "platform/PortMap.h"

namespace tarvel {

PortMap::PortMap() {
    for (int number = kFirstPort; number <= kLastPort; ++number) {
#ifdef _WIN32
        devices_[number] = "COM" + std::to_string(number);
#else
        devices_[number] = "/dev/ttyS" + std::to_string(number - 1);
#endif
    }
}

void PortMap::Assign(int number, std::string device) { devices_[number] = std::move(device); }

std::optional<std::string> PortMap::DeviceFor(int number) const {
    const auto found = devices_.find(number);
    if (found == devices_.end()) {
        return std::nullopt;
    }
    return found->second;
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
