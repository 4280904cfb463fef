// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QThread>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "lines/LineSettings.h"
#include "lines/Rs485.h"
#include "lines/Transport.h"

namespace tarvel {

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

// A serial device of this host (a UART, a USB adapter, a pseudo-terminal): a QSerialPort on a
// small thread of its own, which reads every character as soon as the driver has it and stamps
// it with the time, so that a busy window (a long repaint, a big list) can neither delay the
// reading nor make an answer that came in time look late.
//
// Everything that changes the port's descriptor (writes, settings, RTS, the RS-485 mode, the
// closing) happens on that thread. The program's thread only asks the driver how much output it
// still holds and what it has counted, under a lock that keeps the descriptor open meanwhile.
class LocalPort final : public Transport {
public:
    explicit LocalPort(TransportLink& link);
    ~LocalPort() override;
    LocalPort(const LocalPort&) = delete;
    LocalPort& operator=(const LocalPort&) = delete;

    // From the next opening on, the port is switched into the driver's RS-485 mode, or is not
    // used when its driver has none; closing puts back the mode it had. Nothing: left as it is.
    void SetRs485(std::optional<Rs485Mode> mode) { rs485_ = mode; }

    bool HoldsCaller() const override { return false; }
    std::string Open(const std::string& device, const LineSettings& settings) override;
    // The port's thread has marked the link open already, or closed again on a loss.
    bool Opened() override { return link_.open; }
    std::string Apply(const LineSettings& settings) override;
    void Close() override;
    void Write(std::string_view text) override;
    int Unsent() override;
    void PurgeReceived() override {}
    void LowerRequestToSend() override;
    void Diagnose(LineDiagnostics& report) const override;

private:
    class Port;

    // Runs `call` on the port's thread and waits for it.
    template <typename Call>
    void OnPortThread(Call call);

    TransportLink& link_;
    std::optional<Rs485Mode> rs485_;
    std::optional<Rs485Mode> openedRs485_;  // the mode of the port open now
    QThread thread_;
    std::unique_ptr<Port> port_;

    // Shared with the port's thread.
    mutable std::mutex descriptor_;  // held while the port's thread closes the descriptor
    std::atomic<int> handle_ = -1;
    std::atomic<bool> rs485On_ = false;  // the open port is in the mode rs485_ asked for
    std::atomic<int> handedOver_ = 0;    // given to Write, not yet written or in the port's buffer
    std::atomic<int> portBuffered_ = 0;  // in the port's own buffer, not yet in the driver's
    std::atomic<bool> drainWatched_ = false;
};

}  // namespace tarvel
