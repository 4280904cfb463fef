#pragma once

#include <optional>
#include <string>

namespace tarvel {

// Replaces the file at `path` with `bytes`, or leaves it as it was: the bytes go to a temporary
// file in the same folder, which then takes the file's place. Returns the reason of a failure.
std::optional<std::string> WriteFileReplacing(const std::string& path, const std::string& bytes);

// Reads the whole file at `path` into `bytes`. Returns the reason of a failure, and leaves
// `bytes` as it was then.
std::optional<std::string> ReadWholeFile(const std::string& path, std::string& bytes);

}  // namespace tarvel
