// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/DeviceTable.h"
#include "core/Primo.h"
#include "platform/Controls.h"
#include "platform/Prompts.h"

namespace tarvel {

// The main window's three lists that edit the device table.
struct DeviceLists {
    ChoiceList& MaxNumCmb;      // "Total Device": "1" ... "64"
    ChoiceList& ControllerCmb;  // "Controller": "1" ... DeviceCount
    ChoiceList& AddressCmb;     // "Address": "0" ... "63"
};

// The device table and its editing. Each list has one handler, run for the operator's choice
// and for a choice made by the program alike (the Select... calls), also when the entry chosen
// is the one already shown.
class DeviceTableEditor {
public:
    DeviceTableEditor(Primo& primo, ControllerAddressTable& table, DeviceLists lists,
                      Prompts& prompts);

    void MaxNumCmb_Click();
    void ControllerCmb_Click();
    void AddressCmb_Click();

    // Shows the entry, then runs the list's handler.
    void SelectCount(int entry);
    void SelectController(int entry);
    void SelectAddress(int entry);

    // The start-up table: addresses 0 to 63, one controller at address 0.
    void LoadStartupTable();

    ControllerAddressTable& Table() { return table_; }
    DeviceLists& Lists() { return lists_; }

private:
    Primo& primo_;
    ControllerAddressTable& table_;
    DeviceLists lists_;
    Prompts& prompts_;
};

}  // namespace tarvel
