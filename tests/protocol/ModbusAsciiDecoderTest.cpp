// SPDX-License-Identifier: GPL-3.0-or-later
// Modbus ASCII frames split from the characters of a line another master drives, and paired
// into exchanges. Every frame below is written out with its LRC, summed by hand.

#include "protocol/modbus/ModbusAsciiDecoder.h"

#include <gtest/gtest.h>

namespace tarvel {
namespace {

using namespace std::chrono_literals;

constexpr Duration kCharacter = 1ms;

// Read one holding register of controller 1, and its answer, 42.
const std::string kRead1 = ":010300000001FB\r\n";
const std::string kAnswer1 = ":010302002AD0\r\n";
// Read two holding registers of controller 2, and its answer, 1 and 2.
const std::string kRead2 = ":020300000002F9\r\n";
const std::string kAnswer2 = ":02030400010002F4\r\n";
// Write 3 into register 1 of controller 5, whose answer is its echo; and of every controller.
const std::string kWrite5 = ":050600010003F1\r\n";
const std::string kBroadcast = ":000600010003F6\r\n";

struct ModbusAsciiDecoderTest : ::testing::Test {
    ModbusAsciiDecoder decoder{DecoderSettings{kCharacter, 200ms, 10, 0ms}, "MB ASCII", 247};
    Instant now{};

