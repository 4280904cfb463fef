// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/modbus/ModbusFrame.h"

#include <algorithm>
#include <cctype>

#include "protocol/modbus/ModbusIdentity.h"

namespace tarvel::modbus {
namespace {

std::uint8_t Byte(std::string_view bytes, std::size_t at) {
    return static_cast<std::uint8_t>(bytes[at]);
}

int Word(std::string_view bytes, std::size_t at) {
    return Byte(bytes, at) << 8 | Byte(bytes, at + 1);
}

// A frame that ends with a byte count: `before` bytes up to and including the count, at index
// before - 1, then the counted bytes and the CRC.
LengthHint Counted(std::string_view head, int before) {
    if (static_cast<int>(head.size()) < before) {
        return {before, false};
    }
    return {before + Byte(head, static_cast<std::size_t>(before - 1)) + 2, true};
}

// A read device identification answer has eight bytes up to its number of objects, then each
// object's id, length and value: its length is known once the last object's header is in.
LengthHint DeviceIdLength(std::string_view head) {
    constexpr std::size_t kObjectsAt = 8;
    if (head.size() < kObjectsAt) {
        return {static_cast<int>(kObjectsAt), false};
    }
    std::size_t at = kObjectsAt;
    for (int left = Byte(head, kObjectsAt - 1); left > 0; --left) {
        if (head.size() < at + 2) {
            return {static_cast<int>(at + 2), false};
        }
        at += 2 + Byte(head, at + 1);
    }
    return {static_cast<int>(at + 2), true};
}

}  // namespace

bool SilentBetween(const std::vector<Instant>& arrivals, Duration characterTime, std::size_t from,
                   std::size_t to, Duration longest) {
    for (std::size_t i = from + 1; i < std::min(to, arrivals.size()); ++i) {
        if (arrivals[i] - characterTime - arrivals[i - 1] > longest) {
            return true;
        }
    }
    return false;
}

std::uint16_t Crc16(std::string_view bytes) {
    std::uint16_t crc = 0xFFFF;
    for (const char c : bytes) {
        crc ^= static_cast<std::uint8_t>(c);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) != 0 ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001)
                                 : static_cast<std::uint16_t>(crc >> 1);
        }
    }
    return crc;
}

std::string WithCrc(std::string frame) {
    const std::uint16_t crc = Crc16(frame);
    frame += static_cast<char>(crc & 0xFF);
    frame += static_cast<char>(crc >> 8);
    return frame;
}

bool CrcHolds(std::string_view frame) {
    if (frame.size() < static_cast<std::size_t>(ShortestFrame)) {
        return false;
    }
    const std::uint16_t crc = Crc16(frame.substr(0, frame.size() - 2));
    return Byte(frame, frame.size() - 2) == (crc & 0xFF) &&
           Byte(frame, frame.size() - 1) == crc >> 8;
}

std::optional<LengthHint> FrameLength(std::string_view head, Direction direction) {
    if (head.size() < 2) {
        return LengthHint{2, false};
    }
    const std::uint8_t function = Byte(head, 1);
    if ((function & ExceptionBit) != 0) {
        // Only answers are exceptions; a request with the bit set is no function at all.
        if (direction == Direction::Request) {
            return std::nullopt;
        }
        return LengthHint{ExceptionLength, true};
    }
    const bool request = direction == Direction::Request;
    switch (function) {
        case ReadCoils:
        case ReadDiscreteInputs:
        case ReadHoldingRegisters:
        case ReadInputRegisters: return request ? LengthHint{8, true} : Counted(head, 3);
        case WriteSingleCoil:
        case WriteSingleRegister:
        case Diagnostics: return LengthHint{8, true};
        case ReadExceptionStatus: return LengthHint{request ? 4 : 5, true};
        case GetCommEventCounter: return LengthHint{request ? 4 : 8, true};
        case WriteMultipleCoils:
        case WriteMultipleRegisters: return request ? Counted(head, 7) : LengthHint{8, true};
        case ReportServerId: return request ? LengthHint{4, true} : Counted(head, 3);
        case ReadWriteMultipleRegisters: return request ? Counted(head, 11) : Counted(head, 3);
        case EncapsulatedInterface:
            // Of the interfaces only read device identification is known.
            if (head.size() < 3) {
                return LengthHint{3, false};
            }
            if (Byte(head, 2) != ReadDeviceIdMei) {
                return std::nullopt;
            }
            return request ? LengthHint{7, true} : DeviceIdLength(head);
        default: return std::nullopt;
    }
}

