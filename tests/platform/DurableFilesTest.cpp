// SPDX-License-Identifier: GPL-3.0-or-later
// Files that must survive a killed program: replaced whole through a temporary file, or appended
// as a log. A reader never sees one missing or half-written.

#include "platform/DurableFiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace tarvel {
namespace {

struct DurableFilesTest : ::testing::Test {
    std::filesystem::path folder =
        std::filesystem::temp_directory_path() /
        ("durable-files-" + std::to_string(::getpid()) + "-" +
         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    DurableFilesTest() { std::filesystem::create_directories(folder); }
    ~DurableFilesTest() override { std::filesystem::remove_all(folder); }
    std::string File(const std::string& name) const { return (folder / name).string(); }
    std::size_t Entries() const {
        return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder),
                                                      std::filesystem::directory_iterator()));
    }
    static std::string Contents(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }
};

// Version n: a count line, then n lines, then an end mark; any mixture or cut shows.
std::string Version(int n) {
    std::string text = std::to_string(n) + "\n";
    for (int i = 0; i < n; ++i) {
        text += std::string(static_cast<std::size_t>(40 + i % 7), static_cast<char>('a' + n % 26)) +
                "\n";
    }
    return text + "end\n";
}

bool Whole(const std::string& text) {
    const std::size_t newline = text.find('\n');
    if (newline == std::string::npos) {
        return false;
    }
    return text == Version(std::stoi(text.substr(0, newline)));
}

TEST_F(DurableFilesTest, AReaderSeesTheOldVersionOrTheNewOneWholeNeverNothing) {
    const std::string path = File("run.lst");
    auto prepared = ReplacedFile::Prepare(path);
    ASSERT_TRUE(std::holds_alternative<ReplacedFile>(prepared)) << std::get<std::string>(prepared);
    ReplacedFile file = std::move(std::get<ReplacedFile>(prepared));
    ASSERT_FALSE(file.Replace(Version(0)));

    std::atomic<bool> done = false;
    std::atomic<int> reads = 0;
    std::atomic<int> broken = 0;
    std::thread reader([&] {
        while (!done) {
            std::ifstream in(path, std::ios::binary);
            if (!in) {
                ++broken;  // missing
                continue;
            }
            std::ostringstream bytes;
            bytes << in.rdbuf();
            broken += Whole(bytes.str()) ? 0 : 1;
            ++reads;
        }
    });
    // Versions that grow and shrink, as an error list does after "Res".
    for (int n = 1; n <= 400; ++n) {
        ASSERT_FALSE(file.Replace(Version(n % 3 == 0 ? n / 3 : n)));
    }
    done = true;
    reader.join();
    EXPECT_EQ(broken, 0);
    EXPECT_GT(reads, 0);
    EXPECT_EQ(Contents(path), Version(400));
    // No temporary file waits between two versions: a killed program leaves none.
    EXPECT_EQ(Entries(), 1u);
}

TEST_F(DurableFilesTest, APathThatCannotBeWrittenIsToldBeforeAnythingIsWritten) {
    std::filesystem::create_directories(folder / "sub");
    std::ofstream(File("plain")) << "x";
    const std::vector<std::pair<std::string, std::string>> refused{
        {File("missing/run.lst"), "No such file or directory"},
        {File("sub"), "it is a folder"},
        {File("plain/run.lst"), "Not a directory"},
        {"/dev/null", "it is no plain file"},
    };
    for (const auto& [path, reason] : refused) {
        auto prepared = ReplacedFile::Prepare(path);
        ASSERT_TRUE(std::holds_alternative<std::string>(prepared)) << path;
        EXPECT_EQ(std::get<std::string>(prepared), reason) << path;
    }
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));
    EXPECT_EQ(Contents(File("plain")), "x");

    // Prepared but never written: nothing stays behind, and a file that was there is untouched.
    std::ofstream(File("old.lst")) << "old";
    { auto prepared = ReplacedFile::Prepare(File("old.lst")); }
    { auto prepared = ReplacedFile::Prepare(File("new.lst")); }
    EXPECT_EQ(Contents(File("old.lst")), "old");
    EXPECT_FALSE(std::filesystem::exists(File("new.lst")));
    EXPECT_EQ(Entries(), 3u);  // sub, plain, old.lst
}

TEST_F(DurableFilesTest, AWrittenFileHasTheModeTheShellWouldGiveIt) {
    const mode_t before = ::umask(022);
    ASSERT_FALSE(WriteFileDurably(File("report.dat"), "report"));
    ::umask(before);
    struct stat status {};
    ASSERT_EQ(::stat(File("report.dat").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0644u);
    EXPECT_EQ(Contents(File("report.dat")), "report");
    EXPECT_EQ(Entries(), 1u);
}

TEST_F(DurableFilesTest, ALogStartsEmptyAndKeepsEveryPieceInOrder) {
    std::ofstream(File("traffic.csv")) << "an older run\n";
    auto prepared = AppendedFile::Prepare(File("traffic.csv"));
    ASSERT_TRUE(std::holds_alternative<AppendedFile>(prepared));
    AppendedFile log = std::move(std::get<AppendedFile>(prepared));
    EXPECT_EQ(Contents(File("traffic.csv")), "");
    std::string expected;
    for (int i = 0; i < 100; ++i) {
        ASSERT_FALSE(log.Append(std::to_string(i) + "\n"));
        expected += std::to_string(i) + "\n";
        // On the host at once, before any flush: a killed program loses nothing.
        ASSERT_EQ(Contents(File("traffic.csv")), expected);
    }
    EXPECT_FALSE(log.Sync());
    EXPECT_EQ(Contents(File("traffic.csv")), expected);

    auto refused = AppendedFile::Prepare(File("missing/traffic.csv"));
    ASSERT_TRUE(std::holds_alternative<std::string>(refused));
    EXPECT_EQ(std::get<std::string>(refused), "No such file or directory");
    // A FIFO is refused at once, not waited on; a device is never written.
    ASSERT_EQ(::mkfifo(File("fifo").c_str(), 0600), 0);
    auto fifo = AppendedFile::Prepare(File("fifo"));
    ASSERT_TRUE(std::holds_alternative<std::string>(fifo));
    EXPECT_EQ(std::get<std::string>(fifo), "it is no plain file");
    auto device = AppendedFile::Prepare("/dev/null");
    ASSERT_TRUE(std::holds_alternative<std::string>(device));
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));
}

}  // namespace
}  // namespace tarvel
