// SPDX-License-Identifier: GPL-3.0-or-later
// The file readers: regular files only, never blocking, never reading more than a format needs.

#include "platform/TextFiles.h"

#include <gtest/gtest.h>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "support/Watchdog.h"

namespace tarvel {
namespace {

using Cause = FileRefusal::Cause;

struct TextFilesTest : ::testing::Test {
    QTemporaryDir folder;

    void SetUp() override { ASSERT_TRUE(folder.isValid()); }
    std::string PathOf(const std::string& name) const {
        return folder.filePath(QString::fromStdString(name)).toStdString();
    }
    std::string Write(const std::string& name, const std::string& bytes) const {
        const std::string path = PathOf(name);
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    // `head`, then NULs up to `size` bytes that take no room on the disk.
    std::string Sparse(const std::string& name, const std::string& head, off_t size) const {
        const std::string path = Write(name, head);
        EXPECT_EQ(::truncate(path.c_str(), size), 0) << std::strerror(errno);
        return path;
    }
    std::string Fifo(const std::string& name) const {
        const std::string path = PathOf(name);
        EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0) << std::strerror(errno);
        return path;
    }
    std::string Socket(const std::string& name) const {
        const std::string path = PathOf(name);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0)
            << std::strerror(errno);
        ::close(fd);  // the socket's file stays
        return path;
    }
};

std::optional<std::string> AnyBlockDevice() {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/dev", error)) {
        if (entry.is_block_file(error)) {
            return entry.path().string();
        }
    }
    return std::nullopt;
}

const FileRefusal* RefusalOf(
    const std::variant<LineConfiguration, ConfigProblem, FileRefusal>& read) {
    return std::get_if<FileRefusal>(&read);
}

TEST_F(TextFilesTest, AnythingButARegularFileIsRefusedAtOnceAndNamedWithoutBeingRead) {
    std::filesystem::create_symlink("/dev/zero", PathOf("zero.lst"));
    std::vector<std::pair<std::string, std::string>> cases = {
        {"/dev/zero", "is a character device, not a file"},
        {"/dev/null", "is a character device, not a file"},
        {PathOf("zero.lst"), "is a character device, not a file"},
        {folder.path().toStdString(), "is a folder, not a file"},
        {Fifo("pipe.lst"), "is a FIFO (named pipe), not a file"},
        {Socket("socket.lst"), "is a socket, not a file"},
    };
    if (const auto device = AnyBlockDevice()) {
        cases.emplace_back(*device, "is a block device, not a file");
    }
    const testing::Watchdog watchdog;  // a FIFO opened for reading waits for a writer
    for (const auto& [path, text] : cases) {
        std::string bytes = "kept";
        const auto refusal = ReadRegularFile(path, bytes);
        ASSERT_TRUE(refusal) << path;
        EXPECT_EQ(refusal->cause, Cause::NotAFile) << path;
        EXPECT_EQ(refusal->text, text) << path;
        EXPECT_EQ(AfterPath(*refusal), text);
        EXPECT_EQ(bytes, "kept") << path;
        EXPECT_EQ(ReadWholeFile(path, bytes), text);

        const auto read = ReadLineConfigurationFile(path);
        ASSERT_TRUE(RefusalOf(read)) << path;
        EXPECT_EQ(RefusalOf(read)->cause, Cause::NotAFile) << path;
        EXPECT_EQ(RefusalOf(read)->text, text) << path;
    }
}

TEST_F(TextFilesTest, AFileThatCannotBeOpenedGivesTheHostsReason) {
    std::string bytes = "kept";
    const auto refusal = ReadRegularFile(PathOf("missing.lst"), bytes);
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->cause, Cause::CannotOpen);
    EXPECT_EQ(refusal->text, "No such file or directory");
    EXPECT_EQ(AfterPath(*refusal), "cannot be read: No such file or directory");
    EXPECT_EQ(bytes, "kept");
    EXPECT_EQ(ReadWholeFile(PathOf("missing.lst"), bytes), "No such file or directory");
    const auto read = ReadLineConfigurationFile(PathOf("missing.cfg"));
    ASSERT_TRUE(RefusalOf(read));
    EXPECT_EQ(RefusalOf(read)->cause, Cause::CannotOpen);

    if (::geteuid() != 0) {  // root reads any file
        const std::string locked = Write("locked.lst", " 1 \r\nx\r\n");
        ::chmod(locked.c_str(), 0);
        const auto denied = ReadRegularFile(locked, bytes);
        ASSERT_TRUE(denied);
        EXPECT_EQ(denied->cause, Cause::CannotOpen);
        EXPECT_EQ(denied->text, "Permission denied");
    }
}

