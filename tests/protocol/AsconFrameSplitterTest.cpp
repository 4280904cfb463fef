// SPDX-License-Identifier: GPL-3.0-or-later
// Requests and answers split from the characters of a line another master drives, at every
// boundary: windows, silences, back-to-back requests, noise around frames.

#include "protocol/ascon/AsconFrameSplitter.h"

#include "core/DeviceTable.h"

#include <gtest/gtest.h>

namespace tarvel {
namespace {

using namespace std::chrono_literals;

constexpr Duration kCharacter = 1ms;  // a round character time keeps the arithmetic readable
const Instant kStart{};

struct FrameSplitterTest : ::testing::Test {
    // No allowance for the host's delays: silences of exactly ten characters.
    AsconFrameSplitter splitter{DecoderSettings{kCharacter, 200ms, 10, 0ms}};
    Instant now = kStart;

    // Characters back to back, the first one ending `after` the last one fed.
    void Send(const std::string& bytes, Duration after = kCharacter) {
        now += after;
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            if (i > 0) {
                now += kCharacter;
            }
            splitter.Feed(static_cast<std::uint8_t>(bytes[i]), now);
        }
    }
    std::vector<Exchange> Judged() { return splitter.TakeExchanges(); }
};

TEST_F(FrameSplitterTest, AReadAndItsAnswerMakeAGoodExchangeTimedFromTheCarriageReturn) {
    Send("A?X  \r");
    const Instant requestEnd = now;
    Send("A215\r", 7ms);
    const auto judged = Judged();
    ASSERT_EQ(judged.size(), 1u);
    const Exchange& exchange = judged[0];
    EXPECT_EQ(exchange.verdict, ExchangeVerdict::Good);
    EXPECT_EQ(exchange.request.stationText, "A");
    EXPECT_EQ(exchange.request.frame, "A?X  \r");
    // As the statistics take it: the request's end is its start plus its characters.
    EXPECT_EQ(exchange.request.written + 6 * kCharacter, requestEnd);
    EXPECT_EQ(*exchange.firstArrival - requestEnd, 7ms);
    EXPECT_EQ(*exchange.lastArrival - requestEnd, 11ms);
    EXPECT_EQ(exchange.answer, "A215\r");
    EXPECT_EQ(splitter.Frames(), 2);
    EXPECT_EQ(splitter.NoiseBytes(), 0);
    EXPECT_EQ(splitter.Busy(), 11 * kCharacter);
    EXPECT_FALSE(splitter.NextDeadline());
}

TEST_F(FrameSplitterTest, AnAnswerThatBeginsExactlyAtTheEndOfTheWindowIsInTime) {
    Send("B?X  \r");
    const Instant requestEnd = now;
    splitter.Advance(requestEnd + 200ms);
    EXPECT_TRUE(Judged().empty());
    Send("B215\r", 200ms);  // its first character arrives at the window's very end
    auto judged = Judged();
    ASSERT_EQ(judged.size(), 1u);
    EXPECT_EQ(judged[0].verdict, ExchangeVerdict::Good);

    // One nanosecond later it is too late: the request had no answer, and the late characters
    // belong to no request.
    Send("C?X  \r");
    const Instant cEnd = now;
    ASSERT_EQ(*splitter.NextDeadline(), cEnd + 200ms + 1ns);
    splitter.Advance(cEnd + 200ms + 1ns);
    judged = Judged();
    ASSERT_EQ(judged.size(), 1u);
    EXPECT_EQ(judged[0].verdict, ExchangeVerdict::NoAnswer);
    EXPECT_EQ(judged[0].judged, cEnd + 200ms);
    Send("C215\r", 1ms);
    EXPECT_TRUE(Judged().empty());
    EXPECT_EQ(splitter.NoiseBytes(), 5);
}

TEST_F(FrameSplitterTest, TwoRequestsBackToBackMeanTheFirstHadNoAnswer) {
    Send("C?X  \r");
    Send("D?X  \r", 30ms);
    Send("D215\r", 5ms);
    const auto judged = Judged();
    ASSERT_EQ(judged.size(), 2u);
    EXPECT_EQ(judged[0].request.stationText, "C");
    EXPECT_EQ(judged[0].verdict, ExchangeVerdict::NoAnswer);
    EXPECT_EQ(judged[1].request.stationText, "D");
    EXPECT_EQ(judged[1].verdict, ExchangeVerdict::Good);
    EXPECT_EQ(splitter.Requests(), 2);
}

TEST_F(FrameSplitterTest, AnswersAreJudgedAsTheCycleJudgesThem) {
    // The read request wants exactly five characters; other requests any answer with a CR.
    Send("A?X  \r");
    Send("A2150\r", 5ms);
    Send("A*1\r", 30ms);
    Send("A1234567\r", 5ms);
    // An answer whose characters stop: garbled once the silence passes ten characters.
    Send("B?X  \r", 30ms);
    Send("B21", 5ms);
    const Instant stopped = now;
    EXPECT_EQ(*splitter.NextDeadline(), stopped + 10ms + 1ns);
    splitter.Advance(stopped + 10ms);
    EXPECT_EQ(Judged().size(), 2u);
    splitter.Advance(stopped + 10ms + 1ns);
    const auto garbled = Judged();
    ASSERT_EQ(garbled.size(), 1u);
    EXPECT_EQ(garbled[0].verdict, ExchangeVerdict::NoCr);
    EXPECT_EQ(garbled[0].arrived, "B21");
    EXPECT_EQ(garbled[0].received, 3);

    // A silence cut in the middle, then the rest: the first part is the garbled answer, the
    // rest no frame at all.
    Send("E?X  \r", 30ms);
    Send("E2", 5ms);
    Send("15\r", 12ms);
    const auto cut = Judged();
    ASSERT_EQ(cut.size(), 1u);
    EXPECT_EQ(cut[0].verdict, ExchangeVerdict::NoCr);
    EXPECT_EQ(cut[0].arrived, "E2");
    EXPECT_EQ(splitter.NoiseBytes(), 3);
}

TEST_F(FrameSplitterTest, AWriteWaitsForItsValueFrameAndTheAnswerAfterIt) {
    Send("A!X  \r");
    Send("1234\r", 50ms);
    const Instant valueEnd = now;
    Send("A123\r", 120ms);  // 170 ms after the command frame, 120 ms after the value frame
    auto judged = Judged();
    ASSERT_EQ(judged.size(), 1u);
    EXPECT_EQ(judged[0].verdict, ExchangeVerdict::Good);
    EXPECT_EQ(judged[0].request.frame, "A!X  \r1234\r");
    EXPECT_EQ(judged[0].request.written + 11 * kCharacter, valueEnd);

    // A write whose value frame never comes: no answer, once its window has passed.
    Send("B!X  \r", 30ms);
    splitter.Advance(now + 201ms);
    judged = Judged();
    ASSERT_EQ(judged.size(), 1u);
    EXPECT_EQ(judged[0].verdict, ExchangeVerdict::NoAnswer);
}

TEST_F(FrameSplitterTest, NoiseIsCountedAndARequestAfterItStillHeard) {
    Send("\x85\x13");  // noise before a request, no silence between them
    Send("A?X  \r");
    Send("A215\r", 5ms);
    auto judged = Judged();
    ASSERT_EQ(judged.size(), 1u);
    EXPECT_EQ(judged[0].verdict, ExchangeVerdict::Good);
    EXPECT_EQ(judged[0].request.frame, "A?X  \r");
    EXPECT_EQ(splitter.NoiseBytes(), 2);

    // A carriage return inside noise, with nothing waiting for an answer: noise, no frame of
    // a request; a request cut by noise (its carriage return lost) is noise too.
    Send("x\ry", 30ms);
    Send("B?X", 30ms);
    splitter.Advance(now + 20ms);
    EXPECT_TRUE(Judged().empty());
    EXPECT_EQ(splitter.NoiseBytes(), 2 + 3 + 3);
    EXPECT_EQ(splitter.Requests(), 1);
}

TEST_F(FrameSplitterTest, AnAnswerThatNoiseMadeLookLikeARequestIsStillTheAnswer) {
    // "D215" with its "2" turned into "*": within D's window, from D, it is D's answer.
    Send("D?X  \r");
    Send("D*15\r", 13ms);
    Send("E?X  \r", 20ms);
    Send("E215\r", 5ms);
    const auto judged = Judged();
    ASSERT_EQ(judged.size(), 2u);
    EXPECT_EQ(judged[0].request.stationText, "D");
    EXPECT_EQ(judged[0].verdict, ExchangeVerdict::Good);  // five characters, as the cycle counts
    EXPECT_EQ(judged[1].request.stationText, "E");
    EXPECT_EQ(judged[1].verdict, ExchangeVerdict::Good);
    EXPECT_EQ(splitter.Requests(), 2);

    // Another address, or the same one after the window, is a request.
    Send("A?X  \r", 20ms);
    Send("B?X  \r", 10ms);
    Send("B?X  \r", 210ms);
    EXPECT_EQ(splitter.Requests(), 5);
}

TEST(AsconFrameSplitter, TheHostsOwnDelaysAreNoSilenceOfTheLine) {
    // At 9600 baud ten characters last 10.4 ms; an adapter that hands over an answer in two
    // bursts 16 ms apart does not make it garbled.
    AsconFrameSplitter splitter{DecoderSettings{1042us, 200ms, 10}};
    Instant now{};
    const auto send = [&](const std::string& bytes, Duration after) {
        now += after;
        for (const char c : bytes) {
            splitter.Feed(static_cast<std::uint8_t>(c), now);
        }
    };
    send("A?X  \r", 1ms);
    send("A2", 6ms);
    send("15\r", 16ms);
    auto judged = splitter.TakeExchanges();
    ASSERT_EQ(judged.size(), 1u);
    EXPECT_EQ(judged[0].verdict, ExchangeVerdict::Good);
    // A longer stop is one of the line.
    send("B?X  \r", 20ms);
    send("B2", 6ms);
    send("15\r", 26ms);
    judged = splitter.TakeExchanges();
    ASSERT_EQ(judged.size(), 1u);
    EXPECT_EQ(judged[0].verdict, ExchangeVerdict::NoCr);
}

TEST_F(FrameSplitterTest, AMasterThatAsksAgainWithinTheWindowMakesANewRequest) {
    // A master with a shorter timeout than the window repeats its request to silent C.
    Send("C?X  \r");
    Send("C?X  \r", 150ms);
    Send("D?X  \r", 150ms);
    Send("D215\r", 5ms);
    auto judged = Judged();
    ASSERT_EQ(judged.size(), 3u);
    EXPECT_EQ(judged[0].request.stationText, "C");
    EXPECT_EQ(judged[0].verdict, ExchangeVerdict::NoAnswer);
    EXPECT_EQ(judged[1].request.stationText, "C");
    EXPECT_EQ(judged[1].verdict, ExchangeVerdict::NoAnswer);
    EXPECT_EQ(judged[2].verdict, ExchangeVerdict::Good);
    EXPECT_EQ(splitter.PollsOf(AddressIndexOf('C')).requests, 2);
    // A write repeated after its value frame: the command frame again is a new request.
    Send("B!SP \r", 20ms);
    Send("B0123\r", 50ms);
    Send("B!SP \r", 150ms);
    Send("B0123\r", 50ms);
    Send("B123\r", 5ms);
    judged = Judged();
    ASSERT_EQ(judged.size(), 2u);
    EXPECT_EQ(judged[0].verdict, ExchangeVerdict::NoAnswer);
    EXPECT_EQ(judged[1].verdict, ExchangeVerdict::Good);

    // The next request to another address lost its carriage return to noise: the waiting one
    // had no answer, not a garbled one.
    Send("E?X  \r", 30ms);
    Send("A?X  ", 100ms);
    splitter.Advance(now + 30ms);
    judged = Judged();
    ASSERT_EQ(judged.size(), 1u);
    EXPECT_EQ(judged[0].request.stationText, "E");
    EXPECT_EQ(judged[0].verdict, ExchangeVerdict::NoAnswer);
}

TEST_F(FrameSplitterTest, AFrameLongerThanAnyAsconFrameIsNoise) {
    // A line at another speed: characters without end, no carriage return, no silence.
    for (int i = 0; i < 10000; ++i) {
        Send("\x9F");
    }
    EXPECT_EQ(splitter.NoiseBytes(), 10000 / 64 * 64);
    EXPECT_TRUE(Judged().empty());
    // An answer that runs on and on is garbled, not waited for.
    Send("A?X  \r", 30ms);
    Send(std::string(100, '7'), 5ms);
    const auto judged = Judged();
    ASSERT_EQ(judged.size(), 1u);
    EXPECT_EQ(judged[0].verdict, ExchangeVerdict::NoCr);
    EXPECT_EQ(judged[0].received, 64);
}

TEST_F(FrameSplitterTest, ThePollCycleOfEachAddress) {
    std::vector<Instant> aEnds;
    for (int sweep = 0; sweep < 3; ++sweep) {
        Send("A?X  \r", sweep == 2 ? 500ms : 20ms);  // the master skips a beat before the last
        aEnds.push_back(now);
        Send("A215\r", 5ms);
        Send("B?X  \r", 20ms);
        Send("B215\r", 5ms);
    }
    const PollCycle& a = splitter.PollsOf(AddressIndexOf('A'));
    EXPECT_EQ(a.requests, 3);
    EXPECT_EQ(a.gaps, 2);
    EXPECT_EQ(a.longestGap, aEnds[2] - aEnds[1]);
    EXPECT_EQ(a.MeanGap(), (aEnds[2] - aEnds[0]) / 2);
    EXPECT_GT(aEnds[2] - aEnds[1], 500ms);
    EXPECT_EQ(splitter.PollsOf(AddressIndexOf('C')).requests, 0);
    EXPECT_EQ(splitter.PollsOf(AddressIndexOf('#')).requests, 0);  // no address at all
}

}  // namespace
}  // namespace tarvel
