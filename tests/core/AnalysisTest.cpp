// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/Analysis.h"

#include <gtest/gtest.h>

namespace tarvel {
namespace {

using Lines = std::vector<std::string>;

std::string Record(char address, const std::string& message, int attempt = 0) {
    return std::string(1, address) + "  09:15:02  " + message + "   " + std::to_string(attempt);
}
const std::string kC = "CR not received !";
const std::string kW = "Wrong # of characters !";
const std::string kN = "No answer !";

TEST(Analysis, TenRecordsOfTwoControllersGiveTheReportByteForByte) {
    // A caused five (one C, two W, two N), B five (all N), mixed in time.
    const Lines records = {Record('B', kN), Record('A', kC), Record('A', kW), Record('B', kN),
                           Record('A', kW), Record('B', kN), Record('A', kN), Record('B', kN),
                           Record('A', kN), Record('B', kN)};
    const AnalysisReport report = Analyse(records);
    EXPECT_EQ(report.lines,
              (Lines{" The total numbers of Errors is:   10",
                     " Instrument # A -  5 Errors ( 50%) - C( 20%) - W( 40%) - N( 40%)",
                     " Instrument # B -  5 Errors ( 50%) - C( 0%) - W( 0%) - N( 100%)",
                     "A Ther is noise on line !", "B Isn't working"}));
    EXPECT_EQ(report.records, 10);
    EXPECT_EQ(report.skipped, 0);
    EXPECT_EQ(report.tally[0].wrongCount, 2);
    EXPECT_EQ(report.tally[1].noAnswerCount, 5);
}

struct ReportCase {
    const char* name;
    Lines records;
    Lines expected;
};

class AnalysisCases : public ::testing::TestWithParam<ReportCase> {};

TEST_P(AnalysisCases, GiveTheirReport) {
    EXPECT_EQ(Analyse(GetParam().records).lines, GetParam().expected) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Analysis, AnalysisCases,
    ::testing::Values(
        ReportCase{"an empty list", {}, {"There is nothing to analyze !"}},
        ReportCase{"one of each kind: thirds rounded each on its own",
                   {Record('C', kC), Record('C', kW), Record('C', kN)},
                   {" The total numbers of Errors is:   3",
                    " Instrument # C -  3 Errors ( 100%) - C( 33%) - W( 33%) - N( 33%)",
                    "C Ther is noise on line !"}},
        ReportCase{"@ is counted under 63 and named by its character",
                   {Record('@', kN), Record('A', kN)},
                   {" The total numbers of Errors is:   2",
                    " Instrument # A -  1 Errors ( 50%) - C( 0%) - W( 0%) - N( 100%)",
                    " Instrument # @ -  1 Errors ( 50%) - C( 0%) - W( 0%) - N( 100%)",
                    "A Isn't working", "@ Isn't working"}},
        ReportCase{"an unknown kind counts toward the total and no kind, and is noise",
                   {Record('B', "Xylophone"), Record('B', kN)},
                   {" The total numbers of Errors is:   2",
                    " Instrument # B -  2 Errors ( 100%) - C( 0%) - W( 0%) - N( 50%)",
                    "B Ther is noise on line !"}},
        ReportCase{"one noisy record among no answers turns the verdict",
                   {Record('D', kN), Record('D', kN), Record('D', kC)},
                   {" The total numbers of Errors is:   3",
                    " Instrument # D -  3 Errors ( 100%) - C( 33%) - W( 0%) - N( 67%)",
                    "D Ther is noise on line !"}},
        ReportCase{"halves round away from zero: 1 of 8 is 12.5 %",
                   {Record('A', kC), Record('B', kN), Record('B', kN), Record('B', kN),
                    Record('B', kN), Record('B', kN), Record('B', kN), Record('B', kN)},
                   {" The total numbers of Errors is:   8",
                    " Instrument # A -  1 Errors ( 13%) - C( 100%) - W( 0%) - N( 0%)",
                    " Instrument # B -  7 Errors ( 88%) - C( 0%) - W( 0%) - N( 100%)",
                    "A Ther is noise on line !", "B Isn't working"}}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

// Counts whose shares round one way in single precision and the other in double, or with the
// multiplication done another way: 21 C of 40 is 52.499996 in single precision (52), 52.5 in
// double (53); 7 W of 40 is 17.500002 in single precision (18), 17.5 in double rounded away from
// zero too (18) but 17.499998 when 7/40 is taken to double first; the share of all of 23 of 40
// is 57.49999... in double (57), 57.5 as 23 * 100 / 40 (58).
TEST(Analysis, KindSharesInSinglePrecisionAndTheShareOfAllInDouble) {
    Lines records;
    for (int i = 0; i < 21; ++i)
        records.push_back(Record('A', kC));
    for (int i = 0; i < 7; ++i)
        records.push_back(Record('A', kW));
    for (int i = 0; i < 12; ++i)
        records.push_back(Record('A', kN));
    for (int i = 0; i < 23; ++i)
        records.push_back(Record('B', kN));
    for (int i = 0; i < 17; ++i)
        records.push_back(Record('C', kN));
    const AnalysisReport report = Analyse(records);
    EXPECT_EQ(report.lines[1], " Instrument # A -  40 Errors ( 50%) - C( 52%) - W( 18%) - N( 30%)");
    Lines fortyWithB(records.begin(), records.begin() + 17);  // 17 of A
    for (int i = 0; i < 23; ++i)
        fortyWithB.push_back(Record('B', kN));
    EXPECT_EQ(Analyse(fortyWithB).lines[2],
              " Instrument # B -  23 Errors ( 57%) - C( 0%) - W( 0%) - N( 100%)");
}

TEST(Analysis, LinesWithoutTheShapeOfARecordCountNowhere) {
    const Lines mixed = {" The total numbers of Errors is:   2",
                         "The total numbers of Errors is:   2",
                         "Instrument # A -  1 Errors ( 50%) - C( 0%) - W( 0%) - N( 100%)",
                         "A Ther is noise on line !",
                         "",
                         "A  9:15:02  No answer !   0",   // the time of day is not 8 characters
                         "A  09:15:02",                   // too short to hold a message
                         "a  09:15:02  No answer !   0",  // "a" is an address too (index 32)
                         Record('A', kN)};
    const AnalysisReport report = Analyse(mixed);
    EXPECT_EQ(report.records, 2);
    EXPECT_EQ(report.skipped, 7);
    EXPECT_EQ(report.lines.front(), " The total numbers of Errors is:   2");
    EXPECT_EQ(report.tally[static_cast<std::size_t>(AddressIndexOf('a'))].total, 1);

    // A report analysed again is no list of records at all.
    const AnalysisReport again = Analyse(report.lines);
    EXPECT_EQ(again.records, 0);
    EXPECT_TRUE(again.lines.empty());
    EXPECT_EQ(again.skipped, static_cast<int>(report.lines.size()));
}

TEST(Analysis, AnyNumberOfRecordsIsCounted) {
    Lines many(70'000, Record('A', kN));
    many.push_back(Record('B', kW));
    const AnalysisReport report = Analyse(many);
    EXPECT_EQ(report.records, 70'001);
    EXPECT_EQ(report.lines[0], " The total numbers of Errors is:   70001");
    EXPECT_EQ(report.lines[1],
              " Instrument # A -  70000 Errors ( 100%) - C( 0%) - W( 0%) - N( 100%)");
}

}  // namespace
}  // namespace tarvel
