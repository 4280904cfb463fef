// SPDX-License-Identifier: GPL-3.0-or-later
// A line behind an adapter that echoes, on virtual time: the test cycle, the line detector, the
// terminal and listening read it as they read the same line without echo, on a Modbus line too.

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "engine/Listener.h"
#include "line/LineDetector.h"
#include "protocol/Protocols.h"
#include "serial/ReceiveAnswer.h"
#include "serial/Terminal.h"
#include "sim/SimulatedSerialLine.h"
#include "support/EngineRig.h"
#include "support/LineRig.h"
#include "support/Run.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;

// Healthy A and B, silent C, D with a garbled return now and then, E on a noisy drop.
std::vector<SimulatedController> MixedLine() {
    std::vector<SimulatedController> controllers{{"A", 5ms},
                                                 {"B", 8ms},
                                                 {"C", 5ms, ControllerFault::Silent},
                                                 {"D", 6ms, ControllerFault::GarbledLastChar, 0.2},
                                                 {"E", 12ms}};
    controllers[4].noise = 0.05;
    return controllers;
}

SimulatedBus Bus(bool echo) {
    SimulatedBus bus(MixedLine(), 0.0, 7);
    bus.SetEcho(echo);
    return bus;
}

// The test cycle with its displays on a simulated bus, behind the echo layer in `mode`.
struct EchoRig : testing::EngineRig {
    EchoRig(bool echo, EchoMode mode) : EngineRig(mode), peer(line, Bus(echo)) { Configure(5, 2); }
    // Runs the cycle for a virtual minute and gives what the error list holds.
    std::vector<std::string> RunAMinute() {
        run.StartBtn_Click();
        time.RunFor(60s);
        run.StopBtn_Click();
        EXPECT_TRUE(RunToEnd());
        return clipboard.items;
    }
    EchoReport Echo() const { return echoLayer.Echo().value_or(EchoReport{}); }
    BusPeer peer;
};

TEST(EchoingAdapter, TheCycleRecordsTheSameErrorsAtTheSameTimesAsWithoutEcho) {
    EchoRig plain(false, EchoMode::Off);
    EchoRig echoing(true, EchoMode::Auto);
    const std::vector<std::string> expected = plain.RunAMinute();
    const std::vector<std::string> records = echoing.RunAMinute();
    // C's silence and D's faults, nothing else, and each at the same moment.
    ASSERT_GT(expected.size(), 10u);
    EXPECT_EQ(records, expected);
    EXPECT_EQ(echoing.Errors(), plain.Errors());
    EXPECT_TRUE(echoing.Echo().echoes);
    EXPECT_GT(echoing.Echo().removed, 100);
    EXPECT_EQ(echoing.Echo().differed, 0);
    EXPECT_EQ(echoing.Echo().missing, 0);
    EXPECT_FALSE(plain.Echo().echoes);
}

TEST(EchoingAdapter, WithTheLayerOffEveryAnswerIsReadBehindItsRequest) {
    // What a technician saw before: a healthy line on which every exchange fails, the echo
    // read as the answer.
    EchoRig rig(true, EchoMode::Off);
    rig.Configure(2, 0);
    const std::vector<std::string> records = rig.RunAMinute();
    const std::string sent = rig.line.TransmittedText();
    long requests = 0;
    for (auto at = sent.find("?X"); at != std::string::npos; at = sent.find("?X", at + 1)) {
        ++requests;
    }
    ASSERT_GT(requests, 100);
    EXPECT_EQ(rig.Errors(), requests);
    EXPECT_EQ(static_cast<long>(records.size()), std::min<long>(requests, 900));
}

TEST(EchoingAdapter, TheDetectorFindsWhatItFindsWithoutEcho) {
    std::vector<std::int16_t> found[2];
    for (const bool echo : {false, true}) {
        EchoRig rig(echo, EchoMode::Auto);
        rig.primo.RetryCount = 0;
        LineDetector detector(rig.primo, rig.port, rig.table);
        found[echo] =
            testing::RunToEnd(rig.time,
                              [&]() -> QCoro::Task<ScanEnd> {
                                  co_return co_await detector.Scan(co_await rig.lineUse.Acquire());
                              }())
                .found;
        EXPECT_EQ(rig.Echo().echoes, echo);
        EXPECT_EQ(rig.Echo().differed, 0);
    }
    EXPECT_EQ(found[1], found[0]);
    // A, B and E at least (D may be caught at a fault); C is silent.
    const std::vector<std::int16_t> healthy{0, 1, 4};
    EXPECT_TRUE(std::includes(found[1].begin(), found[1].end(), healthy.begin(), healthy.end()));
    EXPECT_EQ(std::count(found[1].begin(), found[1].end(), 2), 0);
}

