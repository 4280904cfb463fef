// SPDX-License-Identifier: GPL-3.0-or-later
#include "lines/PseudoTerminals.h"

#include <sys/sysmacros.h>
#include <sys/types.h>
#ifdef __linux__
#include <linux/major.h>
#endif

#include <map>
#include <mutex>

namespace tarvel {

// By the device number: the kernel gives pseudo-terminal slaves majors of their own. Nothing a
// call on the port could tell is as plain: the pty driver takes any termios without complaint
// (it quietly rewrites what it cannot carry), and the ioctls only it answers (TIOCGPTN) answer
// on the master side alone.
bool IsPseudoTerminalSlave(std::uint64_t device) {
#ifdef __linux__
    const auto deviceMajor = major(static_cast<dev_t>(device));
    return (deviceMajor >= UNIX98_PTY_SLAVE_MAJOR &&
            deviceMajor < UNIX98_PTY_SLAVE_MAJOR + UNIX98_PTY_MAJOR_COUNT) ||
           deviceMajor == PTY_SLAVE_MAJOR;
#else
    (void)device;
    return false;
#endif
}

namespace {

std::mutex chosenMutex;
std::map<std::uint64_t, LineSettings>& ChosenSettings() {
    static std::map<std::uint64_t, LineSettings> chosen;
    return chosen;
}

}  // namespace

void NotePseudoTerminalSettings(std::uint64_t device, const LineSettings& settings) {
    std::lock_guard lock(chosenMutex);
    ChosenSettings()[device] = settings;
}

void ForgetPseudoTerminalSettings(std::uint64_t device) {
    std::lock_guard lock(chosenMutex);
    ChosenSettings().erase(device);
}

std::optional<LineSettings> PseudoTerminalSettings(std::uint64_t device) {
    std::lock_guard lock(chosenMutex);
    const auto found = ChosenSettings().find(device);
    if (found == ChosenSettings().end()) {
        return std::nullopt;
    }
    return found->second;
}

}  // namespace tarvel
