// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ListFile.h"

#include <gtest/gtest.h>

namespace tarvel {
namespace {

using Items = std::vector<std::string>;

Items ReadGood(std::string_view bytes) {
    const auto read = ReadListFile(bytes);
    if (const auto* problem = std::get_if<ListFileProblem>(&read)) {
        ADD_FAILURE() << problem->text;
        return {};
    }
    return std::get<Items>(read);
}

std::string ProblemWith(std::string_view bytes) {
    const auto read = ReadListFile(bytes);
    EXPECT_TRUE(std::holds_alternative<ListFileProblem>(read)) << bytes;
    return std::holds_alternative<ListFileProblem>(read) ? std::get<ListFileProblem>(read).text
                                                         : "";
}

TEST(ListFile, ThreeItemsAreFourCrLfLinesWithTheCountBetweenBlanks) {
    EXPECT_EQ(FormatListFile({"A  09:15:02  No answer !   0", "b", "c"}),
              std::string(" 3 \r\nA  09:15:02  No answer !   0\r\nb\r\nc\r\n"));
    EXPECT_EQ(FormatListFile({}), " 0 \r\n");
    // One byte a character, as the list holds it.
    EXPECT_EQ(FormatListFile({"\xe0\xe8"}), " 1 \r\n\xe0\xe8\r\n");
}

TEST(ListFile, RecordsComeBackUnchangedAndAReportWithoutItsLeadingBlanks) {
    const Items records = {"A  09:15:02  No answer !   0", "@  23:59:59  CR not received !   4"};
    EXPECT_EQ(ReadGood(FormatListFile(records)), records);
    const Items report = {" The total numbers of Errors is:   10",
                          " Instrument # A -  5 Errors ( 50%) - C( 20%) - W( 40%) - N( 40%)",
                          "A Ther is noise on line !"};
    EXPECT_EQ(ReadGood(FormatListFile(report)),
              (Items{"The total numbers of Errors is:   10",
                     "Instrument # A -  5 Errors ( 50%) - C( 20%) - W( 40%) - N( 40%)",
                     "A Ther is noise on line !"}));
}

TEST(ListFile, AnItemEndsAtACommaAQuotedOneAtItsClosingQuote) {
    EXPECT_EQ(ReadGood(" 4 \r\n  one, two\r\n\"three, four\" five\r\n\"open\r\n\r\n"),
              (Items{"one", "three, four", "open", ""}));
    // Line ends without CR, a count with blanks and tabs around it, no end after the last.
    EXPECT_EQ(ReadGood("\t2  \na\nb"), (Items{"a", "b"}));
}

TEST(ListFile, LinesAfterTheLastItemAreNotRead) {
    EXPECT_EQ(ReadGood(" 1 \r\nfirst\r\nsecond\r\nthird\r\n"), Items{"first"});
    EXPECT_TRUE(ReadGood(" 0 \r\nanything\r\n").empty());
}

TEST(ListFile, ACountThatIsNoNumberOrMoreThanTheLinesIsRefusedWithTheReason) {
    EXPECT_NE(ProblemWith("").find("empty"), std::string::npos);
    EXPECT_NE(ProblemWith("twelve\r\na\r\n").find("\"twelve\""), std::string::npos);
    EXPECT_NE(ProblemWith(" -1 \r\n").find("number"), std::string::npos);
    EXPECT_NE(ProblemWith(" 3 \r\na\r\nb\r\n").find("announces 3 items but holds 2"),
              std::string::npos);
    // A huge count claims nothing before the lines run out.
    EXPECT_NE(ProblemWith(" 999999999 \r\na\r\n").find("holds 1"), std::string::npos);
}

}  // namespace
}  // namespace tarvel
