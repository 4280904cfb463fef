// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoroTask>
#include <optional>
#include <string>

#include "core/Primo.h"
#include "engine/Listener.h"
#include "monitor/LineMonitor.h"
#include "platform/Prompts.h"
#include "platform/Tasks.h"
#include "serial/LineUse.h"
#include "serial/PortService.h"

namespace tarvel {

// "Listen" and "Stop listening" of the Line Monitor: listening to the port chosen in the port
// dialog while the plant's own master drives the line, with the line held as a run holds it.
// Created once with the monitor it reports to; it owns the listener and the coroutine that
// listens, so both live as long as the listening may.
class ListenControl {
public:
    ListenControl(Primo& primo, PortService& port, LineUse& lineUse, Prompts& prompts,
                  LineMonitor& monitor);
    ListenControl(const ListenControl&) = delete;
    ListenControl& operator=(const ListenControl&) = delete;

    // Refused, with the reason, while the port is closed or a run, a scan or the terminal
    // holds the line; a second click while listening asks for nothing more.
    void ListenBtn_Click();
    void StopListeningBtn_Click();

    bool Listening() const { return tasks_.Running() > 0; }
    // "Stop listening" was clicked and the listen has not ended yet.
    bool Stopping() const { return Listening() && stopping_; }
    // Whether there is anything to report: listening now, or listened before.
    bool Listened() const { return listener_.has_value(); }
    // The current or last listen's figures; only when Listened().
    const FrameDecoder& Decoder() const { return listener_->Decoder(); }
    Duration ListenedFor() const;

    // What the Line Monitor's summary says of the current or last listen: the figures of the
    // line, the wrong-speed warning when there is one, or that nothing was heard. Empty before
    // the first listen.
    std::string SummaryText() const;

private:
    QCoro::Task<> Listen();

    Primo& primo_;
    PortService& port_;
    LineUse& lineUse_;
    Prompts& prompts_;
    LineMonitor& monitor_;
    // Made again for each listen, with the speed the port has then; kept after it for its
    // figures.
    std::optional<Listener> listener_;
    Instant started_{};
    std::optional<Instant> ended_;
    bool stopping_ = false;
    // Owns the listening coroutine. It does not end it: the control lives as long as the main
    // window, that is as long as the program, and "E&xit !" ends the process at once.
    TaskOwner tasks_;
};

}  // namespace tarvel
