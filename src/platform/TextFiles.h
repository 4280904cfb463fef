// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "core/ConfigFile.h"

namespace tarvel {

// Replaces the file at `path` with `bytes`, or leaves it as it was: the bytes go to a temporary
// file in the same folder, which then takes the file's place, lasting on the disk (ReplacedFile);
// written in place only when the folder takes no new file. Returns the reason of a failure, in
// Latin-1.
std::optional<std::string> WriteFileReplacing(const std::string& path, const std::string& bytes);

// Paths are the host's (UTF-8); the program's texts are Latin-1, one byte a character. A path
// as the operator is shown it: characters outside Latin-1 become "?".
std::string ShownPath(const std::string& path);

// Why a file was not read. The readers take regular files only: a device would feed them
// without end (/dev/zero), a FIFO would block them for ever, and opening a serial device can
// already change its modem lines, so anything else is refused before it is opened.
struct FileRefusal {
    enum class Cause {
        CannotOpen,  // `text` is the host's reason ("Permission denied")
        CannotRead,  // the host failed while the file was read; `text` is its reason
        NotAFile,    // `text` names what the path is instead ("is a folder, not a file")
        TooLarge,    // `text` says so with the limit ("is larger than 1 GiB, ...")
    };
    Cause cause;
    std::string text;  // Latin-1
};

// The refusal as it follows the file's path in a sentence: "cannot be read: Permission denied",
// "is a FIFO (named pipe), not a file".
std::string AfterPath(const FileRefusal& refusal);

// How large a file a reader takes, and what a larger one is not, for the message.
struct SizeLimit {
    std::uint64_t bytes;
    const char* beyond;  // "a list file": "is larger than 1 GiB, more than a list file can be"
};

// An error list stops at 900 records of a few dozen bytes and its analysis is smaller still, so
// a real .lst or .dat stays under 100 KB; the limit only keeps a wrong choice from taking the
// host's memory.
inline constexpr SizeLimit kListFileLimit{std::uint64_t{1} << 30, "a list file"};

// Reads the regular file at `path`, no larger than `limit`, into `bytes`. Never blocks on a
// FIFO, and reads at most limit + 1 bytes even from a file that grows meanwhile. A refused file
// leaves `bytes` as it was.
std::optional<FileRefusal> ReadRegularFile(const std::string& path, std::string& bytes,
                                           SizeLimit limit = kListFileLimit);

// ReadRegularFile with the reason as one text: the host's reason, or what the path is instead
// of a file that can be read ("is a character device, not a file").
std::optional<std::string> ReadWholeFile(const std::string& path, std::string& bytes,
                                         SizeLimit limit = kListFileLimit);

// A .cfg the program writes is at most 65 lines of six bytes. Its reader takes only as much of
// a file as its numbers need; one whose numbers have not ended within this many bytes (a run of
// blanks or of NULs, say) is refused rather than read on.
inline constexpr std::size_t kLineConfigurationReadLimit = 64 * 1024;

// Reads the line configuration from the regular file at `path`: a refusal of the file itself,
// the problem of a file that is no line configuration, or the configuration. Whatever follows
// its numbers is never read.
std::variant<LineConfiguration, ConfigProblem, FileRefusal> ReadLineConfigurationFile(
    const std::string& path, std::size_t readLimit = kLineConfigurationReadLimit);

}  // namespace tarvel
