// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "lines/NetworkAddress.h"
#include "lines/QtSerialLine.h"

namespace tarvel {

using namespace std::chrono_literals;

// The far end of a network port: a serial device server reached with the Telnet COM port
// control option (RFC 2217), or a raw TCP connection. The Telnet and COM port protocol is
// libgensio's (the ser2net authors' library); this side opens, applies the settings, feeds the
// line's stamped buffer from the connection and counts what the library has not yet taken.
//
// Every gensio callback may run on whichever thread is waiting in the library at the time (the
// connection's own service thread, or one that waits for a reply): each one touches only what
// the line shares under its lock or in atomics.
class QtSerialLine::Network final {
public:
    static constexpr Duration kConnectTimeout = 3s;
    static constexpr Duration kNegotiationTimeout = 1s;
    // How often the round trip is measured again on an open COM port connection.
    static constexpr Duration kRoundTripEvery = 5s;

    explicit Network(QtSerialLine& line, const Clock& clock);
    ~Network();
    Network(const Network&) = delete;
    Network& operator=(const Network&) = delete;

    // Connects and, for a COM port connection, negotiates and applies `settings`; blocks the
    // calling thread for at most the two time-outs. The reason of a failure, empty when open.
    std::string Open(const NetworkAddress& address, const LineSettings& settings);
    // Gives the remote port new settings; the reason of a refusal, empty when taken.
    std::string Apply(const LineSettings& settings);
    void Close();
    // Whether the connection went, or there is none.
    bool Lost() const;

    void Write(std::string_view text);
    // Characters given to Write that the connection has not taken yet.
    int Unsent() const;
    // Drops what the remote port has received and not yet passed on.
    void PurgeReceived();
    std::optional<Duration> RoundTrip() const;

    struct Session;

private:
    QtSerialLine& line_;
    const Clock& clock_;
    std::mutex sessionMutex_;  // one opening or closing at a time
    // The session now, for the calls that come while another thread opens or closes. A mutex,
    // not std::atomic<std::shared_ptr>: libstdc++ 12's keeps a lock bit in the pointer, which
    // the undefined-behaviour sanitizer takes for a broken object.
    std::shared_ptr<Session> Current() const;
    void Replace(std::shared_ptr<Session> session);
    mutable std::mutex currentMutex_;
    std::shared_ptr<Session> session_;
};

}  // namespace tarvel
