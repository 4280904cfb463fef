// SPDX-License-Identifier: GPL-3.0-or-later
#include "line/InfoBox.h"

#include "core/Version.h"

namespace tarvel {

MessageRequest InfoBoxRequest() {
    // Each line: a label padded to eight characters, ": ", the value.
    const std::string text = "The Line Tarvel !\n"
                             "Version : " +
                             std::string(kVersion) +
                             "\n"
                             "Author  : Line Tarvel developers\n"
                             "Maker   : Line Tarvel project\n"
                             "E-mail  : line-tarvel@example.org\n"
                             "Year    : 2026\n";
    return {text, "Info Box", MessageIcon::Information, MessageButtons::Ok, {}};
}

}  // namespace tarvel
