// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/Prompts.h"

namespace tarvel {

// The product's identity, shown by a click on the main window's picture.
MessageRequest InfoBoxRequest();

}  // namespace tarvel