std::string ReadHoldingRequest(int address, int start, int count) {
    std::string frame;
    frame += static_cast<char>(address);
    frame += static_cast<char>(ReadHoldingRegisters);
    frame += static_cast<char>(start >> 8 & 0xFF);
    frame += static_cast<char>(start & 0xFF);
    frame += static_cast<char>(count >> 8 & 0xFF);
    frame += static_cast<char>(count & 0xFF);
    return WithCrc(std::move(frame));
}

std::string ExceptionName(int code) {
    switch (code) {
        case 1: return "illegal function";
        case 2: return "illegal data address";
        case 3: return "illegal data value";
        case 4: return "server device failure";
        case 5: return "acknowledge";
        case 6: return "server device busy";
        case 7: return "negative acknowledge";
        case 8: return "memory parity error";
        case 10: return "gateway path unavailable";
        case 11: return "gateway target device failed to respond";
        default: return "exception code " + std::to_string(code);
    }
}

std::string DescribeAnswer(std::string_view frame) {
    if (frame.size() < static_cast<std::size_t>(ShortestFrame)) {
        return "no whole frame";
    }
    const int function = Byte(frame, 1);
    if ((function & ExceptionBit) != 0 &&
        frame.size() >= static_cast<std::size_t>(ExceptionLength)) {
        const int code = Byte(frame, 2);
        return "exception " + std::to_string(code) + " (" + ExceptionName(code) + ") to function " +
               std::to_string(function & ~ExceptionBit);
    }
    std::string text = "function " + std::to_string(function);
    if ((function == ReadHoldingRegisters || function == ReadInputRegisters ||
         function == ReadWriteMultipleRegisters) &&
        frame.size() >= 5) {
        const std::size_t count = Byte(frame, 2);
        if (count + 5 == frame.size() && count % 2 == 0) {
            text += ", registers";
            for (std::size_t at = 3; at + 1 < 3 + count; at += 2) {
                text += ' ' + std::to_string(Word(frame, at));
            }
        }
    }
    // The readers want the request the answer is to; the one that asks for it from the start
    // serves, as they look only at its address, function and MEI type.
    const std::string_view answer = frame.substr(0, frame.size() - 2);
    const int address = Byte(frame, 0);
    if (function == ReportServerId) {
        const auto read = ReadServerIdAnswer(ServerIdRequest(address), answer);
        if (read && read->serverId) {
            const std::string said = IdentityText(read->serverId, std::nullopt);
            text += said.empty() ? ", no server ID" : ", " + said;
        }
    }
    if (function == EncapsulatedInterface) {
        const auto read = ReadDeviceIdAnswer(DeviceIdRequest(address), answer);
        if (read) {
            DeviceIdentity identity;
            AddObjects(identity, read->objects);
            const std::string said = IdentityText(std::nullopt, identity);
            const std::size_t objects = read->objects.size();
            text += ", " + std::to_string(objects) +
                    (objects == 1 ? " identity object" : " identity objects");
            if (!said.empty()) {
                text += " (" + said + ")";
            }
            if (read->moreFollows) {
                text += ", more from object " + std::to_string(read->nextObjectId);
            }
        }
    }
    return text;
}

namespace {
// Ten bits' time at 19200 baud: no character of a faster line takes as long.
constexpr Duration kAbove19200 = std::chrono::nanoseconds(520'833);
}  // namespace

Duration FrameGap(Duration characterTime) {
    if (characterTime < kAbove19200) {
        return std::chrono::microseconds(1750);
    }
    return characterTime * 7 / 2;
}

Duration CharacterGap(Duration characterTime) {
    if (characterTime < kAbove19200) {
        return std::chrono::microseconds(750);
    }
    return characterTime * 3 / 2;
}

}  // namespace tarvel::modbus
