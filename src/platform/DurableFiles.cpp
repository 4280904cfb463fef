// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/DurableFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QString>
#include <cerrno>
#include <cstring>
#include <utility>

namespace tarvel {
namespace {

std::string HostReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error)).toLatin1().toStdString();
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Writes all of `bytes`, through interruptions and short writes.
std::optional<std::string> WriteAll(int descriptor, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(descriptor, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return HostReason(errno);
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return std::nullopt;
}

// A rename is lasting only once the folder that holds the name is on the disk too.
std::optional<std::string> SyncFolder(const std::string& folder) {
    const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) {
        return HostReason(errno);
    }
    const bool synced = ::fsync(descriptor) == 0;
    const int error = errno;
    ::close(descriptor);
    // Some file systems cannot flush a folder; the rename itself has happened.
    if (!synced && error != EINVAL && error != EROFS) {
        return HostReason(error);
    }
    return std::nullopt;
}

// Why `path` cannot take a file's contents: something other than a plain file is there. Nothing
// when it is a plain file or nothing is there yet.
std::optional<std::string> NotAPlainFile(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || S_ISREG(status.st_mode)) {
        return std::nullopt;
    }
    return std::string(S_ISDIR(status.st_mode) ? "it is a folder" : "it is no plain file");
}

// The umask can only be read by setting it: done once, before any file is written, so that two
// writes on two threads never see it set to 0 by each other.
mode_t ProcessUmask() {
    static const mode_t mask = [] {
        const mode_t read = ::umask(0);
        ::umask(read);
        return read;
    }();
    return mask;
}

}  // namespace

ReplacedFile::ReplacedFile(std::string path, std::string folder)
    : path_(std::move(path)), folder_(std::move(folder)) {}

ReplacedFile::ReplacedFile(ReplacedFile&& other) noexcept
    : path_(std::move(other.path_)),
      folder_(std::move(other.folder_)),
      temporary_(std::exchange(other.temporary_, std::string())),
      descriptor_(std::exchange(other.descriptor_, -1)) {}

ReplacedFile& ReplacedFile::operator=(ReplacedFile&& other) noexcept {
    if (this != &other) {
        Abandon();
        path_ = std::move(other.path_);
        folder_ = std::move(other.folder_);
        temporary_ = std::exchange(other.temporary_, std::string());
        descriptor_ = std::exchange(other.descriptor_, -1);
    }
    return *this;
}

ReplacedFile::~ReplacedFile() { Abandon(); }

std::variant<ReplacedFile, std::string> ReplacedFile::Prepare(const std::string& path) {
    // A rename would put a file in the place of a device or a folder, and /dev/null replaced
    // by a run's report breaks the host.
    if (auto refusal = NotAPlainFile(path)) {
        return *refusal;
    }
    ReplacedFile file(path, FolderOf(path));
    if (auto failure = file.MakeTemporary()) {
        return *failure;
    }
    return file;
}

std::optional<std::string> ReplacedFile::MakeTemporary() {
    // Hidden, beside the file, and unique: two runs writing next to each other never share one.
    std::string name = folder_ + "/." + NameOf(path_) + ".XXXXXX";
    const int descriptor = ::mkostemp(name.data(), O_CLOEXEC);
    if (descriptor < 0) {
        return HostReason(errno);
    }
    // As a file made by the shell would be, rather than mkstemp's owner-only mode.
    ::fchmod(descriptor, 0666 & ~ProcessUmask());
    temporary_ = std::move(name);
    descriptor_ = descriptor;
    return std::nullopt;
}

std::optional<std::string> ReplacedFile::Replace(std::string_view bytes) {
    if (descriptor_ < 0) {
        if (auto failure = MakeTemporary()) {
            return failure;
        }
    }
    auto failure = WriteAll(descriptor_, bytes);
    if (!failure && ::fsync(descriptor_) != 0) {
        failure = HostReason(errno);
    }
    if (!failure && ::rename(temporary_.c_str(), path_.c_str()) != 0) {
        failure = HostReason(errno);
    }
    if (failure) {
        Abandon();
        return failure;
    }
    ::close(descriptor_);
    descriptor_ = -1;
    temporary_.clear();
    // The next version's temporary file is made when it is written, so that a killed program
    // leaves none behind but the one it was writing.
    return SyncFolder(folder_);
}

void ReplacedFile::Abandon() {
    if (descriptor_ >= 0) {
        ::close(descriptor_);
        descriptor_ = -1;
    }
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        temporary_.clear();
    }
}

std::optional<std::string> WriteFileDurably(const std::string& path, std::string_view bytes) {
    auto prepared = ReplacedFile::Prepare(path);
    if (auto* failure = std::get_if<std::string>(&prepared)) {
        return *failure;
    }
    return std::get<ReplacedFile>(prepared).Replace(bytes);
}

AppendedFile::AppendedFile(AppendedFile&& other) noexcept
    : path_(std::move(other.path_)),
      descriptor_(std::exchange(other.descriptor_, -1)),
      begunEmpty_(other.begunEmpty_) {}

AppendedFile& AppendedFile::operator=(AppendedFile&& other) noexcept {
    if (this != &other) {
        if (descriptor_ >= 0) {
            ::close(descriptor_);
        }
        path_ = std::move(other.path_);
        descriptor_ = std::exchange(other.descriptor_, -1);
        begunEmpty_ = other.begunEmpty_;
    }
    return *this;
}

AppendedFile::~AppendedFile() {
    if (descriptor_ >= 0) {
        ::close(descriptor_);
    }
}

std::variant<AppendedFile, std::string> AppendedFile::Prepare(const std::string& path) {
    return Open(path, true);
}

std::variant<AppendedFile, std::string> AppendedFile::Continue(const std::string& path) {
    return Open(path, false);
}

std::variant<AppendedFile, std::string> AppendedFile::Open(const std::string& path, bool emptied) {
    // Opened without blocking and emptied only once it is known to be a plain file: a FIFO would
    // hold the program for ever, and a log written to a serial device would reach the line.
    if (auto refusal = NotAPlainFile(path)) {
        return *refusal;
    }
    const int descriptor = ::open(
        path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (descriptor < 0) {
        return HostReason(errno);
    }
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(descriptor);
        return std::string("it is no plain file");
    }
    if ((emptied && ::ftruncate(descriptor, 0) != 0) ||
        ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) & ~O_NONBLOCK) != 0) {
        const std::string reason = HostReason(errno);
        ::close(descriptor);
        return reason;
    }
    return AppendedFile(path, descriptor, emptied || status.st_size == 0);
}

std::optional<std::string> AppendedFile::Append(std::string_view bytes) {
    return WriteAll(descriptor_, bytes);
}

std::optional<std::string> AppendedFile::Sync() {
    if (::fdatasync(descriptor_) != 0) {
        return HostReason(errno);
    }
    return std::nullopt;
}

}  // namespace tarvel
