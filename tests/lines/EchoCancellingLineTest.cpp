// SPDX-License-Identifier: GPL-3.0-or-later
// The layer against echoing adapters on virtual time: what it takes off, what it hands on and
// with which arrival stamps, what it counts, and that a line without echo reads as it is.

#include "lines/EchoCancellingLine.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "platform/VirtualTime.h"
#include "sim/SimulatedSerialLine.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;

// An adapter that gives back each character the host sends as it leaves the wire (when told
// to), and controllers that answer frames after 5 ms, a write at its value frame.
struct EchoingWire final : LinePeer {
    explicit EchoingWire(SimulatedSerialLine& line) : line_(line) { line_.AttachPeer(this); }
    ~EchoingWire() override { line_.AttachPeer(nullptr); }

    void HostCharacter(std::uint8_t byte, Instant end, Duration) override {
        if (echo && sent != dropAt) {
            line_.DeliverAt(end + echoLatency, sent == alterAt ? byte ^ 0x20 : byte);
        }
        ++sent;
        if (byte != '\r') {
            frame_.push_back(static_cast<char>(byte));
            return;
        }
        const std::string frame = std::exchange(frame_, {});
        // A write's command frame waits for its value frame, which is answered.
        if (frame.size() > 1 && frame[1] == '!') {
            return;
        }
        if (const auto answer = answers.find(frame.empty() ? '\0' : frame[0]);
            answer != answers.end()) {
            line_.DeliverFrom(end + 5ms, answer->second);
            answerStart = end + 5ms;
        }
    }

    bool echo = true;
    Duration echoLatency{};
    int sent = 0;
    std::optional<int> dropAt;   // the character whose echo is lost
    std::optional<int> alterAt;  // the character whose echo comes back changed
    std::map<char, std::string> answers{{'A', "A215\r"}};
    Instant answerStart{};

private:
    SimulatedSerialLine& line_;
    std::string frame_;
};

struct EchoLayerTest : ::testing::Test {
    VirtualTime time;
    SimulatedSerialLine sim{time};
    EchoingWire wire{sim};
    std::unique_ptr<EchoCancellingLine> layer;
    int wakes = 0;
    Notifier::Subscription woken;

    void Open(EchoMode mode) {
        layer = std::make_unique<EchoCancellingLine>(sim, time, mode);
        ASSERT_TRUE(layer->SetSettings(" 9600,N,8, 1"));
        ASSERT_TRUE(layer->SetPortOpen(true));
        woken = layer->InputActivity().Subscribe([this] { ++wakes; });
    }
    Duration Character() const { return CharacterTime(sim.Settings()); }
    // Sends a read request to A and lets the line run for 100 ms.
    std::string Ask(char address = 'A') {
        layer->Output(std::string(1, address) + "?X  \r");
        time.RunFor(100ms);
        return layer->Peek(100);
    }
    EchoReport Report() const { return layer->Echo().value_or(EchoReport{}); }
};

TEST_F(EchoLayerTest, AnEchoIsFoundAtTheFirstRequestAndTakenOffBeforeTheAnswer) {
    Open(EchoMode::Auto);
    layer->WakeOnInputCount(5);
    EXPECT_EQ(Ask(), "A215\r");
    // Only the whole answer woke a wait for five characters: the echo never counted.
    EXPECT_EQ(wakes, 1);
    // The answer keeps the stamps of its characters' arrival.
    EXPECT_EQ(layer->ArrivalOf(0), wire.answerStart + Character());
    EXPECT_EQ(layer->ArrivalOf(4), wire.answerStart + 5 * Character());
    EXPECT_EQ(Report(), (EchoReport{true, 1, 0, 0}));
    EXPECT_EQ(layer->Input(), "A215\r");

    // From then on a request that reaches no one leaves nothing behind.
    EXPECT_EQ(Ask('Z'), "");
    EXPECT_EQ(Report().removed, 2);
    // A write's two frames come back one after the other.
    layer->Output("A!SP \r");
    layer->Output("A0123\r");
    time.RunFor(100ms);
    EXPECT_EQ(layer->Input(), "A215\r");
    EXPECT_EQ(Report(), (EchoReport{true, 4, 0, 0}));
}

