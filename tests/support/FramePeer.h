// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "sim/SimulatedSerialLine.h"

namespace tarvel::testing {

// A far end that hands every frame the host sends (up to its carriage return) to a script,
// which answers through the line as it likes.
class FramePeer final : public LinePeer {
public:
    using Script = std::function<void(const std::string& frame, Instant end)>;

    FramePeer(SimulatedSerialLine& line, Script script) : line_(line), script_(std::move(script)) {
        line_.AttachPeer(this);
    }
    ~FramePeer() override { line_.AttachPeer(nullptr); }

    void HostCharacter(std::uint8_t byte, Instant end, Duration) override {
        if (byte != '\r') {
            frame_.push_back(static_cast<char>(byte));
            return;
        }
        frames.push_back(frame_);
        ends.push_back(end);
        const std::string frame = std::exchange(frame_, {});
        if (!frame.empty() && script_) {
            script_(frame, end);
        }
    }

    std::vector<std::string> frames;  // every frame, lone carriage returns as empty ones
    std::vector<Instant> ends;        // when each frame's carriage return left the wire

private:
    SimulatedSerialLine& line_;
    Script script_;
    std::string frame_;
};

}  // namespace tarvel::testing
