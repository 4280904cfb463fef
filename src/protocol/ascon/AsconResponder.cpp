// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/ascon/AsconResponder.h"

#include <utility>

#include "core/DeviceTable.h"
#include "protocol/ascon/AsconFrame.h"

namespace tarvel {

std::optional<std::string> AsconResponder::Take(std::uint8_t byte, Instant /*end*/,
                                                Duration /*characterTime*/) {
    if (byte != AsconFrameEnd) {
        // A line that never sees a carriage return must not make a frame grow without end.
        if (frame_.size() < 256) {
            frame_.push_back(static_cast<char>(byte));
        }
        return std::nullopt;
    }
    std::string frame = std::exchange(frame_, {});
    if (frame.empty()) {
        return std::nullopt;
    }
    return frame;
}

std::optional<Station> AsconResponder::AnsweredBy(const std::string& frame) const {
    if (frame.empty()) {
        return std::nullopt;
    }
    // A write's command frame, the mnemonic without a value, waits for its value frame, and the
    // controller answers that one; a write of both in one frame is answered at once.
    if (frame.size() > 1 && frame[1] == '!' && frame.size() <= 5) {
        return std::nullopt;
    }
    const int index = AddressIndexOf(frame[0]);
    if (index < 0 || index >= kAddressCount) {
        return std::nullopt;
    }
    return index;
}

std::string AsconResponder::Answer(Station station, const std::string& frame, int value) const {
    std::string answer(1, AddressCharacter(station));
    answer += frame.size() > 1 && frame[1] == '?' ? std::to_string(value) : std::string("ACK");
    answer += AsconFrameEnd;
    return answer;
}

}  // namespace tarvel