TEST_F(EchoLayerTest, WithoutEchoEveryCharacterIsHandedOnWithItsOwnStamp) {
    wire.echo = false;
    Open(EchoMode::Auto);
    // "A" matches the request's first character: held only until the next one tells.
    EXPECT_EQ(Ask(), "A215\r");
    EXPECT_EQ(layer->ArrivalOf(0), wire.answerStart + Character());
    EXPECT_EQ(Report(), (EchoReport{false, 0, 0, 0}));
    layer->Input();

    // An answer that is the request's beginning and nothing more is the far end's too: it is
    // handed on once the echo's time has run out, with the stamp it arrived with.
    wire.answers['A'] = "A";
    layer->Output("A?X  \r");
    time.RunFor(20ms);
    EXPECT_EQ(layer->InBufferCount(), 0);
    const int before = wakes;
    time.RunFor(100ms);
    EXPECT_EQ(layer->Peek(10), "A");
    EXPECT_EQ(layer->ArrivalOf(0), wire.answerStart + Character());
    EXPECT_GT(wakes, before);
    EXPECT_FALSE(Report().echoes);
}

TEST_F(EchoLayerTest, AStrayReturnAfterASettleIsNoSignOfEcho) {
    // A controller's surplus "\r\n" trickles in just after the program settled the line with
    // a carriage return of its own.
    wire.echo = false;
    Open(EchoMode::Auto);
    layer->Output("\r");
    sim.DeliverAt(time.Now() + 2ms, '\r');
    sim.DeliverAt(time.Now() + 3ms, '\n');
    time.RunFor(100ms);
    EXPECT_EQ(layer->Input(), "\r\n");
    EXPECT_EQ(Report(), (EchoReport{false, 0, 0, 0}));
    // The next answer is read whole, not taken for an echo.
    EXPECT_EQ(Ask(), "A215\r");
}

TEST_F(EchoLayerTest, AChangeOfSpeedOrAPurgeExpectsNoEchoFromBefore) {
    Open(EchoMode::On);
    // The echo of this request would come back at the old speed; the speed changes first.
    wire.echo = false;
    wire.answers['A'] = "";
    layer->Output("A?X  \r");
    ASSERT_TRUE(layer->SetSettings(" 2400,N,8, 1"));
    time.RunFor(200ms);
    wire.answers['A'] = "A215\r";
    sim.DeliverAt(time.Now() + 1ms, 'x');
    time.RunFor(5ms);
    EXPECT_EQ(layer->Input(), "x");
    layer->Output("B?X  \r");
    layer->PurgeReceived();
    sim.DeliverAt(time.Now() + 1ms, 'y');
    time.RunFor(500ms);
    EXPECT_EQ(layer->Input(), "y");
    EXPECT_EQ(Report(), (EchoReport{true, 0, 0, 0}));
}

TEST_F(EchoLayerTest, AnEchoUnlikeWhatWasSentIsACollisionAndTheAnswerStaysWhole) {
    Open(EchoMode::Auto);
    Ask();
    layer->Input();
    wire.alterAt = wire.sent + 2;
    EXPECT_EQ(Ask(), "A215\r");
    EXPECT_EQ(Report(), (EchoReport{true, 2, 1, 0}));
}

TEST_F(EchoLayerTest, AnEchoThatDoesNotComeBackWholeIsCountedAndLaterAnswersAreNotEaten) {
    Open(EchoMode::Auto);
    Ask();
    layer->Input();
    // The request's last character does not come back: at the echo's deadline it is given up,
    // and the answer after it is read as it is (one character short of the echo would take).
    wire.dropAt = wire.sent + 5;
    wire.answers['A'] = "";
    Ask();
    EXPECT_EQ(Report().missing, 1);
    wire.answers['A'] = "A215\r";
    EXPECT_EQ(Ask(), "A215\r");
    EXPECT_EQ(Report(), (EchoReport{true, 2, 0, 1}));
}

TEST_F(EchoLayerTest, AnEchoThatComesLateWithinItsGraceIsStillTakenOff) {
    // A USB adapter's latency timer: the echo comes back 16 ms after each character left.
    wire.echoLatency = 16ms;
    wire.answers['A'] = "";
    Open(EchoMode::Auto);
    EXPECT_EQ(Ask(), "");
    EXPECT_EQ(Report(), (EchoReport{true, 1, 0, 0}));
}

TEST_F(EchoLayerTest, ALoneCopyOfAWriteIsReadByWhatThePortHasShownBefore) {
    // A Modbus write of one register, answered with itself; here no controller answers it, so
    // the one copy that comes back is the adapter's echo.
    const std::string write("\x01\x06\x00\x01\x00\xff\x98\x4a", 8);
    wire.answers['A'] = "";
    const auto writeOnce = [&] {
        layer->OutputRequest(write, true);
        time.RunFor(200ms);
        return layer->Input();
    };
    // Nothing known of the port yet: the copy may as well be an answer, and is read as one,
    // counted as undecided for whoever reports it.
    Open(EchoMode::Auto);
    EXPECT_EQ(writeOnce(), write);
    EXPECT_EQ(Report(), (EchoReport{false, 0, 0, 0, 1}));
    // Once a request has come back whole, the port echoes: the copy is taken off.
    EXPECT_EQ(Ask(), "");
    EXPECT_EQ(writeOnce(), "");
    EXPECT_EQ(Report(), (EchoReport{true, 2, 0, 0, 1}));

    // A port that let a request go by without a copy does not echo: a copy is the answer, at once.
    wire.echo = false;
    Open(EchoMode::Auto);
    EXPECT_EQ(Ask(), "");
    wire.echo = true;  // as a controller answering the write would look
    layer->OutputRequest(write, true);
    time.RunFor(10ms);
    EXPECT_EQ(layer->InBufferCount(), 8);
    time.RunFor(1s);  // past the time its echo had: nothing undecided
    EXPECT_EQ(Report(), (EchoReport{false, 0, 0, 0, 0}));
}

