// SPDX-License-Identifier: GPL-3.0-or-later
// Modbus RTU frames split from the bytes of a line another master drives: by length and CRC,
// with silences as a hint, through bursts that hide every gap and noise that strikes frames.
// Every frame below is written out with its CRC, checked apart from this program.

#include "protocol/modbus/ModbusRtuDecoder.h"

#include <cctype>
#include <random>
#include <tuple>

#include <gtest/gtest.h>

namespace tarvel {
namespace {

using namespace std::chrono_literals;

constexpr Duration kCharacter = 1ms;  // a round character time keeps the arithmetic readable
const Instant kStart{};

// The bytes of "01 03 00 00": pairs of hexadecimal digits, blanks between them.
std::string Hex(std::string_view text) {
    std::string bytes;
    std::string pair;
    for (const char c : text) {
        if (c == ' ') {
            continue;
        }
        pair += c;
        if (pair.size() == 2) {
            bytes += static_cast<char>(std::stoi(pair, nullptr, 16));
            pair.clear();
        }
    }
    return bytes;
}

// Read one holding register of controller 1, and its answer, 42.
const std::string kRead1 = Hex("01 03 00 00 00 01 84 0A");
const std::string kAnswer1 = Hex("01 03 02 00 2A 39 9B");
// Read two holding registers of controller 2, and its answer, 1 and 2.
const std::string kRead2 = Hex("02 03 00 00 00 02 C4 38");
const std::string kAnswer2 = Hex("02 03 04 00 01 00 02 19 32");
// Read one input register at 0x10 of controller 3, and its answer, 0x1234.
const std::string kRead3 = Hex("03 04 00 10 00 01 31 ED");
const std::string kAnswer3 = Hex("03 04 02 12 34 CD 87");
// Write 3 into register 1 of controller 5; the answer is its echo.
const std::string kWrite5 = Hex("05 06 00 01 00 03 99 8F");
// Write 10 and 11 into registers 0 and 1 of controller 1, and its answer.
const std::string kWriteMany1 = Hex("01 10 00 00 00 02 04 00 0A 00 0B 92 6A");
const std::string kWriteMany1Answer = Hex("01 10 00 00 00 02 41 C8");

struct ModbusRtuDecoderTest : ::testing::Test {
    // No allowance for the host's delays: silences of exactly 1.5 characters cut frames.
    ModbusRtuDecoder decoder{DecoderSettings{kCharacter, 200ms, 10, 0ms}, "MB RTU", 247};
    Instant now = kStart;

