// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/TextFiles.h"

#include <QFile>
#include <QString>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <istream>
#include <streambuf>
#include <utility>

#include "core/RegularFile.h"
#include "platform/DurableFiles.h"

namespace tarvel {
namespace {

std::string Latin1(const QString& text) { return text.toLatin1().toStdString(); }

std::string HostReason(int error) { return Latin1(qt_error_string(error)); }

std::string SizeText(std::uint64_t bytes) {
    constexpr std::uint64_t kKiB = 1024;
    if (bytes > 0 && bytes % (kKiB * kKiB * kKiB) == 0) {
        return std::to_string(bytes / (kKiB * kKiB * kKiB)) + " GiB";
    }
    if (bytes > 0 && bytes % (kKiB * kKiB) == 0) {
        return std::to_string(bytes / (kKiB * kKiB)) + " MiB";
    }
    if (bytes > 0 && bytes % kKiB == 0) {
        return std::to_string(bytes / kKiB) + " KiB";
    }
    return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
}

// The failure in the program's words, the host's reason as Qt gives it.
FileRefusal RefusalOf(RegularFileFailure failure, SizeLimit limit) {
    switch (failure.cause) {
        case RegularFileFailure::Cause::CannotOpen:
            return {FileRefusal::Cause::CannotOpen, HostReason(failure.error)};
        case RegularFileFailure::Cause::CannotRead:
            return {FileRefusal::Cause::CannotRead, HostReason(failure.error)};
        case RegularFileFailure::Cause::NotAFile:
            return {FileRefusal::Cause::NotAFile, std::move(failure.what)};
        case RegularFileFailure::Cause::TooLarge: break;
    }
    return {FileRefusal::Cause::TooLarge,
            "is larger than " + SizeText(limit.bytes) + ", more than " + limit.beyond + " can be"};
}

// A stream over an open file that gives at most `limit` bytes, read a small piece at a time so
// that a reader that stops early leaves the rest of the file unread.
class BoundedFileBuffer : public std::streambuf {
public:
    BoundedFileBuffer(const RegularFile& file, std::size_t limit) : file_(file), limit_(limit) {}

    // The stream asked for more than `limit` bytes and the file had more.
    bool Overran() const { return overran_; }
    // The errno of a failed read, or 0.
    int Error() const { return error_; }
    // The last byte given, when some were.
    std::optional<char> LastByte() const { return lastByte_; }

protected:
    int_type underflow() override {
        if (gptr() < egptr()) {
            return traits_type::to_int_type(*gptr());
        }
        if (ended_) {
            return traits_type::eof();
        }
        if (given_ >= limit_) {
            char probe = 0;
            const ssize_t got = file_.ReadSome(&probe, 1);
            overran_ = got > 0;
            return End(got < 0 ? errno : 0);
        }
        const std::size_t want = std::min(sizeof(piece_), limit_ - given_);
        const ssize_t got = file_.ReadSome(piece_, want);
        if (got <= 0) {
            return End(got < 0 ? errno : 0);
        }
        given_ += static_cast<std::size_t>(got);
        lastByte_ = piece_[got - 1];
        setg(piece_, piece_, piece_ + got);
        return traits_type::to_int_type(piece_[0]);
    }

private:
    int_type End(int error) {
        ended_ = true;
        error_ = error;
        return traits_type::eof();
    }

    const RegularFile& file_;
    std::size_t limit_;
    std::size_t given_ = 0;
    bool ended_ = false;
    bool overran_ = false;
    int error_ = 0;
    std::optional<char> lastByte_;
    // One read takes any .cfg the program writes.
    char piece_[1024];
};

bool SeparatesNumbers(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ',';
}

}  // namespace

std::string ShownPath(const std::string& path) { return Latin1(QString::fromStdString(path)); }

std::optional<std::string> WriteFileReplacing(const std::string& path, const std::string& bytes) {
    auto prepared = ReplacedFile::Prepare(path);
    if (auto* file = std::get_if<ReplacedFile>(&prepared)) {
        return file->Replace(bytes);
    }
    // A folder that takes no new file still lets an existing file be written over.
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode) ||
        ::access(path.c_str(), W_OK) != 0) {
        return std::get<std::string>(prepared);
    }
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return Latin1(file.errorString());
    }
    if (file.write(bytes.data(), static_cast<qint64>(bytes.size())) !=
            static_cast<qint64>(bytes.size()) ||
        !file.flush() || ::fsync(file.handle()) != 0) {
        return Latin1(file.errorString());
    }
    return std::nullopt;
}

std::string AfterPath(const FileRefusal& refusal) {
    switch (refusal.cause) {
        case FileRefusal::Cause::CannotOpen:
        case FileRefusal::Cause::CannotRead: return "cannot be read: " + refusal.text;
        case FileRefusal::Cause::NotAFile:
        case FileRefusal::Cause::TooLarge: break;
    }
    return refusal.text;
}

std::optional<FileRefusal> ReadRegularFile(const std::string& path, std::string& bytes,
                                           SizeLimit limit) {
    if (auto failure = ReadRegularFileBytes(path, bytes, limit.bytes)) {
        return RefusalOf(std::move(*failure), limit);
    }
    return std::nullopt;
}

std::optional<std::string> ReadWholeFile(const std::string& path, std::string& bytes,
                                         SizeLimit limit) {
    if (auto refusal = ReadRegularFile(path, bytes, limit)) {
        return std::move(refusal->text);
    }
    return std::nullopt;
}

std::variant<LineConfiguration, ConfigProblem, FileRefusal> ReadLineConfigurationFile(
    const std::string& path, std::size_t readLimit) {
    auto opened = RegularFile::Open(path);
    if (auto* failure = std::get_if<RegularFileFailure>(&opened)) {
        return RefusalOf(std::move(*failure), SizeLimit{readLimit, "a line configuration"});
    }
    const RegularFile file(std::get<RegularFile>(std::move(opened)));
    BoundedFileBuffer buffer(file, readLimit);
    std::istream in(&buffer);
    auto read = ReadLineConfiguration(in);
    if (buffer.Error() != 0) {
        return FileRefusal{FileRefusal::Cause::CannotRead, HostReason(buffer.Error())};
    }
    if (!buffer.Overran()) {
        if (auto* configuration = std::get_if<LineConfiguration>(&read)) {
            return std::move(*configuration);
        }
        return std::get<ConfigProblem>(std::move(read));
    }
    // The reader took the first `readLimit` bytes for the whole file. Its configuration stands
    // only if its last number ended before them: then no field runs on past them and what
    // follows is never part of the numbers. Anything else it said may be untrue of the file.
    const auto last = buffer.LastByte();
    if (std::holds_alternative<LineConfiguration>(read) && last && SeparatesNumbers(*last)) {
        return std::get<LineConfiguration>(std::move(read));
    }
    return ConfigProblem{"its numbers do not end within its first " + SizeText(readLimit)};
}

}  // namespace tarvel
