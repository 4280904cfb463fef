// SPDX-License-Identifier: GPL-3.0-or-later
// The Line Monitor's own test and scan without a window, on virtual time: when they are refused,
// what they ask of a Modbus line and how the monitor counts it, and that the main window's state
// and the line's protocol are as they were afterwards.

#include "monitor/MonitorRunControl.h"

#include <gtest/gtest.h>

#include "monitor/MonitorCsv.h"
#include "sim/SimulatedSerialLine.h"
#include "support/LineRig.h"
#include "support/ScriptedPrompts.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;

constexpr int kModbusRtu = 1;

SimulatedController Controller(const char* address, ControllerFault fault = ControllerFault::None,
                               Duration delay = 5ms) {
    SimulatedController controller;
    controller.address = address;
    controller.fault = fault;
    controller.answerDelay = delay;
    return controller;
}

struct MonitorRunControlTest : ::testing::Test, testing::LineRig {
    LineUse lineUse{time};
    testing::ScriptedPrompts prompts;
    LineMonitor monitor{time, [this] { return CharacterTime(); },
                        [] { return std::optional<UartErrorCounts>(); }};
    MonitorRunControl control{primo, port, lineUse, prompts, monitor};
    std::optional<BusPeer> bus;

    MonitorRunControlTest() {
        primo.PortAccepted = kTrue;
        primo.ProtocolIndex = kModbusRtu;
        primo.DeviceCount = 2;  // the main window's configuration, never the monitor's run
        monitor.SetProtocolSource(
            [this]() -> const Protocol& { return *ProtocolAt(primo.ProtocolIndex); });
    }
    void Controllers(std::vector<SimulatedController> controllers) {
        bus.emplace(line, SimulatedBus(std::move(controllers), 0.0, 1, *ProtocolAt(kModbusRtu)));
    }
    static MonitorRunChoice Choice(std::string addresses, Duration window = 500ms) {
        return MonitorRunChoice{std::move(addresses), RequestChoice{}, window};
    }
    std::string LastMessage() const {
        return prompts.messages.empty() ? std::string() : prompts.messages.back().text;
    }
};

TEST_F(MonitorRunControlTest, IsRefusedWithTheReasonAndLeavesTheLineAlone) {
    Controllers({Controller("1")});
    const auto refused = [&](const MonitorRunChoice& choice, const char* because) {
        const std::size_t before = prompts.messages.size();
        control.TestBtn_Click(choice);
        EXPECT_FALSE(control.Running()) << because;
        EXPECT_EQ(prompts.messages.size(), before + 1) << because;
        EXPECT_NE(LastMessage().find(because), std::string::npos) << LastMessage();
    };
    refused(Choice("1-300"), "\"1-300\" are not understood");
    refused(Choice("3,1-4"), "not understood");  // 3 twice
    refused(Choice(""), "not understood");
    refused(Choice("1-65"), "at most 64 controllers; 65 addresses");
    refused(MonitorRunChoice{"1", RequestChoice{65535, 2}, 500ms}, "go beyond 65535");
    {
        auto lease = lineUse.Acquire();  // a run, a scan, the terminal or listening
        time.RunDue();
        refused(Choice("1"), "in use");
    }
    time.RunDue();
    primo.ProtocolIndex = 0;
    EXPECT_FALSE(control.Offered());
    refused(Choice("1"), "\"Start\"");
    primo.ProtocolIndex = 5;  // "Pyromat"
    refused(Choice("1"), "MB RTU, JB RTU, MB ASCII and JB ASCII lines");
    primo.ProtocolIndex = kModbusRtu;
    EXPECT_TRUE(control.Offered());
    port.ClosePort();
    refused(Choice("1"), "closed");
    EXPECT_EQ(control.ProgressText(), "");
    EXPECT_EQ(monitor.Statistics().Exchanges(), 0);
}

