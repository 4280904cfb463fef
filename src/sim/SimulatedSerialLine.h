// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "lines/LineSettings.h"
#include "lines/SerialLine.h"
#include "lines/StampedInput.h"
#include "platform/Scheduler.h"
#include "sim/SimulatedBus.h"

namespace tarvel {

// The far end of a simulated wire.
class LinePeer {
public:
    virtual ~LinePeer() = default;
    // A character from the host has left the wire at `end`.
    virtual void HostCharacter(std::uint8_t byte, Instant end, Duration characterTime) = 0;
};

// A serial line in the same process, on any scheduler (virtual time in tests). Its transmitter
// sends one character after the other at the speed and framing of the settings; what the far
// end sends arrives when its last stop bit does.
class SimulatedSerialLine final : public SerialLine {
public:
    explicit SimulatedSerialLine(Scheduler& scheduler);
    ~SimulatedSerialLine() override;

    bool SetCommPort(std::int16_t number) override;
    bool SetSettings(std::string_view settingsText) override;
    bool SetInputLen(std::int16_t length) override;
    bool SetPortOpen(bool open) override;
    bool PortOpen() const override { return open_; }
    void Output(std::string_view text) override;
    std::string Input() override;
    std::string InputFirst(int count) override;
    std::string Peek(int count) const override;
    int InBufferCount() override { return received_.Count(); }
    int OutBufferCount() override { return unsent_; }
    std::optional<Instant> ArrivalOf(int index) const override;
    std::string LastError() const override { return lastError_; }
    // Opens at once.
    QCoro::Task<bool> OpenAsync(Scheduler& scheduler) override;
    QCoro::Task<bool> SetSettingsAsync(Scheduler& scheduler, std::string settingsText) override;
    // Nothing is held at the far end of a simulated wire.
    void PurgeReceived() override {}
    // The simulated line keeps no driver counts.
    void Diagnose(LineDiagnostics& /*report*/) const override {}

    // The far end.
    void AttachPeer(LinePeer* peer) { peer_ = peer; }
    // A character from the far end whose last stop bit arrives at `end`.
    void DeliverAt(Instant end, std::uint8_t byte);
    // Characters from the far end sent back to back, the first one starting at `start`.
    void DeliverFrom(Instant start, std::string_view bytes);

    // What the host has put on the wire so far, with the time each character ended.
    const std::vector<TimedByte>& Transmitted() const { return transmitted_; }
    std::string TransmittedText() const;
    // Forgets what was transmitted, so that a long run on virtual time keeps its memory.
    void ClearTransmitted() { transmitted_.clear(); }

    // Makes a port number refuse to open, with the host's reason, or accept again.
    void SetPortAvailable(std::int16_t number, bool available, std::string reason = "busy");
    // The host takes the open line away, as when an adapter is pulled out.
    void Lose(std::string reason);

    std::int16_t CommPort() const { return number_; }
    std::string SettingsText() const { return settingsText_; }
    const LineSettings& Settings() const { return settings_; }
    int TimesOpened() const { return timesOpened_; }
    // RTS, raised at each open as the host does.
    void LowerRequestToSend() override { requestToSend_ = false; }
    bool RequestToSend() const { return requestToSend_; }

private:
    bool Fail(std::string reason);

    Scheduler& scheduler_;
    LinePeer* peer_ = nullptr;
    // Cleared when the line closes, so that characters still on their way are lost with it.
    std::shared_ptr<bool> session_ = std::make_shared<bool>(false);
    // Cleared when the line goes, for the events it left with the scheduler.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    bool open_ = false;
    std::int16_t number_ = 1;
    std::string settingsText_;
    LineSettings settings_;
    std::int16_t inputLen_ = 0;
    StampedInput received_;
    int unsent_ = 0;
    Instant transmitterFreeAt_{};
    std::vector<TimedByte> transmitted_;
    std::map<std::int16_t, std::string> refusedPorts_;
    std::string lastError_;
    int timesOpened_ = 0;
    bool requestToSend_ = false;
};

// A simulated bus as the far end of a simulated line.
class BusPeer final : public LinePeer {
public:
    BusPeer(SimulatedSerialLine& line, SimulatedBus bus);
    ~BusPeer() override;
    void HostCharacter(std::uint8_t byte, Instant end, Duration characterTime) override;
    const SimulatedBus& Bus() const { return bus_; }

private:
    SimulatedSerialLine& line_;
    SimulatedBus bus_;
};

}  // namespace tarvel
