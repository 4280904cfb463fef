// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tarvel::testing {

// A serial device server of a few lines, for what ser2net cannot be made to do: it accepts one
// client on a free port of 127.0.0.1 and answers its Telnet negotiation as `mode` says. In
// Agree mode it accepts the COM port control option (RFC 2217) and confirms every request as
// a server does (the command plus 100, the same value); everything the client sends is kept
// as it came over the wire, and Send puts bytes on the wire as they are.
//
// It can also be a hostile peer: at a moment of the negotiation (or at once) it floods the
// client, closes, shuts down its writing side, or goes deaf and dumb with the socket open.
class FakeComPortServer {
public:
    enum class Mode {
        Agree,   // DO COM-PORT-OPTION, and every request confirmed
        Refuse,  // DONT COM-PORT-OPTION
        Silent,  // accepts the connection and says nothing
    };
    // When a hostile act begins.
    enum class Moment {
        Now,           // as soon as the serving thread sees it (at the connection, if none yet)
        FirstOption,   // once the client's first WILL, WONT, DO or DONT has come
        FirstRequest,  // once the client's first COM port request has come, unanswered
    };
    enum class Act {
        Close,            // closes the connection
        ShutDownWriting,  // sends its FIN (shutdown(SHUT_WR)) and goes on reading
        Freeze,           // reads and writes nothing more, and keeps the socket
    };
    static constexpr unsigned char IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251,
                                   SB = 250, NOP = 241, SE = 240, COM_PORT = 44;