TEST_F(MonitorRunControlTest,
       TestsTheAddressesWithTheRegistersAndWindowChosenThenGivesTheLineBack) {
    // 1 answers, 3 is dead, 5 refuses the register, 7 answers after 80 ms: outside a 50 ms window.
    Controllers({Controller("1"), Controller("3", ControllerFault::Silent),
                 Controller("5", ControllerFault::Exception), Controller("7", {}, 80ms)});
    control.TestBtn_Click(MonitorRunChoice{"1,3,5,7", RequestChoice{10, 2}, 50ms});
    ASSERT_TRUE(control.Running());
    // A click while it runs asks for nothing more.
    control.ScanBtn_Click(Choice("1-10"));
    EXPECT_TRUE(prompts.messages.empty());
    // The main window's Start, "&Search!", terminal and "Comm" are told why they must wait.
    EXPECT_NE(std::string(lineUse.Refusal() ? lineUse.Refusal() : "").find("Line Monitor"),
              std::string::npos);
    ASSERT_TRUE(time.RunUntil([&] { return monitor.Statistics().Exchanges() >= 8; }, 1min));
    EXPECT_EQ(control.ProgressText().rfind("Testing 4 addresses: sweep 3, address ", 0), 0u)
        << control.ProgressText();
    control.StopBtn_Click();
    EXPECT_EQ(control.ProgressText().rfind("Stopping after this exchange", 0), 0u);
    ASSERT_TRUE(time.RunUntil([&] { return !control.Running(); }, 1min));
    EXPECT_TRUE(prompts.messages.empty());

    const LineStatistics& statistics = monitor.Statistics();
    ASSERT_EQ(statistics.Controllers().size(), 4u);
    const ControllerStatistics& one = *statistics.Find(1);
    EXPECT_EQ(one.address, "1");
    EXPECT_GE(one.requests, 2);
    EXPECT_EQ(one.noAnswer, 0);
    // The first sweep's answer is good; later ones may meet 7's late answer, as on a line
    // whose window is too short.
    EXPECT_GE(one.good, 1);
    EXPECT_EQ(one.good + one.wrongSource + one.wrongLength + one.badCrc, one.requests)
        << one.wrongSource << " " << one.wrongLength << " " << one.badCrc << " " << one.cut;
    EXPECT_EQ(statistics.Find(3)->noAnswer, statistics.Find(3)->requests);
    const ControllerStatistics& five = *statistics.Find(5);
    EXPECT_EQ(five.good, five.requests);
    EXPECT_EQ(five.exceptions, five.requests);
    EXPECT_EQ(five.exceptionCodes.at(2), five.requests);
    EXPECT_EQ(statistics.Find(7)->good, 0);
    EXPECT_EQ(statistics.Find(7)->noAnswer, statistics.Find(7)->requests);
    // The request read registers 10 and 11 of station 1, its CRC as worked out apart.
    bool asked = false;
    for (std::size_t i = 0; i < monitor.Traffic().Size(); ++i) {
        asked = asked || RequestRow(monitor.Traffic(), i).hex == "01 03 00 0A 00 02 E4 09";
    }
    EXPECT_TRUE(asked);

    EXPECT_EQ(control.ProgressText().rfind("Test run over 4 addresses: ", 0), 0u);
    EXPECT_NE(control.ProgressText().find("; ended by Stop"), std::string::npos);
    // The main window's state, the line's protocol and its window are as they were.
    EXPECT_EQ(primo.DeviceCount, 2);
    EXPECT_EQ(primo.StopFlag, 0);
    EXPECT_EQ(port.LineProtocol().Name(), "Ascon");
    EXPECT_FALSE(port.AnswerWindow().has_value());
    EXPECT_FALSE(lineUse.Busy());
    // Ascon chosen afterwards: the statistics of the Modbus run keep their own columns.
    primo.ProtocolIndex = 0;
    EXPECT_EQ(monitor.ShownVerdicts(), VerdictFamily::ModbusRtu);
    EXPECT_EQ(StatisticsCsv(monitor, LocalDateTime{})
                  .rfind(StatisticsCsvHeader(VerdictFamily::ModbusRtu), 0),
              0u);
}

TEST_F(MonitorRunControlTest, ScansTheRangeAndCountsAnExceptionAsAController) {
    Controllers({Controller("2"), Controller("9", ControllerFault::Exception), Controller("12")});
    control.ScanBtn_Click(Choice("1-10"));
    ASSERT_TRUE(time.RunUntil([&] { return control.Found().size() == 1; }, 1min));
    EXPECT_EQ(control.ProgressText().rfind("Scanning 10 addresses: address ", 0), 0u)
        << control.ProgressText();
    ASSERT_TRUE(time.RunUntil([&] { return !control.Running(); }, 1min));
    EXPECT_EQ(control.Found(), (std::vector<std::int16_t>{2, 9}));
    EXPECT_EQ(
        control.ProgressText().rfind("Scan finished: 2 of 10 addresses answer (2, 9), in ", 0), 0u)
        << control.ProgressText();
    // What a scan finds is apart from the health of the line.
    EXPECT_EQ(monitor.ScanStatistics().Exchanges(), 10);
    EXPECT_EQ(monitor.Statistics().Exchanges(), 0);
}

