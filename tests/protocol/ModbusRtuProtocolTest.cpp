// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "core/HexText.h"
#include "protocol/Protocols.h"
#include "protocol/modbus/ModbusFrame.h"
#include "protocol/modbus/ModbusRtuProtocol.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;

// Bytes from hexadecimal pairs, for frames written out in the tests.
std::string Bytes(std::string_view hex) { return BytesOfHex(hex).value(); }

TEST(ModbusFrame, CrcOfTheCheckStringAndOfKnownFrames) {
    EXPECT_EQ(modbus::Crc16("123456789"), 0x4B37);
    EXPECT_EQ(modbus::WithCrc(Bytes("01 03 00 00 00 01")), Bytes("01 03 00 00 00 01 84 0A"));
    EXPECT_TRUE(modbus::CrcHolds(Bytes("01 03 02 00 64 B9 AF")));
    EXPECT_FALSE(modbus::CrcHolds(Bytes("01 03 02 00 65 B9 AF")));
    EXPECT_FALSE(modbus::CrcHolds(Bytes("01 03 02")));
    EXPECT_EQ(modbus::ReadHoldingRequest(17, 100, 2), Bytes("11 03 00 64 00 02 87 44"));
}

TEST(HexText, BothWays) {
    EXPECT_EQ(HexText(Bytes("01 0a FF")), "01 0A FF");
    EXPECT_EQ(BytesOfHex("0103 0000"), Bytes("01 03 00 00"));
    EXPECT_FALSE(BytesOfHex("01 0"));
    EXPECT_FALSE(BytesOfHex("0 103"));
    EXPECT_FALSE(BytesOfHex("01 0G"));
    EXPECT_FALSE(BytesOfHex(""));
}

TEST(ModbusFrame, SilencesInCharactersUpTo19200BaudAndFixedAbove) {
    const Duration at9600 = Duration(11s) / 9600;  // 8E1
    EXPECT_EQ(modbus::FrameGap(at9600), at9600 * 7 / 2);
    EXPECT_EQ(modbus::CharacterGap(at9600), at9600 * 3 / 2);
    const Duration at19200 = Duration(10s) / 19200;  // 8N1, the shortest character at 19200
    EXPECT_EQ(modbus::FrameGap(at19200), at19200 * 7 / 2);
    const Duration at38400 = Duration(11s) / 38400;
    EXPECT_EQ(modbus::FrameGap(at38400), 1750us);
    EXPECT_EQ(modbus::CharacterGap(at38400), 750us);
}

TEST(ModbusFrame, DescribesRegistersAndExceptions) {
    EXPECT_EQ(modbus::DescribeAnswer(Bytes("01 03 04 00 64 00 65 7B C7")),
              "function 3, registers 100 101");
    EXPECT_EQ(modbus::DescribeAnswer(Bytes("01 83 02 C0 F1")),
              "exception 2 (illegal data address) to function 3");
}

TEST(ModbusRtuProtocol, StationsAreNumbersUpToTheLastAddressOfEachVariant) {
    const ModbusRtuProtocol modbus(ModbusRtuProtocol::Modbus());
    const ModbusRtuProtocol jbus(ModbusRtuProtocol::Jbus());
    EXPECT_EQ(modbus.Stations().size(), 247u);
    EXPECT_EQ(modbus.Stations().front(), 1);
    EXPECT_EQ(jbus.Stations().back(), 255);
    EXPECT_EQ(modbus.StationText(17), "17");
    EXPECT_EQ(modbus.StationFrom("247"), 247);
    EXPECT_FALSE(modbus.StationFrom("248"));
    EXPECT_EQ(jbus.StationFrom("248"), 248);
    for (const char* text : {"0", "", "-1", "1a", " 1"}) {
        EXPECT_FALSE(modbus.StationFrom(text)) << text;
    }
    EXPECT_THROW(modbus.RequestFor(0, ExchangeKind::Test), std::out_of_range);
    EXPECT_EQ(modbus.DataBitsFor(true), 8);
    EXPECT_EQ(modbus.Name(), "MB RTU");
    EXPECT_EQ(ProtocolAt(2)->CommandName(), "jbus-rtu");
    EXPECT_EQ(ProtocolIndexNamed("modbus-rtu"), 1);
    EXPECT_FALSE(ProtocolIndexNamed("modbus"));
}

TEST(ModbusRtuProtocol, TheTestRequestReadsTheChosenRegistersAfterTheFrameGap) {
    const ModbusRtuProtocol modbus(ModbusRtuProtocol::Modbus(), {100, 2});
    EXPECT_EQ(modbus.RequestFor(17, ExchangeKind::Test), Bytes("11 03 00 64 00 02 87 44"));
    const Duration at9600 = Duration(11s) / 9600;
    EXPECT_EQ(modbus.Timings(ExchangeKind::Test, at9600).pause, at9600 * 7 / 2);
    EXPECT_EQ(modbus.Timings(ExchangeKind::Probe, at9600).window, 500ms);
    EXPECT_EQ(modbus.SettleFrame(), "");
    EXPECT_EQ(modbus.TerminalFrame(Bytes("01 03 00 00 00 01")), Bytes("01 03 00 00 00 01 84 0A"));
}

