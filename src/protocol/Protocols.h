// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "protocol/Protocol.h"

namespace tarvel {

// The protocol of the port dialog's first entry, "Ascon", which every line starts with.
const Protocol& DefaultProtocol();
// The protocol at `index` of the port dialog's list, or nothing for one the program does not
// speak yet.
const Protocol* ProtocolAt(int index);

}  // namespace tarvel
