// SPDX-License-Identifier: GPL-3.0-or-later
#include "lines/QtSerialLine.h"

#include <functional>
#include <limits>
#include <utility>

#include "lines/NetworkAddress.h"
#include "platform/Waits.h"

namespace tarvel {

QtSerialLine::QtSerialLine(const PortMap& ports, const Clock& clock)
    : ports_(ports),
      link_(clock, input_, output_, inputThreshold_),
      local_(std::make_unique<LocalPort>(link_)),
      network_(std::make_unique<NetworkPort>(link_)) {
    link_.SetInputCapacity(InputCapacity(settings_));
}

QtSerialLine::~QtSerialLine() {
    // The connection's threads go first, then the port's; what they posted goes with the link.
    network_.reset();
    local_.reset();
}

std::string QtSerialLine::LastError() const { return link_.LastError(); }

bool QtSerialLine::SetCommPort(std::int16_t number) {
    if (link_.open) {
        return link_.Fail("the port must be closed before its number changes");
    }
    if (!ports_.DeviceFor(number)) {
        return link_.Fail(ports_.NotAttached(number));
    }
    number_ = number;
    return true;
}

bool QtSerialLine::TakeSettings(std::string_view settingsText) {
    const auto settings = ParseSettingsText(settingsText);
    if (!settings) {
        return link_.Fail("the settings \"" + std::string(settingsText) + "\" are not valid");
    }
    settings_ = *settings;
    link_.SetInputCapacity(InputCapacity(settings_));
    return true;
}

bool QtSerialLine::SetSettings(std::string_view settingsText) {
    if (!TakeSettings(settingsText)) {
        return false;
    }
    if (!link_.open) {
        return true;
    }
    const std::string refused = current_->Apply(settings_);
    return refused.empty() || link_.Fail(refused);
}

QCoro::Task<bool> QtSerialLine::SetSettingsAsync(Scheduler& scheduler, std::string settingsText) {
    if (!link_.open || !current_->HoldsCaller()) {
        co_return SetSettings(settingsText);
    }
    if (!TakeSettings(settingsText)) {
        co_return false;
    }
    // Applied on another thread: the window goes on while the far end answers, or does not.
    // The transport stays the line's meanwhile; a close cuts the request under way short.
    std::function<std::string()> apply = [transport = current_, settings = settings_] {
        return transport->Apply(settings);
    };
    Aside<std::string> applying(scheduler, std::move(apply));
    const std::string refused = co_await applying;
    co_return refused.empty() || link_.Fail(refused);
}

bool QtSerialLine::SetInputLen(std::int16_t length) {
    if (length < 0) {
        return link_.Fail("the input length cannot be negative");
    }
    inputLen_ = length;
    return true;
}

Transport& QtSerialLine::For(const std::string& device) const {
    return IsNetworkDevice(device) ? static_cast<Transport&>(*network_)
                                   : static_cast<Transport&>(*local_);
}

Transport& QtSerialLine::Take(const std::string& device) {
    Transport& next = For(device);
    link_.ClearReceived();
    if (current_ != nullptr && current_ != &next) {
        current_->Close();
    }
    current_ = &next;
    return next;
}

bool QtSerialLine::SetPortOpen(bool open) {
    if (open == link_.open) {
        return true;
    }
    if (!open) {
        link_.open = false;
        current_->Close();
        link_.ClearReceived();
        return true;
    }
    const std::optional<std::string> device = ports_.DeviceFor(number_);
    if (!device) {
        return link_.Fail(ports_.NotAttached(number_));
    }
    // A connection that is not there yet holds this thread; OpenAsync does not.
    return FinishOpen(Take(*device).Open(*device, settings_));
}

bool QtSerialLine::FinishOpen(std::string failure) {
    if (!failure.empty()) {
        current_->Close();
        return link_.Fail(std::move(failure));
    }
    if (!current_->Opened()) {
        return false;
    }
    link_.ClearError();
    return true;
}

QCoro::Task<bool> QtSerialLine::OpenAsync(Scheduler& scheduler) {
    const std::optional<std::string> device = ports_.DeviceFor(number_);
    if (link_.open || !device || !For(*device).HoldsCaller()) {
        co_return SetPortOpen(true);
    }
    // Opened on another thread: the window goes on meanwhile. Until it is done the line reads
    // as closed, so nothing else touches the transport.
    Transport* transport = &Take(*device);
    const LineSettings settings = settings_;
    // Named, not a temporary of the co_await: g++ 12 destroys such temporaries twice.
    std::function<std::string()> open = [transport, where = *device, settings] {
        return transport->Open(where, settings);
    };
    Aside<std::string> opening(scheduler, std::move(open));
    std::string failure = co_await opening;
    co_return FinishOpen(std::move(failure));
}

void QtSerialLine::PurgeReceived() {
    if (link_.open) {
        current_->PurgeReceived();
    }
}

void QtSerialLine::LowerRequestToSend() {
    if (link_.open) {
        current_->LowerRequestToSend();
    }
}

void QtSerialLine::Diagnose(LineDiagnostics& report) const {
    report.droppedInput += link_.DroppedInput();
    if (link_.open) {
        current_->Diagnose(report);
    }
}

void QtSerialLine::Output(std::string_view text) {
    if (!link_.open || text.empty()) {
        return;
    }
    current_->Write(text);
}

std::string QtSerialLine::Input() {
    return InputFirst(inputLen_ > 0 ? inputLen_ : std::numeric_limits<int>::max());
}

std::string QtSerialLine::InputFirst(int count) { return link_.Take(count); }

std::string QtSerialLine::Peek(int count) const { return link_.Peek(count); }

int QtSerialLine::InBufferCount() { return link_.Count(); }

std::optional<Instant> QtSerialLine::ArrivalOf(int index) const { return link_.ArrivalOf(index); }

int QtSerialLine::OutBufferCount() {
    if (!link_.open) {
        return 0;
    }
    // Wanted before anything is counted, so that a move after the count is not missed.
    link_.outputWanted = true;
    const int unsent = current_->Unsent();
    if (unsent == 0) {
        link_.outputWanted = false;
    }
    return unsent;
}

}  // namespace tarvel
