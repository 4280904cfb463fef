// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/SimulatedSerialLine.h"

#include <algorithm>
#include <utility>

namespace tarvel {

SimulatedSerialLine::SimulatedSerialLine(Scheduler& scheduler) : scheduler_(scheduler) {}

SimulatedSerialLine::~SimulatedSerialLine() {
    *session_ = false;
    *alive_ = false;
}

bool SimulatedSerialLine::Fail(std::string reason) {
    lastError_ = std::move(reason);
    return false;
}

bool SimulatedSerialLine::SetCommPort(std::int16_t number) {
    if (open_) {
        return Fail("the port must be closed before its number changes");
    }
    if (number < 1 || number > 4) {
        return Fail("COM" + std::to_string(number) + " is not a port of this host");
    }
    number_ = number;
    return true;
}

bool SimulatedSerialLine::SetSettings(std::string_view settingsText) {
    const auto settings = ParseSettingsText(settingsText);
    if (!settings) {
        return Fail("the settings \"" + std::string(settingsText) + "\" are not valid");
    }
    settings_ = *settings;
    settingsText_ = std::string(settingsText);
    return true;
}

bool SimulatedSerialLine::SetInputLen(std::int16_t length) {
    if (length < 0) {
        return Fail("the input length cannot be negative");
    }
    inputLen_ = length;
    return true;
}

QCoro::Task<bool> SimulatedSerialLine::OpenAsync(Scheduler& /*scheduler*/) {
    co_return SetPortOpen(true);
}

QCoro::Task<bool> SimulatedSerialLine::SetSettingsAsync(Scheduler& /*scheduler*/,
                                                        std::string settingsText) {
    co_return SetSettings(settingsText);
}

bool SimulatedSerialLine::SetPortOpen(bool open) {
    if (open == open_) {
        return true;
    }
    if (open) {
        const auto refused = refusedPorts_.find(number_);
        if (refused != refusedPorts_.end()) {
            return Fail("COM" + std::to_string(number_) + ": " + refused->second);
        }
        session_ = std::make_shared<bool>(true);
        open_ = true;
        ++timesOpened_;
        requestToSend_ = true;
        lastError_.clear();
        return true;
    }
    *session_ = false;
    open_ = false;
    received_.Clear();
    unsent_ = 0;
    transmitterFreeAt_ = scheduler_.Now();
    return true;
}

void SimulatedSerialLine::Output(std::string_view text) {
    if (!open_) {
        return;
    }
    const Duration characterTime = CharacterTime(settings_);
    // The whole text is handed to the transmitter at once, as a driver takes a write: the clock
    // is read once, so that a thread paused inside this loop on real time leaves no gap between
    // the characters on the wire.
    const Instant handedOver = scheduler_.Now();
    for (const char c : text) {
        const auto byte = static_cast<std::uint8_t>(c);
        const Instant end = std::max(handedOver, transmitterFreeAt_) + characterTime;
        transmitterFreeAt_ = end;
        ++unsent_;
        scheduler_.CallAt(end, [this, byte, end, characterTime, session = session_] {
            if (!*session) {
                return;
            }
            --unsent_;
            transmitted_.push_back({end, byte});
            if (peer_) {
                peer_->HostCharacter(byte, end, characterTime);
            }
            output_.Notify();
        });
    }
}

std::string SimulatedSerialLine::Input() {
    return InputFirst(inputLen_ > 0 ? inputLen_ : received_.Count());
}

std::string SimulatedSerialLine::InputFirst(int count) { return received_.Take(count); }

std::string SimulatedSerialLine::Peek(int count) const { return received_.Peek(count); }

std::optional<Instant> SimulatedSerialLine::ArrivalOf(int index) const {
    return received_.ArrivalOf(index);
}

void SimulatedSerialLine::DeliverAt(Instant end, std::uint8_t byte) {
    scheduler_.CallAt(end, [this, byte, end, alive = alive_] {
        if (!*alive || !open_) {
            return;
        }
        // The host has the character when its stop bit arrives, however late the program's
        // thread gets to it.
        const char character = static_cast<char>(byte);
        received_.Append(std::string_view(&character, 1), end);
        if (received_.Count() >= inputThreshold_.load()) {
            input_.Notify();
        }
    });
}

void SimulatedSerialLine::DeliverFrom(Instant start, std::string_view bytes) {
    const Duration characterTime = CharacterTime(settings_);
    Instant end = start;
    for (const char c : bytes) {
        end += characterTime;
        DeliverAt(end, static_cast<std::uint8_t>(c));
    }
}

std::string SimulatedSerialLine::TransmittedText() const {
    std::string text;
    for (const auto& sent : transmitted_) {
        text.push_back(static_cast<char>(sent.byte));
    }
    return text;
}

void SimulatedSerialLine::SetPortAvailable(std::int16_t number, bool available,
                                           std::string reason) {
    if (available) {
        refusedPorts_.erase(number);
    } else {
        refusedPorts_[number] = std::move(reason);
    }
}

void SimulatedSerialLine::Lose(std::string reason) {
    if (!open_) {
        return;
    }
    SetPortOpen(false);
    lastError_ = "COM" + std::to_string(number_) + " was lost: " + reason;
    scheduler_.CallSoon([this, alive = alive_] {
        if (*alive) {
            NotifyLoss();
        }
    });
}

BusPeer::BusPeer(SimulatedSerialLine& line, SimulatedBus bus) : line_(line), bus_(std::move(bus)) {
    line_.AttachPeer(this);
}

BusPeer::~BusPeer() { line_.AttachPeer(nullptr); }

void BusPeer::HostCharacter(std::uint8_t byte, Instant end, Duration characterTime) {
    for (const TimedByte& answer :
         bus_.HostCharacter(byte, end, characterTime,
                            HostWire{line_.Settings().baud, FramingOf(line_.Settings())})) {
        line_.DeliverAt(answer.end, answer.byte);
    }
}

}  // namespace tarvel
