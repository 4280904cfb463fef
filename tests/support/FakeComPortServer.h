// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace tarvel::testing {

// A serial device server of a few lines, for what ser2net cannot be made to do: it accepts one
// client on a free port of 127.0.0.1 and answers its Telnet negotiation as `mode` says. In
// Agree mode it accepts the COM port control option (RFC 2217) and confirms every request as
// a server does (the command plus 100, the same value); everything the client sends is kept
// as it came over the wire, and Send puts bytes on the wire as they are.
class FakeComPortServer {
public:
    enum class Mode {
        Agree,   // DO COM-PORT-OPTION, and every request confirmed
        Refuse,  // DONT COM-PORT-OPTION
        Silent,  // accepts the connection and says nothing
    };
    static constexpr unsigned char IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251,
                                   SB = 250, SE = 240, COM_PORT = 44;

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

    void Reply(std::string bytes) {
        [[maybe_unused]] const auto ignored = ::send(client_, bytes.data(), bytes.size(), 0);
    }

    void Serve() {
        while (!stopping_) {
            pollfd fds[2] = {{client_ >= 0 ? client_ : listener_, POLLIN, 0},
                             {wake_[0], POLLIN, 0}};
            if (::poll(fds, 2, -1) <= 0) {
                continue;
            }
            if (fds[1].revents & POLLIN) {
                char drained[64];
                while (::read(wake_[0], drained, sizeof drained) > 0) {
                }
                std::lock_guard lock(mutex_);
                for (const std::string& bytes : outgoing_) {
                    if (client_ >= 0) {
                        Reply(bytes);
                    }
                }
                outgoing_.clear();
            }
            if (!(fds[0].revents & (POLLIN | POLLHUP))) {
                continue;
            }
            if (client_ < 0) {
                client_ = ::accept(listener_, nullptr, nullptr);
                continue;
            }
            char buffer[512];
            const ssize_t count = ::recv(client_, buffer, sizeof buffer, 0);
            if (count <= 0) {
                ::close(client_);
                client_ = -1;
                continue;
            }
            std::lock_guard lock(mutex_);
            for (ssize_t i = 0; i < count; ++i) {
                Take(static_cast<unsigned char>(buffer[i]));
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
        ++requests_;
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
};

}  // namespace tarvel::testing
