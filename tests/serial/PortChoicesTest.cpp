// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/PortChoices.h"

#include "core/NumberText.h"

#include <gtest/gtest.h>

namespace tarvel {
namespace {

TEST(PortChoices, ThePresetsGiveTheSharedSettingsOfPortOne) {
    Primo primo;
    ApplyPortChoices(PortChoices{}, primo);
    EXPECT_EQ(primo.PortNumber, 1);
    EXPECT_EQ(primo.BaudText, " 4800");
    EXPECT_EQ(primo.ParityText, "N");
    EXPECT_EQ(primo.StopBitsText, " 1");
    EXPECT_EQ(primo.RetryCount, 2);
    EXPECT_EQ(primo.ProtocolIndex, 0);
    EXPECT_EQ(DataBitsFor(primo.ParityText), "8");
}

TEST(PortChoices, EveryListEntryConverts) {
    Primo primo;
    ApplyPortChoices(PortChoices{3, 6, 1, 1, 4, 5}, primo);
    EXPECT_EQ(primo.PortNumber, 4);
    EXPECT_EQ(primo.BaudText, " 9600");
    EXPECT_EQ(primo.ParityText, "E");
    EXPECT_EQ(primo.StopBitsText, " 2");
    EXPECT_EQ(primo.RetryCount, 4);
    EXPECT_EQ(primo.ProtocolIndex, 5);  // Pyromat is accepted here, refused only at Start
    ApplyPortChoices(PortChoices{0, 0, 2, 0, 0, 0}, primo);
    EXPECT_EQ(primo.BaudText, " 150");
    EXPECT_EQ(primo.ParityText, "O");
    EXPECT_EQ(primo.RetryCount, 0);
    EXPECT_EQ(DataBitsFor("E"), "7");
    EXPECT_EQ(DataBitsFor("O"), "7");
}

TEST(PortChoices, LeadingNumberReadsLikeTheListEntriesAreMeant) {
    EXPECT_EQ(LeadingNumber("4800"), 4800);
    EXPECT_EQ(LeadingNumber("  12abc"), 12);
    EXPECT_EQ(LeadingNumber("abc"), 0);
    EXPECT_EQ(LeadingNumber(""), 0);
}

}  // namespace
}  // namespace tarvel
