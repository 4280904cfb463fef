// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Time.h"

namespace tarvel::modbus {

// The function codes the program asks with and recognises on a listened line.
enum Function : std::uint8_t {
    ReadCoils = 1,
    ReadDiscreteInputs = 2,
    ReadHoldingRegisters = 3,
    ReadInputRegisters = 4,
    WriteSingleCoil = 5,
    WriteSingleRegister = 6,
    ReadExceptionStatus = 7,
    Diagnostics = 8,
    GetCommEventCounter = 11,
    WriteMultipleCoils = 15,
    WriteMultipleRegisters = 16,
    ReportServerId = 17,
    ReadWriteMultipleRegisters = 23,
    EncapsulatedInterface = 43,
};

// An answer's function code with this bit set is an exception: the controller refuses.
inline constexpr std::uint8_t ExceptionBit = 0x80;
// The address every controller takes and none answers.
inline constexpr int BroadcastAddress = 0;
// Address, function, two CRC bytes: no frame is shorter.
inline constexpr int ShortestFrame = 4;
// Address, function | 0x80, code, CRC.
inline constexpr int ExceptionLength = 5;
// The most any serial frame holds.
inline constexpr int LongestFrame = 256;
// Registers one read may ask for.
inline constexpr int MostRegisters = 125;

// CRC-16 of the serial line: polynomial 0xA001 (reflected 0x8005), from 0xFFFF. On the wire its
// low byte goes first.
std::uint16_t Crc16(std::string_view bytes);
// `frame` with its CRC after it.
std::string WithCrc(std::string frame);
// The last two bytes of `frame` are the CRC of those before them.
bool CrcHolds(std::string_view frame);

// Which way a frame goes: a master's request or a controller's answer.
enum class Direction { Request, Answer };

// How long a frame is, as far as its first bytes (`head`, at least the address) tell: either its
// whole length, or how many bytes must have come before it can be told.
struct LengthHint {
    int length = ShortestFrame;
    bool whole = false;
};
// Nothing for a function whose frames this program does not know the length of.
std::optional<LengthHint> FrameLength(std::string_view head, Direction direction);

// The request that reads `count` holding registers from `start` (the address as it goes on the
// wire) of the controller at `address`, CRC included.
std::string ReadHoldingRequest(int address, int start, int count);

// "illegal data address" for code 2; "exception code N" for one the standard does not name.
std::string ExceptionName(int code);

// What a whole answer says, for the operator: "function 3, registers 10 11", "function 17,
// server ID 'TC100' running" or "exception 2 (illegal data address) to function 3".
std::string DescribeAnswer(std::string_view frame);

// The silences of the line at a character time of `characterTime`: 3.5 characters between
// frames and 1.5 inside one, fixed at 1.75 ms and 0.75 ms above 19200 baud (where a character
// takes less than ten bits' time at 19200 baud).
Duration FrameGap(Duration characterTime);
Duration CharacterGap(Duration characterTime);

// Whether the line fell silent for longer than `longest` between two of the characters from
// `from` to `to` (not included), stamped with their arrivals on a line whose characters take
// `characterTime`. A silence runs from the end of one character to the start of the next, which
// began one character time before its stamp.
bool SilentBetween(const std::vector<Instant>& arrivals, Duration characterTime, std::size_t from,
                   std::size_t to, Duration longest);

}  // namespace tarvel::modbus
