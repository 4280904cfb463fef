// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace tarvel {

// A controller's place on the bus as the engines count it: a number. What it looks like on the
// wire and to the operator is its protocol's business (an Ascon station is an address index, 0
// for "A" to 63 for "@").
using Station = int;

}  // namespace tarvel
