// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/Protocols.h"

#include "protocol/ascon/AsconProtocol.h"

namespace tarvel {

const Protocol& DefaultProtocol() {
    static const AsconProtocol ascon;
    return ascon;
}

const Protocol* ProtocolAt(int index) { return index == 0 ? &DefaultProtocol() : nullptr; }

}  // namespace tarvel