    // Bytes back to back, after `silence` of the idle line since the last one fed.
    void Send(const std::string& bytes, Duration silence = 0ms) {
        now += silence;
        for (const char byte : bytes) {
            now += kCharacter;
            decoder.Feed(static_cast<std::uint8_t>(byte), now);
        }
    }
    std::vector<Exchange> Judged() { return decoder.TakeExchanges(); }
};

// --- A clean line --------------------------------------------------------------------------

TEST_F(ModbusRtuDecoderTest, APollCycleOfSeveralControllersGivesGoodExchanges) {
    EXPECT_EQ(decoder.ProtocolName(), "MB RTU");
    for (int cycle = 0; cycle < 2; ++cycle) {
        Send(kRead1, 30ms);
        const Instant read1End = now;
        Send(kAnswer1, 5ms);
        Send(kRead2, 30ms);
        Send(kAnswer2, 5ms);
        Send(kRead3, 30ms);
        Send(kAnswer3, 5ms);
        const auto judged = Judged();
        ASSERT_EQ(judged.size(), 3u);
        for (const Exchange& exchange : judged) {
            EXPECT_EQ(exchange.verdict, ExchangeVerdict::Good);
            EXPECT_FALSE(exchange.exceptionCode);
        }
        const Exchange& first = judged[0];
        EXPECT_EQ(first.request.station, 1);
        EXPECT_EQ(first.request.stationText, "1");
        EXPECT_EQ(first.request.position, 1);
        EXPECT_EQ(first.request.frame, kRead1);
        // As the statistics take it: the request's end is its start plus its bytes.
        EXPECT_EQ(first.request.written + 8 * kCharacter, read1End);
        EXPECT_EQ(first.answer, kAnswer1);
        EXPECT_EQ(first.arrived, kAnswer1);
        EXPECT_EQ(first.received, 7);
        EXPECT_EQ(*first.firstArrival - read1End, 6ms);
        EXPECT_EQ(*first.lastArrival - read1End, 12ms);
        EXPECT_EQ(first.judged, *first.lastArrival);
        EXPECT_EQ(judged[1].request.stationText, "2");
        EXPECT_EQ(judged[1].answer, kAnswer2);
        EXPECT_EQ(judged[2].request.stationText, "3");
        EXPECT_EQ(judged[2].answer, kAnswer3);
        EXPECT_FALSE(decoder.NextDeadline());
    }
    EXPECT_EQ(decoder.Frames(), 12);
    EXPECT_EQ(decoder.Requests(), 6);
    EXPECT_EQ(decoder.NoiseBytes(), 0);
    EXPECT_EQ(decoder.CrcErrors(), 0);
    EXPECT_EQ(decoder.ShortGaps(), 0);
    EXPECT_EQ(decoder.Broadcasts(), 0);
    EXPECT_EQ(decoder.Bytes(), 2 * (8 + 7 + 8 + 9 + 8 + 7));
    // Three requests and their answers, 30 + 5 ms of silence each, between two polls of 1.
    EXPECT_EQ(decoder.PollsOf(1).requests, 2);
    EXPECT_EQ(decoder.PollsOf(1).MeanGap(), 3 * 35ms + 8ms + 7ms + 9ms + 8ms + 8ms + 7ms);
}

TEST_F(ModbusRtuDecoderTest, WritesAndTheirAnswersAreGood) {
    Send(kWrite5);
    Send(kWrite5, 4ms);  // the echo
    Send(kWriteMany1, 30ms);
    Send(kWriteMany1Answer, 4ms);
    const auto judged = Judged();
    ASSERT_EQ(judged.size(), 2u);
    EXPECT_EQ(judged[0].verdict, ExchangeVerdict::Good);
    EXPECT_EQ(judged[0].request.frame, kWrite5);
    EXPECT_EQ(judged[0].answer, kWrite5);
    EXPECT_EQ(judged[1].verdict, ExchangeVerdict::Good);
    EXPECT_EQ(judged[1].request.frame, kWriteMany1);
    EXPECT_EQ(judged[1].answer, kWriteMany1Answer);
}

TEST_F(ModbusRtuDecoderTest, TheShortRequestsOfTheSerialLineAreHeardWithTheirAnswers) {
    const std::vector<std::pair<std::string, std::string>> polls = {
        {Hex("01 07 41 E2"), Hex("01 07 6D E3 DD")},            // read exception status
        {Hex("01 0B 41 E7"), Hex("01 0B 00 00 00 2A 25 D4")},   // comm event counter
        {Hex("01 11 C0 2C"), Hex("01 11 03 05 FF 00 AC 7C")}};  // report server id
    for (const auto& [request, answer] : polls) {
        Send(request, 30ms);
        Send(answer, 4ms);
    }
    const auto judged = Judged();
    ASSERT_EQ(judged.size(), polls.size());
    for (std::size_t i = 0; i < polls.size(); ++i) {
        EXPECT_EQ(judged[i].verdict, ExchangeVerdict::Good) << i;
        EXPECT_EQ(judged[i].request.frame, polls[i].first) << i;
        EXPECT_EQ(judged[i].answer, polls[i].second) << i;
    }
}

TEST_F(ModbusRtuDecoderTest, AnExceptionIsAGoodAnswerWithItsCode) {
    Send(kRead1);
    Send(Hex("01 83 02 C0 F1"), 5ms);  // illegal data address
    const auto judged = Judged();
    ASSERT_EQ(judged.size(), 1u);
    EXPECT_EQ(judged[0].verdict, ExchangeVerdict::Good);
    ASSERT_TRUE(judged[0].exceptionCode);
    EXPECT_EQ(*judged[0].exceptionCode, 2);
    EXPECT_EQ(judged[0].answer, Hex("01 83 02 C0 F1"));
}

TEST_F(ModbusRtuDecoderTest, ABroadcastAwaitsNoAnswer) {
    Send(Hex("00 10 00 00 00 01 02 00 05 6B C3"));
    EXPECT_EQ(decoder.Broadcasts(), 1);
    EXPECT_EQ(decoder.Requests(), 0);
    EXPECT_EQ(decoder.Frames(), 1);
    EXPECT_FALSE(decoder.NextDeadline());
    decoder.Advance(now + 1s);
    EXPECT_TRUE(Judged().empty());
    // The poll after it is heard as ever.
    Send(kRead1, 1s + 50ms);
    Send(kAnswer1, 5ms);
    const auto judged = Judged();
    ASSERT_EQ(judged.size(), 1u);
    EXPECT_EQ(judged[0].verdict, ExchangeVerdict::Good);
}

TEST_F(ModbusRtuDecoderTest, TheJBusDecoderTakesAddressesUpTo255) {
    ModbusRtuDecoder jbus{DecoderSettings{kCharacter, 200ms, 10, 0ms}, "JB RTU", 255};
    EXPECT_EQ(jbus.ProtocolName(), "JB RTU");
    // Read one holding register of controller 255, and its answer, 0x55.
    const std::string request = Hex("FF 03 00 00 00 01 91 D4");
    const std::string answer = Hex("FF 03 02 00 55 51 AF");
    Instant at = kStart;
    for (const std::string* frame : {&request, &answer}) {
        at += 5ms;
        for (const char byte : *frame) {
            at += kCharacter;
            jbus.Feed(static_cast<std::uint8_t>(byte), at);
        }
    }
    const auto judged = jbus.TakeExchanges();
    ASSERT_EQ(judged.size(), 1u);
    EXPECT_EQ(judged[0].verdict, ExchangeVerdict::Good);
    EXPECT_EQ(judged[0].request.stationText, "255");

    // Modbus stops at 247: the same bytes are noise there.
    for (const char byte : request) {
        at += kCharacter;
        decoder.Feed(static_cast<std::uint8_t>(byte), at);
    }
    decoder.Advance(at + 1s);
    EXPECT_EQ(decoder.Requests(), 0);
    EXPECT_EQ(decoder.NoiseBytes(), 8);
}

// --- Answers that fail ---------------------------------------------------------------------

TEST_F(ModbusRtuDecoderTest, NothingWithinTheWindowIsNoAnswerJudgedAtItsEnd) {
    Send(kRead1);
    const Instant end = now;
    ASSERT_EQ(*decoder.NextDeadline(), end + 200ms + 1ns);
    decoder.Advance(end + 200ms);
    EXPECT_TRUE(Judged().empty());
    decoder.Advance(end + 200ms + 1ns);
    const auto judged = Judged();
    ASSERT_EQ(judged.size(), 1u);
    EXPECT_EQ(judged[0].verdict, ExchangeVerdict::NoAnswer);
    EXPECT_EQ(judged[0].judged, end + 200ms);
    EXPECT_EQ(judged[0].received, 0);
    EXPECT_FALSE(judged[0].firstArrival);
    EXPECT_FALSE(decoder.NextDeadline());
}

TEST_F(ModbusRtuDecoderTest, AnAnswerBegunAtTheWindowsEndIsInTimeAndOneLaterIsNot) {
    Send(kRead1);
    Send(kAnswer1, 200ms - kCharacter);  // its first byte arrives at the window's very end
    auto judged = Judged();
    ASSERT_EQ(judged.size(), 1u);
    EXPECT_EQ(judged[0].verdict, ExchangeVerdict::Good);

    Send(kRead1, 50ms);
    const Instant end = now;
    Send(kAnswer1, 200ms - kCharacter + 1ns);
    judged = Judged();
    ASSERT_EQ(judged.size(), 1u);
    EXPECT_EQ(judged[0].verdict, ExchangeVerdict::NoAnswer);
    EXPECT_EQ(judged[0].judged, end + 200ms);
    // The late answer is a frame all the same, once the silence after it shows it whole.
    decoder.Advance(now + 1s);
    EXPECT_EQ(decoder.Frames(), 4);
    EXPECT_EQ(decoder.NoiseBytes(), 0);
}

TEST_F(ModbusRtuDecoderTest, TheMasterGoingOnMeansTheLastRequestHadNoAnswer) {
    Send(kRead1);
    Send(kRead2, 50ms);
    const Instant read2End = now;
    Send(kAnswer2, 5ms);
    const auto judged = Judged();
    ASSERT_EQ(judged.size(), 2u);
    EXPECT_EQ(judged[0].verdict, ExchangeVerdict::NoAnswer);
    EXPECT_EQ(judged[0].request.frame, kRead1);
    EXPECT_EQ(judged[0].judged, read2End);
    EXPECT_EQ(judged[1].verdict, ExchangeVerdict::Good);
    EXPECT_EQ(judged[1].request.frame, kRead2);
}

TEST_F(ModbusRtuDecoderTest, AWriteToAnotherControllerAfterASilentOneIsARequest) {
    // The echo of a write reads as an answer too; from another address it is the master's next
    // request, not a wrong answer.
    Send(kRead1);
    Send(kWrite5, 5ms);
    Send(kWrite5, 5ms);
    const auto judged = Judged();
    ASSERT_EQ(judged.size(), 2u);
    EXPECT_EQ(judged[0].verdict, ExchangeVerdict::NoAnswer);
    EXPECT_EQ(judged[1].verdict, ExchangeVerdict::Good);
    EXPECT_EQ(judged[1].request.frame, kWrite5);
}

TEST_F(ModbusRtuDecoderTest, TheSameRequestAgainWithinTheWindowIsANewRequestAtOnce) {
    // Read at 0x1000: as an answer its third byte would count sixteen bytes, so only the
    // request's own bytes tell that it is asked again.
    const std::string request = Hex("01 03 10 00 00 01 80 CA");
    Send(request);
    Send(request, 100ms);
    const Instant again = now;
    auto judged = Judged();
    ASSERT_EQ(judged.size(), 1u);
    EXPECT_EQ(judged[0].verdict, ExchangeVerdict::NoAnswer);
    EXPECT_EQ(judged[0].judged, again);
    Send(kAnswer1);  // with no silence at all
    judged = Judged();
    ASSERT_EQ(judged.size(), 1u);
    EXPECT_EQ(judged[0].verdict, ExchangeVerdict::Good);
    EXPECT_EQ(decoder.Requests(), 2);
    EXPECT_EQ(decoder.PollsOf(1).longestGap, 100ms + 8 * kCharacter);
}

TEST_F(ModbusRtuDecoderTest, AGlitchBeforeTheAnswerIsNoise) {
    Send(kRead1);
    Send(Hex("FF") + kAnswer1, 2ms);
    const auto judged = Judged();
    ASSERT_EQ(judged.size(), 1u);
    EXPECT_EQ(judged[0].verdict, ExchangeVerdict::Good);
    EXPECT_EQ(judged[0].answer, kAnswer1);
    EXPECT_EQ(decoder.NoiseBytes(), 1);
    EXPECT_EQ(decoder.ShortGaps(), 0);  // noise between frames: no gap between frames to tell
}

TEST_F(ModbusRtuDecoderTest, AZeroByteAfterAFrameDoesNotLengthenIt) {
    // A frame and a zero byte hold a CRC one byte longer: read as a request of eight bytes,
    // 01 03 02 00 2A 39 | 9B 00, the answer and the zero hold. With nothing awaited, the answer
    // is still the frame, and the zero noise.
    Send(kAnswer1 + Hex("00") + kRead2 + kAnswer2);
    const auto judged = Judged();
    ASSERT_EQ(judged.size(), 1u);
    EXPECT_EQ(judged[0].verdict, ExchangeVerdict::Good);
    EXPECT_EQ(judged[0].request.frame, kRead2);
    EXPECT_EQ(decoder.Frames(), 3);
    EXPECT_EQ(decoder.NoiseBytes(), 1);
}

TEST_F(ModbusRtuDecoderTest, AnAnswerOneByteShortIsCutAtTheSilence) {
    Send(kRead1);
    Send(kAnswer1.substr(0, 6), 5ms);
    const Instant stopped = now;
    // 1.5 characters of silence after the last byte's end, which a byte begun within them ends
    // one character later.
    ASSERT_EQ(*decoder.NextDeadline(), stopped + 2500us + 1ns);
    decoder.Advance(stopped + 2500us);
    EXPECT_TRUE(Judged().empty());
    decoder.Advance(stopped + 2500us + 1ns);
    const auto judged = Judged();
    ASSERT_EQ(judged.size(), 1u);
    EXPECT_EQ(judged[0].verdict, ExchangeVerdict::Cut);
    EXPECT_EQ(judged[0].arrived, kAnswer1.substr(0, 6));
    EXPECT_EQ(judged[0].received, 6);
    EXPECT_TRUE(judged[0].answer.empty());
    EXPECT_EQ(judged[0].judged, stopped + 2500us);
    EXPECT_EQ(*judged[0].lastArrival, stopped);
    EXPECT_EQ(decoder.NoiseBytes(), 0);
    EXPECT_FALSE(decoder.NextDeadline());
}

TEST_F(ModbusRtuDecoderTest, AnAnswerCutByTheNextRequestWithNoSilenceIsCut) {
    Send(kRead1);
    Send(kAnswer1.substr(0, 6), 5ms);
    Send(kRead2);
    Send(kAnswer2, 5ms);
    const auto judged = Judged();
    ASSERT_EQ(judged.size(), 2u);
    EXPECT_EQ(judged[0].verdict, ExchangeVerdict::Cut);
    EXPECT_EQ(judged[0].arrived, kAnswer1.substr(0, 6));
    EXPECT_EQ(judged[1].verdict, ExchangeVerdict::Good);
    EXPECT_EQ(judged[1].request.frame, kRead2);
}

TEST_F(ModbusRtuDecoderTest, AWholeAnswerWhoseCrcFailsIsBadCrc) {
    Send(kRead1);
    std::string struck = kAnswer1;
    struck[4] = 0x2B;
    Send(struck, 5ms);
    decoder.Advance(now + 1s);
    auto judged = Judged();
    ASSERT_EQ(judged.size(), 1u);
    EXPECT_EQ(judged[0].verdict, ExchangeVerdict::BadCrc);
    EXPECT_EQ(judged[0].arrived, struck);
    EXPECT_EQ(judged[0].judged, now);  // the frame was whole at its last byte
    EXPECT_EQ(decoder.CrcErrors(), 1);

    // With the next request in the same burst, and the address struck too.
    Send(kRead1, 30ms);
    struck[0] = 0x07;
    Send(struck, 5ms);
    Send(kRead2);
    Send(kAnswer2, 5ms);
    judged = Judged();
    ASSERT_EQ(judged.size(), 2u);
    EXPECT_EQ(judged[0].verdict, ExchangeVerdict::BadCrc);
    EXPECT_EQ(judged[0].arrived, struck);
    EXPECT_EQ(judged[1].verdict, ExchangeVerdict::Good);
    EXPECT_EQ(decoder.CrcErrors(), 2);
    EXPECT_EQ(decoder.NoiseBytes(), 0);
}

TEST_F(ModbusRtuDecoderTest, ARequestWhoseCrcFailsIsACrcErrorAndAwaitsNothing) {
    std::string struck = kRead1;
    struck[5] = 0x02;
    Send(struck);
    Send(kAnswer1, 5ms);
    decoder.Advance(now + 1s);
    EXPECT_TRUE(Judged().empty());
    EXPECT_EQ(decoder.Requests(), 0);
    EXPECT_EQ(decoder.CrcErrors(), 1);
    EXPECT_EQ(decoder.Frames(), 2);  // the struck request, and an answer to nothing heard
}

TEST_F(ModbusRtuDecoderTest, AnAnswerWhoseCountIsNotTheRequestsIsWrongLength) {
    // Two registers for the one asked.
    Send(kRead1);
    Send(Hex("01 03 04 00 01 00 02 2A 32"), 5ms);
    // A write's answer two bytes short, its CRC holding over the six.
    Send(kWrite5, 30ms);
    Send(Hex("05 06 00 01 21 29"), 5ms);
    decoder.Advance(now + 1s);
    const auto judged = Judged();
    ASSERT_EQ(judged.size(), 2u);
    EXPECT_EQ(judged[0].verdict, ExchangeVerdict::WrongLength);
    EXPECT_EQ(judged[0].arrived, Hex("01 03 04 00 01 00 02 2A 32"));
    EXPECT_EQ(judged[1].verdict, ExchangeVerdict::WrongLength);
    EXPECT_EQ(judged[1].arrived, Hex("05 06 00 01 21 29"));
    EXPECT_EQ(decoder.CrcErrors(), 0);
}

TEST_F(ModbusRtuDecoderTest, AnAnswerFromAnotherAddressOrForAnotherFunctionIsWrongSource) {
    Send(kRead1);
    Send(Hex("02 03 02 00 2A 7D 9B"), 5ms);  // controller 2 answers
    Send(kRead1, 30ms);
    Send(Hex("01 04 02 00 2A 38 EF"), 5ms);  // an answer to function 4
    Send(kRead1, 30ms);
    Send(Hex("01 84 02 C2 C1"), 5ms);  // an exception to function 4
    const auto judged = Judged();
    ASSERT_EQ(judged.size(), 3u);
    for (const Exchange& exchange : judged) {
        EXPECT_EQ(exchange.verdict, ExchangeVerdict::WrongSource);
        EXPECT_EQ(exchange.request.frame, kRead1);
        EXPECT_TRUE(exchange.answer.empty());
    }
    EXPECT_EQ(judged[0].arrived, Hex("02 03 02 00 2A 7D 9B"));
}

TEST_F(ModbusRtuDecoderTest, ACrcRightByChanceForAShorterFrameDoesNotEndTheAnswer) {
    // Two registers asked; the first five bytes of the answer hold a CRC of their own.
    Send(Hex("01 03 00 00 00 02 C4 0B"));
    const std::string answer = Hex("01 03 04 21 33 00 07 41 C2");
    ASSERT_EQ(answer.substr(3, 2), Hex("21 33"));
    Send(answer, 5ms);
    const auto judged = Judged();
    ASSERT_EQ(judged.size(), 1u);
    EXPECT_EQ(judged[0].verdict, ExchangeVerdict::Good);
    EXPECT_EQ(judged[0].answer, answer);
    EXPECT_EQ(decoder.NoiseBytes(), 0);
}

// --- Silences ------------------------------------------------------------------------------

TEST_F(ModbusRtuDecoderTest, ASilenceOfExactlyOneAndAHalfCharactersKeepsTheFrame) {
    Send(kRead1);
    Send(kAnswer1.substr(0, 3), 5ms);
    Send(kAnswer1.substr(3), 1500us);
    auto judged = Judged();
    ASSERT_EQ(judged.size(), 1u);
    EXPECT_EQ(judged[0].verdict, ExchangeVerdict::Good);

    // A nanosecond more ends it: the first part is the cut answer, the rest no frame.
    Send(kRead1, 30ms);
    Send(kAnswer1.substr(0, 3), 5ms);
    const Instant stopped = now;
    Send(kAnswer1.substr(3), 1500us + 1ns);
    judged = Judged();
    ASSERT_EQ(judged.size(), 1u);
    EXPECT_EQ(judged[0].verdict, ExchangeVerdict::Cut);
    EXPECT_EQ(judged[0].arrived, kAnswer1.substr(0, 3));
    EXPECT_EQ(judged[0].judged, stopped + 2500us);
    decoder.Advance(now + 1s);
    EXPECT_EQ(decoder.NoiseBytes(), 4);
}

TEST_F(ModbusRtuDecoderTest, FramesLessThanThreeAndAHalfCharactersApartAreShortGaps) {
    Send(kRead1);
    Send(kAnswer1, 3500us);
    EXPECT_EQ(decoder.ShortGaps(), 0);
    Send(kRead2, 3500us);
    EXPECT_EQ(decoder.ShortGaps(), 0);
    Send(kAnswer2, 3500us - 1ns);
    EXPECT_EQ(decoder.ShortGaps(), 1);
    Send(kRead3);  // back to back
    EXPECT_EQ(decoder.ShortGaps(), 2);
    Send(kAnswer3, 5ms);
    const auto judged = Judged();
    ASSERT_EQ(judged.size(), 3u);
    for (const Exchange& exchange : judged) {
        EXPECT_EQ(exchange.verdict, ExchangeVerdict::Good);
    }
}

TEST_F(ModbusRtuDecoderTest, StampsLateByTheHostsAllowanceProveNoShortGap) {
    ModbusRtuDecoder late{DecoderSettings{kCharacter, 200ms, 10, 25ms}, "MB RTU", 247};
    Instant at = kStart;
    for (const std::string* frame : {&kRead1, &kAnswer1}) {
        for (const char byte : *frame) {
            at += kCharacter;
            late.Feed(static_cast<std::uint8_t>(byte), at);
        }
    }
    EXPECT_EQ(late.ShortGaps(), 0);
    EXPECT_EQ(late.TakeExchanges().size(), 1u);
}

TEST(ModbusRtuDecoderGaps, ShortGapsAreMeasurableOnlyWhereTheAllowanceLeavesRoom) {
    // 1200 baud 8E1: 3.5 characters are 32 ms, 7 ms more than the host's allowance.
    const Duration slow = Duration(11s) / 1200;
    ModbusRtuDecoder decoder{DecoderSettings{slow, 500ms, 10, 25ms}, "MB RTU", 247};
    EXPECT_TRUE(decoder.ShortGapsMeasurable());
    Instant at = kStart;
    const auto send = [&](const std::string& frame, Duration silence) {
        at += silence;
        for (const char byte : frame) {
            at += slow;
            decoder.Feed(static_cast<std::uint8_t>(byte), at);
        }
    };
    send(kRead1, 0ms);
    send(kAnswer1, 5ms);  // surely short, however late the stamps
    EXPECT_EQ(decoder.ShortGaps(), 1);
    send(kRead2, 10ms);  // short on the wire, but the stamps may be 25 ms late
    EXPECT_EQ(decoder.ShortGaps(), 1);
    send(kAnswer2, 40ms);
    EXPECT_EQ(decoder.ShortGaps(), 1);
    EXPECT_EQ(decoder.OwnCounts().back().key, "shortGaps");
    EXPECT_EQ(decoder.OwnCounts().back().count, 1);
    EXPECT_EQ(decoder.OwnCounts().back().unmeasured, "");
    // At 9600 baud 3.5 characters (4 ms) are less than the allowance: nothing can be proved.
    const ModbusRtuDecoder fast{DecoderSettings{Duration(11s) / 9600, 500ms, 10, 25ms}, "MB RTU",
                                247};
    EXPECT_FALSE(fast.ShortGapsMeasurable());
    EXPECT_EQ(fast.OwnCounts().back().unmeasured, "not measurable at this speed through this port");
    // A port with no delay of its own measures them at any speed.
    EXPECT_TRUE(
        (ModbusRtuDecoder{DecoderSettings{Duration(11s) / 115200, 500ms, 10, 0ms}, "MB RTU", 247})
            .ShortGapsMeasurable());
}

// --- Bursts --------------------------------------------------------------------------------

// A line at 9600 baud, 8N1, read through an adapter that hands its bytes over every 16 ms: each
// byte is stamped at the first delivery after its last stop bit.
struct BurstLine {
    static constexpr Duration kByte = std::chrono::nanoseconds(1'041'667);
    static constexpr Duration kLatency = 16ms;
    ModbusRtuDecoder decoder{DecoderSettings{kByte, 200ms, 10, 25ms}, "MB RTU", 247};
    Instant wire = kStart;  // the end of the last byte on the wire

