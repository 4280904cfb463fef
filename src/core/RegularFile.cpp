// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace tarvel {
namespace {

// What a path that is no regular file is, as it follows the path; nothing for a regular file.
std::optional<std::string> NotARegularFile(mode_t mode) {
    if (S_ISREG(mode)) {
        return std::nullopt;
    }
    if (S_ISDIR(mode)) {
        return "is a folder, not a file";
    }
    if (S_ISCHR(mode)) {
        return "is a character device, not a file";
    }
    if (S_ISBLK(mode)) {
        return "is a block device, not a file";
    }
    if (S_ISFIFO(mode)) {
        return "is a FIFO (named pipe), not a file";
    }
    if (S_ISSOCK(mode)) {
        return "is a socket, not a file";
    }
    return "is not a regular file";
}

RegularFileFailure Failed(RegularFileFailure::Cause cause, int error) {
    return RegularFileFailure{cause, error, std::string()};
}

RegularFileFailure NotAFile(std::string what) {
    return RegularFileFailure{RegularFileFailure::Cause::NotAFile, 0, std::move(what)};
}

}  // namespace

std::variant<RegularFile, RegularFileFailure> RegularFile::Open(const std::string& path) {
    using Cause = RegularFileFailure::Cause;
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return Failed(Cause::CannotOpen, errno);
    }
    if (auto what = NotARegularFile(status.st_mode)) {
        return NotAFile(std::move(*what));
    }
    int fd = -1;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return Failed(Cause::CannotOpen, errno);
    }
    RegularFile file(fd, 0);
    if (::fstat(fd, &status) != 0) {
        return Failed(Cause::CannotOpen, errno);
    }
    if (auto what = NotARegularFile(status.st_mode)) {
        return NotAFile(std::move(*what));
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return Failed(Cause::CannotOpen, errno);
    }
    file.size_ = static_cast<std::uint64_t>(status.st_size);
    return file;
}

RegularFile::RegularFile(RegularFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), size_(other.size_) {}

RegularFile::~RegularFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

ssize_t RegularFile::ReadSome(char* into, std::size_t size) const {
    ssize_t got = -1;
    do {
        got = ::read(fd_, into, size);
    } while (got < 0 && errno == EINTR);
    return got;
}

std::optional<RegularFileFailure> ReadRegularFileBytes(const std::string& path, std::string& bytes,
                                                       std::uint64_t limit) {
    auto opened = RegularFile::Open(path);
    if (auto* failure = std::get_if<RegularFileFailure>(&opened)) {
        return std::move(*failure);
    }
    const RegularFile file(std::get<RegularFile>(std::move(opened)));
    const RegularFileFailure tooLarge{RegularFileFailure::Cause::TooLarge, 0, std::string()};
    if (file.Size() > limit) {
        return tooLarge;
    }
    // One byte past the limit tells a file that grew beyond it while it was read.
    const std::uint64_t most = std::min<std::uint64_t>(limit, std::uint64_t{SIZE_MAX} - 1) + 1;
    std::string read(static_cast<std::size_t>(std::min<std::uint64_t>(file.Size() + 1, most)),
                     '\0');
    std::size_t used = 0;
    while (true) {
        if (used == read.size()) {
            if (used >= most) {
                break;
            }
            // Files of /proc say they are empty and are not; a file may grow while it is read.
            read.resize(static_cast<std::size_t>(
                std::min<std::uint64_t>(std::max<std::size_t>(2 * used, 4096), most)));
        }
        const ssize_t got = file.ReadSome(read.data() + used, read.size() - used);
        if (got < 0) {
            return Failed(RegularFileFailure::Cause::CannotRead, errno);
        }
        if (got == 0) {
            break;
        }
        used += static_cast<std::size_t>(got);
    }
    if (used > limit) {
        return tooLarge;
    }
    read.resize(used);
    bytes.swap(read);
    return std::nullopt;
}

}  // namespace tarvel
