// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/LineSettings.h"
#include "sim/SimulatedBus.h"

namespace tarvel {

// A simulated bus behind a pseudo-terminal, in real time: the program opens DevicePath() like
// any serial port, and a thread of this host answers on the other side. Characters take their
// wire time at the speed and framing the program set on the port. The controllers judge the
// parity and data bits the program chose when a line of this process chose them: a pty keeps
// neither, so from a program elsewhere they take the framing for their own.
class PtyBusHost {
public:
    // Nothing, with `error` set, when the host has no pseudo-terminals to give.
    static std::unique_ptr<PtyBusHost> Start(SimulatedBus bus, std::string& error);
    ~PtyBusHost();
    PtyBusHost(const PtyBusHost&) = delete;
    PtyBusHost& operator=(const PtyBusHost&) = delete;

    const std::string& DevicePath() const { return path_; }

    // Every character the program has sent, in order (for tests and benchmarks).
    std::vector<TimedByte> Received() const;

private:
    PtyBusHost(SimulatedBus bus, int master, int slave, int wakeRead, int wakeWrite,
               std::string path);
    void Run();

    SimulatedBus bus_;
    int master_;
    int slave_;  // kept open so that the far side never sees a hang-up between two opens
    int wakeRead_;
    int wakeWrite_;
    std::string path_;
    std::uint64_t slaveDevice_ = 0;
    mutable std::mutex receivedMutex_;
    std::vector<TimedByte> received_;
    std::thread thread_;
};

// The settings of terminal `fd`, as far as its termios holds them (a pty always reads 8 data
// bits without parity).
LineSettings TerminalSettings(int fd);
// The time one character takes on the wire with the settings of terminal `fd`.
Duration TerminalCharacterTime(int fd);

}  // namespace tarvel
