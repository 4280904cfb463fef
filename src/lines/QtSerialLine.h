// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "lines/LineSettings.h"
#include "lines/LocalPort.h"
#include "lines/NetworkPort.h"
#include "lines/PortMap.h"
#include "lines/Rs485.h"
#include "lines/SerialLine.h"
#include "lines/Transport.h"
#include "platform/Clock.h"

namespace tarvel {

// The serial line of the running program: the device that the port map gives for the chosen
// port number, through the transport that device needs, chosen again at each opening: a port of
// this host (LocalPort), or a port across the network for an rfc2217:// or tcp:// device
// (NetworkPort). The transports feed one buffer of stamped characters; the line's
// notifications reach the program's thread from its event loop, never from inside a call.
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
    bool PortOpen() const override { return link_.open; }
    void Output(std::string_view text) override;
    std::string Input() override;
    std::string InputFirst(int count) override;
    std::string Peek(int count) const override;
    int InBufferCount() override;
    int OutBufferCount() override;
    std::optional<Instant> ArrivalOf(int index) const override;
    std::string LastError() const override;
    QCoro::Task<bool> OpenAsync(Scheduler& scheduler) override;
    QCoro::Task<bool> SetSettingsAsync(Scheduler& scheduler, std::string settingsText) override;
    void PurgeReceived() override;
    void LowerRequestToSend() override;
    void Diagnose(LineDiagnostics& report) const override;

    // From the next opening of a port of this host on, the port is switched into the driver's
    // RS-485 mode, or is not used when its driver has none; closing puts back the mode it had.
    // Nothing: left as it is.
    void SetRs485(std::optional<Rs485Mode> mode) { local_->SetRs485(mode); }

private:
    // The transport that opens `device`.
    Transport& For(const std::string& device) const;
    // The transport for `device`, made the line's own: the other one lets go of what it held
    // (a connection that was lost), and nothing received before is left.
    Transport& Take(const std::string& device);
    bool FinishOpen(std::string failure);
    // Takes `settingsText` as the line's; false when it is not valid.
    bool TakeSettings(std::string_view settingsText);

    const PortMap& ports_;
    std::int16_t number_ = 1;
    LineSettings settings_;
    std::int16_t inputLen_ = 0;

    // Before the transports: their threads post to it until they are gone.
    TransportLink link_;
    std::unique_ptr<LocalPort> local_;
    std::unique_ptr<NetworkPort> network_;
    Transport* current_ = nullptr;  // the transport of the line open now, or last
};

}  // namespace tarvel
