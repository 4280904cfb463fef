// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace tarvel {

// Evidence that must survive a killed program, a crash or a power cut. Paths are the host's
// (UTF-8); the reasons of failures are Latin-1 texts for the operator.

// A file that is replaced whole, again and again while a run goes on: each version goes to a
// temporary file in the same folder, is flushed to the disk, and then takes the file's place by
// a rename, which the folder's flush makes lasting. A reader, or whoever finds the file after a
// crash, sees the previous version or the new one, whole, never a mixture or nothing.
class ReplacedFile {
public:
    // Checks that the file can be written before anything is done for it: its folder exists
    // and takes a new file (the temporary file the first version will be written to). Gives the
    // host's reason when it cannot.
    static std::variant<ReplacedFile, std::string> Prepare(const std::string& path);

    ReplacedFile(ReplacedFile&&) noexcept;
    ReplacedFile& operator=(ReplacedFile&&) noexcept;
    ~ReplacedFile();  // removes a temporary file that was not used

    // Makes `bytes` the file's content; on a failure the file keeps its previous version.
    std::optional<std::string> Replace(std::string_view bytes);
    // Gives up the file before its first version: the temporary file goes, nothing stays.
    void Abandon();
    const std::string& Path() const { return path_; }

private:
    ReplacedFile(std::string path, std::string folder);
    std::optional<std::string> MakeTemporary();

    std::string path_;
    std::string folder_;
    std::string temporary_;  // empty when there is none
    int descriptor_ = -1;
};

// Writes `path` once, whole and lasting, as ReplacedFile does.
std::optional<std::string> WriteFileDurably(const std::string& path, std::string_view bytes);

// A log that grows as a run goes on (the traffic): each piece is handed to the host as soon as
// it is appended, so a killed program leaves every piece up to the kill; Sync() makes them
// lasting against a power cut.
class AppendedFile {
public:
    // Creates the file, or empties the plain file that is there; anything else is refused.
    static std::variant<AppendedFile, std::string> Prepare(const std::string& path);
    // Creates the file, or goes on after what the plain file that is there holds.
    static std::variant<AppendedFile, std::string> Continue(const std::string& path);

    AppendedFile(AppendedFile&&) noexcept;
    AppendedFile& operator=(AppendedFile&&) noexcept;
    ~AppendedFile();

    std::optional<std::string> Append(std::string_view bytes);
    // Safe to call from another thread than Append's.
    std::optional<std::string> Sync();
    const std::string& Path() const { return path_; }
    // Nothing was in the file when it was prepared.
    bool BegunEmpty() const { return begunEmpty_; }

private:
    AppendedFile(std::string path, int descriptor, bool begunEmpty)
        : path_(std::move(path)), descriptor_(descriptor), begunEmpty_(begunEmpty) {}
    static std::variant<AppendedFile, std::string> Open(const std::string& path, bool emptied);

    std::string path_;
    int descriptor_ = -1;
    bool begunEmpty_ = true;
};

}  // namespace tarvel
