// SPDX-License-Identifier: GPL-3.0-or-later
#include "line/DeviceTableEditor.h"

#include <gtest/gtest.h>

#include "support/FakeControls.h"
#include "support/ScriptedPrompts.h"

namespace tarvel {
namespace {

using testing::FakeChoiceList;
using testing::ScriptedPrompts;

TEST(AddressRule, MapsIndicesToBusCharactersAndBack) {
    const std::pair<int, char> pairs[] = {{0, 'A'},  {1, 'B'},  {25, 'Z'},    {26, '['}, {32, 'a'},
                                          {57, 'z'}, {61, '~'}, {62, '\x7f'}, {63, '@'}};
    for (const auto& [index, character] : pairs) {
        EXPECT_EQ(AddressCharacter(index), character) << index;
        EXPECT_EQ(AddressIndexOf(character), index) << index;
    }
    EXPECT_LT(AddressIndexOf('0'), 0);
    EXPECT_GT(AddressIndexOf('\xff'), 63);
}

struct Editor : ::testing::Test {
    Primo primo;
    ControllerAddressTable table{};
    FakeChoiceList count;
    FakeChoiceList controller;
    FakeChoiceList address;
    ScriptedPrompts prompts;
    DeviceTableEditor editor{primo, table, {count, controller, address}, prompts};

    void SetUp() override { editor.LoadStartupTable(); }

    // The operator picks an entry; the list's handler runs as for any choice.
    void PickCount(int entry) {
        count.index = entry;
        editor.MaxNumCmb_Click();
    }
    void PickController(int entry) {
        controller.index = entry;
        editor.ControllerCmb_Click();
    }
    void PickAddress(int entry) {
        address.index = entry;
        editor.AddressCmb_Click();
    }
    int Refusals() const { return static_cast<int>(prompts.messages.size()); }
};

TEST_F(Editor, StartsWithOneControllerAtAddressZeroAndEveryPositionAtItsOwnAddress) {
    EXPECT_EQ(primo.DeviceCount, 1);
    EXPECT_EQ(count.items.size(), 64u);
    EXPECT_EQ(count.items.front(), "1");
    EXPECT_EQ(count.items.back(), "64");
    EXPECT_EQ(controller.items, std::vector<std::string>{"1"});
    EXPECT_EQ(controller.index, 0);
    EXPECT_EQ(address.items.size(), 64u);
    EXPECT_EQ(address.items.back(), "63");
    EXPECT_EQ(address.index, 0);
    for (int i = 0; i < 64; ++i) {
        EXPECT_EQ(table[i], i);
    }
    EXPECT_EQ(Refusals(), 0);
}

TEST_F(Editor, ACountChoiceRebuildsTheControllerListAndShowsTheLastControllersAddress) {
    PickCount(4);
    EXPECT_EQ(primo.DeviceCount, 5);
    EXPECT_EQ(controller.items, (std::vector<std::string>{"1", "2", "3", "4", "5"}));
    EXPECT_EQ(controller.index, 4);
    EXPECT_EQ(address.index, 4);
    PickController(1);
    EXPECT_EQ(address.index, 1);
}

TEST_F(Editor, AnAddressInUseIsRefusedOnceAndTheListShowsTheOldAddressAgain) {
    PickCount(1);
    PickController(0);
    PickAddress(1);
    EXPECT_EQ(Refusals(), 1);
    const MessageRequest& box = prompts.messages[0];
    EXPECT_EQ(box.text, "The address has been already used !");
    EXPECT_EQ(box.title, "Info Box");
    EXPECT_EQ(box.buttons, MessageButtons::Ok);
    EXPECT_EQ(address.index, 0);
    EXPECT_EQ(table[0], 0);
    EXPECT_EQ(table[1], 1);

    PickAddress(0);  // the address it already has
    PickAddress(7);
    EXPECT_EQ(Refusals(), 1);
    EXPECT_EQ(table[0], 7);
}

TEST_F(Editor, HiddenPositionsKeepTheirAddressesAndTakeNoPartInTheCheck) {
    PickAddress(1);  // position 1 is hidden and holds 1 too
    EXPECT_EQ(Refusals(), 0);
    EXPECT_EQ(table[0], 1);
    // Raising the count selects controller 2, whose address 1 is now a duplicate.
    PickCount(1);
    EXPECT_EQ(Refusals(), 1);
    EXPECT_EQ(table[0], 1);
    EXPECT_EQ(table[1], 1);
    EXPECT_EQ(address.index, 1);
}

TEST_F(Editor, LoweringAndRaisingTheCountBringsBackTheAddressesOfTheHiddenControllers) {
    PickCount(2);
    PickController(1);
    PickAddress(40);
    PickController(2);
    PickAddress(63);
    PickCount(0);
    EXPECT_EQ(controller.items.size(), 1u);
    PickCount(2);
    EXPECT_EQ(table[1], 40);
    EXPECT_EQ(table[2], 63);
    EXPECT_EQ(address.index, 63);  // "63" stands for "@"
    EXPECT_EQ(AddressCharacter(address.index), '@');
}

TEST_F(Editor, ChoosingTheEntryAlreadyShownRunsTheHandlerAgain) {
    PickCount(3);
    PickController(1);
    PickCount(3);  // same count, chosen again: the last controller is selected anew
    EXPECT_EQ(controller.index, 3);
    EXPECT_EQ(address.index, 3);
}

TEST_F(Editor, AStartupResetForgetsEverythingChosenBefore) {
    PickCount(9);
    PickAddress(50);
    editor.LoadStartupTable();
    EXPECT_EQ(primo.DeviceCount, 1);
    EXPECT_EQ(count.items.size(), 64u);
    EXPECT_EQ(address.items.size(), 64u);
    EXPECT_EQ(table[9], 9);
    EXPECT_EQ(address.index, 0);
}

}  // namespace
}  // namespace tarvel
