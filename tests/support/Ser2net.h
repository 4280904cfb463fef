// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

namespace tarvel::testing {

// A port of 127.0.0.1 that nothing listens on just now.
inline int FreeLocalPort() {
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (probe < 0 || ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (probe >= 0) {
            ::close(probe);
        }
        return 0;
    }
    ::close(probe);
    return ntohs(address.sin_port);
}

inline bool AcceptsConnections(int port) {
    const int client = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool accepted =
        ::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(client);
    return accepted;
}

// The ser2net program of the host, or nothing when it is not installed.
inline std::optional<std::string> Ser2netProgram() {
    for (const char* path : {"/usr/sbin/ser2net", "/usr/bin/ser2net", "/usr/local/sbin/ser2net"}) {
        if (::access(path, X_OK) == 0) {
            return std::string(path);
        }
    }
    return std::nullopt;
}

inline constexpr const char* kNoSer2net =
    "ser2net is not installed: scripts/setup.sh installs it (Debian package ser2net)";

// ser2net serving `device` on a free port of 127.0.0.1, with a configuration file of its own,
// started in the foreground and killed with its object. `comPort`: the Telnet COM port
// control option (RFC 2217) in front of the device, or raw TCP.
class Ser2net {
public:
    Ser2net(const std::string& device, bool comPort) {
        const std::optional<std::string> program = Ser2netProgram();
        if (!program) {
            failure = kNoSer2net;
            return;
        }
        port = FreeLocalPort();
        folder = std::filesystem::temp_directory_path() /
                 ("tarvel-ser2net-" + std::to_string(::getpid()) + "-" + std::to_string(port));
        std::filesystem::create_directories(folder);
        const std::string configuration = (folder / "ser2net.yaml").string();
        std::ofstream(configuration)
            << "connection: &line\n"
            << "  accepter: " << (comPort ? "telnet(rfc2217),tcp," : "tcp,") << "127.0.0.1," << port
            << "\n"
            << "  connector: serialdev," << device << ",9600n81,local\n";
        const std::string pidFile = (folder / "ser2net.pid").string();
        pid = ::fork();
        if (pid == 0) {
            // Goes with the test, even one that is killed.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            // Its chatter goes to a log beside the configuration, not into the test's output.
            const int log = ::open((folder / "ser2net.log").c_str(), O_WRONLY | O_CREAT, 0600);
            ::dup2(log, STDOUT_FILENO);
            ::dup2(log, STDERR_FILENO);
            ::execl(program->c_str(), "ser2net", "-n", "-d", "-c", configuration.c_str(), "-P",
                    pidFile.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        // Up within a second on an idle machine; more to spare on one busy with a sanitizer
        // build.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!AcceptsConnections(port) && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (!AcceptsConnections(port)) {
            failure = "ser2net did not listen on 127.0.0.1:" + std::to_string(port);
        }
    }
    ~Ser2net() {
        Kill();
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    Ser2net(const Ser2net&) = delete;
    Ser2net& operator=(const Ser2net&) = delete;

    void Kill() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            pid = -1;
        }
    }
    // Stops the server as a hung one stands: its connections stay, nothing is served.
    void Freeze() {
        if (pid > 0) {
            ::kill(pid, SIGSTOP);
        }
    }
    void Thaw() {
        if (pid > 0) {
            ::kill(pid, SIGCONT);
        }
    }
    std::string Url(bool comPort = true) const {
        return std::string(comPort ? "rfc2217://" : "tcp://") + "127.0.0.1:" + std::to_string(port);
    }

    int port = 0;
    pid_t pid = -1;
    std::filesystem::path folder;
    std::string failure;  // why it is not serving, empty when it is
};

}  // namespace tarvel::testing