TEST(ModbusRtuProtocol, TheAnswerLengthFollowsItsFirstBytes) {
    const ModbusRtuProtocol modbus(ModbusRtuProtocol::Modbus(), {0, 2});
    Request request;
    request.frame = modbus.RequestFor(1, ExchangeKind::Test);
    EXPECT_EQ(modbus.AnswerLength(request, ""), 5);
    EXPECT_EQ(modbus.AnswerLength(request, Bytes("01 03")), 3);
    EXPECT_EQ(modbus.AnswerLength(request, Bytes("01 03 04")), 9);
    EXPECT_EQ(modbus.AnswerLength(request, Bytes("01 83")), 5);
    // An answer for another function is read as long as its own function makes it.
    EXPECT_EQ(modbus.AnswerLength(request, Bytes("01 06")), 8);
    // Before anything came: what a short wait must allow for.
    EXPECT_EQ(modbus.HealthyAnswerLength(request), 9);
}

TEST(ModbusRtuProtocol, JudgesEachWayAnAnswerCanGoWrong) {
    const ModbusRtuProtocol modbus(ModbusRtuProtocol::Modbus());
    Request request;
    request.station = 1;
    request.frame = modbus.RequestFor(1, ExchangeKind::Test);
    struct Case {
        const char* what;
        bool late;
        std::string arrived;
        ExchangeVerdict verdict;
        int take;
        std::optional<int> exception;
    };
    const Case cases[] = {
        {"good", false, Bytes("01 03 02 00 64 B9 AF"), ExchangeVerdict::Good, 7, std::nullopt},
        {"exception", false, Bytes("01 83 02 C0 F1"), ExchangeVerdict::Good, 5, 2},
        {"nothing", true, "", ExchangeVerdict::NoAnswer, 0, std::nullopt},
        {"one byte short", true, Bytes("01 03 02 00 64 B9"), ExchangeVerdict::Cut, 0, std::nullopt},
        // Five bytes whose last two are the CRC of the three before: a frame of its own.
        {"crc right by chance", true, Bytes("01 03 02 A1 31"), ExchangeVerdict::WrongLength, 0,
         std::nullopt},
        {"bad crc", false, Bytes("01 03 02 00 65 B9 AF"), ExchangeVerdict::BadCrc, 0, std::nullopt},
        {"another address", false, Bytes("02 03 02 00 64 FD AF"), ExchangeVerdict::WrongSource, 0,
         std::nullopt},
        {"another function", false, Bytes("01 04 02 00 64 B8 DB"), ExchangeVerdict::WrongSource, 0,
         std::nullopt},
        // A dead controller on a line with a glitch: no answer, not a garbled one.
        {"a stray byte", true, Bytes("FF"), ExchangeVerdict::NoAnswer, 0, std::nullopt},
        // Noise turned the count 0x02 into 0x82: the wait expected 135 bytes, 7 came.
        {"count hit by noise", true, Bytes("01 03 82 00 64 B9 AF"), ExchangeVerdict::BadCrc, 0,
         std::nullopt},
        {"two registers for one", false, Bytes("01 03 04 00 64 00 65 7B C7"),
         ExchangeVerdict::WrongLength, 0, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const AnswerCheck check =
            modbus.CheckAnswer(request, ExchangeKind::Test, c.late, c.arrived);
        EXPECT_EQ(check.verdict, c.verdict);
        EXPECT_EQ(check.take, c.take);
        EXPECT_EQ(check.exceptionCode, c.exception);
    }
}

// Stamps for `bytes` arriving back to back at `character` each, with `silence` before the byte
// at `after`.
std::vector<Instant> Stamps(std::size_t bytes, Duration character, std::size_t after,
                            Duration silence) {
    std::vector<Instant> stamps;
    Instant at{};
    for (std::size_t i = 0; i < bytes; ++i) {
        at += character + (i == after ? silence : Duration{0});
        stamps.push_back(at);
    }
    return stamps;
}

TEST(ModbusRtuProtocol, ASilenceInsideAnAnswerCutsItWhereTheHostCouldNotHaveMadeIt) {
    const ModbusRtuProtocol modbus(ModbusRtuProtocol::Modbus());
    Request request;
    request.station = 1;
    request.frame = modbus.RequestFor(1, ExchangeKind::Test);
    const std::string good = Bytes("01 03 02 00 64 B9 AF");
    struct Case {
        int baud;
        Duration silence;
        ExchangeVerdict verdict;
    };
    // 1.5 characters is under the host's 25 ms at every Modbus speed: the allowance decides.
    const Case cases[] = {
        {9600, 0ms, ExchangeVerdict::Good},   {9600, 24ms, ExchangeVerdict::Good},
        {9600, 26ms, ExchangeVerdict::Cut},   {9600, 50ms, ExchangeVerdict::Cut},
        {115200, 2ms, ExchangeVerdict::Good}, {115200, 30ms, ExchangeVerdict::Cut},
        {1200, 20ms, ExchangeVerdict::Good},  {1200, 30ms, ExchangeVerdict::Cut},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.baud) + " baud, " + std::to_string(c.silence / 1.0ms) +
                     " ms after the third byte");
        const Duration character = Duration(11s) / c.baud;  // 8E1
        const ArrivedAnswer answer{good, Stamps(good.size(), character, 3, c.silence), character};
        const AnswerCheck check = modbus.CheckAnswer(request, ExchangeKind::Test, false, answer);
        EXPECT_EQ(check.verdict, c.verdict);
        EXPECT_EQ(check.take, c.verdict == ExchangeVerdict::Good ? 7 : 0);
    }
    // With no host allowance, the line's own 1.5 characters (0.75 ms above 19200 baud) decide.
    const Duration fast = Duration(11s) / 115200;
    ArrivedAnswer tight{good, Stamps(good.size(), fast, 3, 1ms), fast, Duration{0}};
    EXPECT_EQ(modbus.CheckAnswer(request, ExchangeKind::Test, false, tight).verdict,
              ExchangeVerdict::Cut);
    tight.arrivals = Stamps(good.size(), fast, 3, 500us);
    EXPECT_EQ(modbus.CheckAnswer(request, ExchangeKind::Test, false, tight).verdict,
              ExchangeVerdict::Good);
    // A silence inside what came of an answer that never ended is a cut all the same.
    const std::string part = good.substr(0, 5);
    const Duration at9600 = Duration(11s) / 9600;
    EXPECT_EQ(modbus
                  .CheckAnswer(request, ExchangeKind::Test, true,
                               ArrivedAnswer{part, Stamps(part.size(), at9600, 2, 40ms), at9600})
                  .verdict,
              ExchangeVerdict::Cut);
    // Without stamps the bytes alone judge.
    EXPECT_EQ(modbus.CheckAnswer(request, ExchangeKind::Test, false, good).verdict,
              ExchangeVerdict::Good);
}

