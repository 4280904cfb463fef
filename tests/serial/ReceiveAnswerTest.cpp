// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/ReceiveAnswer.h"

#include <gtest/gtest.h>

#include "protocol/ascon/AsconFrame.h"
#include "support/LineRig.h"
#include "support/Run.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;
using testing::LineRig;
using testing::RunToEnd;

constexpr Duration kTimeout = 300ms;

struct ReceiveAnswerTest : ::testing::Test {
    LineRig rig;
    std::string Receive() { return RunToEnd(rig.time, ReceiveAnswer(rig.port, kTimeout)); }
    // The far end sends `text` so that its last character ends at `end` after the start.
    void AnswerEndingAt(Duration end, std::string_view text) {
        const auto length = static_cast<int>(text.size());
        rig.line.DeliverFrom(rig.time.Now() + end - rig.CharacterTime() * length, text);
    }
    bool Settled() const { return rig.line.TransmittedText() == "\r"; }
};

TEST_F(ReceiveAnswerTest, AGoodAnswerEndsTheWaitAtItsFifthCharacterWithoutSettling) {
    AnswerEndingAt(100ms, "A215\r");
    EXPECT_EQ(Receive(), "A215");
    EXPECT_EQ(rig.Elapsed(), 100ms);
    EXPECT_FALSE(Settled());
}

TEST_F(ReceiveAnswerTest, SilenceGivesNoAnswerJustAfterTheTimeOutThenTheSettlingPause) {
    EXPECT_EQ(Receive(), kNoAnswer);
    EXPECT_GT(rig.Elapsed(), kTimeout + SettleTime);
    EXPECT_LT(rig.Elapsed(), kTimeout + SettleTime + 1ms);
    EXPECT_TRUE(Settled());
}

TEST_F(ReceiveAnswerTest, TooFewCharactersInTimeAreNoAnswerNotAWrongCount) {
    AnswerEndingAt(50ms, "A21");
    EXPECT_EQ(Receive(), kNoAnswer);
    EXPECT_EQ(rig.line.InBufferCount(), 0);
}

TEST_F(ReceiveAnswerTest, SurplusCharactersAreAWrongCountAndAreThrownAway) {
    rig.line.DeliverAt(rig.time.Now() + 40ms, 'x');
    for (const char c : std::string("A215\r\r")) {
        rig.line.DeliverAt(rig.time.Now() + 60ms, static_cast<std::uint8_t>(c));
    }
    EXPECT_EQ(Receive(), kWrongCount);
    EXPECT_EQ(rig.line.InBufferCount(), 0);
    EXPECT_TRUE(Settled());
}

TEST_F(ReceiveAnswerTest, FiveCharactersWithoutTheClosingReturnAreAnUnknownFormat) {
    AnswerEndingAt(80ms, "A2151");
    EXPECT_EQ(Receive(), kUnknownFormat);
    EXPECT_TRUE(Settled());
}

TEST_F(ReceiveAnswerTest, TheTimeOutIsStrictToTheNanosecond) {
    AnswerEndingAt(kTimeout, "A215\r");
    EXPECT_EQ(Receive(), "A215");

    LineRig early;
    early.line.DeliverFrom(early.time.Now() + kTimeout - 1ns - early.CharacterTime() * 5, "A215\r");
    EXPECT_EQ(RunToEnd(early.time, ReceiveAnswer(early.port, kTimeout)), "A215");

    LineRig late;
    late.line.DeliverFrom(late.time.Now() + kTimeout + 1ns - late.CharacterTime() * 5, "A215\r");
    EXPECT_EQ(RunToEnd(late.time, ReceiveAnswer(late.port, kTimeout)), kNoAnswer);
}

TEST_F(ReceiveAnswerTest, AFifthCharacterAfterTheTimeOutIsNoAnswerEvenIfTheRestCameEarly) {
    AnswerEndingAt(100ms, "A215");
    rig.line.DeliverAt(rig.time.Now() + 350ms, '\r');
    EXPECT_EQ(Receive(), kNoAnswer);
    EXPECT_EQ(rig.line.InBufferCount(), 0);
}

// What had arrived when the answer completed is read and its last character judged; what came
// after it stays for the next read, however late the thread gets round to reading.
TEST_F(ReceiveAnswerTest, OnlyWhatHadArrivedByTheFifthCharacterIsReadAndJudged) {
    rig.time.CallAt(rig.time.Now() + 1ms, [&] { rig.time.Stall(200ms); });
    AnswerEndingAt(50ms, "A215\r");
    rig.line.DeliverAt(rig.time.Now() + 60ms, 'x');
    EXPECT_EQ(Receive(), "A215");
    EXPECT_EQ(rig.line.InBufferCount(), 1);
    EXPECT_FALSE(Settled());

    // Five characters whose last is no carriage return: judged by that fifth one alone.
    LineRig other;
    other.line.DeliverFrom(other.time.Now() + 50ms, "A2151");
    other.line.DeliverAt(other.time.Now() + 100ms, '\r');
    EXPECT_EQ(RunToEnd(other.time, ReceiveAnswer(other.port, kTimeout)), kUnknownFormat);
}

TEST_F(ReceiveAnswerTest, ABusyThreadDoesNotSpoilTheVerdict) {
    // The program's thread is busy from 1 ms to 401 ms; the answers keep their arrival times.
    rig.time.CallAt(rig.time.Now() + 1ms, [&] { rig.time.Stall(400ms); });
    AnswerEndingAt(10ms, "A215\r");
    EXPECT_EQ(Receive(), "A215");
    EXPECT_FALSE(Settled());

    LineRig late;
    late.time.CallAt(late.time.Now() + 1ms, [&] { late.time.Stall(400ms); });
    late.line.DeliverFrom(late.time.Now() + 350ms - late.CharacterTime() * 5, "A215\r");
    EXPECT_EQ(RunToEnd(late.time, ReceiveAnswer(late.port, kTimeout)), kNoAnswer);
}

TEST_F(ReceiveAnswerTest, OnAClosedLineItAnswersNoAnswerWithoutHanging) {
    rig.port.ClosePort();
    EXPECT_EQ(Receive(), kNoAnswer);
}

}  // namespace
}  // namespace tarvel