    static Instant Delivery(Instant end) {
        const auto ticks = (end.time_since_epoch() + kLatency - Duration{1}) / kLatency;
        return Instant{ticks * kLatency};
    }
    void Send(const std::string& bytes, Duration silence) {
        wire += silence;
        for (const char byte : bytes) {
            wire += kByte;
            decoder.Feed(static_cast<std::uint8_t>(byte), Delivery(wire));
        }
    }
    void Finish() { decoder.Advance(Delivery(wire) + 1s); }
};

TEST(ModbusRtuDecoderBursts, ARequestItsAnswerAndTheNextRequestInOneBurstSplit) {
    ModbusRtuDecoder decoder{DecoderSettings{BurstLine::kByte, 200ms, 10, 25ms}, "MB RTU", 247};
    const Instant burst = kStart + 16ms;
    for (const char byte : kRead1 + kAnswer1 + kRead2) {
        decoder.Feed(static_cast<std::uint8_t>(byte), burst);
    }
    auto judged = decoder.TakeExchanges();
    ASSERT_EQ(judged.size(), 1u);
    EXPECT_EQ(judged[0].verdict, ExchangeVerdict::Good);
    EXPECT_EQ(judged[0].request.frame, kRead1);
    EXPECT_EQ(judged[0].answer, kAnswer1);
    EXPECT_EQ(decoder.Requests(), 2);
    EXPECT_EQ(decoder.Frames(), 3);
    // Stamps from one burst prove no short gap.
    EXPECT_EQ(decoder.ShortGaps(), 0);
    for (const char byte : kAnswer2) {
        decoder.Feed(static_cast<std::uint8_t>(byte), burst + 16ms);
    }
    judged = decoder.TakeExchanges();
    ASSERT_EQ(judged.size(), 1u);
    EXPECT_EQ(judged[0].verdict, ExchangeVerdict::Good);
    EXPECT_EQ(judged[0].request.frame, kRead2);
    EXPECT_EQ(decoder.NoiseBytes(), 0);
    EXPECT_FALSE(decoder.NextDeadline());
}

TEST(ModbusRtuDecoderBursts, APollCycleWhoseGapsTheBurstsHideIsHeardWhole) {
    BurstLine line;
    const std::vector<std::pair<std::string, std::string>> polls = {
        {kRead1, kAnswer1},
        {kRead2, kAnswer2},
        {kRead3, kAnswer3},
        {kWrite5, kWrite5},
        {kWriteMany1, kWriteMany1Answer}};
    std::vector<Exchange> judged;
    for (int cycle = 0; cycle < 20; ++cycle) {
        for (const auto& [request, answer] : polls) {
            line.Send(request, 4ms);  // the master keeps 3.5 characters and a little more
            line.Send(answer, 3ms);
            for (Exchange& exchange : line.decoder.TakeExchanges()) {
                judged.push_back(std::move(exchange));
            }
        }
    }
    line.Finish();
    for (Exchange& exchange : line.decoder.TakeExchanges()) {
        judged.push_back(std::move(exchange));
    }
    ASSERT_EQ(judged.size(), 20 * polls.size());
    for (std::size_t i = 0; i < judged.size(); ++i) {
        const auto& [request, answer] = polls[i % polls.size()];
        EXPECT_EQ(judged[i].verdict, ExchangeVerdict::Good) << i;
        EXPECT_EQ(judged[i].request.frame, request) << i;
        EXPECT_EQ(judged[i].answer, answer) << i;
    }
    EXPECT_EQ(line.decoder.NoiseBytes(), 0);
    EXPECT_EQ(line.decoder.ShortGaps(), 0);
}

TEST(ModbusRtuDecoderBursts, AnAnswerOneByteShortInABurstWithTheNextRequestIsCut) {
    BurstLine line;
    line.Send(kRead1, 0ms);
    line.Send(kAnswer1.substr(0, 6), 3ms);
    line.Send(kRead2, 4ms);
    line.Send(kAnswer2, 3ms);
    line.Finish();
    const auto judged = line.decoder.TakeExchanges();
    ASSERT_EQ(judged.size(), 2u);
    EXPECT_EQ(judged[0].verdict, ExchangeVerdict::Cut);
    EXPECT_EQ(judged[0].arrived, kAnswer1.substr(0, 6));
    EXPECT_EQ(judged[1].verdict, ExchangeVerdict::Good);
    EXPECT_EQ(judged[1].request.frame, kRead2);
}

// --- Noise ---------------------------------------------------------------------------------

struct Poll {
    std::string request;
    std::string answer;
    bool requestStruck = false;  // noise changed a byte of it
    bool answerStruck = false;
    Instant requestEnd{};  // the stamps of their last bytes
    Instant answerEnd{};
};

// Noise strikes each byte with probability `odds`, giving it another value.
std::vector<Poll> NoisyPolls(std::mt19937& random, int count, double odds) {
    const std::vector<std::pair<std::string, std::string>> cycle = {
        {kRead1, kAnswer1}, {kRead2, kAnswer2}, {kRead3, kAnswer3}, {kWrite5, kWrite5}};
    std::bernoulli_distribution strikes(odds);
    std::uniform_int_distribution<int> by(1, 255);
    std::vector<Poll> polls;
    for (int i = 0; i < count; ++i) {
        const auto& [request, answer] = cycle[static_cast<std::size_t>(i) % cycle.size()];
        Poll poll{request, answer};
        for (auto [frame, struck] : {std::pair{&poll.request, &poll.requestStruck},
                                     std::pair{&poll.answer, &poll.answerStruck}}) {
            for (char& byte : *frame) {
                if (strikes(random)) {
                    byte = static_cast<char>(static_cast<std::uint8_t>(byte) ^ by(random));
                    *struck = true;
                }
            }
        }
        polls.push_back(std::move(poll));
    }
    return polls;
}

// Each exchange is told by its request's bytes and the stamp of its last byte. A poll noise left
// alone is heard once and Good. A good answer is one sent whole, to the request of its exchange
// or, when noise took a later request to the same controller, to that one. The one frame that is
// not a request and may be heard as one: the answer to a write, an echo of its request, when
// noise took the request before it.
void ExpectNoMisattribution(const std::vector<Poll>& polls, const std::vector<Exchange>& judged,
                            Duration character) {
    std::vector<int> heard(polls.size(), 0);
    int echoes = 0;
    const auto answeredBy = [&](std::size_t i, const Exchange& exchange) {
        for (std::size_t j = i; j < polls.size(); ++j) {
            if (polls[j].answerEnd == exchange.lastArrival && polls[j].answer == exchange.answer &&
                !polls[j].answerStruck && (j == i || polls[j].requestStruck)) {
                return true;
            }
        }
        return false;
    };
    for (const Exchange& exchange : judged) {
        const Instant end = exchange.request.written +
                            character * static_cast<std::int64_t>(exchange.request.frame.size());
        bool found = false;
        for (std::size_t i = 0; i < polls.size() && !found; ++i) {
            const Poll& poll = polls[i];
            if (poll.request == exchange.request.frame && poll.requestEnd == end) {
                found = true;
                ++heard[i];
                if (exchange.verdict == ExchangeVerdict::Good) {
                    EXPECT_TRUE(answeredBy(i, exchange)) << i;
                }
                if (!poll.requestStruck && !poll.answerStruck) {
                    EXPECT_EQ(exchange.verdict, ExchangeVerdict::Good) << i;
                    EXPECT_EQ(exchange.answer, poll.answer) << i;
                }
            } else if (poll.requestStruck && poll.answer == exchange.request.frame &&
                       poll.answerEnd == end) {
                found = true;
                ++echoes;
                EXPECT_EQ(poll.answer, kWrite5) << i;
            }
        }
        EXPECT_TRUE(found) << "an exchange of a request never sent: "
                           << testing::PrintToString(exchange.request.frame);
    }
    std::size_t clean = 0;
    for (std::size_t i = 0; i < polls.size(); ++i) {
        EXPECT_LE(heard[i], 1) << i;
        if (!polls[i].requestStruck && !polls[i].answerStruck) {
            EXPECT_EQ(heard[i], 1) << i;
            ++clean;
        }
    }
    // The noise is neither too light to test anything nor too heavy to leave good polls.
    EXPECT_GT(clean, polls.size() / 2);
    EXPECT_LT(clean, polls.size() * 9 / 10);
    EXPECT_GT(echoes, 0);
}

TEST(ModbusRtuDecoderNoise, NoiseOnAQuietlyPacedLineMisattributesNothing) {
    std::mt19937 random(20240611);
    std::vector<Poll> polls = NoisyPolls(random, 400, 0.02);
    ModbusRtuDecoder decoder{DecoderSettings{kCharacter, 200ms, 10, 0ms}, "MB RTU", 247};
    Instant at = kStart;
    for (Poll& poll : polls) {
        for (auto [frame, end, silence] :
             {std::tuple{&poll.request, &poll.requestEnd, Duration{20ms}},
              std::tuple{&poll.answer, &poll.answerEnd, Duration{5ms}}}) {
            at += silence;
            for (const char byte : *frame) {
                at += kCharacter;
                decoder.Feed(static_cast<std::uint8_t>(byte), at);
            }
            *end = at;
        }
    }
    decoder.Advance(at + 1s);
    ExpectNoMisattribution(polls, decoder.TakeExchanges(), kCharacter);
    EXPECT_GT(decoder.CrcErrors(), 0);
    EXPECT_FALSE(decoder.NextDeadline());
}

TEST(ModbusRtuDecoderNoise, NoiseOnALineHeardInBurstsMisattributesNothing) {
    std::mt19937 random(7);
    std::vector<Poll> polls = NoisyPolls(random, 400, 0.02);
    BurstLine line;
    for (Poll& poll : polls) {
        line.Send(poll.request, 30ms);
        poll.requestEnd = BurstLine::Delivery(line.wire);
        line.Send(poll.answer, 3ms);
        poll.answerEnd = BurstLine::Delivery(line.wire);
    }
    line.Finish();
    ExpectNoMisattribution(polls, line.decoder.TakeExchanges(), BurstLine::kByte);
    EXPECT_GT(line.decoder.CrcErrors(), 0);
}

TEST(ModbusRtuDecoderNoise, NoiseOnABusyLineHeardInBurstsMisattributesNothing) {
    // No silence anywhere: what noise leaves of a frame runs into the next ones.
    for (unsigned seed = 1; seed <= 20; ++seed) {
        std::mt19937 random(seed);
        std::vector<Poll> polls = NoisyPolls(random, 400, 0.02);
        BurstLine line;
        for (Poll& poll : polls) {
            line.Send(poll.request, 4ms);
            poll.requestEnd = BurstLine::Delivery(line.wire);
            line.Send(poll.answer, 3ms);
            poll.answerEnd = BurstLine::Delivery(line.wire);
        }
        line.Finish();
        SCOPED_TRACE(seed);
        ExpectNoMisattribution(polls, line.decoder.TakeExchanges(), BurstLine::kByte);
    }
}

TEST(ModbusRtuDecoderNoise, RandomBytesInAnyRhythmNeitherCrashNorHang) {
    std::mt19937 random(99);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> pause(0, 40);
    for (const Duration allowance : {Duration{0}, Duration{25ms}}) {
        ModbusRtuDecoder decoder{DecoderSettings{kCharacter, 200ms, 10, allowance}, "JB RTU", 255};
        Instant at = kStart;
        for (int i = 0; i < 50'000; ++i) {
            // Mostly back to back, sometimes a pause, now and then a good poll among the noise.
            const int wait = pause(random);
            at += wait > 35 ? std::chrono::milliseconds(wait) : kCharacter;
            if (wait == 0) {
                for (const char c : kRead1 + kAnswer1) {
                    decoder.Feed(static_cast<std::uint8_t>(c), at);
                }
            }
            decoder.Feed(static_cast<std::uint8_t>(byte(random)), at);
            decoder.TakeExchanges();
        }
        decoder.Advance(at + 1s);
        decoder.TakeExchanges();
        EXPECT_FALSE(decoder.NextDeadline());
        EXPECT_GT(decoder.NoiseBytes(), 0);
    }
}

}  // namespace
}  // namespace tarvel
