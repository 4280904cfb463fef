// SPDX-License-Identifier: GPL-3.0-or-later
// The list files of the error list and of the analyzer, and the analysis on a list, without
// windows: a list box without widgets, scripted dialogs, files in a scratch folder.

#include "analysis/ListCommands.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <fstream>
#include <sstream>

#include "core/Analysis.h"
#include "support/FakeControls.h"
#include "support/Run.h"
#include "support/ScriptedPrompts.h"
#include "support/Watchdog.h"

namespace tarvel {
namespace {

using Lines = std::vector<std::string>;

const Lines kRecords = {"B  09:15:02  No answer !   0", "A  09:15:02  CR not received !   0",
                        "A  09:15:03  Wrong # of characters !   1", "B  09:15:04  No answer !   1",
                        "A  09:15:05  No answer !   0"};

struct ListCommandsTest : ::testing::Test {
    QTemporaryDir folder;
    testing::ScriptedPrompts prompts;
    VirtualTime time;
    ListCommands commands{prompts, time};
    testing::FakeListBox list;

    // The commands run to their end (files are read and written "aside", at once here).
    void Save(const FileRequest& request) { testing::RunToEnd(time, commands.Save(list, request)); }
    void Load(const FileRequest& request) { testing::RunToEnd(time, commands.Load(list, request)); }
    bool SaveTo(const ListBox& from, const std::string& path) {
        return testing::RunToEnd(time, commands.SaveTo(from, path));
    }
    bool LoadFrom(ListBox& into, const std::string& path) {
        return testing::RunToEnd(time, commands.LoadFrom(into, path));
    }

    std::string PathOf(const std::string& name) const {
        return folder.filePath(QString::fromStdString(name)).toStdString();
    }
    static std::string Contents(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static void Write(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    void Fill(const Lines& lines) {
        list.items = lines;
        list.visible = true;
    }
};

TEST_F(ListCommandsTest, TheFourDialogsHaveTheirTitlesFiltersAndExtensions) {
    const std::vector<std::pair<FileRequest, FileRequest>> requests = {
        {SaveErrorListRequest(), {"Save Error List", "Data Files (*.lst)|*.lst", "lst", 0}},
        {LoadErrorListRequest(),
         {"Load Error List", "Data Files (*.lst)|*.lst|All files (*.*)| *.*|", "lst", 0}},
        {SaveAnalysisRequest(), {"Save Analisys", "Data Files (*.dat)|*.dat", "dat", 0}},
        {LoadAnalysisRequest(),
         {"Load Analisys", "Data Files (*.dat)|*.dat|All files (*.*)| *.*|", "dat", 0}},
    };
    for (const auto& [made, expected] : requests) {
        EXPECT_EQ(made.title, expected.title);
        EXPECT_EQ(made.filter, expected.filter) << made.title;
        EXPECT_EQ(made.defaultExtension, expected.defaultExtension) << made.title;
        EXPECT_EQ(made.filterIndex, 0) << made.title;
    }
}

TEST_F(ListCommandsTest, SavingWritesTheCountLineAndEachItemWithCrLf) {
    Fill({"x", "y", "z"});
    prompts.files = {PathOf("three.lst")};
    Save(SaveErrorListRequest());
    EXPECT_EQ(Contents(PathOf("three.lst")), " 3 \r\nx\r\ny\r\nz\r\n");
    EXPECT_TRUE(prompts.messages.empty());
    ASSERT_EQ(prompts.fileRequests.size(), 1u);
    EXPECT_EQ(prompts.fileRequests[0].title, "Save Error List");
}

TEST_F(ListCommandsTest, AnEmptyListIsRefusedAfterTheDialogAndNoFileIsMade) {
    prompts.files = {PathOf("empty.lst")};
    Save(SaveErrorListRequest());
    ASSERT_EQ(prompts.fileRequests.size(), 1u);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].text, "No items to save !");
    EXPECT_EQ(prompts.messages[0].title, "Error");
    EXPECT_EQ(prompts.messages[0].icon, MessageIcon::Exclamation);
    EXPECT_EQ(prompts.messages[0].buttons, MessageButtons::Ok);
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(PathOf("empty.lst"))));

