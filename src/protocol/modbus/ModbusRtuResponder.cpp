// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/modbus/ModbusRtuResponder.h"

#include <utility>

#include "protocol/modbus/ModbusFrame.h"

namespace tarvel {
namespace {

using namespace modbus;

std::uint8_t At(const std::string& frame, std::size_t index) {
    return static_cast<std::uint8_t>(frame[index]);
}
int WordAt(const std::string& frame, std::size_t index) {
    return At(frame, index) << 8 | At(frame, index + 1);
}
void AppendWord(std::string& frame, int word) {
    frame += static_cast<char>(word >> 8 & 0xFF);
    frame += static_cast<char>(word & 0xFF);
}

std::string Refusal(Station station, std::uint8_t function, int code) {
    std::string answer;
    answer += static_cast<char>(station);
    answer += static_cast<char>(function | ExceptionBit);
    answer += static_cast<char>(code);
    return WithCrc(std::move(answer));
}

}  // namespace

std::optional<std::string> ModbusRtuResponder::Take(std::uint8_t byte, Instant end,
                                                    Duration characterTime) {
    // The silence is measured from the end of one character to the start of the next.
    if (!frame_.empty() && end - characterTime - lastEnd_ > CharacterGap(characterTime)) {
        // Cut short, or of a function whose length is not known here: only the first is an error.
        if (!CrcHolds(frame_)) {
            Dropped();
        }
        frame_.clear();
    }
    lastEnd_ = end;
    frame_ += static_cast<char>(byte);
    const std::optional<LengthHint> length = FrameLength(frame_, Direction::Request);
    if (!length || static_cast<int>(frame_.size()) >= LongestFrame) {
        // A function without a known length is let run to its silence and never answered.
        if (static_cast<int>(frame_.size()) >= LongestFrame) {
            frame_.clear();
            Dropped();
        }
        return std::nullopt;
    }
    if (!length->whole || static_cast<int>(frame_.size()) < length->length) {
        return std::nullopt;
    }
    std::string frame = std::exchange(frame_, {});
    if (!CrcHolds(frame)) {
        Dropped();
        return std::nullopt;  // a controller drops a frame whose CRC fails, and says nothing
    }
    return frame;
}

std::optional<Station> ModbusRtuResponder::AnsweredBy(const std::string& frame) const {
    if (frame.empty()) {
        return std::nullopt;
    }
    const int address = At(frame, 0);
    if (address == BroadcastAddress || address > lastAddress_) {
        return std::nullopt;
    }
    return address;
}

std::string ModbusRtuResponder::Answer(Station station, const std::string& frame, int value) const {
    const std::uint8_t function = At(frame, 1);
    std::string answer;
    answer += static_cast<char>(station);
    answer += static_cast<char>(function);
    switch (function) {
        case ReadHoldingRegisters:
        case ReadInputRegisters: {
            const int start = WordAt(frame, 2);
            const int count = WordAt(frame, 4);
            if (count < 1 || count > MostRegisters) {
                return Refusal(station, function, 3);
            }
            if (start + count > RegisterCount) {
                return Refusal(station, function, 2);
            }
            answer += static_cast<char>(count * 2);
            for (int i = 0; i < count; ++i) {
                AppendWord(answer, (value + start + i) & 0xFFFF);
            }
            return WithCrc(std::move(answer));
        }
        case WriteSingleCoil:
        case WriteSingleRegister: return frame;  // the echo of the request
        case Diagnostics:
            // Only "return query data", which echoes the request.
            return WordAt(frame, 2) == 0 ? frame : Refusal(station, function, 1);
        case WriteMultipleCoils:
        case WriteMultipleRegisters:
            return WithCrc(frame.substr(0, 6));  // address, function, start and quantity
        default: return Refusal(station, function, 1);
    }
}

}  // namespace tarvel
