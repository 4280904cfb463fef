#pragma once

#include <optional>
#include <string>

namespace tarvel {

// Replaces the file at `path` with `bytes`, or leaves it as it was: the bytes go to a temporary
// file in the same folder, which then takes the file's place (written in place only when the
// folder takes no new file). Returns the reason of a failure, in Latin-1.
std::optional<std::string> WriteFileReplacing(const std::string& path, const std::string& bytes);

// Paths are the host's (UTF-8); the program's texts are Latin-1, one byte a character. A path
// as the operator is shown it: characters outside Latin-1 become "?".
std::string ShownPath(const std::string& path);

// Reads the whole file at `path` into `bytes`. Returns the reason of a failure, and leaves
// `bytes` as it was then.
std::optional<std::string> ReadWholeFile(const std::string& path, std::string& bytes);

}  // namespace tarvel