    prompts.messages.clear();
    Save(SaveAnalysisRequest());  // cancelled: nothing said, nothing written
    EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(ListCommandsTest, AFailedSaveSaysWhereAndLeavesWhatWasThere) {
    Fill(kRecords);
    EXPECT_FALSE(SaveTo(list, PathOf("no/such/folder/x.lst")));
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_NE(prompts.messages[0].text.find(PathOf("no/such/folder/x.lst")), std::string::npos);
    EXPECT_EQ(prompts.messages[0].title, "Info Box");
    ASSERT_TRUE(QDir(folder.path()).mkdir("taken.lst"));
    EXPECT_FALSE(SaveTo(list, PathOf("taken.lst")));
    EXPECT_TRUE(QFileInfo(folder.filePath("taken.lst")).isDir());
}

TEST_F(ListCommandsTest, LoadingReplacesTheListAndShowsItOnlyTheAnnouncedItemsAreRead) {
    Fill({"old"});
    list.visible = false;
    Write(PathOf("two.lst"), " 2 \r\nA  09:15:02  No answer !   0\r\nsecond\r\nthird\r\n");
    prompts.files = {PathOf("two.lst")};
    Load(LoadErrorListRequest());
    EXPECT_EQ(list.items, (Lines{"A  09:15:02  No answer !   0", "second"}));
    EXPECT_TRUE(list.visible);
    EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(ListCommandsTest, ACancelledLoadOnlyShowsTheListEvenAnEmptyOne) {
    list.visible = false;
    Load(LoadAnalysisRequest());
    EXPECT_TRUE(list.items.empty());
    EXPECT_TRUE(list.visible);
    EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(ListCommandsTest, AFileThatCannotBeLoadedIsNamedAndTheListStaysAsItWas) {
    Write(PathOf("words.lst"), "twelve\r\na\r\n");
    Write(PathOf("short.lst"), " 5 \r\na\r\nb\r\n");
    ASSERT_EQ(::mkfifo(PathOf("pipe.lst").c_str(), 0600), 0);
    Write(PathOf("huge.dat"), " 1 \r\na\r\n");
    ASSERT_EQ(::truncate(PathOf("huge.dat").c_str(), (off_t{1} << 30) + 1), 0);  // sparse
    const std::vector<std::pair<std::string, std::string>> cases = {
        {PathOf("missing.lst"), "\ncannot be read: No such file or directory.\n"},
        {PathOf("words.lst"), "\"twelve\""},
        {PathOf("short.lst"), "announces 5 items but holds 2"},
        {"/dev/zero", "\nis a character device, not a file.\n"},
        {PathOf("pipe.lst"), "\nis a FIFO (named pipe), not a file.\n"},
        {PathOf("huge.dat"), "\nis larger than 1 GiB, more than a list file can be.\n"},
    };
    const testing::Watchdog watchdog;
    for (const auto& [path, reason] : cases) {
        Fill(kRecords);
        list.visible = false;
        prompts.messages.clear();
        prompts.files = {path};
        Load(LoadErrorListRequest());
        EXPECT_EQ(list.items, kRecords) << path;
        EXPECT_FALSE(list.visible) << path;
        ASSERT_EQ(prompts.messages.size(), 1u) << path;
        EXPECT_NE(prompts.messages[0].text.find(path), std::string::npos);
        EXPECT_NE(prompts.messages[0].text.find(reason), std::string::npos)
            << prompts.messages[0].text;
        EXPECT_NE(prompts.messages[0].text.find("unchanged"), std::string::npos);
    }
}

TEST_F(ListCommandsTest, AnErrorListSavedAndLoadedIntoTheAnalyzerGivesTheSameReport) {
    Fill(kRecords);
    ASSERT_TRUE(SaveTo(list, PathOf("run.lst")));
    testing::FakeListBox analyzer;
    ASSERT_TRUE(LoadFrom(analyzer, PathOf("run.lst")));
    EXPECT_EQ(analyzer.items, kRecords);
    commands.Analyse(analyzer);
    EXPECT_EQ(analyzer.items, Analyse(kRecords).lines);

    // The report saved and loaded back: its leading blanks are gone, the verdicts unchanged.
    ASSERT_TRUE(SaveTo(analyzer, PathOf("run.dat")));
    testing::FakeListBox again;
    ASSERT_TRUE(LoadFrom(again, PathOf("run.dat")));
    ASSERT_EQ(again.items.size(), analyzer.items.size());
    for (std::size_t i = 0; i < again.items.size(); ++i) {
        const std::string& saved = analyzer.items[i];
        EXPECT_EQ(again.items[i], saved.substr(saved.find_first_not_of(' ')));
    }
    EXPECT_EQ(again.items.back(), "B Isn't working");
}

TEST_F(ListCommandsTest, TheAnalysisOfAnEmptyListSaysSoAndShowsTheList) {
    list.visible = false;
    commands.Analyse(list);
    EXPECT_EQ(list.items, Lines{"There is nothing to analyze !"});
    EXPECT_TRUE(list.visible);
}

TEST_F(ListCommandsTest, AReportIsNotAnalysedAgainAndLeftOutLinesAreCounted) {
    Fill(kRecords);
    list.visible = false;
    commands.Analyse(list);
    const Lines report = list.items;
    EXPECT_EQ(report, Analyse(kRecords).lines);
    EXPECT_FALSE(list.visible);  // the analysis leaves the list shown or hidden as it was
    EXPECT_TRUE(prompts.messages.empty());

    commands.Analyse(list);  // the report itself: no record in it
    EXPECT_EQ(list.items, report);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].title, "Info Box");
    EXPECT_NE(prompts.messages[0].text.find("None of the 5 lines"), std::string::npos);

    Fill({"", kRecords[0], "The total numbers of Errors is:   1", kRecords[1]});
    commands.Analyse(list);
    EXPECT_EQ(list.items.front(), " The total numbers of Errors is:   2");
    ASSERT_EQ(prompts.messages.size(), 2u);
    EXPECT_NE(prompts.messages[1].text.find("2 of the 4 lines"), std::string::npos);
}

TEST_F(ListCommandsTest, AnalizeCopiesTheErrorListOrHidesTheAnalyzersWhenItIsEmpty) {
    testing::FakeListBox errors;
    errors.items = kRecords;
    Fill({"an old report"});
    CopyErrorList(errors, list);
    EXPECT_EQ(list.items, kRecords);
    EXPECT_TRUE(list.visible);
    errors.items.clear();
    CopyErrorList(errors, list);
    EXPECT_EQ(list.items, kRecords);  // kept, only hidden
    EXPECT_FALSE(list.visible);
}

TEST_F(ListCommandsTest, RecordsAddedWhileAFileIsReadStayAfterTheFilesLines) {
    Write(PathOf("two.lst"), " 2 \r\nfile one\r\nfile two\r\n");
    Fill({"old"});
    // The read is under way (here its work is done, its end not yet seen) when a run records.
    auto loading = commands.LoadFrom(list, PathOf("two.lst"));
    list.AddItem("B  09:15:09  No answer !   0");
    EXPECT_TRUE(testing::RunToEnd(time, std::move(loading)));
    EXPECT_EQ(list.items, (Lines{"file one", "file two", "B  09:15:09  No answer !   0"}));

    // Anything else done to the list meanwhile: the file replaces it, as chosen last.
    auto again = commands.LoadFrom(list, PathOf("two.lst"));
    list.Clear();
    list.AddItem("x");
    EXPECT_TRUE(testing::RunToEnd(time, std::move(again)));
    EXPECT_EQ(list.items, (Lines{"file one", "file two"}));
}

TEST_F(ListCommandsTest, OneFileAtATimePerList) {
    EXPECT_FALSE(commands.RefuseWhileBusy(0));
    EXPECT_TRUE(prompts.messages.empty());
    EXPECT_TRUE(commands.RefuseWhileBusy(1));
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_NE(prompts.messages[0].text.find("still being read or written"), std::string::npos);
}

}  // namespace
}  // namespace tarvel
