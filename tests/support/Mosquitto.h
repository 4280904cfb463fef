// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <thread>

#include "support/Ser2net.h"  // FreeLocalPort, AcceptsConnections

namespace tarvel::testing {

inline constexpr const char* kMosquittoProgram = "/usr/sbin/mosquitto";
inline constexpr const char* kNoMosquitto =
    "mosquitto is not installed: scripts/setup.sh installs it (Debian package mosquitto)";

inline bool HaveMosquitto() { return ::access(kMosquittoProgram, X_OK) == 0; }

// A mosquitto broker of the test's own on a free port of 127.0.0.1, anonymous and without
// persistence, so that a restart forgets every retained message as a broker replaced would.
// Stopped and started again on the same port.
class Mosquitto {
public:
    Mosquitto() {
        port = FreeLocalPort();
        folder = std::filesystem::temp_directory_path() /
                 ("tarvel-mosquitto-" + std::to_string(::getpid()) + "-" + std::to_string(port));
        std::filesystem::create_directories(folder);
        std::ofstream(folder / "mosquitto.conf") << "listener " << port << " 127.0.0.1\n"
                                                 << "allow_anonymous true\n"
                                                 << "persistence false\n";
    }
    ~Mosquitto() {
        Stop();
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    Mosquitto(const Mosquitto&) = delete;
    Mosquitto& operator=(const Mosquitto&) = delete;

    // True once it takes connections.
    bool Start() {
        pid = ::fork();
        if (pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            const int log =
                ::open((folder / "mosquitto.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            ::dup2(log, STDOUT_FILENO);
            ::dup2(log, STDERR_FILENO);
            const std::string configuration = (folder / "mosquitto.conf").string();
            ::execl(kMosquittoProgram, "mosquitto", "-c", configuration.c_str(),
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!AcceptsConnections(port)) {
            if (std::chrono::steady_clock::now() > until || ::waitpid(pid, nullptr, WNOHANG) != 0) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }
    void Stop() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            pid = -1;
        }
    }
    std::string Log() const {
        std::ifstream in(folder / "mosquitto.log");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    int port = 0;
    pid_t pid = -1;
    std::filesystem::path folder;
};

}  // namespace tarvel::testing
