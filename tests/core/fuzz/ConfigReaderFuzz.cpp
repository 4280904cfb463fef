// libFuzzer target for the line configuration reader: any bytes must give either a refusal or a
// configuration that is inside the table and writes back to what it says.

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "core/ConfigFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarvel;
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    const auto read = ReadLineConfiguration(in);
    const auto* configuration = std::get_if<LineConfiguration>(&read);
    if (configuration == nullptr) {
        if (std::get<ConfigProblem>(read).text.empty()) {
            std::abort();  // a refusal must say why
        }
        return 0;
    }
    if (configuration->deviceCount < 1 || configuration->deviceCount > kMaxControllers ||
        configuration->addresses.size() != static_cast<std::size_t>(configuration->deviceCount)) {
        std::abort();
    }
    ControllerAddressTable table{};
    for (std::size_t k = 0; k < configuration->addresses.size(); ++k) {
        const std::int16_t address = configuration->addresses[k];
        if (address < 0 || address >= kAddressCount) {
            std::abort();
        }
        table[k] = address;
    }
    std::istringstream again(FormatLineConfiguration(configuration->deviceCount, table));
    const auto reread = ReadLineConfiguration(again);
    const auto* same = std::get_if<LineConfiguration>(&reread);
    if (same == nullptr || same->addresses != configuration->addresses) {
        std::abort();
    }
    return 0;
}