TEST(EchoingAdapter, TheTerminalShowsTheAnswerAloneAndAnUnansweredRequestAsNoAnswer) {
    EchoRig rig(true, EchoMode::Auto);
    const std::string answer =
        testing::RunToEnd(rig.time, SendTerminalFrames(rig.port, rig.primo, "A?X  ", ""));
    ASSERT_EQ(answer.size(), 4u);
    EXPECT_EQ(answer[0], 'A');
    EXPECT_EQ(testing::RunToEnd(rig.time, SendTerminalFrames(rig.port, rig.primo, "C?X  ", "")),
              kNoAnswer);
    // The settle after the silence sent a carriage return, whose echo went too.
    EXPECT_EQ(rig.Echo(), (EchoReport{true, 3, 0, 0}));
}

TEST(EchoingAdapter, TheDetectorFindsTheModbusControllersItFindsWithoutEcho) {
    // 1 and 2 healthy, 3 silent, 4 refusing everything: a refusal proves the controller.
    std::vector<SimulatedController> controllers(4);
    for (std::size_t i = 0; i < controllers.size(); ++i) {
        controllers[i].address = std::to_string(i + 1);
    }
    controllers[2].fault = ControllerFault::Silent;
    controllers[3].fault = ControllerFault::Exception;
    const Protocol& modbus = *ProtocolAt(*ProtocolIndexNamed("modbus-rtu"));
    std::vector<std::int16_t> found[2];
    EchoReport report[2];
    for (const bool echo : {false, true}) {
        testing::LineRig rig(EchoMode::Auto);
        rig.port.SetLineProtocol(modbus);
        rig.primo.RetryCount = 0;
        SimulatedBus bus(controllers, 0.0, 7, modbus);
        bus.SetEcho(echo);
        BusPeer peer(rig.line, std::move(bus));
        ControllerAddressTable table = StartupAddressTable();
        LineDetector detector(rig.primo, rig.port, table);
        detector.ScanOnly({1, 2, 3, 4, 5, 6});
        LineUse lineUse(rig.time);
        found[echo] =
            testing::RunToEnd(rig.time,
                              [&]() -> QCoro::Task<ScanEnd> {
                                  co_return co_await detector.Scan(co_await lineUse.Acquire());
                              }())
                .found;
        report[echo] = rig.echoLayer.Echo().value_or(EchoReport{});
    }
    EXPECT_EQ(found[0], (std::vector<std::int16_t>{1, 2, 4}));
    EXPECT_EQ(found[1], found[0]);
    EXPECT_FALSE(report[0].echoes);
    // Every request came back whole and went, the unanswered ones too.
    EXPECT_TRUE(report[1].echoes);
    EXPECT_GE(report[1].removed, 6);
    EXPECT_EQ(report[1].differed, 0);
    EXPECT_EQ(report[1].missing, 0);
}

TEST(EchoingAdapter, AModbusAnswerThatRepeatsItsRequestIsNoEcho) {
    // A write of one register is answered with the request itself, byte for byte: on a line
    // without echo that is the answer, behind an echoing adapter it comes after the echo.
    const Protocol& modbus = *ProtocolAt(*ProtocolIndexNamed("modbus-rtu"));
    SimulatedController controller;
    controller.address = "1";
    const std::string write("\x01\x06\x00\x01\x00\xff", 6);
    for (const bool echo : {false, true}) {
        SCOPED_TRACE(echo);
        testing::LineRig rig(EchoMode::Auto);
        rig.port.SetLineProtocol(modbus);
        SimulatedBus bus({controller}, 0.0, 7, modbus);
        bus.SetEcho(echo);
        BusPeer peer(rig.line, std::move(bus));
        // The answer as the terminal shows it: its bytes in hexadecimal, then what they say.
        EXPECT_EQ(testing::RunToEnd(rig.time, SendTerminalFrames(rig.port, rig.primo, write, "")),
                  "01 06 00 01 00 FF 98 4A  (function 6)");
        // A read after it is answered as it would be without the layer.
        const std::string read = testing::RunToEnd(
            rig.time, SendTerminalFrames(rig.port, rig.primo,
                                         std::string("\x01\x03\x00\x01\x00\x01", 6), ""));
        EXPECT_EQ(read.rfind("01 03 02 ", 0), 0u) << read;
        const EchoReport report = rig.echoLayer.Echo().value_or(EchoReport{});
        EXPECT_EQ(report.echoes, echo);
        EXPECT_EQ(report.removed, echo ? 2 : 0);
        EXPECT_EQ(report.differed, 0);
        // Without echo, the write came first on a port that had shown nothing yet; after the
        // read showed the port does not echo, a write's copy is its answer at once.
        EXPECT_EQ(report.undecided, echo ? 0 : 1);
        EXPECT_EQ(testing::RunToEnd(rig.time, SendTerminalFrames(rig.port, rig.primo, write, "")),
                  "01 06 00 01 00 FF 98 4A  (function 6)");
        rig.time.RunFor(1s);  // past the time its echo had
        EXPECT_EQ(rig.echoLayer.Echo().value_or(EchoReport{}).undecided, echo ? 0 : 1);
    }
}

