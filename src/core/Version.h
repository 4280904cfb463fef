// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace tarvel {

// The version the program shows in its Info box, in --version and to the window system.
inline constexpr const char* kVersion = "3.beta";

}  // namespace tarvel
