// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QThread>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "lines/LineSettings.h"
#include "lines/PortMap.h"
#include "lines/PseudoTerminals.h"
#include "lines/Rs485.h"
#include "lines/SerialLine.h"
#include "lines/StampedInput.h"
#include "platform/Clock.h"

namespace tarvel {

// How the user of this process stands with the group that owns a device.
enum class GroupMembership {
    NotMember,            // not in the group at all
    MemberFromNextLogin,  // added to the group since this session began
    InSession,            // this process has the group already
};

// What a user who may not open `device` is told: the group of the device, that the user must be
// a member of it and log in again, and the command that makes the user one.
std::string PermissionDeniedText(std::string_view device, std::string_view group,
                                 GroupMembership membership);
// The name of the group that owns `path` as the file system has it (its number when the group
// database has no name for it); nothing when `path` cannot be looked at.
std::optional<std::string> OwningGroupName(const std::string& path);
// The group that owns `path`; nothing when it cannot be looked at.
std::optional<std::uint32_t> OwningGroup(const std::string& path);
// Whether this process has `group` and, if not, whether the group database makes its user a
// member of it from the next login.
GroupMembership MembershipOf(std::uint32_t group);

// The four settings of a line, one at a time, as a port takes them.
class SettingsTarget {
public:
    enum class Setting { Speed, DataBits, Parity, StopBits };
    virtual ~SettingsTarget() = default;
    // False when the port refuses; ErrorText() then says why.
    virtual bool Set(Setting setting, const LineSettings& settings) = 0;
    virtual std::string ErrorText() const = 0;
};

// Gives `port` the settings and returns why it refused one, empty when it took them all. A
// pseudo-terminal is given only the speed and the stop bits: it carries no parity and always
// eight data bits, so those are left as it has them rather than refused.
std::string ApplyLineSettings(SettingsTarget& port, const LineSettings& settings,
                              bool pseudoTerminal);

// The serial line of the running program: a QSerialPort on the host device that the port map
// gives for the chosen port number.
//
// The port lives on a small thread of its own, which reads every character as soon as the
// driver has it and stamps it with the time, so that a busy window (a long repaint, a big list)
// can neither delay the reading nor make an answer that came in time look late. The program's
// thread finds the characters, with their stamps, in a buffer the two threads share; the line's
// notifications reach it from its event loop, never from inside a call.
// Blocks the signal with which the network library wakes a thread waiting in it, in the calling
// thread and so in every thread started after it. The library lets it in only inside its own
// waits; arriving anywhere else, just before a wait, it would be lost and that wait would last
// its whole time-out. Called first thing in main(), before any thread starts.
void BlockNetworkWakeSignal();

class QtSerialLine final : public SerialLine {
public:
    // `ports` says which device each port number stands for; it must outlive the line.
    QtSerialLine(const PortMap& ports, const Clock& clock);
    ~QtSerialLine() override;
    QtSerialLine(const QtSerialLine&) = delete;
    QtSerialLine& operator=(const QtSerialLine&) = delete;

    bool SetCommPort(std::int16_t number) override;
    bool SetSettings(std::string_view settingsText) override;
    bool SetInputLen(std::int16_t length) override;
    bool SetPortOpen(bool open) override;
    bool PortOpen() const override { return open_; }
    void Output(std::string_view text) override;
    std::string Input() override;
    std::string InputFirst(int count) override;
    std::string Peek(int count) const override;
    int InBufferCount() override;
    int OutBufferCount() override;
    std::optional<Instant> ArrivalOf(int index) const override;
    std::string LastError() const override;
    std::optional<UartErrorCounts> ErrorCounts() const override;
    void LowerRequestToSend() override;
    QCoro::Task<bool> OpenAsync(Scheduler& scheduler) override;
    std::optional<Duration> RoundTrip() const override;
    void PurgeReceived() override;

    // From the next opening on, the port is switched into the driver's RS-485 mode, or is not
    // used when its driver has none; closing puts back the mode it had. Nothing: left as it is.
    void SetRs485(std::optional<Rs485Mode> mode) { rs485_ = mode; }

private:
    class Port;
    class Network;

    bool Fail(std::string reason);
    // Whether COMn now stands for a port across the network; the reason when its address is bad.
    std::optional<std::string> NetworkProblem(const std::string& device) const;
    bool FinishNetworkOpen(std::string failure);
    // Runs `call` on the port's thread and waits for it.
    template <typename Call>
    void OnPortThread(Call call);
    void PostInputActivity();
    void PostOutputActivity();

    const PortMap& ports_;
    std::int16_t number_ = 1;
    LineSettings settings_;
    std::int16_t inputLen_ = 0;
    std::optional<Rs485Mode> rs485_;

    QObject here_;  // the program's thread, for the notifications posted to it
    QThread thread_;
    std::unique_ptr<Port> port_;
    std::unique_ptr<Network> network_;
    std::atomic<bool> networked_ = false;  // the line open now, or last, is a network port

    // Shared with the port's thread.
    mutable std::mutex mutex_;
    mutable std::mutex directWrite_;  // the descriptor stays open while the program's thread writes
    StampedInput received_;
    std::string lastError_;
    std::atomic<bool> open_ = false;
    std::atomic<int> handedOver_ = 0;    // given to Output, not yet in the port's own buffer
    std::atomic<int> portBuffered_ = 0;  // in the port's own buffer, not yet in the driver's
    std::atomic<int> handle_ = -1;
    std::atomic<bool> inputPosted_ = false;
    std::atomic<bool> outputPosted_ = false;
    std::atomic<bool> drainWatched_ = false;
    std::atomic<bool> outputWanted_ = false;
};

}  // namespace tarvel
