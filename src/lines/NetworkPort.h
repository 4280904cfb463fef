// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "lines/NetworkAddress.h"
#include "lines/Transport.h"

namespace tarvel {

using namespace std::chrono_literals;

// The far end of a network port: a serial device server reached with the Telnet COM port
// control option (RFC 2217), or a raw TCP connection. The Telnet and COM port protocol is
// libgensio's (the ser2net authors' library); this side opens, applies the settings, feeds the
// line's stamped buffer from the connection and counts what the library has not yet taken.
//
// Every gensio callback may run on whichever thread is waiting in the library at the time (the
// connection's own service thread, or one that waits for a reply): each one touches only what
// the link shares under its lock or in atomics.
class NetworkPort final : public Transport {
public:
    static constexpr Duration kConnectTimeout = 3s;
    static constexpr Duration kNegotiationTimeout = 1s;
    // How often the round trip is measured again on an open COM port connection.
    static constexpr Duration kRoundTripEvery = 5s;
    // How long a COM port server may leave such a measurement unanswered before the line is
    // taken as lost.
    static constexpr Duration kSilenceLimit = 3s;
    // How long a close waits for the connection to be released; a peer that holds it longer
    // (one that reads nothing while output waits) is left to a thread of its own.
    static constexpr Duration kReleaseLimit = 1s;

    explicit NetworkPort(TransportLink& link);
    ~NetworkPort() override;
    NetworkPort(const NetworkPort&) = delete;
    NetworkPort& operator=(const NetworkPort&) = delete;

    // A connection that is not there yet, and a server's reply to a request, hold the caller.
    bool HoldsCaller() const override { return true; }
    // Connects to the address `device` names and, for a COM port connection, negotiates and
    // applies `settings`; blocks the calling thread for at most the two time-outs.
    std::string Open(const std::string& device, const LineSettings& settings) override;
    bool Opened() override;
    std::string Apply(const LineSettings& settings) override;
    void Close() override;

    void Write(std::string_view text) override;
    // Characters given to Write that the connection has not taken yet.
    int Unsent() override;
    // Drops what the remote port has received and not yet passed on.
    void PurgeReceived() override;
    // A connection has no RTS of its own to lower.
    void LowerRequestToSend() override {}
    // The round trip, as last measured.
    void Diagnose(LineDiagnostics& report) const override;

    struct Session;

private:
    // Whether the connection went, or there is none.
    bool Lost() const;

    TransportLink& link_;
    std::mutex sessionMutex_;  // one opening or closing at a time
    // The session now, for the calls that come while another thread opens or closes. A mutex,
    // not std::atomic<std::shared_ptr>: libstdc++ 12's keeps a lock bit in the pointer, which
    // the undefined-behaviour sanitizer takes for a broken object.
    std::shared_ptr<Session> Current() const;
    void Replace(std::shared_ptr<Session> session);
    // Releases `session` on a thread of its own.
    static void LetGo(std::shared_ptr<Session> session);
    mutable std::mutex currentMutex_;
    std::shared_ptr<Session> session_;
};

// Blocks the signal with which the network library wakes a thread waiting in it, in the calling
// thread and so in every thread started after it. The library lets it in only inside its own
// waits; arriving anywhere else, just before a wait, it would be lost and that wait would last
// its whole time-out. Called first thing in main(), before any thread starts.
void BlockNetworkWakeSignal();

}  // namespace tarvel
