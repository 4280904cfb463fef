// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <vector>

#include "lines/PortMap.h"

namespace tarvel::testing {

// The host's serial ports as a test says they are.
class FakePortEnumerator final : public PortEnumerator {
public:
    std::vector<HostPort> ports;
    std::vector<HostPort> List() const override { return ports; }
};

}  // namespace tarvel::testing
