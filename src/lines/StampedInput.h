// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "core/Time.h"

namespace tarvel {

// Received characters waiting to be read, each with the time it reached the host.
//
// What is kept is bounded: a port that delivers far more than its wire can carry (a device that
// is no bus adapter, a network service of another kind) would otherwise fill the host's memory
// faster than anyone reads it. Characters beyond the capacity are dropped as they come, and
// counted; those kept keep their exact stamps. Stamps are kept by the run of characters that
// came together, and reading takes from the front without moving what stays, so that a reader
// that falls behind a flood catches up rather than slows down further.
class StampedInput {
public:
    // Characters kept at most; those beyond are dropped.
    void SetCapacity(std::size_t characters) { capacity_ = std::max<std::size_t>(characters, 1); }
    std::size_t Capacity() const { return capacity_; }
    // Characters dropped since this began, as the capacity was full.
    std::uint64_t Dropped() const { return dropped_; }

    void Append(std::string_view bytes, Instant arrival) {
        const std::size_t room = capacity_ - std::min(capacity_, Waiting());
        const std::size_t kept = std::min(room, bytes.size());
        dropped_ += bytes.size() - kept;
        if (kept == 0) {
            return;
        }
        characters_.append(bytes.substr(0, kept));
        if (!runs_.empty() && runs_.back().arrival == arrival) {
            runs_.back().count += kept;
        } else {
            runs_.push_back({arrival, kept});
        }
    }
    // The first `count` characters (fewer when fewer are waiting), taken away.
    std::string Take(int count) {
        const std::size_t taken = Bounded(count);
        std::string head = characters_.substr(head_, taken);
        head_ += taken;
        lookup_ = {};
        for (std::size_t left = taken; left > 0;) {
            Run& first = runs_.front();
            const std::size_t used = std::min(left, first.count);
            first.count -= used;
            left -= used;
            if (first.count == 0) {
                runs_.pop_front();
            }
        }
        // What was read is let go once it outweighs what is still waiting.
        if (head_ == characters_.size()) {
            characters_.clear();
            head_ = 0;
        } else if (head_ > 4096 && head_ > characters_.size() / 2) {
            characters_.erase(0, head_);
            head_ = 0;
        }
        return head;
    }
    std::string Peek(int count) const { return characters_.substr(head_, Bounded(count)); }
    std::optional<Instant> ArrivalOf(int index) const {
        if (index < 0 || static_cast<std::size_t>(index) >= Waiting()) {
            return std::nullopt;
        }
        const auto wanted = static_cast<std::size_t>(index);
        // Readers ask character after character: the walk goes on from where the last ended.
        if (wanted < lookup_.first) {
            lookup_ = {};
        }
        while (wanted >= lookup_.first + runs_[lookup_.run].count) {
            lookup_.first += runs_[lookup_.run].count;
            ++lookup_.run;
        }
        return runs_[lookup_.run].arrival;
    }
    int Count() const { return static_cast<int>(Waiting()); }
    void Clear() {
        characters_.clear();
        head_ = 0;
        runs_.clear();
        lookup_ = {};
    }

private:
    struct Run {
        Instant arrival;
        std::size_t count;
    };
    std::size_t Waiting() const { return characters_.size() - head_; }
    std::size_t Bounded(int count) const {
        return std::min(Waiting(), static_cast<std::size_t>(std::max(count, 0)));
    }

    std::string characters_;  // those before head_ were read already
    std::size_t head_ = 0;
    std::deque<Run> runs_;  // the stamps of the waiting characters, in their order
    // Where the last ArrivalOf ended: the run it found, and the index of that run's first
    // character.
    struct Lookup {
        std::size_t first = 0;
        std::size_t run = 0;
    };
    mutable Lookup lookup_;
    // Unbounded unless told: the lines of this host set it from their speed.
    std::size_t capacity_ = std::numeric_limits<int>::max();
    std::uint64_t dropped_ = 0;
};

}  // namespace tarvel