// Modbus controller 1, with `fault`, behind an echoing adapter, reached through the layer.
struct EchoingModbusLine {
    explicit EchoingModbusLine(ControllerFault fault) {
        rig.port.SetLineProtocol(Modbus());
        SimulatedController controller;
        controller.address = "1";
        controller.fault = fault;
        SimulatedBus bus({controller}, 0.0, 7, Modbus());
        bus.SetEcho(true);
        peer.emplace(rig.line, std::move(bus));
    }
    static const Protocol& Modbus() { return *ProtocolAt(*ProtocolIndexNamed("modbus-rtu")); }

    testing::LineRig rig{EchoMode::Auto};
    std::optional<BusPeer> peer;
};

TEST(EchoingAdapter, AnExceptionBehindTheEchoOfAWriteIsTheAnswer) {
    // Behind an echoing adapter the copy of a write comes back before anything is known of the
    // echo; the refusal after it shows the copy was the echo, not the controller's answer.
    EchoingModbusLine line(ControllerFault::Exception);
    testing::LineRig& rig = line.rig;
    const std::string shown = testing::RunToEnd(
        rig.time,
        SendTerminalFrames(rig.port, rig.primo, std::string("\x01\x06\x00\x01\x00\xff", 6), ""));
    EXPECT_EQ(shown.rfind("01 86 02 ", 0), 0u) << shown;
    EXPECT_EQ(rig.echoLayer.Echo().value_or(EchoReport{}).removed, 1);
}

TEST(EchoingAdapter, TheEchoOfAWriteNoOneAnswersIsNoAnswerOnceThePortIsKnownToEcho) {
    // A read has shown the port echoes, so the one copy of a write that repeats itself is the
    // adapter's echo, not a controller's answer, however alike they are.
    EchoingModbusLine line(ControllerFault::Silent);
    testing::LineRig& rig = line.rig;
    const auto send = [&rig](std::string frame) {
        return testing::RunToEnd(rig.time,
                                 SendTerminalExchange(rig.port, rig.primo, std::move(frame), ""));
    };
    EXPECT_EQ(send(std::string("\x01\x03\x00\x01\x00\x01", 6)).verdict, ExchangeVerdict::NoAnswer);
    const TerminalAnswer answer = send(std::string("\x01\x06\x00\x01\x00\xff", 6));
    EXPECT_EQ(answer.verdict, ExchangeVerdict::NoAnswer) << answer.shown;
    EXPECT_EQ(rig.echoLayer.Echo().value_or(EchoReport{}), (EchoReport{true, 2, 0, 0, 0}));
}

struct Heard final : ListenSink {
    void ExchangeJudged(const Exchange& exchange) override { exchanges.push_back(exchange); }
    std::vector<Exchange> exchanges;
};

TEST(EchoingAdapter, AListenerThroughTheLayerHearsEveryFrameOfTheLine) {
    // Listening sends nothing, so nothing is expected back: the master's request, which starts
    // like one the program might send, reaches the listener whole.
    testing::LineRig rig(EchoMode::Auto);
    LineUse lineUse(rig.time);
    Heard heard;
    Listener listener(ReadOnlyLine(rig.echoLayer), rig.time,
                      DecoderSettings{rig.CharacterTime(), 200ms, 10, 25ms});
    listener.AddSink(heard);
    std::optional<ListenEnd> end;
    bool finished = false;
    auto listening = [&]() -> QCoro::Task<> {
        end = co_await listener.Listen(co_await lineUse.Acquire());
    };
    QCoro::Task<> task = testing::MarkFinished(listening(), finished);
    rig.time.RunFor(10ms);
    const Duration c = rig.CharacterTime();
    const Instant start = rig.time.Now() + 5ms;
    rig.line.DeliverFrom(start, "A?X  \r");
    rig.line.DeliverFrom(start + 6 * c + 7ms, "A215\r");
    rig.time.RunFor(1s);
    listener.Stop();
    rig.time.RunFor(1s);
    ASSERT_EQ(heard.exchanges.size(), 1u);
    EXPECT_FALSE(heard.exchanges[0].Failed());
    EXPECT_EQ(heard.exchanges[0].arrived, "A215\r");
    EXPECT_TRUE(rig.line.TransmittedText().empty());
    EXPECT_FALSE(rig.echoLayer.Echo()->echoes);
}

}  // namespace
}  // namespace tarvel