TEST_F(MonitorRunControlTest, ReadsTheCountersOfEachControllerWithTheTimeRead) {
    SimulatedController named = Controller("3");
    named.vendor = "Acme Controls";
    named.productCode = "TC-100";
    named.revision = "2.1";
    Controllers({Controller("1"), Controller("2", ControllerFault::Exception), named});
    control.CountersBtn_Click(Choice("1-4"), false);
    ASSERT_TRUE(control.Running());
    EXPECT_EQ(control.ProgressText().rfind("Reading the counters of 4 addresses: address 1", 0), 0u)
        << control.ProgressText();
    ASSERT_TRUE(time.RunUntil([&] { return !control.Running(); }, 1min));
    const std::vector<CounterReading>& read = control.Counters();
    ASSERT_EQ(read.size(), 4u);
    EXPECT_EQ(read[0].values[0], 1);  // the read itself, the first message it heard
    EXPECT_EQ(read[1].refusal, 2);    // refuses everything: keeps no counters
    EXPECT_TRUE(read[1].Answered());
    EXPECT_EQ(read[2].values[0], 3);  // the first reads of 1 and 2 too
    EXPECT_EQ(read[3].failure, "No answer !");
    EXPECT_FALSE(control.CountersMarked());  // a quiet line
    EXPECT_EQ(control.ProgressText().rfind("Counters read: 4 controllers at 2026-12-09 08:0", 0),
              0u)
        << control.ProgressText();
    // Questions, not a test run: the monitor's statistics stay as they were.
    EXPECT_EQ(monitor.Statistics().Exchanges(), 0);
    EXPECT_EQ(port.LineProtocol().CommandName(), DefaultProtocol().CommandName());

    control.IdentifyBtn_Click(Choice("1,3"));
    ASSERT_TRUE(time.RunUntil([&] { return !control.Running(); }, 1min));
    ASSERT_EQ(control.Identities().size(), 2u);
    EXPECT_EQ(control.Identities().at(3).Text(), "Acme Controls TC-100 v2.1");
    EXPECT_EQ(control.Identities().at(1).Text(), "");
}

TEST_F(MonitorRunControlTest, ClearingTheCountersIsDoneOnlyOnceTheOperatorConfirmsIt) {
    Controllers({Controller("1"), Controller("2")});
    control.CountersBtn_Click(Choice("1-2"), false);
    ASSERT_TRUE(time.RunUntil([&] { return !control.Running(); }, 1min));
    prompts.answers.push_back(MessageAnswer::Cancel);
    control.CountersBtn_Click(Choice("1-2"), true);
    EXPECT_FALSE(control.Running());
    EXPECT_NE(LastMessage().find("Set every counter of 2 controllers (1-2) back to zero"),
              std::string::npos)
        << LastMessage();
    EXPECT_EQ(prompts.messages.back().buttons, MessageButtons::OkCancel);

    prompts.answers.push_back(MessageAnswer::Ok);
    control.CountersBtn_Click(Choice("1-2"), true);
    ASSERT_TRUE(time.RunUntil([&] { return !control.Running(); }, 1min));
    // Both cleared, then read: each heard the other's frame and its own since.
    for (const CounterReading& reading : control.Counters()) {
        EXPECT_TRUE(reading.cleared);
        EXPECT_EQ(reading.values[0], 2);
    }
    EXPECT_EQ(control.ProgressText().rfind("Counters cleared and read: 2 controllers at ", 0), 0u);
}

TEST_F(MonitorRunControlTest, TheControllerWhereCrcErrorsBeginToRiseIsMarked) {
    std::vector<SimulatedController> controllers;
    for (const char* address : {"1", "2", "3", "4", "5"}) {
        controllers.push_back(Controller(address));
        controllers.back().position = 200.0 * static_cast<double>(controllers.size() - 1);
    }
    SimulatedBus noisy(controllers, 0.003, 5, *ProtocolAt(kModbusRtu));
    noisy.SetNoisePosition(500.0);
    bus.emplace(line, std::move(noisy));
    control.TestBtn_Click(Choice("1-5"));
    time.RunFor(2min);
    control.StopBtn_Click();
    ASSERT_TRUE(time.RunUntil([&] { return !control.Running(); }, 1min));
    control.CountersBtn_Click(Choice("1-5"), false);
    ASSERT_TRUE(time.RunUntil([&] { return !control.Running(); }, 1min));
    ASSERT_EQ(control.Counters().size(), 5u);
    EXPECT_EQ(control.Counters()[2].values[1], 0);
    EXPECT_EQ(control.CountersMarked(), 3u);
}

