// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/LineUse.h"

#include <stdexcept>
#include <string>

#include "platform/Waits.h"

namespace tarvel {

LineUse::Lease& LineUse::Lease::operator=(Lease&& other) noexcept {
    if (this != &other) {
        Release();
        owner_ = std::exchange(other.owner_, nullptr);
    }
    return *this;
}

void LineUse::Lease::Release() {
    if (owner_ != nullptr) {
        owner_->busy_ = false;
        owner_->hold_ = LongHold::None;
        std::exchange(owner_, nullptr)->released_.Notify();
    }
}

void LineUse::Lease::MarkHeld(LongHold hold) {
    if (owner_ != nullptr) {
        owner_->hold_ = hold;
    }
}

LoopOnLine::LoopOnLine(LineUse::Lease& lease, bool& running, bool& started, const char* what)
    : lease_(lease), running_(running), started_(started) {
    if (!lease.Holds()) {
        throw std::logic_error(std::string(what) + " was started without holding the serial line");
    }
    if (running) {
        throw std::logic_error(std::string(what) + " was started while another one runs");
    }
    running_ = true;
    started_ = false;
}

LoopOnLine::~LoopOnLine() {
    lease_.Release();
    running_ = started_ = false;
}

QCoro::Task<LineUse::Lease> LineUse::Acquire() {
    while (busy_) {
        co_await NextActivity(scheduler_, released_, std::nullopt);
    }
    busy_ = true;
    co_return Lease(this);
}

}  // namespace tarvel
