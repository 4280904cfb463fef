#include "serial/LineUse.h"

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
        std::exchange(owner_, nullptr)->released_.Notify();
    }
}

QCoro::Task<LineUse::Lease> LineUse::Acquire() {
    while (busy_) {
        co_await NextActivity(scheduler_, released_, std::nullopt);
    }
    busy_ = true;
    co_return Lease(this);
}

}  // namespace tarvel