TEST_F(MonitorRunControlTest, EveryRequestFollowsThreeAndAHalfCharactersOfSilenceAndNoMore) {
    Controllers({Controller("1"), Controller("5", ControllerFault::Exception, 2ms)});
    control.TestBtn_Click(Choice("1,5"));
    ASSERT_TRUE(time.RunUntil([&] { return monitor.Statistics().Exchanges() >= 20; }, 1min));
    control.StopBtn_Click();
    ASSERT_TRUE(time.RunUntil([&] { return !control.Running(); }, 1min));
    const Duration gap = CharacterTime() * 7 / 2;
    const TrafficLog& traffic = monitor.Traffic();
    for (std::size_t i = 1; i < traffic.Size(); ++i) {
        const Exchange& before = traffic.At(i - 1).exchange;
        const Exchange& next = traffic.At(i).exchange;
        ASSERT_TRUE(before.lastArrival.has_value());
        const Duration silence = next.request.written - *before.lastArrival;
        EXPECT_GE(silence, gap) << "before exchange " << i;
        EXPECT_LT(silence, gap + CharacterTime()) << "before exchange " << i;
    }
}

TEST_F(MonitorRunControlTest, AfterAFailureTheSettleAndTheWholeSilenceComeBeforeTheNextRequest) {
    // 7's answer comes after the window, while the line settles: the silence before the next
    // request cannot count from a character it has not seen.
    Controllers({Controller("7", {}, 60ms), Controller("1")});
    control.TestBtn_Click(Choice("7,1", 50ms));
    ASSERT_TRUE(time.RunUntil([&] { return monitor.Statistics().Exchanges() >= 12; }, 1min));
    control.StopBtn_Click();
    ASSERT_TRUE(time.RunUntil([&] { return !control.Running(); }, 1min));
    const Protocol& modbus = *ProtocolAt(kModbusRtu);
    const Duration least = modbus.SettleTime(CharacterTime()) + CharacterTime() * 7 / 2;
    const TrafficLog& traffic = monitor.Traffic();
    int afterFailures = 0;
    for (std::size_t i = 1; i < traffic.Size(); ++i) {
        const Exchange& before = traffic.At(i - 1).exchange;
        if (before.Failed()) {
            ++afterFailures;
            EXPECT_GE(traffic.At(i).exchange.request.written - before.judged, least);
        }
    }
    EXPECT_GE(afterFailures, 5);
}

TEST_F(MonitorRunControlTest, AStopBeforeTheFirstExchangeEndsTheRunWithoutOne) {
    Controllers({Controller("1")});
    control.TestBtn_Click(Choice("1"));
    control.StopBtn_Click();  // still in the settle that comes first
    ASSERT_TRUE(time.RunUntil([&] { return !control.Running(); }, 1min));
    EXPECT_LE(monitor.Statistics().Exchanges(), 1);
    EXPECT_EQ(port.LineProtocol().Name(), "Ascon");
}

TEST_F(MonitorRunControlTest, ALostLineIsToldWithTheLineAlreadyGivenBack) {
    Controllers({Controller("1")});
    std::string speakingWhileTold;
    std::optional<Duration> windowWhileTold;
    prompts.whileOpen = [&] {
        speakingWhileTold = port.LineProtocol().Name();
        windowWhileTold = port.AnswerWindow();
    };
    control.TestBtn_Click(Choice("1"));
    time.RunFor(200ms);
    line.Lose("the adapter was pulled out");
    ASSERT_TRUE(time.RunUntil([&] { return !control.Running(); }, 1min));
    EXPECT_NE(LastMessage().find("the adapter was pulled out"), std::string::npos) << LastMessage();
    EXPECT_EQ(speakingWhileTold, "Ascon");
    EXPECT_EQ(windowWhileTold, std::nullopt);
}

}  // namespace
}  // namespace tarvel
