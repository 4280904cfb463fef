// SPDX-License-Identifier: GPL-3.0-or-later
// What each simulated Modbus controller counts of its bus from its own place on the cable, and
// answers of itself: the counters of the diagnostics function and its identity.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/HexText.h"
#include "protocol/modbus/ModbusCounters.h"
#include "protocol/modbus/ModbusFrame.h"
#include "protocol/modbus/ModbusIdentity.h"
#include "sim/SimulatedLineFile.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;
using namespace modbus;
constexpr Duration kChar = 1ms;

// Sends `frame` a character a millisecond after a silence that ends any frame before it, and
// gives back what came back.
std::string Ask(SimulatedBus& bus, const std::string& frame, Instant& end) {
    end += 20ms;
    std::string back;
    for (const char c : frame) {
        end += kChar;
        for (const TimedByte& byte : bus.HostCharacter(static_cast<std::uint8_t>(c), end, kChar,
                                                       HostWire{9600, std::nullopt})) {
            back.push_back(static_cast<char>(byte.byte));
            end = std::max(end, byte.end);
        }
    }
    return back;
}

// Five controllers 200 m apart from the host's end, 1 to 5; the line noise enters at 500 m.
SimulatedBus NoisyLine(double lineNoise) {
    std::vector<SimulatedController> controllers;
    for (int i = 0; i < 5; ++i) {
        SimulatedController controller{std::to_string(i + 1), 2ms};
        controller.position = 200.0 * i;
        controllers.push_back(controller);
    }
    SimulatedBus bus(controllers, lineNoise, 7, *ProtocolAt(1));
    bus.SetNoisePosition(500.0);
    return bus;
}

TEST(ControllerCounters, NoiseIsCountedOnlyByTheControllersBeyondWhereItEnters) {
    SimulatedBus bus = NoisyLine(0.01);
    Instant end{};
    constexpr int kPolls = 400;
    int answered = 0;
    for (int poll = 0; poll < kPolls; ++poll) {
        answered += Ask(bus, ReadHoldingRequest(poll % 5 + 1, 0, 2), end).empty() ? 0 : 1;
    }
    std::vector<std::optional<double>> rates;
    for (std::size_t drop = 0; drop < 5; ++drop) {
        SCOPED_TRACE(drop);
        const ControllerCounts& counts = bus.Counts(drop);
        rates.push_back(CrcErrorsPerThousand(counts.crcErrors, counts.busMessages));
        if (drop < 3) {
            // Before the noise every poll arrives whole, and each fifth is for this controller.
            EXPECT_EQ(counts.busMessages, kPolls);
            EXPECT_EQ(counts.crcErrors, 0);
            EXPECT_EQ(counts.addressed, kPolls / 5);
            EXPECT_EQ(counts.notAnswered, 0);
        } else {
            EXPECT_GT(counts.crcErrors, 0);
            EXPECT_LT(counts.addressed, kPolls / 5);
        }
        EXPECT_EQ(counts.exceptions, 0);
    }
    EXPECT_LT(answered, kPolls);
    EXPECT_EQ(FirstDropAboveMedian(rates), 3u);

    // Read back through the same noise: once a sound answer comes, it says what the controller
    // counted, the spoiled attempts before it included.
    for (std::size_t drop = 0; drop < 5; ++drop) {
        SCOPED_TRACE(drop);
        const std::string request =
            DiagnosticsRequest(static_cast<int>(drop) + 1, BusCrcErrorCount);
        std::optional<CounterAnswer> read;
        for (int attempt = 0; attempt < 20 && !read; ++attempt) {
            const std::string answer = Ask(bus, WithCrc(request), end);
            if (CrcHolds(answer)) {
                read = ReadCounterAnswer(request, answer.substr(0, answer.size() - 2));
            }
        }
        ASSERT_TRUE(read && read->value);
        EXPECT_EQ(*read->value, bus.Counts(drop).crcErrors);
    }
}

