// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/Station.h"
#include "core/Time.h"

namespace tarvel {

// What a simulated controller makes of the characters on its bus: where frames end, whom they
// address and what a healthy controller answers. Faults and noise are the simulated bus's.
class Responder {
public:
    virtual ~Responder() = default;

    // A character the host put on the bus, whose last stop bit left the wire at `end` on a line
    // where a character takes `characterTime`; the whole frame once its last character came, as
    // the bytes the controller reads from it (for a framing that writes the same bytes in
    // another way, as its twin writes them: Modbus ASCII's are its RTU twin's).
    virtual std::optional<std::string> Take(std::uint8_t byte, Instant end,
                                            Duration characterTime) = 0;
    // An answer in those bytes, as it goes on the wire.
    virtual std::string Framed(const std::string& answer) const { return answer; }
    // The station a whole frame is for, when a controller there answers it now: nothing for a
    // frame that addresses nobody, or that waits for a frame still to come.
    virtual std::optional<Station> AnsweredBy(const std::string& frame) const = 0;
    // The healthy answer of `station` to `frame`, with `value` as its current reading.
    virtual std::string Answer(Station station, const std::string& frame, int value) const = 0;

    // The frames heard whose check failed, or that a silence or a new frame cut short: what a
    // controller counts as communication errors.
    int DroppedFrames() const { return dropped_; }

protected:
    void Dropped() { ++dropped_; }

private:
    int dropped_ = 0;
};

}  // namespace tarvel
