// SPDX-License-Identifier: GPL-3.0-or-later
#include "line/DeviceTableEditor.h"

#include <algorithm>
#include <string>

namespace tarvel {

DeviceTableEditor::DeviceTableEditor(Primo& primo, ControllerAddressTable& table, DeviceLists lists,
                                     Prompts& prompts)
    : primo_(primo), table_(table), lists_(lists), prompts_(prompts) {}

void DeviceTableEditor::SelectCount(int entry) {
    lists_.MaxNumCmb.SetIndex(entry);
    MaxNumCmb_Click();
}

void DeviceTableEditor::SelectController(int entry) {
    lists_.ControllerCmb.SetIndex(entry);
    ControllerCmb_Click();
}

void DeviceTableEditor::SelectAddress(int entry) {
    lists_.AddressCmb.SetIndex(entry);
    AddressCmb_Click();
}

void DeviceTableEditor::MaxNumCmb_Click() {
    const int entry = lists_.MaxNumCmb.Index();
    if (entry < 0) {
        return;
    }
    primo_.DeviceCount = static_cast<std::int16_t>(entry + 1);
    lists_.ControllerCmb.Clear();
    for (int controller = 1; controller <= primo_.DeviceCount; ++controller) {
        lists_.ControllerCmb.AddItem(std::to_string(controller));
    }
    SelectController(primo_.DeviceCount - 1);
}

void DeviceTableEditor::ControllerCmb_Click() {
    const int position = lists_.ControllerCmb.Index();
    if (position < 0 || position >= kMaxControllers) {
        return;
    }
    SelectAddress(table_[position]);
}

void DeviceTableEditor::AddressCmb_Click() {
    const int address = lists_.AddressCmb.Index();
    const int position = lists_.ControllerCmb.Index();
    if (address < 0 || position < 0 || position >= kMaxControllers) {
        return;
    }
    const int inUse = std::clamp<int>(primo_.DeviceCount, 0, kMaxControllers);
    for (int i = 0; i < inUse; ++i) {
        if (table_[i] == address && i != position) {
            prompts_.ShowMessage({"The address has been already used !",
                                  "Info Box",
                                  MessageIcon::None,
                                  MessageButtons::Ok,
                                  {}});
            // Put back the address the position has, without checking it again.
            lists_.AddressCmb.SetIndex(table_[position]);
            return;
        }
    }
    table_[position] = static_cast<std::int16_t>(address);
}

void DeviceTableEditor::LoadStartupTable() {
    lists_.AddressCmb.Clear();
    lists_.MaxNumCmb.Clear();
    for (int k = 0; k < kAddressCount; ++k) {
        lists_.AddressCmb.AddItem(std::to_string(k));
        table_[k] = static_cast<std::int16_t>(k);
    }
    for (int count = 1; count <= kMaxControllers; ++count) {
        lists_.MaxNumCmb.AddItem(std::to_string(count));
    }
    SelectCount(0);
    SelectAddress(0);
}

}  // namespace tarvel
