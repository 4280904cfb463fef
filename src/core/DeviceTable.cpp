// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/DeviceTable.h"

namespace tarvel {

char AddressCharacter(int index) { return index == 63 ? '@' : static_cast<char>(65 + index); }

int AddressIndexOf(char address) {
    return address == '@' ? 63 : static_cast<unsigned char>(address) - 65;
}

ControllerAddressTable StartupAddressTable() {
    ControllerAddressTable table{};
    for (int i = 0; i < kMaxControllers; ++i) {
        table[i] = static_cast<std::int16_t>(i);
    }
    return table;
}

}  // namespace tarvel
