// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoroTask>
#include <optional>
#include <string>

#include "core/Primo.h"
#include "lines/SerialLine.h"
#include "platform/Scheduler.h"
#include "protocol/Protocol.h"
#include "protocol/Protocols.h"

namespace tarvel {

// " 4800,N,8, 1": speed, parity letter, data bits and stop bits of the shared state, joined by
// commas with nothing else between them.
std::string SettingsText(const Primo& primo);

// The shared routines on the one serial line, which speaks one protocol at a time.
class PortService {
public:
    PortService(SerialLine& line, Primo& primo, Scheduler& scheduler,
                const Protocol& protocol = DefaultProtocol());

    // Closes the line if it is open.
    void ClosePort();
    // Applies the port number and settings of the shared state and opens the line. Returns
    // true when that failed; the line is then closed and OpenFailure() says why.
    bool OpenPort();
    // OpenPort, with the opening itself awaited rather than waited for: a port across the
    // network connects while the program's thread goes on. The same steps and result.
    QCoro::Task<bool> OpenPortAsync();
    // Clears the line between exchanges: drops what is waiting, sends the protocol's settle
    // frame (a lone carriage return), pauses its settle time from just after it, and drops
    // whatever arrived meanwhile.
    QCoro::Task<> SettleLine();

    const std::string& OpenFailure() const { return openFailure_; }
    SerialLine& Line() { return line_; }
    const Protocol& LineProtocol() const { return *protocol_; }
    // Of one character at the shared state's settings.
    Duration CharacterTime() const;
    // The protocol's timings of `kind` at the shared state's settings, with the answer window
    // the operator chose in place of the protocol's, if any.
    ExchangeTimings TimingsOf(ExchangeKind kind) const;
    void SetAnswerWindow(std::optional<Duration> window) { answerWindow_ = window; }
    std::optional<Duration> AnswerWindow() const { return answerWindow_; }
    void SetLineProtocol(const Protocol& protocol) { protocol_ = &protocol; }
    // When the last character of the last exchange was on the line, as far as its stamps tell:
    // where a silence before the next request begins. Nothing before the first exchange, and
    // after one whose answer was late or a settle, whose last characters are not known.
    std::optional<Instant> LastHeard() const { return lastHeard_; }
    void Heard(Instant at) { lastHeard_ = at; }
    void ForgetHeard() { lastHeard_.reset(); }
    Scheduler& Time() { return scheduler_; }

private:
    SerialLine& line_;
    Primo& primo_;
    Scheduler& scheduler_;
    const Protocol* protocol_;
    std::optional<Duration> answerWindow_;
    std::optional<Instant> lastHeard_;
    std::string openFailure_;
};

// The line speaks `protocol`, waiting `window` for its answers (the protocol's own without one),
// while this lives, and then again what it spoke before. For the loops of the Line Monitor,
// which hold the line's lease meanwhile, so that no other loop hears the change.
class ProtocolOnLine {
public:
    ProtocolOnLine(PortService& port, const Protocol& protocol, std::optional<Duration> window)
        : port_(port), protocol_(port.LineProtocol()), window_(port.AnswerWindow()) {
        port.SetLineProtocol(protocol);
        port.SetAnswerWindow(window);
    }
    ~ProtocolOnLine() {
        port_.SetLineProtocol(protocol_);
        port_.SetAnswerWindow(window_);
    }
    ProtocolOnLine(const ProtocolOnLine&) = delete;
    ProtocolOnLine& operator=(const ProtocolOnLine&) = delete;

private:
    PortService& port_;
    const Protocol& protocol_;
    std::optional<Duration> window_;
};

}  // namespace tarvel