TEST(ControllerCounters, EachCounterReadsBackAsTheControllerCountedIt) {
    SimulatedBus bus = NoisyLine(0.0);
    Instant end{};
    for (int poll = 0; poll < 10; ++poll) {
        Ask(bus, ReadHoldingRequest(2, 0, 1), end);
    }
    Ask(bus, ReadHoldingRequest(2, 20000, 1), end);            // refused: no such register
    Ask(bus, WithCrc(std::string("\0\x06\0\0\0\1", 6)), end);  // a broadcast write
    // Each read is a message for the controller too, counted before it answers: the first is
    // the thirteenth it heard, the fourth the sixteenth for it.
    const std::pair<int, int> expected[] = {
        {BusMessageCount, 13}, {BusCrcErrorCount, 0}, {0x0D, 1}, {0x0E, 16}, {0x0F, 1}, {0x10, 0}};
    for (const auto& [subFunction, value] : expected) {
        SCOPED_TRACE(subFunction);
        const std::string request = DiagnosticsRequest(2, subFunction);
        const std::string answer = Ask(bus, WithCrc(request), end);
        ASSERT_TRUE(CrcHolds(answer));
        const auto read = ReadCounterAnswer(request, answer.substr(0, answer.size() - 2));
        ASSERT_TRUE(read && read->value);
        EXPECT_EQ(*read->value, value);
    }
}

TEST(ControllerCounters, ClearingSetsEveryCounterOfThatControllerOnlyBackToZero) {
    SimulatedBus bus = NoisyLine(0.0);
    Instant end{};
    for (int poll = 0; poll < 5; ++poll) {
        Ask(bus, ReadHoldingRequest(1, 0, 1), end);
    }
    const std::string clear = WithCrc(DiagnosticsRequest(1, ClearCountersSubFunction));
    EXPECT_EQ(HexText(Ask(bus, clear, end)), HexText(clear));  // the echo
    EXPECT_EQ(bus.Counts(0).busMessages, 0);
    EXPECT_EQ(bus.Counts(0).addressed, 0);
    EXPECT_EQ(bus.Counts(1).busMessages, 6);  // the others heard the clear as a message
    const std::string read = DiagnosticsRequest(1, BusMessageCount);
    const std::string answer = Ask(bus, WithCrc(read), end);
    EXPECT_EQ(ReadCounterAnswer(read, answer.substr(0, answer.size() - 2))->value, 1);
}

TEST(ControllerCounters, SilentAndRefusingControllersCountWhatTheyDidNotAnswer) {
    SimulatedController silent{"1", 2ms, ControllerFault::Silent};
    SimulatedController refusing{"2", 2ms, ControllerFault::Exception};
    SimulatedBus bus({silent, refusing}, 0.0, 1, *ProtocolAt(1));
    Instant end{};
    for (int poll = 0; poll < 4; ++poll) {
        EXPECT_TRUE(Ask(bus, ReadHoldingRequest(1, 0, 1), end).empty());
        EXPECT_EQ(Ask(bus, ReadHoldingRequest(2, 0, 1), end).size(), 5u);
    }
    EXPECT_EQ(bus.Counts(0).notAnswered, 4);
    EXPECT_EQ(bus.Counts(0).exceptions, 0);
    EXPECT_EQ(bus.Counts(1).exceptions, 4);
    EXPECT_EQ(bus.Counts(1).notAnswered, 0);
    EXPECT_EQ(bus.Counts(1).busMessages, 8);
}

TEST(ControllerCounters, AnAsciiControllerCountsItsBadFramesAndAnswersInAscii) {
    SimulatedController controller{"1", 2ms};
    SimulatedBus bus({controller}, 0.0, 1, *ProtocolAt(3));
    Instant end{};
    Ask(bus, ":0103000000010B\r\n", end);  // a bad LRC: the read's is FB
    Ask(bus, ":010300000001FB\r\n", end);
    Ask(bus, ":0103:010300000001FB\r\n", end);  // cut by a new ':'
    EXPECT_EQ(bus.Counts(0).crcErrors, 2);
    EXPECT_EQ(bus.Counts(0).busMessages, 2);  // the sound ones
    EXPECT_EQ(Ask(bus, ":0108000B0000EC\r\n", end), ":0108000B0003E9\r\n");
}

