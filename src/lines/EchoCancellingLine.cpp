// SPDX-License-Identifier: GPL-3.0-or-later
#include "lines/EchoCancellingLine.h"

#include <algorithm>

#include "lines/LineSettings.h"

namespace tarvel {
namespace {

// How long after its last character left the host an echo may still come back: a USB adapter
// hands what it received to the host in packets, up to its latency timer (16 ms by default)
// later, and the host's scheduler adds its own delay.
Duration EchoGrace(Duration characterTime) {
    return 4 * characterTime + std::chrono::milliseconds(50);
}

// The shortest echo that tells the port echoes: an address, a command and a carriage return
// are three characters, and every request of the protocol has more.
constexpr std::size_t kTellingEcho = 4;

}  // namespace

std::optional<EchoMode> EchoModeNamed(std::string_view name) {
    if (name == "auto") {
        return EchoMode::Auto;
    }
    if (name == "on") {
        return EchoMode::On;
    }
    if (name == "off") {
        return EchoMode::Off;
    }
    return std::nullopt;
}

EchoCancellingLine::EchoCancellingLine(SerialLine& line, Scheduler& scheduler, EchoMode mode)
    : LineFilter(line),
      line_(line),
      scheduler_(scheduler),
      mode_(mode),
      characterTime_(CharacterTime(LineSettings{})) {}

void EchoCancellingLine::InputBelow() {
    if (mode_ != EchoMode::Off) {
        Pump();
    }
    if (Waiting() >= inputThreshold_.load() || !line_.PortOpen()) {
        input_.Notify();
    }
}

EchoCancellingLine::~EchoCancellingLine() {
    *alive_ = false;
    scheduler_.Cancel(deadlineTimer_);
}

bool EchoCancellingLine::SetSettings(std::string_view settingsText) {
    if (!line_.SetSettings(settingsText)) {
        return false;
    }
    SettingsTaken(settingsText);
    return true;
}

QCoro::Task<bool> EchoCancellingLine::SetSettingsAsync(Scheduler& scheduler,
                                                       std::string settingsText) {
    // Named, not a temporary of the co_await: g++ 12 leaks the frame of such a task.
    const QCoro::Task<bool> taking = line_.SetSettingsAsync(scheduler, settingsText);
    if (!co_await taking) {
        co_return false;
    }
    SettingsTaken(settingsText);
    co_return true;
}

void EchoCancellingLine::SettingsTaken(std::string_view settingsText) {
    if (const std::optional<LineSettings> settings = ParseSettingsText(settingsText)) {
        characterTime_ = CharacterTime(*settings);
        capacity_ = InputCapacity(*settings);
    }
    // An echo still on its way at the old speed comes back garbled or not at all: none is
    // expected across the change (whoever changes speed settles the line after it).
    if (mode_ != EchoMode::Off) {
        Pump();
        Release();
    }
}

void EchoCancellingLine::PurgeReceived() {
    line_.PurgeReceived();
    // The far end's buffer may have held echoes; they are gone with it, not missing.
    if (mode_ != EchoMode::Off) {
        Pump();
        Release();
    }
}

bool EchoCancellingLine::SetInputLen(std::int16_t length) {
    // The line below says whether the length is one it takes; the echo is taken off before any
    // read, so this line counts the length itself.
    if (!line_.SetInputLen(length)) {
        return false;
    }
    inputLen_ = length;
    return true;
}

bool EchoCancellingLine::SetPortOpen(bool open) {
    const bool wasOpen = line_.PortOpen();
    const bool done = line_.SetPortOpen(open);
    // Another port, or the same one with another adapter plugged in: the echo is found again.
    if (line_.PortOpen() != wasOpen) {
        Forget();
    }
    return done;
}

QCoro::Task<bool> EchoCancellingLine::OpenAsync(Scheduler& scheduler) {
    const bool done = co_await line_.OpenAsync(scheduler);
    Forget();
    co_return done;
}

void EchoCancellingLine::Forget() {
    received_.Clear();
    held_.Clear();
    expected_.clear();
    found_ = false;
    shownNoEcho_ = false;
    scheduler_.Cancel(deadlineTimer_);
    deadlineTimer_ = 0;
    transmitterFreeAt_ = {};
}

void EchoCancellingLine::Output(std::string_view text) { OutputRequest(text, false); }

void EchoCancellingLine::OutputRequest(std::string_view text, bool answerMayRepeatIt) {
    if (mode_ != EchoMode::Off && line_.PortOpen() && !text.empty()) {
        // Anything that arrived before this request is the far end's, not its echo.
        Pump();
        const Instant start = std::max(scheduler_.Now(), transmitterFreeAt_);
        transmitterFreeAt_ = start + static_cast<int>(text.size()) * characterTime_;
        // Across the network the echo makes the round trip as well.
        const Duration grace =
            EchoGrace(characterTime_) + line_.RoundTrip().value_or(Duration::zero());
        expected_.push_back(
            Expected{std::string(text), 0, false, transmitterFreeAt_ + grace, answerMayRepeatIt});
        ArmDeadline();
    }
    line_.Output(text);
}

void EchoCancellingLine::Pump() const {
    if (!line_.PortOpen()) {
        // A line that was lost or closed has nothing to read, what was already taken off it
        // included, and no echo to come.
        received_.Clear();
        held_.Clear();
        expected_.clear();
        return;
    }
    // No more than the line keeps is taken up: beyond it, input stays below, where the line
    // drops and counts what a port delivers beyond its wire.
    const int kept = received_.Count() + held_.Count();
    const int waiting =
        std::min(line_.InBufferCount(),
                 static_cast<int>(capacity_) - std::min(kept, static_cast<int>(capacity_)));
    if (waiting <= 0) {
        return;
    }
    std::vector<Instant> arrivals(static_cast<std::size_t>(waiting));
    const Instant now = scheduler_.Now();
    for (int i = 0; i < waiting; ++i) {
        arrivals[static_cast<std::size_t>(i)] = line_.ArrivalOf(i).value_or(now);
    }
    const std::string bytes = line_.InputFirst(waiting);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        Take(static_cast<std::uint8_t>(bytes[i]), arrivals[i]);
    }
}

