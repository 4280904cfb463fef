// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "core/Time.h"

namespace tarvel {

// Received characters waiting to be read, each with the time it reached the host.
class StampedInput {
public:
    void Append(std::string_view bytes, Instant arrival) {
        characters_.append(bytes);
        arrivals_.insert(arrivals_.end(), bytes.size(), arrival);
    }
    // The first `count` characters (fewer when fewer are waiting), taken away.
    std::string Take(int count) {
        const std::size_t taken =
            std::min(characters_.size(), static_cast<std::size_t>(std::max(count, 0)));
        std::string head = characters_.substr(0, taken);
        characters_.erase(0, taken);
        arrivals_.erase(arrivals_.begin(), arrivals_.begin() + static_cast<std::ptrdiff_t>(taken));
        return head;
    }
    std::string Peek(int count) const {
        return characters_.substr(
            0, std::min(characters_.size(), static_cast<std::size_t>(std::max(count, 0))));
    }
    std::optional<Instant> ArrivalOf(int index) const {
        if (index < 0 || static_cast<std::size_t>(index) >= arrivals_.size()) {
            return std::nullopt;
        }
        return arrivals_[static_cast<std::size_t>(index)];
    }
    int Count() const { return static_cast<int>(characters_.size()); }
    void Clear() {
        characters_.clear();
        arrivals_.clear();
    }

private:
    std::string characters_;
    std::deque<Instant> arrivals_;  // one for each character
};

}  // namespace tarvel
