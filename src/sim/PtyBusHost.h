// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "lines/LineSettings.h"
#include "sim/SimulatedBus.h"
#include "sim/SimulatedMaster.h"

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
    // A live bus to listen to: `master` polls its controllers, and both directions go into the
    // pty at their real times, at the master's speed (the pty's own does not matter), as an
    // RS-485 adapter shows them. What the program sends is only recorded. The master polls
    // only while the device is open, from the moment it is opened, so that its log holds what a
    // reader could see; the poll on the wire when the device is closed is dropped.
    static std::unique_ptr<PtyBusHost> StartMaster(SimulatedMaster master, std::string& error);
    ~PtyBusHost();
    PtyBusHost(const PtyBusHost&) = delete;
    PtyBusHost& operator=(const PtyBusHost&) = delete;

    const std::string& DevicePath() const { return path_; }

    // Every character the program has sent, in order (for tests and benchmarks).
    std::vector<TimedByte> Received() const;
    // In master mode: the polls whose last byte has gone into the pty, in order; the latest
    // kMasterLogLimit of them at most.
    static constexpr std::size_t kMasterLogLimit = 100000;
    std::vector<MasterPoll> MasterLog() const;
    // The same, forgotten as it is handed over, so that a long run keeps its memory.
    std::vector<MasterPoll> TakeMasterLog();

private:
    PtyBusHost(SimulatedBus bus, std::optional<SimulatedMaster> master, int masterFd, int slave,
               int wakeRead, int wakeWrite, std::string path);
    static std::unique_ptr<PtyBusHost> Open(SimulatedBus bus, std::optional<SimulatedMaster> master,
                                            std::string& error);
    void Run();
    void RunMaster();
    void Record(Instant arrived, const std::vector<std::uint8_t>& bytes);

    SimulatedBus bus_;
    std::optional<SimulatedMaster> busMaster_;
    int master_;
    // Kept open so that the far side never sees a hang-up between two opens; closed in master
    // mode, where the hang-up tells that nobody listens.
    int slave_;
    int wakeRead_;
    int wakeWrite_;
    std::string path_;
    std::uint64_t slaveDevice_ = 0;
    mutable std::mutex receivedMutex_;
    std::vector<TimedByte> received_;
    std::vector<MasterPoll> masterLog_;
    std::thread thread_;
};

// The settings of terminal `fd`, as far as its termios holds them (a pty always reads 8 data
// bits without parity).
LineSettings TerminalSettings(int fd);
// The time one character takes on the wire with the settings of terminal `fd`.
Duration TerminalCharacterTime(int fd);

}  // namespace tarvel
