// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target for what a line keeps of its input: the input is a list of operations on a
// StampedInput, each also done on a plain model that keeps one stamp per character and takes
// from the front by erasing. The characters kept, their stamps, the count and the drop count
// must agree exactly after every operation.
//
// Each operation is one byte, its low three bits the kind, followed by its arguments:
//   0 capacity   two bytes, little-endian, of which 14 bits count (0 asks for the least the
//                input allows)
//   1 receive    a length byte (below 128: that many bytes follow; from 128: (length - 128) * 64
//                bytes made up, so that the buffer's compaction beyond 4 KiB is reached) and a
//                pause byte (0: the same stamp as the last chunk)
//   2 take       a signed byte, times the operation's high bits + 1
//   3 peek       the same
//   4 arrival    a signed byte, an index asked for alone
//   5 walk       every waiting character's stamp asked for in order, as a reader does
//   6 clear
//   7 backwards  the stamps asked for from the last to the first
//
// So that an input takes a fraction of a millisecond under the sanitizers, it receives at most
// 5 KiB (enough to read past 4 KiB with less waiting) and its walks stop once they have looked at 5
// Ki characters; the end's check is always made.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <limits>
#include <numeric>
#include <string>
#include <vector>

#include "lines/StampedInput.h"

namespace {

using tarvel::Instant;
using tarvel::StampedInput;

constexpr std::size_t kMostReceived = 5 * 1024;
constexpr std::size_t kMostWalked = 5 * 1024;

// Obviously right, and slow: a stamp per character, and taking moves all that stays.
struct Model {
    std::string characters;
    std::vector<Instant> arrivals;
    std::size_t capacity = static_cast<std::size_t>(std::numeric_limits<int>::max());
    std::uint64_t dropped = 0;

    std::size_t Count() const { return characters.size(); }
    void Receive(const std::string& bytes, Instant arrival) {
        for (const char c : bytes) {
            if (characters.size() < capacity) {
                characters += c;
                arrivals.push_back(arrival);
            } else {
                ++dropped;
            }
        }
    }
    std::string Front(int count) const {
        return count <= 0 ? std::string() : characters.substr(0, std::size_t(count));
    }
    void Take(std::size_t count) {
        characters.erase(0, count);
        arrivals.erase(arrivals.begin(), arrivals.begin() + std::ptrdiff_t(count));
    }
    void Clear() {
        characters.clear();
        arrivals.clear();
    }
};

void Require(bool holds) {
    if (!holds) {
        __builtin_trap();
    }
}

void Agree(const StampedInput& input, const Model& model) {
    Require(input.Count() == static_cast<int>(model.Count()));
    Require(input.Dropped() == model.dropped);
    Require(input.Capacity() == model.capacity);
}

void AgreeOnArrival(const StampedInput& input, const Model& model, int index) {
    const auto arrival = input.ArrivalOf(index);
    if (index < 0 || static_cast<std::size_t>(index) >= model.Count()) {
        Require(!arrival.has_value());
    } else {
        Require(arrival.has_value() && *arrival == model.arrivals[std::size_t(index)]);
    }
}

void AgreeWhole(const StampedInput& input, const Model& model) {
    const int count = static_cast<int>(model.Count());
    Require(input.Peek(count + 1) == model.characters);
    for (int i = -1; i <= count; ++i) {
        AgreeOnArrival(input, model, i);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace std::chrono_literals;
    StampedInput input;
    Model model;
    Instant now{};
    std::size_t at = 0;
    const auto next = [&]() -> std::uint8_t { return at < size ? data[at++] : 0; };
    char made = 0;  // the made-up bytes differ from chunk to chunk
    std::size_t received = 0;
    std::size_t walked = 0;
    while (at < size) {
        const std::uint8_t operation = next();
        switch (operation & 7) {
            case 0: {
                const std::size_t capacity = (next() | std::size_t(next()) << 8) & 0x3fff;
                input.SetCapacity(capacity);
                model.capacity = std::max<std::size_t>(capacity, 1);
                break;
            }
            case 1: {
                const std::uint8_t length = next();
                std::string bytes;
                if (length < 128) {
                    bytes.assign(reinterpret_cast<const char*>(data) + at,
                                 std::min<std::size_t>(length, size - at));
                    at += bytes.size();
                } else {
                    bytes.resize(std::size_t(length - 128) * 64);
                    std::iota(bytes.begin(), bytes.end(), ++made);
                }
                bytes.resize(std::min(bytes.size(), kMostReceived - received));
                received += bytes.size();
                now += next() * 1ms;
                input.Append(bytes, now);
                model.Receive(bytes, now);
                break;
            }
            case 2:
            case 3: {
                const int count = static_cast<std::int8_t>(next()) * ((operation >> 3) + 1);
                const std::string expected = model.Front(count);
                if ((operation & 7) == 2) {
                    Require(input.Take(count) == expected);
                    model.Take(expected.size());
                } else {
                    Require(input.Peek(count) == expected);
                }
                break;
            }
            case 4: AgreeOnArrival(input, model, static_cast<std::int8_t>(next())); break;
            case 5:
                if (walked < kMostWalked) {
                    walked += model.Count();
                    AgreeWhole(input, model);
                }
                break;
            case 6:
                input.Clear();
                model.Clear();
                break;
            case 7:
                if (walked < kMostWalked) {
                    walked += model.Count();
                    for (int i = static_cast<int>(model.Count()); i >= 0; --i) {
                        AgreeOnArrival(input, model, i);
                    }
                }
                break;
        }
        Agree(input, model);
    }
    AgreeWhole(input, model);
    return 0;
}