TEST_F(EchoLayerTest, ASecondCopyOfAWriteProvesThePortEchoesAfterAllAndGoes) {
    const std::string write("\x01\x06\x00\x01\x00\xff\x98\x4a", 8);
    Open(EchoMode::Auto);
    // A collision on its first character makes an echoing port look as if it did not echo...
    wire.alterAt = wire.sent;
    wire.answers['A'] = "";
    Ask();
    layer->Input();
    // ... so the echo of a write goes on as its answer at once; the controller's answer, the
    // same bytes again, proves the port echoes and is taken off, leaving nothing behind.
    layer->OutputRequest(write, true);
    sim.DeliverFrom(time.Now() + 8 * Character() + 5ms, write);
    time.RunFor(200ms);
    EXPECT_EQ(layer->Input(), write);
    EXPECT_EQ(layer->InBufferCount(), 0);
    EXPECT_EQ(Report(), (EchoReport{true, 1, 0, 0, 0}));
}

// The simulated line as a port across the network, whose every character comes back a
// measured round trip later than on a port of the host.
struct AcrossTheNetwork final : LineFilter {
    AcrossTheNetwork(SerialLine& line, Duration roundTrip)
        : LineFilter(line), roundTrip_(roundTrip) {}
    void Diagnose(LineDiagnostics& report) const override {
        LineFilter::Diagnose(report);
        report.roundTrip = roundTrip_;
    }

    Duration roundTrip_;
};

TEST_F(EchoLayerTest, AcrossTheNetworkTheEchoIsAwaitedForTheRoundTripToo) {
    wire.echoLatency = 80ms;
    wire.answers['A'] = "";
    AcrossTheNetwork network(sim, 80ms);
    layer = std::make_unique<EchoCancellingLine>(network, time, EchoMode::Auto);
    ASSERT_TRUE(layer->SetSettings(" 9600,N,8, 1"));
    ASSERT_TRUE(layer->SetPortOpen(true));
    EXPECT_EQ(Ask(), "");
    EXPECT_EQ(Report(), (EchoReport{true, 1, 0, 0}));
}

TEST_F(EchoLayerTest, OnTakesTheFirstEchoOffTooAndOffHandsEverythingOn) {
    Open(EchoMode::On);
    EXPECT_TRUE(Report().echoes);
    EXPECT_EQ(Ask(), "A215\r");

    Open(EchoMode::Off);
    EXPECT_EQ(Ask(), "A?X  \rA215\r");
    EXPECT_EQ(Report(), (EchoReport{false, 0, 0, 0}));
}

TEST_F(EchoLayerTest, AReopenedPortIsLookedAtAgain) {
    Open(EchoMode::Auto);
    Ask();
    EXPECT_TRUE(Report().echoes);
    ASSERT_TRUE(layer->SetPortOpen(false));
    ASSERT_TRUE(layer->SetPortOpen(true));
    EXPECT_FALSE(Report().echoes);
    // Another adapter, one that does not echo: its answer is read whole.
    wire.echo = false;
    EXPECT_EQ(Ask(), "A215\r");
    EXPECT_FALSE(Report().echoes);
}

TEST_F(EchoLayerTest, ALostLineWakesItsReadersAndCharactersBeforeARequestAreNeverAnEcho) {
    Open(EchoMode::Auto);
    // Noise that arrived before the request is the far end's.
    sim.DeliverAt(time.Now() + 1ms, 'A');
    time.RunFor(5ms);
    wire.echo = false;
    EXPECT_EQ(Ask(), "AA215\r");
    const int before = wakes;
    sim.Lose("the adapter was unplugged");
    time.RunFor(1ms);
    EXPECT_GT(wakes, before);
    EXPECT_FALSE(layer->PortOpen());
    // What was read off the line below before it went is gone with it, as on the line itself.
    EXPECT_EQ(layer->InBufferCount(), 0);
    EXPECT_EQ(layer->Peek(100), "");
    EXPECT_EQ(layer->Input(), "");
}

}  // namespace
}  // namespace tarvel
