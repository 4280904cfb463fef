// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "line/DeviceTableEditor.h"
#include "platform/Controls.h"
#include "platform/Prompts.h"

namespace tarvel {

FileRequest LoadConfigurationRequest();
FileRequest SaveConfigurationRequest();

// The main window's "&File" menu: the device table to and from a .cfg file, and back to its
// start-up state.
class LineConfigCommands {
public:
    LineConfigCommands(Primo& primo, DeviceTableEditor& table, ProgressDisplay& progress,
                       Prompts& prompts);

    void ResetMenu_Click();
    void SaveMEnu_Click();
    void LoadMenu_Click();

    // Loads `path` as if the operator had chosen it; false when the file was refused.
    bool Load(const std::string& path);
    bool Save(const std::string& path);

private:
    void Tell(const std::string& text);

    Primo& primo_;
    DeviceTableEditor& table_;
    ProgressDisplay& progress_;
    Prompts& prompts_;
};

}  // namespace tarvel
