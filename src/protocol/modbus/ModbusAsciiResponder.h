// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "protocol/Responder.h"
#include "protocol/modbus/ModbusRtuResponder.h"

namespace tarvel {

// A Modbus ASCII controller's view of its bus: a frame begins at every ':' (what came before it
// is dropped), ends at its CR LF, and is dropped when a silence of more than a second falls
// inside it, or when it is not sound (its LRC, its hexadecimal). It is then read and answered as
// its RTU twin (ModbusRtuResponder), whose answer goes out in ASCII again.
class ModbusAsciiResponder final : public Responder {
public:
    explicit ModbusAsciiResponder(int lastAddress) : rtu_(lastAddress) {}

    // The frame's RTU twin: its bytes with a CRC.
    std::optional<std::string> Take(std::uint8_t byte, Instant end,
                                    Duration characterTime) override;
    std::optional<Station> AnsweredBy(const std::string& frame) const override {
        return rtu_.AnsweredBy(frame);
    }
    std::string Answer(Station station, const std::string& frame, int value) const override {
        return rtu_.Answer(station, frame, value);
    }
    // An answer whose CRC a fault has broken goes out with a broken LRC.
    std::string Framed(const std::string& answer) const override;

private:
    ModbusRtuResponder rtu_;
    std::string frame_;
    Instant lastEnd_{};
};

}  // namespace tarvel
