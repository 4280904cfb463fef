// SPDX-License-Identifier: GPL-3.0-or-later
#include "line/LineConfigCommands.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "support/FakeControls.h"
#include "support/ScriptedPrompts.h"
#include "support/Watchdog.h"

namespace tarvel {
namespace {

using namespace testing;

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

struct Commands : ::testing::Test {
    Primo primo;
    ControllerAddressTable table{};
    FakeChoiceList count;
    FakeChoiceList controller;
    FakeChoiceList address;
    FakeProgress progress;
    ScriptedPrompts prompts;
    DeviceTableEditor editor{primo, table, {count, controller, address}, prompts};
    LineConfigCommands commands{primo, editor, progress, prompts};
    QTemporaryDir folder;

    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        editor.LoadStartupTable();
    }
    std::string PathOf(const char* name) const { return folder.filePath(name).toStdString(); }
    void Configure(std::vector<int> addresses) {
        count.index = static_cast<int>(addresses.size()) - 1;
        editor.MaxNumCmb_Click();
        for (std::size_t i = 0; i < addresses.size(); ++i) {
            table[i] = static_cast<std::int16_t>(addresses[i]);
        }
    }
};

TEST_F(Commands, SaveAsksWithItsOwnDialogAndWritesThePositionsInUse) {
    Configure({0, 2, 63});
    prompts.files = {PathOf("line.cfg")};
    commands.SaveMEnu_Click();
    ASSERT_EQ(prompts.fileRequests.size(), 1u);
    EXPECT_EQ(prompts.fileRequests[0].title, "Save Line Configuration");
    EXPECT_EQ(prompts.fileRequests[0].filter, "Data Files (*.cfg)|*.cfg");
    EXPECT_EQ(prompts.fileRequests[0].defaultExtension, "cfg");
    EXPECT_EQ(Contents(PathOf("line.cfg")), std::string(" 3 \r\n 0 \r\n 2 \r\n 63 \r\n"));
    EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(Commands, LoadRestoresCountAndAddressesAndSelectsTheLastController) {
    Write(PathOf("line.cfg"), std::string(" 3 \r\n 0 \r\n 2 \r\n 63 \r\n"));
    table[5] = 44;
    prompts.files = {PathOf("line.cfg")};
    commands.LoadMenu_Click();
    EXPECT_EQ(prompts.fileRequests[0].title, "Load Configuration");
    EXPECT_EQ(prompts.fileRequests[0].filter, "Data Files (*.cfg)|*.cfg|All files (*.*)| *.*|");
    EXPECT_EQ(primo.DeviceCount, 3);
    EXPECT_EQ(table[0], 0);
    EXPECT_EQ(table[1], 2);
    EXPECT_EQ(table[2], 63);
    EXPECT_EQ(table[3], 3);
    EXPECT_EQ(table[5], 44);  // above the count: as it was
    EXPECT_EQ(controller.items, (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(controller.index, 2);
    EXPECT_EQ(address.index, 63);
    EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(Commands, SavingAndLoadingAgainGivesTheSameTable) {
    Configure({10, 11, 12, 1, 62});
    ASSERT_TRUE(commands.Save(PathOf("a.cfg")));
    const ControllerAddressTable saved = table;
    editor.LoadStartupTable();
    ASSERT_TRUE(commands.Load(PathOf("a.cfg")));
    EXPECT_EQ(primo.DeviceCount, 5);
    EXPECT_EQ(table, saved);
}

TEST_F(Commands, ADuplicateLastAddressIsTakenOverAndReportedByTheUniquenessCheck) {
    Write(PathOf("dup.cfg"), "2\n7\n7\n");
    ASSERT_TRUE(commands.Load(PathOf("dup.cfg")));
    EXPECT_EQ(table[0], 7);
    EXPECT_EQ(table[1], 7);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].text, "The address has been already used !");
}

TEST_F(Commands, CancellingEitherDialogChangesNothing) {
    Configure({4, 5});
    commands.LoadMenu_Click();
    commands.SaveMEnu_Click();
    EXPECT_EQ(primo.DeviceCount, 2);
    EXPECT_EQ(controller.index, 1);
    EXPECT_EQ(table[0], 4);
    EXPECT_TRUE(QDir(folder.path()).isEmpty());
}

TEST_F(Commands, ARefusedFileChangesNothingAndNamesTheFileAndTheProblem) {
    Configure({4, 5});
    controller.index = 0;
    for (const char* text : {"", "70\n", "2\n1\n64\n", "3\n1\n2\n", "\x01\x02\x03", "2\n1\nB\n"}) {
        Write(PathOf("bad.cfg"), text);
        prompts.messages.clear();
        EXPECT_FALSE(commands.Load(PathOf("bad.cfg"))) << text;
        EXPECT_EQ(primo.DeviceCount, 2);
        EXPECT_EQ(table[0], 4);
        EXPECT_EQ(table[1], 5);
        EXPECT_EQ(controller.items.size(), 2u);
        EXPECT_EQ(controller.index, 0);
        ASSERT_EQ(prompts.messages.size(), 1u);
        EXPECT_EQ(prompts.messages[0].title, "Info Box");
        EXPECT_NE(prompts.messages[0].text.find(PathOf("bad.cfg")), std::string::npos);
        EXPECT_NE(prompts.messages[0].text.find("unchanged"), std::string::npos);
    }
    prompts.messages.clear();
    EXPECT_FALSE(commands.Load(PathOf("missing.cfg")));
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_NE(prompts.messages[0].text.find("cannot be opened"), std::string::npos);
}

TEST_F(Commands, ADeviceAFifoOrAnEndlessFileIsRefusedAtOnceAndNamed) {
    Configure({4, 5});
    ASSERT_EQ(::mkfifo(PathOf("pipe.cfg").c_str(), 0600), 0);
    Write(PathOf("blanks.cfg"), std::string(1 << 20, ' '));
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/dev/zero", "\nis a character device, not a file. The line configuration is unchanged."},
        {PathOf("pipe.cfg"),
         "\nis a FIFO (named pipe), not a file. The line configuration is unchanged."},
        {folder.path().toStdString(),
         "\nis a folder, not a file. The line configuration is unchanged."},
        {PathOf("blanks.cfg"),
         "\nis not a line configuration: its numbers do not end within its first 64 KiB.\n"
         "The line configuration is unchanged."},
    };
    const testing::Watchdog watchdog;
    for (const auto& [path, text] : cases) {
        prompts.messages.clear();
        prompts.files = {path};
        commands.LoadMenu_Click();
        EXPECT_EQ(primo.DeviceCount, 2);
        EXPECT_EQ(table[0], 4);
        EXPECT_EQ(table[1], 5);
        EXPECT_EQ(controller.items.size(), 2u);
        ASSERT_EQ(prompts.messages.size(), 1u);
        EXPECT_EQ(prompts.messages[0].text, "The file\n" + path + text);
    }
}

TEST_F(Commands, AFailedSaveSaysSoAndLeavesWhatWasThereInPlace) {
    Configure({1, 2, 3});
    EXPECT_FALSE(commands.Save(PathOf("no/such/folder/x.cfg")));
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_NE(prompts.messages[0].text.find(PathOf("no/such/folder/x.cfg")), std::string::npos);

    ASSERT_TRUE(QDir(folder.path()).mkdir("taken.cfg"));
    EXPECT_FALSE(commands.Save(PathOf("taken.cfg")));
    EXPECT_TRUE(QFileInfo(folder.filePath("taken.cfg")).isDir());
    EXPECT_EQ(prompts.messages.size(), 2u);

    if (::geteuid() != 0) {  // root writes into read-only folders
        Write(PathOf("keep.cfg"), "1\n9\n");
        QFile::setPermissions(folder.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        EXPECT_FALSE(commands.Save(PathOf("keep.cfg")));
        QFile::setPermissions(folder.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                 QFileDevice::ExeOwner);
        EXPECT_EQ(Contents(PathOf("keep.cfg")), "1\n9\n");
    }
}

TEST_F(Commands, ResetPutsBackTheStartUpTableAndTheProgressBar) {
    Configure({9, 8, 7});
    progress.value = 3;
    commands.ResetMenu_Click();
    EXPECT_EQ(primo.DeviceCount, 1);
    EXPECT_EQ(table[0], 0);
    EXPECT_EQ(table[2], 2);
    EXPECT_EQ(address.index, 0);
    EXPECT_EQ(controller.items.size(), 1u);
    EXPECT_EQ(progress.value, 0);
}

}  // namespace
}  // namespace tarvel
