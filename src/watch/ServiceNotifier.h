// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>

#include "core/Time.h"

namespace tarvel {

// What a watch tells systemd, through libsystemd's sd_notify: ready once the line is open and
// the endpoint listens, a status line, the end; and the watchdog, fed only while the watch makes
// progress (exchanges judged, a port being reopened), so that a watch that hangs is restarted.
// Without a service manager (NOTIFY_SOCKET unset) all of it does nothing.
class ServiceNotifier {
public:
    ServiceNotifier();

    // How often the watchdog wants to hear from the watch, when systemd asks for one: half its
    // interval, as sd_watchdog_enabled advises.
    std::optional<Duration> WatchdogPeriod() const { return period_; }

    void Ready(const std::string& status);
    void Status(const std::string& status);
    void Stopping();
    void Reloading();
    // Something happened that only a working watch does.
    void Progressed() { progressed_ = true; }
    // Called every WatchdogPeriod: feeds the watchdog when the watch progressed since the last
    // call. True when it was fed.
    bool FeedWatchdog();

private:
    void Notify(const std::string& message);

    std::optional<Duration> period_;
    bool progressed_ = true;
    bool ready_ = false;
};

}  // namespace tarvel
