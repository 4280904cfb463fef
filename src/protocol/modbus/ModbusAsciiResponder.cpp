// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/modbus/ModbusAsciiResponder.h"

#include <utility>

#include "protocol/modbus/ModbusAsciiFrame.h"
#include "protocol/modbus/ModbusAsciiProtocol.h"
#include "protocol/modbus/ModbusFrame.h"

namespace tarvel {

using namespace modbus;

std::optional<std::string> ModbusAsciiResponder::Take(std::uint8_t byte, Instant end,
                                                      Duration characterTime) {
    const bool silenceBefore = end - characterTime - lastEnd_ > AsciiCharacterGap;
    lastEnd_ = end;
    if (byte == ':') {
        if (!frame_.empty()) {
            Dropped();
        }
        frame_.assign(1, ':');
        return std::nullopt;
    }
    if (frame_.empty()) {
        return std::nullopt;  // nothing between frames is read
    }
    if (silenceBefore || frame_.size() > LongestAsciiBody + 2) {
        frame_.clear();
        Dropped();
        return std::nullopt;
    }
    frame_ += static_cast<char>(byte);
    if (byte != '\n') {
        return std::nullopt;
    }
    std::string twin = RtuTwinOf(std::exchange(frame_, {}));
    if (twin.empty()) {
        Dropped();
        return std::nullopt;  // not sound: dropped without a word, as RTU drops a bad CRC
    }
    return twin;
}

std::string ModbusAsciiResponder::Framed(const std::string& answer) const {
    if (answer.empty()) {
        return {};  // a controller that keeps silent
    }
    std::string framed = AsciiTwinOf(answer);
    if (answer.size() >= 2 && !CrcHolds(answer) && framed.size() >= 5) {
        // The LRC's two characters stand before CR LF: the last of them made wrong.
        char& lrcDigit = framed[framed.size() - 3];
        lrcDigit = lrcDigit == '0' ? '1' : '0';
    }
    return framed;
}

}  // namespace tarvel
