// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "protocol/Responder.h"

namespace tarvel {

// A Modbus RTU controller's view of its bus. A frame is whole when the length its function asks
// for has come and its CRC holds; a silence of more than 1.5 characters inside a frame drops
// what came before it, as a controller's receiver does. A controller answers the frames with its
// address (never a broadcast): holding and input registers read as `value` plus their address
// (registers 0 to 9999 exist; others are refused with exception 2), writes of one or more
// registers and coils and the diagnostics echo (sub-function 0) are
// acknowledged, and any other function is
// refused with exception 1.
class ModbusRtuResponder final : public Responder {
public:
    explicit ModbusRtuResponder(int lastAddress) : lastAddress_(lastAddress) {}

    std::optional<std::string> Take(std::uint8_t byte, Instant end,
                                    Duration characterTime) override;
    std::optional<Station> AnsweredBy(const std::string& frame) const override;
    std::string Answer(Station station, const std::string& frame, int value) const override;

    // Registers a simulated controller holds, from 0.
    static constexpr int RegisterCount = 10000;

private:
    int lastAddress_;
    std::string frame_;
    Instant lastEnd_{};
};

}  // namespace tarvel
