// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "lines/LineSettings.h"
#include "lines/SerialLine.h"
#include "lines/StampedInput.h"
#include "platform/Clock.h"
#include "platform/Notifier.h"

namespace tarvel {

// What a transport shares with the line that owns it: the received characters with their
// stamps, the reason of the last failure, whether the line is open, and the way back to the
// program's thread. A transport feeds it from threads of its own (the port's I/O thread, the
// network library's); the program's thread reads it. The line's notifications are posted to the
// program's event loop, never made from inside a call.
class TransportLink {
public:
    // `input` and `output` are notified on the thread that makes the link; `inputThreshold` is
    // how many characters must be waiting before input activity is worth a notification.
    TransportLink(const Clock& clock, Notifier& input, Notifier& output,
                  const std::atomic<int>& inputThreshold);
    TransportLink(const TransportLink&) = delete;
    TransportLink& operator=(const TransportLink&) = delete;

    const Clock& Time() const { return clock_; }

    // From a transport's thread: characters that have just reached the host. Stamped under the
    // lock, so that whoever reads the clock and then counts sees every character stamped
    // before that reading.
    void Receive(std::string_view bytes);
    // The line was taken away: `reason` is there before the line reads as closed, and what was
    // waiting is gone. The transport then marks the line closed and calls PostLoss.
    void Lose(std::string reason);
    void PostLoss();
    void PostInputActivity();
    void PostOutputActivity();
    // Only a wait that found output still to go wants to hear that it moved.
    void TellOutputMoved();

    // From the program's thread.
    std::string Take(int count);
    std::string Peek(int count) const;
    int Count() const;
    std::optional<Instant> ArrivalOf(int index) const;
    void ClearReceived();
    // How many received characters may wait unread; those beyond are dropped and counted.
    void SetInputCapacity(std::size_t characters);
    std::uint64_t DroppedInput() const;
    // Always false, for the setters: `reason` is the last error from now on.
    bool Fail(std::string reason);
    void ClearError();
    std::string LastError() const;

    std::atomic<bool> open = false;
    // A wait counted output still to go and wants to hear when it moves.
    std::atomic<bool> outputWanted = false;

private:
    const Clock& clock_;
    Notifier& input_;
    Notifier& output_;
    const std::atomic<int>& inputThreshold_;
    QObject here_;  // the program's thread, for the notifications posted to it
    mutable std::mutex mutex_;
    StampedInput received_;
    std::string lastError_;
    std::atomic<bool> inputPosted_ = false;
    std::atomic<bool> outputPosted_ = false;
};

// One kind of port the line can open: a device of this host, a port across the network. Each
// call comes from the program's thread, but Open (which may take long) from whichever thread
// opens the line; a transport marks the link closed when the port is lost.
class Transport {
public:
    virtual ~Transport() = default;

    // Whether Open and Apply may hold their caller for long (a connection across the network,
    // a request to its far end), so that a line asked not to wait runs them on another thread.
    virtual bool HoldsCaller() const = 0;
    // Opens `device` with `settings`; the reason of a failure, empty when open.
    virtual std::string Open(const std::string& device, const LineSettings& settings) = 0;
    // On the program's thread, once Open has succeeded: the link reads open from now on, unless
    // the port was lost meanwhile (false; the link has the reason).
    virtual bool Opened() = 0;
    // Gives the open port new settings; the reason of a refusal, empty when taken. A
    // transport that holds its caller may be given them from another thread while the
    // program's thread goes on using the port.
    virtual std::string Apply(const LineSettings& settings) = 0;
    // Closes the port, or lets go of one that was lost; nothing to do when closed.
    virtual void Close() = 0;

    virtual void Write(std::string_view text) = 0;
    // Characters given to Write that have not yet left the host.
    virtual int Unsent() = 0;
    virtual void PurgeReceived() = 0;
    virtual void LowerRequestToSend() = 0;
    // Only while open.
    virtual void Diagnose(LineDiagnostics& report) const = 0;
};

}  // namespace tarvel
