// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <map>
#include <string>

#include "cli/CliOptions.h"

namespace tarvel {

// An option of line-tarvel-cli that takes a value: what it makes of the value, false for one it
// refuses, and what the message of a refused value says the option takes.
struct ValueOption {
    std::string allowed;
    bool (*read)(const std::string& value, CliOptions& options);
};

// Every option that takes a value, by its name ("--baud").
const std::map<std::string, ValueOption>& ValueOptions();

// The options whose values depend on the protocol, read once it is known: the addresses and the
// speed. Empty when they are good, else the message that refuses them.
std::string ResolveProtocolValues(CliOptions& options);

}  // namespace tarvel