TEST_F(TextFilesTest, AFileUpToItsLimitIsReadWholeALargerOneIsRefusedUnread) {
    const SizeLimit tenBytes{10, "a test file"};
    std::string bytes = "kept";
    EXPECT_EQ(ReadRegularFile(Write("ten", "0123456789"), bytes, tenBytes), std::nullopt);
    EXPECT_EQ(bytes, "0123456789");
    EXPECT_EQ(ReadRegularFile(Write("empty", ""), bytes, tenBytes), std::nullopt);
    EXPECT_EQ(bytes, "");

    bytes = "kept";
    const auto refusal = ReadRegularFile(Write("eleven", "0123456789A"), bytes, tenBytes);
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->cause, Cause::TooLarge);
    EXPECT_EQ(refusal->text, "is larger than 10 bytes, more than a test file can be");
    EXPECT_EQ(bytes, "kept");

    // The files of /proc say they are empty: the limit holds for what is read, not what is said.
    const auto proc = ReadRegularFile("/proc/self/status", bytes, tenBytes);
    ASSERT_TRUE(proc);
    EXPECT_EQ(proc->cause, Cause::TooLarge);
    EXPECT_EQ(bytes, "kept");
    EXPECT_EQ(ReadRegularFile("/proc/self/status", bytes, {1 << 20, "a test file"}), std::nullopt);
    EXPECT_NE(bytes.find("Name:"), std::string::npos);

    // The real limit, on a file that takes no room: refused from its size, nothing read.
    bytes = "kept";
    const std::string huge = Sparse("huge.lst", " 1 \r\nx\r\n", (off_t{1} << 30) + 1);
    const auto tooLarge = ReadRegularFile(huge, bytes);
    ASSERT_TRUE(tooLarge);
    EXPECT_EQ(tooLarge->cause, Cause::TooLarge);
    EXPECT_EQ(tooLarge->text, "is larger than 1 GiB, more than a list file can be");
    EXPECT_EQ(ReadWholeFile(huge, bytes), tooLarge->text);
    EXPECT_EQ(bytes, "kept");
}

TEST_F(TextFilesTest, AConfigurationIsReadUpToItsNumbersWhateverFollowsThem) {
    const std::string three = " 3 \r\n 0 \r\n 2 \r\n 63 \r\n";
    const std::vector<std::string> files = {
        Write("three.cfg", three),
        // Were the tail read, the NULs would be a gigabyte; the reader stops at the numbers.
        Sparse("nul-tail.cfg", three, off_t{2} << 30),
        // Blanks after the last number run into the read limit, but no number runs on past it.
        Write("blank-tail.cfg", three + std::string(1 << 20, ' ')),
        Write("text-tail.cfg", "3,0,2,63\nnot read" + std::string(1 << 20, 'x')),
    };
    for (const auto& path : files) {
        const auto read = ReadLineConfigurationFile(path);
        const auto* configuration = std::get_if<LineConfiguration>(&read);
        ASSERT_TRUE(configuration) << path;
        EXPECT_EQ(configuration->deviceCount, 3);
        EXPECT_EQ(configuration->addresses, (std::vector<std::int16_t>{0, 2, 63}));
    }
    const auto problem = ReadLineConfigurationFile(Write("seventy.cfg", "70\n"));
    ASSERT_TRUE(std::holds_alternative<ConfigProblem>(problem));
    EXPECT_EQ(std::get<ConfigProblem>(problem).text,
              "it announces 70 controllers; a line has 1 to 64");
}

TEST_F(TextFilesTest, AConfigurationWhoseNumbersRunPastTheReadLimitIsRefused) {
    const std::string problem = "its numbers do not end within its first 64 KiB";
    const std::vector<std::string> files = {
        Write("blanks.cfg", std::string(1 << 20, ' ')),
        Write("nuls.cfg", std::string(1 << 20, '\0')),
        Write("zeros.cfg", std::string(1 << 20, '0')),
        Write("blank-lines.cfg", "2\r\n" + std::string(1 << 20, '\n') + "1\r\n2\r\n"),
        Sparse("sparse.cfg", "", off_t{1} << 30),
    };
    for (const auto& path : files) {
        const auto read = ReadLineConfigurationFile(path);
        ASSERT_TRUE(std::holds_alternative<ConfigProblem>(read)) << path;
        EXPECT_EQ(std::get<ConfigProblem>(read).text, problem) << path;
    }
}

TEST_F(TextFilesTest, ANumberCutByTheReadLimitIsNotTakenForWhatItsStartSays) {
    // With a limit of 8 bytes: "1\n" and six more.
    const auto read = [](const std::string& path) { return ReadLineConfigurationFile(path, 8); };
    const auto cut = read(Write("cut.cfg", "1\n     57\n"));  // the limit falls between 5 and 7
    ASSERT_TRUE(std::holds_alternative<ConfigProblem>(cut));
    EXPECT_EQ(std::get<ConfigProblem>(cut).text, "its numbers do not end within its first 8 bytes");

    const auto ended = read(Write("ended.cfg", "1\n    5 \n9"));  // 5 ends before the limit
    ASSERT_TRUE(std::holds_alternative<LineConfiguration>(ended));
    EXPECT_EQ(std::get<LineConfiguration>(ended).addresses, std::vector<std::int16_t>{5});

    const auto whole = read(Write("whole.cfg", "1\n    57"));  // the file ends at the limit
    ASSERT_TRUE(std::holds_alternative<LineConfiguration>(whole));
    EXPECT_EQ(std::get<LineConfiguration>(whole).addresses, std::vector<std::int16_t>{57});
}

}  // namespace
}  // namespace tarvel