void EchoCancellingLine::Take(std::uint8_t byte, Instant arrival) const {
    if (expected_.empty()) {
        received_.Append(std::string_view(reinterpret_cast<const char*>(&byte), 1), arrival);
        return;
    }
    Expected& echo = expected_.front();
    const auto sent = static_cast<std::uint8_t>(echo.text[echo.matched]);
    if (Echoing()) {
        echo.differed = echo.differed || byte != sent;
        if (++echo.matched == echo.text.size()) {
            ++report_.removed;
            report_.differed += echo.differed ? 1 : 0;
            expected_.pop_front();
        }
        return;
    }
    held_.Append(std::string_view(reinterpret_cast<const char*>(&byte), 1), arrival);
    if (byte != sent) {
        if (echo.handedOn) {
            // The copy went on as the answer; what follows it is the far end's too.
            Release();
            return;
        }
        if (echo.cameOnce) {
            // A whole copy and then something else: a controller answers once, so the copy was
            // the echo and this its answer (an exception, say). One such exchange proves too
            // little to call the port an echoing one.
            held_.Take(static_cast<int>(echo.text.size()));
            ++report_.removed;
            expected_.pop_front();
            HandOnHeld();
            return;
        }
        // The far end's characters after all: this line does not echo, or not this time.
        NoEchoOf(echo);
        Release();
        return;
    }
    if (++echo.matched == echo.text.size()) {
        // A lone carriage return (a settle) or a couple of characters may come from the far
        // end by chance; only a request's worth tells that the port echoes. Until then a short
        // one is handed on like anything else.
        if (echo.text.size() < kTellingEcho) {
            Release();
            return;
        }
        if (echo.mayBeAnswer && !echo.cameOnce) {
            // Held until a second copy or the echo's time tells what it was. The time the copy
            // came cannot tell: a port without a wire of its own (a virtual one, a gateway at
            // another speed, a device server) may answer before the request could have left.
            echo.cameOnce = true;
            echo.matched = 0;
            // A port that has already let a request go by without giving it back does not echo:
            // the copy is the answer, at once. A second copy would still prove it wrong.
            if (shownNoEcho_) {
                echo.handedOn = true;
                HandOnHeld();
            }
            return;
        }
        found_ = true;
        // The first copy was the echo; a second one is the far end's answer. Where the first
        // went on as the answer already, the second (the same bytes) is what is held and goes.
        held_.Take(static_cast<int>(echo.text.size()));
        HandOnHeld();
        ++report_.removed;
        expected_.pop_front();
    }
}