// The responder's frames, fed byte by byte at 9600 baud 8E1 with no gap between characters.
std::optional<std::string> Feed(Responder& responder, std::string_view bytes, Instant& at) {
    const Duration character = Duration(11s) / 9600;
    std::optional<std::string> frame;
    for (const char c : bytes) {
        at += character;
        frame = responder.Take(static_cast<std::uint8_t>(c), at, character);
    }
    return frame;
}

TEST(ModbusRtuProtocol, TheResponderAnswersReadsWritesAndRefusesTheRest) {
    const ModbusRtuProtocol modbus(ModbusRtuProtocol::Modbus());
    const auto responder = modbus.MakeResponder();
    Instant at{};
    const auto read = Feed(*responder, Bytes("11 03 00 64 00 02 87 44"), at);
    ASSERT_TRUE(read);
    EXPECT_EQ(responder->AnsweredBy(*read), 17);
    // Registers read as the value plus their address.
    EXPECT_EQ(responder->Answer(17, *read, 2), Bytes("11 03 04 00 66 00 67 4A 07"));
    // A broadcast is taken and answered by no one.
    const auto broadcast = Feed(*responder, Bytes("00 03 00 00 00 01 85 DB"), at);
    ASSERT_TRUE(broadcast);
    EXPECT_FALSE(responder->AnsweredBy(*broadcast));
    // A frame whose CRC fails is dropped.
    EXPECT_FALSE(Feed(*responder, Bytes("01 03 00 00 00 01 84 0B"), at));
    const auto write = Feed(*responder, modbus::WithCrc(Bytes("01 06 00 01 00 03")), at);
    ASSERT_TRUE(write);
    EXPECT_EQ(responder->Answer(1, *write, 0), *write);
    const auto unknown = Feed(*responder, modbus::WithCrc(Bytes("01 07")), at);
    ASSERT_TRUE(unknown);
    EXPECT_EQ(responder->Answer(1, *unknown, 0), modbus::WithCrc(Bytes("01 87 01")));
}

TEST(ModbusRtuProtocol, TheResponderDropsAFrameBrokenBySilence) {
    const ModbusRtuProtocol modbus(ModbusRtuProtocol::Modbus());
    const auto responder = modbus.MakeResponder();
    const Duration character = Duration(11s) / 9600;
    Instant at{};
    const std::string request = Bytes("01 03 00 00 00 01 84 0A");
    EXPECT_FALSE(Feed(*responder, request.substr(0, 4), at));
    // A silence of 1.5 characters is still inside the frame; longer begins a new one.
    at += character * 3 / 2;
    EXPECT_TRUE(Feed(*responder, request.substr(4), at));
    EXPECT_FALSE(Feed(*responder, request.substr(0, 4), at));
    at += character * 3 / 2 + 1us;
    EXPECT_FALSE(Feed(*responder, request.substr(4), at));
    // What was left of it is dropped at the silence before the next request.
    at += character * 7 / 2;
    EXPECT_TRUE(Feed(*responder, request, at));
}

}  // namespace
}  // namespace tarvel
