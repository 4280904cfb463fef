// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/Verdict.h"

#include <gtest/gtest.h>

#include "protocol/ascon/AsconFrame.h"

namespace tarvel {
namespace {

TEST(ErrorRecord, HasFixedColumnsUpToTheMessageAndTheAttemptAtTheEnd) {
    const std::string record = ErrorRecord('A', TimeOfDay{9, 15, 2}, ExchangeVerdict::NoAnswer, 0);
    EXPECT_EQ(record, "A  09:15:02  No answer !   0");
    EXPECT_EQ(record.size(), 28u);
    EXPECT_EQ(ErrorRecord('B', {23, 59, 59}, ExchangeVerdict::WrongCount, 4).size(), 40u);
    const std::string noCr = ErrorRecord('@', {0, 0, 0}, ExchangeVerdict::NoCr, 2);
    EXPECT_EQ(noCr.size(), 34u);
    EXPECT_EQ(noCr.substr(0, 1), "@");
    EXPECT_EQ(noCr.substr(3, 8), "00:00:00");
    EXPECT_EQ(noCr[13], 'C');
    EXPECT_EQ(noCr.back(), '2');
}

TEST(ErrorRecord, TheMessagesFirstLetterIsTheKind) {
    EXPECT_EQ(VerdictMessage(ExchangeVerdict::NoAnswer), "No answer !");
    EXPECT_EQ(VerdictMessage(ExchangeVerdict::WrongCount), "Wrong # of characters !");
    EXPECT_EQ(VerdictMessage(ExchangeVerdict::NoCr), "CR not received !");
    EXPECT_EQ(VerdictMessage(ExchangeVerdict::Good), "");
    EXPECT_EQ(TimeOfDayText({7, 5, 9}), "07:05:09");
}

TEST(AsconFrame, IsTheAddressThenQuestionMarkXTwoBlanksAndACarriageReturn) {
    EXPECT_EQ(AsconRequest('A'), std::string("A?X  \r"));
    EXPECT_EQ(AsconRequest('@').size(), 6u);
}

}  // namespace
}  // namespace tarvel