void EchoCancellingLine::NoEchoOf(const Expected& echo) const {
    // Only a request's worth tells: a short one may be answered with its own first characters.
    if (echo.text.size() >= kTellingEcho) {
        shownNoEcho_ = true;
    }
}

void EchoCancellingLine::HandOnHeld() const {
    while (held_.Count() > 0) {
        const std::optional<Instant> arrival = held_.ArrivalOf(0);
        received_.Append(held_.Take(1), *arrival);
    }
}

void EchoCancellingLine::Release() const {
    HandOnHeld();
    expected_.clear();
}

void EchoCancellingLine::ExpireEchoes() {
    const Instant now = scheduler_.Now();
    while (!expected_.empty() && expected_.front().deadline <= now) {
        if (!Echoing()) {
            const Expected& echo = expected_.front();
            // One copy of a request whose answer repeats it, and nothing behind it: the echo of
            // a request no one answered, or the answer on a line that does not echo.
            report_.undecided += echo.cameOnce && !echo.handedOn && echo.matched == 0 ? 1 : 0;
            // Part of a copy may be an echo that lost a character; none at all is no echo.
            if (!echo.cameOnce && echo.matched == 0) {
                NoEchoOf(echo);
            }
            Release();
            return;
        }
        ++report_.missing;
        expected_.pop_front();
    }
}

void EchoCancellingLine::ArmDeadline() {
    if (deadlineTimer_ != 0 || expected_.empty()) {
        return;
    }
    deadlineTimer_ =
        scheduler_.CallAt(expected_.front().deadline, [this, alive = std::weak_ptr<bool>(alive_)] {
            if (const auto living = alive.lock(); living && *living) {
                Deadline();
            }
        });
}

void EchoCancellingLine::Deadline() {
    deadlineTimer_ = 0;
    Pump();
    const int before = received_.Count();
    ExpireEchoes();
    if (received_.Count() != before && received_.Count() >= inputThreshold_.load()) {
        input_.Notify();
    }
    ArmDeadline();
}

int EchoCancellingLine::Waiting() const {
    return mode_ == EchoMode::Off ? line_.InBufferCount() : received_.Count();
}

// Without echo, reads go straight to the line below: not a character is touched.
std::string EchoCancellingLine::Input() {
    if (mode_ == EchoMode::Off) {
        return line_.Input();
    }
    Pump();
    return received_.Take(inputLen_ == 0 ? received_.Count() : inputLen_);
}

std::string EchoCancellingLine::InputFirst(int count) {
    if (mode_ == EchoMode::Off) {
        return line_.InputFirst(count);
    }
    Pump();
    return received_.Take(count);
}

std::string EchoCancellingLine::Peek(int count) const {
    if (mode_ == EchoMode::Off) {
        return line_.Peek(count);
    }
    Pump();
    return received_.Peek(count);
}

int EchoCancellingLine::InBufferCount() {
    if (mode_ == EchoMode::Off) {
        return line_.InBufferCount();
    }
    Pump();
    return received_.Count();
}

std::optional<Instant> EchoCancellingLine::ArrivalOf(int index) const {
    if (mode_ == EchoMode::Off) {
        return line_.ArrivalOf(index);
    }
    Pump();
    return received_.ArrivalOf(index);
}

void EchoCancellingLine::Diagnose(LineDiagnostics& report) const {
    line_.Diagnose(report);
    if (mode_ != EchoMode::Off) {
        Pump();
    }
    report.echo = report_;
    report.echo->echoes = Echoing();
}

}  // namespace tarvel
