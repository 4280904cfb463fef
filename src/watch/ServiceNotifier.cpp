// SPDX-License-Identifier: GPL-3.0-or-later
#include "watch/ServiceNotifier.h"

#include <systemd/sd-daemon.h>

#include <chrono>
#include <cstdint>

namespace tarvel {

ServiceNotifier::ServiceNotifier() {
    std::uint64_t microseconds = 0;
    if (sd_watchdog_enabled(0, &microseconds) > 0 && microseconds > 0) {
        period_ = std::chrono::microseconds(microseconds / 2);
    }
}

void ServiceNotifier::Notify(const std::string& message) { sd_notify(0, message.c_str()); }

void ServiceNotifier::Ready(const std::string& status) {
    if (!ready_) {
        ready_ = true;
        Notify("READY=1\nSTATUS=" + status);
    } else {
        Status(status);
    }
}

void ServiceNotifier::Status(const std::string& status) { Notify("STATUS=" + status); }

void ServiceNotifier::Stopping() { Notify("STOPPING=1\nSTATUS=stopping"); }

void ServiceNotifier::Reloading() {
    // A reload is the files reopened, over as soon as it is told.
    Notify("STATUS=reopening the files");
}

bool ServiceNotifier::FeedWatchdog() {
    if (!progressed_) {
        return false;
    }
    progressed_ = false;
    Notify("WATCHDOG=1");
    return true;
}

}  // namespace tarvel