    explicit FakeComPortServer(Mode mode) : mode_(mode) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        const int yes = 1;
        ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 1);
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
        ::pipe2(wake_, O_CLOEXEC | O_NONBLOCK);
        thread_ = std::thread([this] { Serve(); });
    }
    ~FakeComPortServer() {
        stopping_ = true;
        Wake();
        thread_.join();
        for (int fd : {listener_, client_, wake_[0], wake_[1]}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
    FakeComPortServer(const FakeComPortServer&) = delete;
    FakeComPortServer& operator=(const FakeComPortServer&) = delete;

    std::string Url() const { return "rfc2217://127.0.0.1:" + std::to_string(port); }
    std::string RawUrl() const { return "tcp://127.0.0.1:" + std::to_string(port); }

    // From `from` on, sends `prefix` once, then `unit` again and again, as fast as the socket
    // takes it. Answers and Send go on between the repetitions; a flood with a prefix is taken
    // to be inside a command that it never ends, and nothing else is sent after it.
    void Flood(std::string unit, Moment from = Moment::Now, std::string prefix = {}) {
        Schedule({from, std::nullopt, std::move(unit), std::move(prefix)});
    }
    void Do(Act act, Moment at = Moment::Now) { Schedule({at, act, {}, {}}); }
    // A receive buffer of about `bytes` for the connection still to come, in place of one that
    // grows to megabytes: a peer that stops reading holds the client's writes soon.
    void LimitReceiveBuffer(int bytes) {
        ::setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    }
    // Bytes that reached the socket, of the flood and of everything else.
    std::uint64_t Sent() const { return sent_; }
    // Whether a client is connected, from the server's side.
    bool Connected() const { return connected_; }

    // Queued for the client, byte for byte, in one write of its own.
    void Send(std::string bytes) {
        {
            std::lock_guard lock(mutex_);
            outgoing_.push_back(std::move(bytes));
        }
        Wake();
    }
    // Everything the client sent, as it came.
    std::string Received() const {
        std::lock_guard lock(mutex_);
        return received_;
    }
    // The data the client sent, its Telnet commands and subnegotiations taken out (escaped
    // bytes left doubled, as they came).
    std::string Data() const {
        std::lock_guard lock(mutex_);
        return data_;
    }
    // The COM port requests seen so far: (command, value bytes).
    int Requests() const { return requests_; }
    // From now on the server confirms no request, as one that has hung while the host still
    // holds its connection.
    void StopAnswering() { answering_ = false; }

    int port = 0;

private:
    void Wake() {
        const char byte = 0;
        [[maybe_unused]] const auto ignored = ::write(wake_[1], &byte, 1);
    }

    struct Hostility {
        Moment moment;
        std::optional<Act> act;  // none: a flood
        std::string unit;
        std::string prefix;
    };

    void Schedule(Hostility hostility) {
        {
            std::lock_guard lock(mutex_);
            hostilities_.push_back(std::move(hostility));
        }
        Wake();
    }

    // Under mutex_, on the serving thread: what `moment` sets off, once connected.
    void Arrive(Moment moment) {
        if (client_ < 0) {
            return;
        }
        for (auto it = hostilities_.begin(); it != hostilities_.end();) {
            if (it->moment != moment) {
                ++it;
                continue;
            }
            if (!it->act) {
                if (!it->prefix.empty()) {
                    queue_.push_back(it->prefix);
                    sealed_ = true;
                }
                floodUnit_ = it->unit;
            } else if (*it->act == Act::Close) {
                Disconnect();
            } else if (*it->act == Act::ShutDownWriting) {
                ::shutdown(client_, SHUT_WR);
                writingShut_ = true;
            } else {
                frozen_ = true;
            }
            it = hostilities_.erase(it);
            if (client_ < 0) {
                return;
            }
        }
    }

    void Disconnect() {
        ::close(client_);
        client_ = -1;
        connected_ = false;
        queue_.clear();
        floodUnit_.clear();
        sealed_ = false;
    }

    void Reply(std::string bytes) {
        if (!sealed_) {
            queue_.push_back(std::move(bytes));
        }
    }

    // Writes what is queued, each piece in writes of its own, and refills the flood; a bounded
    // amount each time, so that reading goes on under a flood.
    void Flush() {
        for (int round = 0; round < 4; ++round) {
            if (queue_.empty()) {
                if (floodUnit_.empty()) {
                    return;
                }
                std::string block;
                while (block.size() < 16 * 1024) {
                    block += floodUnit_;
                }
                queue_.push_back(std::move(block));
            }
            std::string& front = queue_.front();
            const ssize_t count =
                ::send(client_, front.data(), front.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (count <= 0) {
                return;  // full, or gone: the read tells
            }
            sent_ += static_cast<std::uint64_t>(count);
            front.erase(0, static_cast<std::size_t>(count));
            if (front.empty()) {
                queue_.pop_front();
            }
        }
    }

    void Serve() {
        while (!stopping_) {
            const bool connected = client_ >= 0;
            short events = POLLIN;
            if (connected && frozen_) {
                events = 0;
            } else if (connected && !writingShut_ && (!queue_.empty() || !floodUnit_.empty())) {
                events |= POLLOUT;
            }
            pollfd fds[2] = {{connected ? client_ : listener_, events, 0}, {wake_[0], POLLIN, 0}};
            if (::poll(fds, 2, -1) <= 0) {
                continue;
            }
            if (fds[1].revents & POLLIN) {
                char drained[64];
                while (::read(wake_[0], drained, sizeof drained) > 0) {
                }
                std::lock_guard lock(mutex_);
                for (std::string& bytes : outgoing_) {
                    if (client_ >= 0) {
                        Reply(std::move(bytes));
                    }
                }
                outgoing_.clear();
                Arrive(Moment::Now);
            }
            if (!connected) {
                if (fds[0].revents & POLLIN) {
                    client_ = ::accept(listener_, nullptr, nullptr);
                    connected_ = client_ >= 0;
                    std::lock_guard lock(mutex_);
                    Arrive(Moment::Now);
                }
                continue;
            }
            if (client_ < 0) {
                continue;  // closed just now
            }
            if (frozen_) {
                if (fds[0].revents & (POLLHUP | POLLERR)) {
                    Disconnect();
                }
                continue;
            }
            if (fds[0].revents & POLLOUT) {
                Flush();
            }
            if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
                continue;
            }
            char buffer[64 * 1024];
            const ssize_t count = ::recv(client_, buffer, sizeof buffer, MSG_DONTWAIT);
            if (count < 0 && errno == EAGAIN) {
                continue;
            }
            std::lock_guard lock(mutex_);
            if (count <= 0) {
                Disconnect();
                continue;
            }
            for (ssize_t i = 0; i < count; ++i) {
                Take(static_cast<unsigned char>(buffer[i]));
            }
            if (optionSeen_ && !optionArrived_) {
                optionArrived_ = true;
                Arrive(Moment::FirstOption);
            }
            if (requests_ > 0 && !requestArrived_ && client_ >= 0) {
                requestArrived_ = true;
                Arrive(Moment::FirstRequest);
            }
        }
    }

    // A Telnet parser for what a client sends.
    void Take(unsigned char byte) {
        received_.push_back(static_cast<char>(byte));
        switch (state_) {
            case State::Data:
                if (byte == IAC) {
                    state_ = State::Command;
                } else {
                    data_.push_back(static_cast<char>(byte));
                }
                return;
            case State::Command:
                if (byte == IAC) {
                    data_ += "\xff\xff";  // an escaped data byte
                    state_ = State::Data;
                } else if (byte >= WILL && byte <= DONT) {
                    verb_ = byte;
                    state_ = State::Option;
                } else if (byte == SB) {
                    sub_.clear();
                    state_ = State::Sub;
                } else {
                    state_ = State::Data;
                }
                return;
            case State::Option:
                optionSeen_ = true;
                Negotiate(verb_, byte);
                state_ = State::Data;
                return;
            case State::Sub:
                if (byte == IAC) {
                    state_ = State::SubIac;
                } else {
                    sub_.push_back(static_cast<char>(byte));
                }
                return;
            case State::SubIac:
                if (byte == SE) {
                    Subnegotiation();
                    state_ = State::Data;
                } else {
                    sub_.push_back(static_cast<char>(byte));
                    state_ = State::Sub;
                }
                return;
        }
    }

    void Negotiate(unsigned char verb, unsigned char option) {
        if (mode_ == Mode::Silent) {
            return;
        }
        const bool agree = option == COM_PORT && mode_ == Mode::Agree;
        if (verb == WILL) {
            Reply({static_cast<char>(IAC), static_cast<char>(agree ? DO : DONT),
                   static_cast<char>(option)});
        } else if (verb == DO) {
            Reply({static_cast<char>(IAC), static_cast<char>(agree ? WILL : WONT),
                   static_cast<char>(option)});
        }
    }

    void Subnegotiation() {
        if (mode_ != Mode::Agree || sub_.size() < 2 ||
            static_cast<unsigned char>(sub_[0]) != COM_PORT) {
            return;
        }
        if (++requests_ == 1 && Awaits(Moment::FirstRequest)) {
            return;  // left unanswered: what comes instead is the test's
        }
        if (!answering_) {
            return;
        }
        std::string reply = {static_cast<char>(IAC), static_cast<char>(SB),
                             static_cast<char>(COM_PORT),
                             static_cast<char>(static_cast<unsigned char>(sub_[1]) + 100)};
        for (std::size_t i = 2; i < sub_.size(); ++i) {
            reply.push_back(sub_[i]);
            if (static_cast<unsigned char>(sub_[i]) == IAC) {
                reply.push_back(sub_[i]);
            }
        }
        reply += {static_cast<char>(IAC), static_cast<char>(SE)};
        Reply(reply);
    }

    bool Awaits(Moment moment) const {
        for (const Hostility& hostility : hostilities_) {
            if (hostility.moment == moment) {
                return true;
            }
        }
        return false;
    }

    enum class State { Data, Command, Option, Sub, SubIac };

    const Mode mode_;
    int listener_ = -1;
    int client_ = -1;
    int wake_[2] = {-1, -1};
    std::atomic<bool> stopping_ = false;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<std::string> outgoing_;
    std::string received_;
    std::string data_;
    State state_ = State::Data;
    unsigned char verb_ = 0;
    std::string sub_;
    std::atomic<int> requests_ = 0;
    std::atomic<bool> answering_ = true;
    // The hostile acts still to come, and what the serving thread alone touches.
    std::vector<Hostility> hostilities_;
    std::deque<std::string> queue_;  // to write, piece by piece
    std::string floodUnit_;
    bool sealed_ = false;  // inside a command that never ends: nothing else goes out
    bool writingShut_ = false;
    bool frozen_ = false;
    bool optionSeen_ = false;
    bool optionArrived_ = false;
    bool requestArrived_ = false;
    std::atomic<std::uint64_t> sent_ = 0;
    std::atomic<bool> connected_ = false;
};

}  // namespace tarvel::testing