    // Characters back to back, after `silence` of the idle line since the last one fed.
    void Send(const std::string& text, Duration silence = 0ms) {
        now += silence;
        for (const char c : text) {
            now += kCharacter;
            decoder.Feed(static_cast<std::uint8_t>(c), now);
        }
    }
    std::vector<Exchange> Judged() { return decoder.TakeExchanges(); }
};

TEST_F(ModbusAsciiDecoderTest, APollCycleGivesGoodExchangesTimedFromTheColon) {
    EXPECT_EQ(decoder.ProtocolName(), "MB ASCII");
    Send(kRead1, 30ms);
    const Instant read1End = now;
    Send(kAnswer1, 5ms);
    Send(kRead2, 30ms);
    Send(kAnswer2, 5ms);
    const auto judged = Judged();
    ASSERT_EQ(judged.size(), 2u);
    EXPECT_EQ(judged[0].verdict, ExchangeVerdict::Good);
    EXPECT_EQ(judged[0].request.stationText, "1");
    EXPECT_EQ(judged[0].request.frame, kRead1);
    EXPECT_EQ(judged[0].request.written + 17 * kCharacter, read1End);
    EXPECT_EQ(judged[0].answer, kAnswer1);
    EXPECT_EQ(*judged[0].firstArrival - read1End, 6ms);
    EXPECT_EQ(*judged[0].lastArrival - read1End, 20ms);
    EXPECT_EQ(judged[1].verdict, ExchangeVerdict::Good);
    EXPECT_EQ(judged[1].answer, kAnswer2);
    EXPECT_EQ(decoder.Frames(), 4);
    EXPECT_EQ(decoder.Requests(), 2);
    EXPECT_EQ(decoder.NoiseBytes(), 0);
    EXPECT_FALSE(decoder.NextDeadline());
}

TEST_F(ModbusAsciiDecoderTest, AWriteIsAnsweredByItsEchoAndABroadcastByNobody) {
    Send(kWrite5);
    Send(kWrite5, 4ms);
    Send(kBroadcast, 30ms);
    Send(kRead1, 30ms);
    Send(kAnswer1, 5ms);
    const auto judged = Judged();
    ASSERT_EQ(judged.size(), 2u);
    EXPECT_EQ(judged[0].verdict, ExchangeVerdict::Good);
    EXPECT_EQ(judged[0].answer, kWrite5);
    EXPECT_EQ(judged[1].verdict, ExchangeVerdict::Good);
    EXPECT_EQ(decoder.Broadcasts(), 1);
    EXPECT_EQ(decoder.Requests(), 2);
}

TEST_F(ModbusAsciiDecoderTest, ARequestWithoutAnswerIsJudgedWhenTheWindowEndsOrTheMasterGoesOn) {
    Send(kRead1);
    const Instant windowEnd = now + 200ms;
    ASSERT_EQ(decoder.NextDeadline(), windowEnd + Duration{1});
    decoder.Advance(windowEnd + Duration{1});
    auto judged = Judged();
    ASSERT_EQ(judged.size(), 1u);
    EXPECT_EQ(judged[0].verdict, ExchangeVerdict::NoAnswer);
    EXPECT_EQ(judged[0].judged, windowEnd);

    // The master asks again before the window ends: the first had no answer.
    Send(kRead1, 50ms);
    Send(kRead2, 50ms);
    Send(kAnswer2, 5ms);
    judged = Judged();
    ASSERT_EQ(judged.size(), 2u);
    EXPECT_EQ(judged[0].verdict, ExchangeVerdict::NoAnswer);
    EXPECT_EQ(judged[1].verdict, ExchangeVerdict::Good);
}

TEST_F(ModbusAsciiDecoderTest, AnAnswerThatIsNoSoundFrameIsJudgedByItsFault) {
    const std::pair<std::string, ExchangeVerdict> cases[] = {
        {":010302002AD1\r\n", ExchangeVerdict::BadLrc},
        {":01030200ZAD0\r\n", ExchangeVerdict::NotHex},
        {":010302002AD\r\n", ExchangeVerdict::OddLength},
        {":010302002AD0\rx", ExchangeVerdict::NoLf},
        {":020302002ACF\r\n", ExchangeVerdict::WrongSource},
        // Sound, but a byte too many (01 03 02 00 2A FF FF, LRC 0xD2), or address and function
        // alone (01 83, LRC 0x7C).
        {":010302002AFFFFD2\r\n", ExchangeVerdict::WrongLength},
        {":01837C\r\n", ExchangeVerdict::WrongLength},
    };
    for (const auto& [answer, verdict] : cases) {
        Send(kRead1, 30ms);
        Send(answer, 5ms);
        Send("\r\n");  // what a missing LF left: noise before the next frame
        const auto judged = Judged();
        ASSERT_EQ(judged.size(), 1u) << answer;
        EXPECT_EQ(judged[0].verdict, verdict) << answer;
        EXPECT_EQ(judged[0].arrived.substr(0, 12), answer.substr(0, 12));
    }
    EXPECT_EQ(decoder.LrcErrors(), 1);
    EXPECT_EQ(decoder.FramingErrors(), 3);
}

TEST_F(ModbusAsciiDecoderTest, WhatComesBeforeAColonIsNoiseEvenHalfAFrame) {
    Send(kRead1);
    Send("\x7f\x13:0103" + kAnswer1, 5ms);
    const auto judged = Judged();
    ASSERT_EQ(judged.size(), 1u);
    EXPECT_EQ(judged[0].verdict, ExchangeVerdict::Good);
    EXPECT_EQ(decoder.NoiseBytes(), 7);
    EXPECT_EQ(decoder.NoiseSinceRequest(), 7);
}

TEST_F(ModbusAsciiDecoderTest, ASecondOfSilenceInsideAFrameIsAllowedAndNoMore) {
    Send(kRead1);
    Send(kAnswer1.substr(0, 5), 5ms);
    Send(kAnswer1.substr(5), 1s);
    auto judged = Judged();
    ASSERT_EQ(judged.size(), 1u);
    EXPECT_EQ(judged[0].verdict, ExchangeVerdict::Good);

    Send(kRead1, 30ms);
    Send(kAnswer1.substr(0, 5), 5ms);
    Send(kAnswer1.substr(5), 1s + 1ms);
    judged = Judged();
    ASSERT_EQ(judged.size(), 1u);
    EXPECT_EQ(judged[0].verdict, ExchangeVerdict::Cut);
    EXPECT_EQ(judged[0].arrived, kAnswer1.substr(0, 5));
    // The rest of it, without its ':', is noise.
    EXPECT_EQ(decoder.NoiseBytes(), static_cast<std::int64_t>(kAnswer1.size() - 5));
}

}  // namespace
}  // namespace tarvel
