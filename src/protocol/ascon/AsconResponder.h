// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "protocol/Responder.h"

namespace tarvel {

// An Ascon controller's view of its bus. Frames run up to a carriage return; a controller
// answers a frame that begins with its address with five characters: its address, three
// characters of value and a carriage return. A write is two frames, the command ("A!SP ") and
// the value ("A0123"), and only the value frame is answered; newer controllers also take both
// in one frame ("A!SP 0123").
class AsconResponder final : public Responder {
public:
    std::optional<std::string> Take(std::uint8_t byte, Instant end,
                                    Duration characterTime) override;
    std::optional<Station> AnsweredBy(const std::string& frame) const override;
    std::string Answer(Station station, const std::string& frame, int value) const override;

private:
    std::string frame_;
};

}  // namespace tarvel
