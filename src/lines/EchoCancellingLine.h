// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "lines/LineFilter.h"
#include "lines/LineSettings.h"
#include "lines/StampedInput.h"
#include "platform/Scheduler.h"

namespace tarvel {

// Whether the port's adapter gives back what the host sends.
enum class EchoMode {
    Auto,  // found on the line: the first request that comes back whole, byte for byte
    On,    // every request comes back
    Off,   // nothing comes back: every received character is the far end's
};

std::optional<EchoMode> EchoModeNamed(std::string_view name);  // "auto", "on", "off"

// What the windows and the command line tell of a port found to echo.
inline constexpr const char* kEchoNotice =
    "this port echoes what it sends; the echo is removed before answers are judged";
// What the command line tells of an answer that repeats its request byte for byte and came
// once, on a port that has shown neither that it echoes nor that it does not.
inline constexpr const char* kUndecidedEchoNotice =
    "the answer repeats the request byte for byte and came once: it may be this port's echo of a "
    "request that no one answered (--echo on or --echo off says whether the port echoes)";

// A serial line in front of another that takes the echo of each request off the input, for the
// two-wire RS-485 adapters that keep their receiver on while they send. Without it every answer
// would be read behind the request's own characters, and a healthy line would look broken.
//
// Each text given to Output is an echo to expect: it must come back, byte for byte, before any
// other character, within its wire time, a grace for the adapter's latency and, across the network,
// the round trip. Once the line is known to echo (EchoMode::On, or in Auto once one request came
// back whole), those characters are taken off whatever they hold; one that differs from what was
// sent is a collision on the wire and is counted, as is an echo that does not come back whole in
// time. Until then (Auto), characters that match the beginning of what was sent are held back until
// the match is whole, fails, or runs out of time, and are then handed on with their own arrival
// stamps, so a line that does not echo is judged exactly as without this layer.
//
// A request whose answer may be its own bytes (a Modbus write of one register) is told apart by
// what the port has shown: on a port found to echo, a lone copy is the echo; on one that has let
// a request go by without a copy, it is the answer; on one that has shown neither, it is read
// as the answer once its echo's time has run out, and counted as undecided.
//
// Everything else passes through unchanged; the far end's characters keep the arrival stamps
// the line below gave them.
class EchoCancellingLine final : public LineFilter {
public:
    EchoCancellingLine(SerialLine& line, Scheduler& scheduler, EchoMode mode = EchoMode::Auto);
    ~EchoCancellingLine() override;
    EchoCancellingLine(const EchoCancellingLine&) = delete;
    EchoCancellingLine& operator=(const EchoCancellingLine&) = delete;

    bool SetSettings(std::string_view settingsText) override;
    bool SetInputLen(std::int16_t length) override;
    bool SetPortOpen(bool open) override;
    void Output(std::string_view text) override;
    void OutputRequest(std::string_view text, bool answerMayRepeatIt) override;
    std::string Input() override;
    std::string InputFirst(int count) override;
    std::string Peek(int count) const override;
    int InBufferCount() override;
    std::optional<Instant> ArrivalOf(int index) const override;
    QCoro::Task<bool> OpenAsync(Scheduler& scheduler) override;
    QCoro::Task<bool> SetSettingsAsync(Scheduler& scheduler, std::string settingsText) override;
    void PurgeReceived() override;
    // The layers below, and what this one has found.
    void Diagnose(LineDiagnostics& report) const override;

    EchoMode Mode() const { return mode_; }

private:
    void InputBelow() override;

    // One text given to Output, as far as its echo has come back.
    struct Expected {
        std::string text;
        std::size_t matched = 0;  // characters of the echo that have come back
        bool differed = false;
        Instant deadline;
        // Its answer may be these bytes again: coming back whole once, they may be the answer;
        // only a second copy behind them proves the first the echo.
        bool mayBeAnswer = false;
        bool cameOnce = false;
        // That first copy went on as the answer (the port had shown it does not echo).
        bool handedOn = false;
    };

    // Moves what the line below has received into this line's input, taking echoes off.
    void Pump() const;
    void Take(std::uint8_t byte, Instant arrival) const;
    // A request went by without coming back whole: the port may not echo at all.
    void NoEchoOf(const Expected& echo) const;
    // Hands the held characters on as the far end's, with their own arrival stamps.
    void HandOnHeld() const;
    // Hands the held characters on, and expects no more echo.
    void Release() const;
    // Gives up the echoes whose time has run out.
    void ExpireEchoes();
    void Deadline();
    void ArmDeadline();
    void Forget();
    // The line below took `settingsText`.
    void SettingsTaken(std::string_view settingsText);
    bool Echoing() const { return mode_ == EchoMode::On || found_; }
    // Characters this line has to read.
    int Waiting() const;

    SerialLine& line_;
    Scheduler& scheduler_;
    EchoMode mode_;
    Duration characterTime_;
    std::int16_t inputLen_ = 0;
    // Pump runs inside the const reads too: what has arrived below belongs to this line's input
    // as soon as anyone looks.
    mutable StampedInput received_;
    std::size_t capacity_ = kLeastInputCapacity;  // as the line's settings allow
    mutable StampedInput held_;
    mutable std::deque<Expected> expected_;
    mutable bool found_ = false;
    // A request of a telling length went by without its copy: until the port is found to echo,
    // a copy of a request whose answer may repeat it is that answer.
    mutable bool shownNoEcho_ = false;
    mutable EchoReport report_;
    Instant transmitterFreeAt_{};
    Scheduler::TimerId deadlineTimer_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace tarvel
