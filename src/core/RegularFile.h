// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace tarvel {

// Why a regular file was not read, before it is put into words: the programs word the host's
// reason through Qt, the simulator, which links no Qt, through the C library.
struct RegularFileFailure {
    enum class Cause { CannotOpen, CannotRead, NotAFile, TooLarge };
    Cause cause;
    int error = 0;     // the errno of CannotOpen and CannotRead
    std::string what;  // NotAFile: what the path is instead ("is a folder, not a file")
};

// An open regular file, closed with its scope. Only regular files are opened: a device would
// feed a reader without end (/dev/zero), a FIFO would block it for ever, and opening a serial
// device can already change its modem lines.
class RegularFile {
public:
    // The path is looked at before it is opened, so that no device is opened at all; what was
    // opened is looked at again, since the path may have changed in between, and O_NONBLOCK
    // keeps a FIFO put there meanwhile from blocking the open. Reads block again afterwards, as
    // a regular file's always do.
    static std::variant<RegularFile, RegularFileFailure> Open(const std::string& path);

    RegularFile(RegularFile&& other) noexcept;
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;
    RegularFile& operator=(RegularFile&&) = delete;
    ~RegularFile();

    // Its size when it was opened. Files of /proc say they are empty and are not.
    std::uint64_t Size() const { return size_; }
    // read(2), again when a signal interrupts it: the bytes read, 0 at the end, -1 on failure,
    // with errno set.
    ssize_t ReadSome(char* into, std::size_t size) const;

private:
    RegularFile(int fd, std::uint64_t size) : fd_(fd), size_(size) {}

    int fd_;
    std::uint64_t size_;
};

// Reads the regular file at `path`, of at most `limit` bytes, into `bytes`. Never blocks on a
// FIFO, and reads at most limit + 1 bytes even from a file that grows meanwhile. A refused file
// leaves `bytes` as it was.
std::optional<RegularFileFailure> ReadRegularFileBytes(const std::string& path, std::string& bytes,
                                                       std::uint64_t limit);

}  // namespace tarvel
