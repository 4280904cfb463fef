// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>

namespace tarvel {

inline constexpr int kMaxControllers = 64;
inline constexpr int kAddressCount = 64;

// The address index of each controller position: position 0 is the operator's controller "1".
// Only positions below the device count are in use; the others keep their values.
using ControllerAddressTable = std::array<std::int16_t, kMaxControllers>;

// Index 0 to 62 is the character with code 65 + index ("A" ... "~", then code 127); 63 is "@".
char AddressCharacter(int index);
// The inverse: 63 for "@", the character's code - 65 for any other. Characters outside the bus
// addresses give indices outside 0 to 63; callers check.
int AddressIndexOf(char address);

// 0, 1, ..., 63: each controller position answers to its own address.
ControllerAddressTable StartupAddressTable();

}  // namespace tarvel
