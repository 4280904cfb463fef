// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoroTask>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include <optional>

#include "core/Time.h"
#include "lines/Rs485.h"
#include "platform/Notifier.h"
#include "platform/Scheduler.h"

namespace tarvel {

// Line errors the host's driver has counted on a port since it was opened: the clearest sign of
// electrical noise, where the hardware reports it.
struct UartErrorCounts {
    long framing = 0;
    long parity = 0;
    long overrun = 0;
    long breaks = 0;
    friend bool operator==(const UartErrorCounts&, const UartErrorCounts&) = default;
};

// What a line that takes the echo of its requests off its input has found: whether the port
// echoes, as found since it was last opened, and the counts since the program began (a reopen
// does not start them again, so that what happened during a run is their difference).
struct EchoReport {
    bool echoes = false;  // the port gives back what it sends, and the echo is being removed
    long removed = 0;     // echoes taken off the input, the ones below included
    long differed = 0;    // echoes unlike what was sent: a collision on the wire
    long missing = 0;     // echoes that did not come back whole in time
    // Requests whose answer may repeat them (a Modbus write) that came back once on a port not
    // yet known to echo or not: handed on as the answer, though it may have been the echo.
    long undecided = 0;
    friend bool operator==(const EchoReport&, const EchoReport&) = default;
};

// What the layers of a line know about it, each filling in its own part: the transport the
// driver's counts, the round trip and the RS-485 mode, a filter what it does to the characters.
// Gathered from the top of the stack down, so that a filter in between cannot hide what the
// layers below it report.
struct LineDiagnostics {
    // What the driver has counted, or nothing when the port is closed or its driver keeps no
    // such counts (a pseudo-terminal, the simulated line).
    std::optional<UartErrorCounts> uart;
    // What is done about an adapter that echoes, or nothing where no layer looks.
    std::optional<EchoReport> echo;
    // The round trip to the far end of a port across the network, as last measured; nothing
    // for a port of this host.
    std::optional<Duration> roundTrip;
    // The driver's RS-485 mode the open port was switched into; nothing when it was not.
    std::optional<Rs485Mode> rs485;
    // Received characters dropped since the program began because the port delivered far more
    // than its wire can carry and they would have waited beyond the line's capacity.
    std::uint64_t droppedInput = 0;
};

// The one serial port of the program, with the operations the program uses. Characters are
// 8-bit: one byte on the wire is one character of a text, both ways.
//
// A setter returns false when the host refuses the operation; LastError() then says why. A line
// that is closed drops what is written to it and has nothing to read, so that no caller can
// crash or hang on it. When the host takes an open line away (an adapter pulled out), the line
// closes itself, LastError() names the cause and both activities are notified.
class SerialLine {
public:
    virtual ~SerialLine() = default;

    // Port number 1 to 4 (the "COM1" ... "COM4" of the port dialog); only while closed.
    virtual bool SetCommPort(std::int16_t number) = 0;
    // A settings text such as " 9600,N,8, 1".
    virtual bool SetSettings(std::string_view settingsText) = 0;
    // Characters one read returns at most; 0 means everything that is waiting.
    virtual bool SetInputLen(std::int16_t length) = 0;
    virtual bool SetPortOpen(bool open) = 0;
    virtual bool PortOpen() const = 0;

    // Hands `text` to the transmitter and returns at once; the characters go out in the
    // background.
    virtual void Output(std::string_view text) = 0;
    // Output of a request whose answer may be its very bytes again (a Modbus write of one
    // register): a layer still finding out whether the port echoes must not take that answer
    // for the echo.
    virtual void OutputRequest(std::string_view text, bool answerMayRepeatIt) {
        static_cast<void>(answerMayRepeatIt);
        Output(text);
    }
    // Takes the received characters that are waiting (all of them, with an input length of 0).
    virtual std::string Input() = 0;
    // Takes the first `count` of the received characters that are waiting (all of them when
    // fewer are waiting), whatever the input length; the others stay.
    virtual std::string InputFirst(int count) = 0;
    // A copy of the first `count` of the received characters that are waiting (all of them when
    // fewer are waiting); they stay waiting.
    virtual std::string Peek(int count) const = 0;
    // Received characters waiting to be read.
    virtual int InBufferCount() = 0;
    // Characters handed to Output that have not yet left the host.
    virtual int OutBufferCount() = 0;
    // When the `index`-th of the characters waiting to be read (counted from 0) reached the
    // host; nothing for an index beyond them.
    virtual std::optional<Instant> ArrivalOf(int index) const = 0;

    virtual std::string LastError() const = 0;

    // The control of the port beyond the basic operations above. Every line says what it does
    // for each, even if nothing; a filter passes them on (LineFilter).
    //
    // Opens the line as SetPortOpen(true) does, without holding the caller's thread while that
    // takes time (a connection to a port across the network, made on another thread under time
    // limits of its own). A line that opens at once opens here and now.
    virtual QCoro::Task<bool> OpenAsync(Scheduler& scheduler) = 0;
    // Gives the line new settings as SetSettings does, without holding the caller's thread while
    // the far end of an open port across the network takes them (a request and its reply for
    // each setting). A line that takes them at once takes them here and now.
    virtual QCoro::Task<bool> SetSettingsAsync(Scheduler& scheduler, std::string settingsText) = 0;
    // Drops what the far end holds received and not yet passed on (a serial device server's
    // buffer); a port of this host keeps nothing there.
    virtual void PurgeReceived() = 0;
    // Lowers RTS, which the host raises when it opens a port: an RS-485 converter whose
    // transmitter follows RTS then stays off a bus that another master drives. No byte is sent.
    // A port without the line (a pseudo-terminal) has nothing to lower.
    virtual void LowerRequestToSend() = 0;

    // Adds what this layer knows of the line to `report`, after the layers below it.
    virtual void Diagnose(LineDiagnostics& report) const = 0;

    // The whole stack's report, and its parts.
    LineDiagnostics Diagnostics() const {
        LineDiagnostics report;
        Diagnose(report);
        return report;
    }
    std::optional<UartErrorCounts> ErrorCounts() const { return Diagnostics().uart; }
    std::optional<Duration> RoundTrip() const { return Diagnostics().roundTrip; }
    std::optional<EchoReport> Echo() const { return Diagnostics().echo; }
    std::uint64_t DroppedInput() const { return Diagnostics().droppedInput; }

    // Notified when characters may have arrived or the line was lost. Waits subscribe to these
    // instead of polling. Every notification comes from the event loop, never from inside a call
    // of this interface, so a listener never runs in the middle of its own caller.
    Notifier& InputActivity() { return input_; }
    // Notified when characters may have left the host or the line was lost.
    Notifier& OutputActivity() { return output_; }

    // Input activity is notified only once at least `count` characters are waiting (or the
    // line was lost), so a wait for a whole answer is not woken for each of its characters.
    // 1 unless a wait says otherwise.
    void WakeOnInputCount(int count) { inputThreshold_ = count < 1 ? 1 : count; }

protected:
    void NotifyLoss() {
        input_.Notify();
        output_.Notify();
    }

    Notifier input_;
    Notifier output_;
    std::atomic<int> inputThreshold_ = 1;
};

}  // namespace tarvel
