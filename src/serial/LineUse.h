// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoroTask>
#include <string_view>

#include "platform/Notifier.h"
#include "platform/Scheduler.h"

namespace tarvel {

// What Start, "&Search!", Terminal and Comm say while the line is held to listen, to search
// it across settings, or for the Line Monitor's own test or scan.
inline constexpr const char* ListeningRefusal =
    "The line is being listened to. Stop listening in the Line Monitor first.";
inline constexpr const char* SearchingRefusal =
    "The line is being searched across settings. Stop the search in the Line Monitor first.";
inline constexpr const char* MonitorRunRefusal =
    "The line is being tested or scanned from the Line Monitor. Stop it there first.";

// The long holds of the line, which refuse whoever asks meanwhile instead of making them wait.
enum class LongHold { None, Listening, Searching, MonitorRun };

// Who uses the one serial line for exchanges: the test run, the line detector, the terminal,
// the port dialog, the listener. One of them at a time; one that asks while another still
// finishes its last exchange waits for it.
class LineUse {
public:
    explicit LineUse(Scheduler& scheduler) : scheduler_(scheduler) {}

    class Lease {
    public:
        Lease(Lease&& other) noexcept : owner_(std::exchange(other.owner_, nullptr)) {}
        Lease& operator=(Lease&& other) noexcept;
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        ~Lease() { Release(); }
        void Release();
        // Whether this lease still holds the line.
        bool Holds() const { return owner_ != nullptr; }
        // Says that the line is held for long: to listen to another master, which has no end of
        // its own, or to search it across settings. Whoever asks for the line meanwhile is
        // refused rather than made to wait, until the lease goes.
        void MarkHeld(LongHold hold);

    private:
        friend class LineUse;
        explicit Lease(LineUse* owner) : owner_(owner) {}
        LineUse* owner_ = nullptr;
    };

    bool Busy() const { return busy_; }
    LongHold Hold() const { return hold_; }
    bool HeldByListening() const { return hold_ == LongHold::Listening; }
    // Why the line is refused to whoever asks for it now, or nothing when it can be waited for.
    const char* Refusal() const {
        switch (hold_) {
            case LongHold::Listening: return ListeningRefusal;
            case LongHold::Searching: return SearchingRefusal;
            case LongHold::MonitorRun: return MonitorRunRefusal;
            case LongHold::None: break;
        }
        return nullptr;
    }
    // Resumes once the line is free, then holds it until the lease goes. Without a wait when the
    // line is free already.
    QCoro::Task<Lease> Acquire();

private:
    Scheduler& scheduler_;
    bool busy_ = false;
    LongHold hold_ = LongHold::None;
    Notifier released_;
};

// A loop on the line (a test run, a scan) from its start to its end, however it ends: it needs
// a lease that holds the line and no run of its own already going; at its end, an exception
// included, the line is freed first and the loop marked idle.
class LoopOnLine {
public:
    LoopOnLine(LineUse::Lease& lease, bool& running, bool& started, const char* what);
    LoopOnLine(const LoopOnLine&) = delete;
    LoopOnLine& operator=(const LoopOnLine&) = delete;
    ~LoopOnLine();

private:
    LineUse::Lease& lease_;
    bool& running_;
    bool& started_;
};

}  // namespace tarvel