TEST(ControllerIdentity, AControllerTellsWhoItIsOrRefusesTheQuestion) {
    SimulatedController known{"17", 2ms};
    known.serverId = "TC100";
    known.vendor = "Acme Controls";
    known.productCode = "TC-100";
    known.revision = "2.1";
    SimulatedController unknown{"18", 2ms};
    SimulatedBus bus({known, unknown}, 0.0, 1, *ProtocolAt(1));
    Instant end{};

    const std::string serverId = ServerIdRequest(17);
    std::string answer = Ask(bus, WithCrc(serverId), end);
    const auto server = ReadServerIdAnswer(serverId, answer.substr(0, answer.size() - 2));
    ASSERT_TRUE(server && server->serverId);
    EXPECT_EQ(server->serverId->id, "TC100");

    const std::string deviceId = DeviceIdRequest(17);
    answer = Ask(bus, WithCrc(deviceId), end);
    const auto device = ReadDeviceIdAnswer(deviceId, answer.substr(0, answer.size() - 2));
    ASSERT_TRUE(device);
    DeviceIdentity identity;
    AddObjects(identity, device->objects);
    EXPECT_EQ(
        IdentityText(server->serverId, identity),
        IdentityText(ServerId{"TC100", true}, DeviceIdentity{"Acme Controls", "TC-100", "2.1"}));

    // Without one, the question is an illegal function.
    answer = Ask(bus, WithCrc(ServerIdRequest(18)), end);
    EXPECT_EQ(ReadServerIdAnswer(ServerIdRequest(18), answer.substr(0, 3))->exceptionCode, 1);
    answer = Ask(bus, WithCrc(DeviceIdRequest(18)), end);
    EXPECT_EQ(ReadDeviceIdAnswer(DeviceIdRequest(18), answer.substr(0, 3))->exceptionCode, 1);
}

TEST(ControllerCounters, ADescriptionPlacesTheControllersAndTheNoise) {
    const auto read = ParseSimulatedLine(
        R"({"protocol": "modbus-rtu", "lineNoise": 0.01, "noisePosition": 450,
            "controllers": [{"address": 1, "position": 0},
                            {"address": 2, "position": 900, "serverId": "TC100",
                             "vendor": "Acme", "productCode": "TC-100", "revision": "2.1"}]})",
        "line.json");
    ASSERT_TRUE(std::holds_alternative<SimulatedLine>(read)) << std::get<std::string>(read);
    const SimulatedLine& line = std::get<SimulatedLine>(read);
    EXPECT_EQ(line.noisePosition, 450.0);
    EXPECT_EQ(line.controllers[1].position, 900.0);
    EXPECT_EQ(line.controllers[1].vendor, "Acme");

    const std::pair<const char*, const char*> refused[] = {
        {R"({"protocol": "modbus-rtu", "controllers": [{"address": 1, "position": -1}]})",
         "line.json:1: controllers[0].position: -1 is out of range (0 to 10000)"},
        {R"({"protocol": "modbus-rtu", "controllers": [{"address": 1, "vendor": "A\tB"}]})",
         "line.json:1: controllers[0].vendor: \"A?B\" holds a character that is not printable "
         "ASCII"},
        // A frame without a closing character cannot lose it.
        {R"({"protocol": "modbus-rtu", "controllers": [{"address": 1, "fault": "garbledLastChar"}]})",
         "line.json:1: controllers[0].fault: \"garbledLastChar\" is none of \"none\", \"silent\", "
         "\"shortAnswer\", \"badCrc\", \"exception\", \"silenceInside\" or \"otherAddress\""},
    };
    for (const auto& [text, message] : refused) {
        const auto refusal = ParseSimulatedLine(text, "line.json");
        ASSERT_TRUE(std::holds_alternative<std::string>(refusal)) << text;
        EXPECT_EQ(std::get<std::string>(refusal), message);
    }
    // An ASCII frame's last character is its line feed.
    EXPECT_TRUE(std::holds_alternative<SimulatedLine>(ParseSimulatedLine(
        R"({"protocol": "modbus-ascii", "controllers": [{"address": 1, "fault": "garbledLastChar"}]})",
        "line.json")));
}

}  // namespace
}  // namespace tarvel
