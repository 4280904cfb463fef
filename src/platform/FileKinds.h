// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/stat.h>

#include <optional>
#include <string>

namespace tarvel {

// What a path that is no regular file is, as it follows the path ("is a folder, not a file");
// nothing for a regular file. Plain POSIX, so that the simulator, which links no Qt, says it in
// the same words as the programs.
inline std::optional<std::string> NotARegularFile(mode_t mode) {
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

}  // namespace tarvel
