// SPDX-License-Identifier: GPL-3.0-or-later
#include "lines/NetworkPort.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <optional>
#include <system_error>
#include <thread>

#include "lines/NetworkLibrary.h"

namespace tarvel {

using namespace network_library;

struct NetworkPort::Session final : gensios::Serial_Event {
    Session(TransportLink& link, NetworkAddress where)
        : link(link),
          clock(link.Time()),
          address(std::move(where)),
          text(NetworkAddressText(address)) {}

    ~Session() override { Release(); }

    gensios::gensiods read(int err, const gensios::SimpleUCharVector data,
                           const char* const* /*auxdata*/) override {
        std::lock_guard lock(linkMutex);
        if (letGo) {
            return data.size();
        }
        if (err != 0) {
            Lose(gensios::err_to_string(err));
            return 0;
        }
        link.Receive(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
        return data.size();
    }

    void write_ready() override {
        std::lock_guard lock(writing);
        HandOver();
    }

    void freed() override {
        freedFlag = true;
        freedWaiter.wake();
    }

    // Gives the library what it takes of `pending`; the rest waits for write_ready.
    void HandOver() {
        if (top != nullptr && !pending.empty() && !lost) {
            try {
                const gensios::gensiods taken = top->write(pending.data(), pending.size(), nullptr);
                pending.erase(0, static_cast<std::size_t>(taken));
            } catch (const gensios::gensio_error&) {
                // The connection is going; its read reports why.
                pending.clear();
            }
        }
        unsent = static_cast<int>(pending.size());
        if (top != nullptr && !lost) {
            top->set_write_callback_enable(!pending.empty());
        }
        std::lock_guard lock(linkMutex);
        if (pending.empty() && !letGo) {
            link.TellOutputMoved();
        }
    }

    void Lose(const std::string& reason) {
        std::lock_guard lock(linkMutex);
        if (letGo || lost.exchange(true)) {
            return;
        }
        // The reason is there before the line reads as closed.
        {
            std::lock_guard lock(lossMutex);
            lossReason = reason;
        }
        link.Lose(text + " was lost: " + reason);
        link.open = false;
        unsent = 0;
        link.PostLoss();
        stopWaiter.wake();
        // A request still awaited has its answer: none will come.
        reply.Finish(GE_REMCLOSE, 0);
    }

    // The service thread: handles the connection's events until told to stop, and measures the
    // round trip again now and then. A COM port server that leaves the query unanswered for
    // kSilenceLimit has stopped serving the connection, though the host's TCP still holds it:
    // the line is taken as lost, rather than every controller behind it as silent.
    void Serve() {
        // Asked at once: whether this server answers the query is known from the start.
        if (serial != nullptr) {
            MeasureRoundTrip();
        }
        while (!stopping) {
            // Only a server known to answer the query is expected to: one that never does is
            // not taken as hung.
            const bool awaited = measuring && queryAnswered;
            Duration wait = kRoundTripEvery;
            if (awaited) {
                wait = std::max(Duration::zero(),
                                std::min(wait, querySent.load() + kSilenceLimit - SteadyNow()));
            }
            gensios::gensio_time left = ToGensio(wait);
            const int woken = stopWaiter.wait(1, &left);
            if (woken == 0 || stopping || lost || serial == nullptr) {
                continue;
            }
            if (!measuring) {
                MeasureRoundTrip();
            } else if (awaited && SteadyNow() - querySent.load() >= kSilenceLimit) {
                Lose("the server has not answered a COM port control request for " +
                     Seconds(kSilenceLimit));
            }
        }
    }

    // A baud rate query is a request the server must answer at once.
    void MeasureRoundTrip() {
        if (measuring.exchange(true)) {
            return;
        }
        struct Query final : gensios::Serial_Op_Done {
            explicit Query(Session& session) : session(session) {}
            void serial_op_done(int err, unsigned int /*val*/) override {
                if (err == 0) {
                    session.roundTrip = SteadyNow() - sent;
                    session.measured = true;
                    session.queryAnswered = true;
                }
                session.measuring = false;
            }
            Session& session;
            SteadyInstant sent;
        };
        if (!query) {
            query = std::make_unique<Query>(*this);
        }
        querySent = SteadyNow();
        static_cast<Query&>(*query).sent = querySent;
        try {
            serial->baud(0, query.get());
        } catch (const gensios::gensio_error&) {
            measuring = false;
        }
    }

    std::string Connect(const LineSettings& settings) {
        WakeSignal();
        const bool comPort = address.kind == NetworkAddress::Kind::ComPortControl;
        Reply& reply = this->reply;
        try {
            // Without Nagle's algorithm: a request written just after a purge or a round-trip
            // query would otherwise wait for that write's acknowledgement, up to a round trip
            // more inside the answer window.
            tcp = gensios::gensio_alloc(
                "tcp(nodelay=true)," + address.host + "," + std::to_string(address.port), os, this);
        } catch (const gensios::gensio_error& error) {
            return text + ": " + error.what();
        }
        const Instant started = clock.Now();
        try {
            tcp->open(&reply);
        } catch (const gensios::gensio_error& error) {
            return text + ": " + error.what();
        }
        if (!reply.Await(kConnectTimeout)) {
            return text + ": no connection within " + Seconds(kConnectTimeout) +
                   " (is the host on the network, and the port open in its firewall?)";
        }
        if (reply.error != 0) {
            return text + ": " + gensios::err_to_string(reply.error);
        }
        tcpOpen = true;
        const Duration connected = clock.Now() - started;
        if (!comPort) {
            top = tcp;
            roundTrip = connected;  // the handshake's one round trip
            measured = true;
        } else {
            try {
                top = gensios::gensio_alloc(tcp, "telnet(rfc2217)", os, this);
                tcpOwnedByTop = true;
                reply.Reset();
                top->open_nochild(&reply);
            } catch (const gensios::gensio_error& error) {
                return text + ": " + error.what();
            }
            if (!reply.Await(kNegotiationTimeout)) {
                return text + ": the server did not answer the Telnet COM port control " +
                       "negotiation (RFC 2217) within " + Seconds(kNegotiationTimeout) +
                       "; if it is a raw TCP port, use tcp://" + address.host + ":" +
                       std::to_string(address.port);
            }
            if (reply.error != 0) {
                return text + ": " + gensios::err_to_string(reply.error);
            }
            topOpen = true;
            serial = dynamic_cast<gensios::Serial_Gensio*>(top);
        }
        top->set_read_callback_enable(true);
        if (comPort) {
            if (serial == nullptr) {
                return text + ": the connection has no COM port control";
            }
            if (std::string refused = Apply(settings); !refused.empty()) {
                return refused;
            }
        }
        serving = true;
        return {};
    }

    // From the program's thread, as it lets the session go: from now on nothing the library
    // calls touches the link, which may be gone before the session is released.
    void LetGo() {
        std::lock_guard lock(linkMutex);
        letGo = true;
        stopping = true;
        stopWaiter.wake();
    }

    // From the program's thread, before a close: a request still awaiting its reply on another
    // thread gives up now rather than at its time limit.
    void Interrupt() {
        closing = true;
        reply.Finish(GE_LOCALCLOSED, 0);
    }

    std::string LossReason() const {
        std::lock_guard lock(lossMutex);
        return lossReason;
    }

    std::string Apply(const LineSettings& settings) {
        if (serial == nullptr) {
            return {};  // a raw connection: the server's settings are the port's
        }
        Reply& reply = this->reply;
        // On an open line a server is given as long to answer as its silence may last; at the
        // opening, the negotiation's limit.
        const Duration limit = serving ? kSilenceLimit : kNegotiationTimeout;
        const auto ended = [&](const char* what) -> std::optional<std::string> {
            if (closing) {
                return text + " was closed while its " + what + " was being set";
            }
            if (lost) {
                return serving ? text + " was lost: " + LossReason()
                               : text + ": the connection closed while setting the " + what + ": " +
                                     LossReason();
            }
            return std::nullopt;
        };
        const auto request = [&](const char* what, auto call) -> std::string {
            reply.Reset();
            // After the reset: a close or a loss that came before it finished nothing.
            if (std::optional<std::string> end = ended(what)) {
                return *end;
            }
            const Instant sent = clock.Now();
            try {
                call(&reply);
            } catch (gensios::gensio_error& error) {
                if (error.get_error() == GE_NOTSUP) {
                    return text + ": the server refused the Telnet COM port control option " +
                           "(RFC 2217), so it cannot set the " + what +
                           "; for a raw TCP port use tcp://" + address.host + ":" +
                           std::to_string(address.port);
                }
                return text + ": cannot set the " + what + ": " + error.what();
            }
            const bool answered = reply.Await(limit);
            if (std::optional<std::string> end = ended(what)) {
                return *end;
            }
            if (!answered) {
                const std::string silence =
                    std::string("the server did not answer the request for the ") + what +
                    " within " + Seconds(limit);
                // An open line whose server has stopped answering is lost: its settings are
                // no longer known, and what it passes on is not to be trusted.
                if (serving) {
                    Lose(silence);
                    return text + " was lost: " + silence;
                }
                return text + ": " + silence;
            }
            if (reply.error != 0) {
                return text + ": the server refused the " + what + ": " +
                       gensios::err_to_string(reply.error);
            }
            roundTrip = clock.Now() - sent;
            measured = true;
            return {};
        };
        for (const auto& step : {
                 std::pair<const char*, std::function<void(Reply*)>>{
                     "speed",
                     [&](Reply* r) { serial->baud(static_cast<unsigned>(settings.baud), r); }},
                 {"data bits",
                  [&](Reply* r) { serial->datasize(static_cast<unsigned>(settings.dataBits), r); }},
                 {"parity", [&](Reply* r) { serial->parity(GensioParity(settings.parity), r); }},
                 {"stop bits",
                  [&](Reply* r) { serial->stopbits(static_cast<unsigned>(settings.stopBits), r); }},
             }) {
            if (std::string failure = request(step.first, step.second); !failure.empty()) {
                return failure;
            }
        }
        return {};
    }

    // How long a close may take to send what the library still holds.
    static constexpr Duration kCloseLimit = 500ms;

    // Closes and frees what was made, whatever stage the connection reached.
    void Release() {
        stopping = true;
        stopWaiter.wake();
        if (service.joinable()) {
            service.join();
        }
        gensios::Gensio* owner = tcpOwnedByTop ? top : tcp;
        if (owner == nullptr) {
            return;
        }
        lost = true;  // a close of our own is no loss to report
        if (tcpOpen || topOpen) {
            // The library's close first sends what it still holds, and waits for as long as a
            // peer that reads nothing holds it. Given a moment, then disabled: a disabled
            // connection closes without sending anything more.
            try {
                owner->close(&closed);
                if (!closed.Await(kCloseLimit)) {
                    owner->disable();
                    closed.Await(kCloseLimit);
                }
            } catch (const gensios::gensio_error&) {
                // Already closed by the far end.
            }
        }
        freedFlag = false;
        owner->free();
        // Not before the library is done with it: its callbacks reach this session.
        while (!freedFlag) {
            gensios::gensio_time left = ToGensio(1s);
            freedWaiter.wait(1, &left);
        }
        top = tcp = nullptr;
        serial = nullptr;
    }

    TransportLink& link;
    const Clock& clock;
    const NetworkAddress address;
    const std::string text;

    gensios::Os_Funcs& os = LibraryOs();
    gensios::Waiter stopWaiter{os};
    gensios::Waiter freedWaiter{os};
    // The reply awaited now. A member, not a local: a reply that came too late, or the close
    // of a connection whose opening timed out, still reaches it.
    Reply reply{os};
    struct Closed final : gensios::Gensio_Close_Done {
        explicit Closed(gensios::Os_Funcs& os) : waiter(os) {}
        void close_done() override {
            done = true;
            waiter.wake();
        }
        bool Await(Duration limit) { return AwaitDone(waiter, done, SteadyNow() + limit); }
        gensios::Waiter waiter;
        std::atomic<bool> done = false;
    } closed{os};
    gensios::Gensio* tcp = nullptr;
    gensios::Gensio* top = nullptr;  // what is read and written: tcp itself, or Telnet over it
    gensios::Serial_Gensio* serial = nullptr;
    bool tcpOpen = false;
    bool topOpen = false;
    bool tcpOwnedByTop = false;
    std::atomic<bool> freedFlag = false;

    std::thread service;
    std::atomic<bool> stopping = false;
    std::atomic<bool> lost = false;
    std::atomic<bool> serving = false;  // opened, settings and all
    std::atomic<bool> closing = false;
    // Held while the link is touched from a thread of the library's; the link is not touched
    // once the session is let go.
    std::recursive_mutex linkMutex;
    bool letGo = false;
    mutable std::mutex lossMutex;
    std::string lossReason;  // written once, before the loss is told

    std::recursive_mutex writing;  // the library may call write_ready from inside a write
    std::string pending;
    std::atomic<int> unsent = 0;

    std::unique_ptr<gensios::Serial_Op_Done> query;
    std::atomic<bool> measuring = false;
    std::atomic<bool> queryAnswered = false;
    std::atomic<SteadyInstant> querySent = SteadyInstant{};
    std::atomic<Duration> roundTrip = Duration::zero();
    std::atomic<bool> measured = false;
};

NetworkPort::NetworkPort(TransportLink& link) : link_(link) {}

NetworkPort::~NetworkPort() { Close(); }

std::string NetworkPort::Open(const std::string& device, const LineSettings& settings) {
    const std::optional<NetworkAddress> address = ParseNetworkAddress(device);
    if (!address) {
        return NetworkAddressProblem(device);
    }
    std::lock_guard opening(sessionMutex_);
    Replace(nullptr);
    auto session = std::make_shared<Session>(link_, *address);
    std::string failure = session->Connect(settings);
    if (!failure.empty()) {
        LetGo(std::move(session));
        return failure;
    }
    session->service = std::thread([raw = session.get()] { raw->Serve(); });
    Replace(std::move(session));
    return {};
}

bool NetworkPort::Opened() {
    link_.open = true;
    if (Lost()) {
        // Gone between its opening and now: the reason is there already.
        link_.open = false;
        return false;
    }
    return true;
}

std::string NetworkPort::Apply(const LineSettings& settings) {
    std::lock_guard using_(sessionMutex_);
    const std::shared_ptr<Session> session = Current();
    return session ? session->Apply(settings) : std::string();
}

void NetworkPort::Close() {
    if (const std::shared_ptr<Session> session = Current()) {
        session->Interrupt();
    }
    std::lock_guard closing(sessionMutex_);
    Replace(nullptr);
}

void NetworkPort::Write(std::string_view text) {
    const std::shared_ptr<Session> session = Current();
    if (!session || session->lost) {
        return;
    }
    std::lock_guard lock(session->writing);
    session->pending.append(text);
    session->HandOver();
}

std::shared_ptr<NetworkPort::Session> NetworkPort::Current() const {
    std::lock_guard lock(currentMutex_);
    return session_;
}

void NetworkPort::Replace(std::shared_ptr<Session> session) {
    std::shared_ptr<Session> old;
    {
        std::lock_guard lock(currentMutex_);
        old = std::exchange(session_, std::move(session));
    }
    LetGo(std::move(old));
}

void NetworkPort::LetGo(std::shared_ptr<Session> session) {
    if (!session) {
        return;
    }
    // The library's close waits on the peer: for what it still has to send, which a peer that
    // reads nothing never takes, and for its own threads. The session is released on a thread of
    // its own, and keeps its memory until the library has let go of it. The caller waits for an
    // ordinary close, so that a server that takes one connection at a time is free again when
    // the port is reopened, but not beyond kReleaseLimit.
    session->LetGo();
    auto released = std::make_shared<std::promise<void>>();
    std::future<void> done = released->get_future();
    try {
        std::thread([session = std::move(session), released]() mutable {
            session.reset();
            released->set_value();
        }).detach();
    } catch (const std::system_error&) {
        // No thread to be had: the session went with the work it was given, released here.
        return;
    }
    done.wait_for(kReleaseLimit);
}

bool NetworkPort::Lost() const {
    const std::shared_ptr<Session> session = Current();
    return !session || session->lost;
}

int NetworkPort::Unsent() {
    const std::shared_ptr<Session> session = Current();
    return session ? session->unsent.load() : 0;
}

void NetworkPort::PurgeReceived() {
    const std::shared_ptr<Session> session = Current();
    if (session && session->serial != nullptr && !session->lost) {
        try {
            session->serial->flush(SERGENSIO_FLUSH_RCV_BUFFER);
        } catch (const gensios::gensio_error&) {
            // A purge that does not reach the server leaves only stale characters to drop.
        }
    }
}

void NetworkPort::Diagnose(LineDiagnostics& report) const {
    const std::shared_ptr<Session> session = Current();
    if (session && session->measured) {
        report.roundTrip = session->roundTrip.load();
    }
}

#if defined(__SANITIZE_ADDRESS__)
// The library keeps a small record for each COM port request until its reply comes; a request
// a hung server never answered keeps it after the connection is gone. Bounded by the requests
// made to servers that hung, and not ours to free: the leak checker is told to pass them over.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:sergensio_baud\n"
           "leak:sergensio_datasize\n"
           "leak:sergensio_parity\n"
           "leak:sergensio_stopbits\n";
}
#endif

void BlockNetworkWakeSignal() {
    sigset_t wake;
    sigemptyset(&wake);
    sigaddset(&wake, SIGUSR2);
    pthread_sigmask(SIG_BLOCK, &wake, nullptr);
}

}  // namespace tarvel
