// SPDX-License-Identifier: GPL-3.0-or-later
// Simulated Modbus lines: their descriptions and refusals, each fault of a
// controller as bytes on the bus (the CRCs below were worked out apart from the program), and
// the simulated master's polls as a listener's decoder reads them.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "core/HexText.h"
#include "protocol/modbus/ModbusRtuDecoder.h"
#include "sim/SimulatedLineFile.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;
constexpr Duration kChar = 1ms;

std::string Bytes(std::string_view hex) { return hex.empty() ? "" : BytesOfHex(hex).value(); }

SimulatedLine Read(const std::string& text) {
    auto read = ParseSimulatedLine(text, "line.json");
    if (const auto* error = std::get_if<std::string>(&read)) {
        ADD_FAILURE() << *error;
        return {};
    }
    return std::get<SimulatedLine>(read);
}

std::string Refusal(const std::string& text) {
    auto read = ParseSimulatedLine(text, "line.json");
    if (const auto* error = std::get_if<std::string>(&read)) {
        return *error;
    }
    return "(read)";
}

// The frame sent from `end` on, a character a millisecond, and what comes back.
std::vector<TimedByte> Send(SimulatedBus& bus, const std::string& frame, Instant& end) {
    std::vector<TimedByte> back;
    for (const char c : frame) {
        end += kChar;
        for (const TimedByte& byte : bus.HostCharacter(static_cast<std::uint8_t>(c), end, kChar,
                                                       HostWire{9600, std::nullopt})) {
            back.push_back(byte);
        }
    }
    return back;
}

std::string Text(const std::vector<TimedByte>& bytes) {
    std::string text;
    for (const TimedByte& byte : bytes) {
        text.push_back(static_cast<char>(byte.byte));
    }
    return text;
}

// Reads holding register 0 of station 17: 11 03 00 00 00 01, CRC 86 9A.
const std::string kRead17 = "11 03 00 00 00 01 86 9A";

TEST(ModbusLineFile, EveryMemberShapesAModbusLine) {
    const SimulatedLine line = Read(R"({
        "protocol": "modbus-rtu",
        "controllers": [
            { "address": 17, "baud": 19200, "parity": "even", "answerDelayMs": 3,
              "registers": { "0": 123, "40": 65535 } },
            { "address": 1, "fault": "exception", "exceptionCode": 6 },
            { "address": 2, "fault": "badCrc", "faultRate": 0.1 },
            { "address": 3, "fault": "silenceInside", "silenceMs": 12 },
            { "address": 247, "fault": "otherAddress" },
            { "address": 4, "fault": "shortAnswer" },
            { "address": 5, "fault": "silent" }
        ],
        "master": { "baud": 115200, "parity": "odd", "writeEvery": 4, "broadcastEvery": 9,
                    "turnaroundMs": 80, "addresses": [17, 1, 200] }
    })");
    EXPECT_EQ(line.protocol, 1);
    ASSERT_EQ(line.controllers.size(), 7u);
    const SimulatedController& first = line.controllers[0];
    EXPECT_EQ(first.address, "17");
    EXPECT_EQ(first.baud, 19200);
    EXPECT_EQ(first.framing, (Framing{8, Parity::Even}));  // RTU is 8E1, not 7E1
    EXPECT_EQ(first.answerDelay, 3ms);
    EXPECT_EQ(first.registers, (std::map<int, int>{{0, 123}, {40, 65535}}));
    EXPECT_EQ(line.controllers[1].fault, ControllerFault::Exception);
    EXPECT_EQ(line.controllers[1].exceptionCode, 6);
    EXPECT_EQ(line.controllers[2].fault, ControllerFault::BadCrc);
    EXPECT_EQ(line.controllers[2].faultRate, 0.1);
    EXPECT_EQ(line.controllers[3].fault, ControllerFault::SilenceInside);
    EXPECT_EQ(line.controllers[3].insideSilence, 12ms);
    EXPECT_EQ(line.controllers[4].address, "247");
    EXPECT_EQ(line.controllers[4].fault, ControllerFault::OtherAddress);
    EXPECT_EQ(line.controllers[5].fault, ControllerFault::ShortAnswer);
    ASSERT_TRUE(line.master.has_value());
    EXPECT_EQ(line.master->settings, (LineSettings{115200, Parity::Odd, 8, 1}));
    EXPECT_EQ(MasterSettingsText(*line.master), "115200 8O1");
    EXPECT_EQ(line.master->schedule.writeEvery, 4);
    EXPECT_EQ(line.master->schedule.broadcastEvery, 9);
    EXPECT_EQ(line.master->schedule.turnaround, 80ms);
    EXPECT_EQ(line.master->schedule.addresses, (std::vector<std::string>{"17", "1", "200"}));
    EXPECT_EQ(&BusOf(line).BusProtocol(), ProtocolAt(1));
    EXPECT_EQ(SimulatedLineSummary(line),
              "MB RTU controllers 17 only at 19200 8E, 1 answering exception 6 (server device "
              "busy), 2 with a bad CRC at times, 3 pausing inside its answers, 247 answering with "
              "another address, 4 answering short, 5 silent");

    // JBus takes addresses up to 255; a line says Ascon unless told, and may say so.
    EXPECT_EQ(Read(R"({"protocol": "jbus-rtu", "controllers": [{"address": 255}]})").protocol, 2);
    EXPECT_EQ(Read(R"({"protocol": "ascon", "controllers": [{"address": "A"}]})").protocol, 0);
    EXPECT_EQ(Read(R"({"controllers": []})").protocol, 0);
    EXPECT_EQ(SimulatedLineSummary(Read(R"({"protocol": "jbus-rtu", "controllers": []})")),
              "JB RTU, no controllers");
}

TEST(ModbusLineFile, AWrongModbusDescriptionIsRefusedNamingTheLineAndTheMember) {
    const std::pair<const char*, const char*> cases[] = {
        {R"({"protocol": "modbus", "controllers": []})",
         "line.json:1: protocol: \"modbus\" is none of \"ascon\", \"modbus-rtu\", \"jbus-rtu\", "
         "\"modbus-ascii\" or \"jbus-ascii\""},
        {R"({"protocol": "modbus-rtu", "controllers": [{"address": "A"}]})",
         "line.json:1: controllers[0].address: must be a station address, 1 to 247, not a "
         "string"},
        {R"({"protocol": "modbus-rtu", "controllers": [{"address": 0}]})",
         "line.json:1: controllers[0].address: 0 is not a station address, 1 to 247"},
        {R"({"protocol": "modbus-rtu", "controllers": [{"address": 248}]})",
         "line.json:1: controllers[0].address: 248 is not a station address, 1 to 247"},
        {R"({"protocol": "jbus-rtu", "controllers": [{"address": 256}]})",
         "line.json:1: controllers[0].address: 256 is not a station address, 1 to 255"},
        {R"({"protocol": "modbus-rtu", "controllers": [{"address": 2.5}]})",
         "line.json:1: controllers[0].address: 2.5 is not a station address, 1 to 247"},
        {"{\"protocol\": \"modbus-rtu\", \"controllers\": [{\"address\": 17},\n{\"address\": 17}]}",
         "line.json:2: controllers[1].address: 17 is the address of controllers[0] already"},
        {R"({"protocol": "modbus-rtu", "controllers": [{"address": 1, "baud": 150}]})",
         "line.json:1: controllers[0].baud: 150 is no speed of a Modbus line (1200, 2400, 4800, "
         "9600, 19200, 38400, 57600, 115200)"},
        {R"({"protocol": "modbus-rtu", "controllers": [{"address": 1, "dataBits": 7}]})",
         "line.json:1: controllers[0].dataBits: RTU characters always have 8 data bits"},
        {R"({"protocol": "modbus-rtu", "controllers": [{"address": 1, "fault": "extraChars"}]})",
         "line.json:1: controllers[0].fault: \"extraChars\" is none of \"none\", \"silent\", "
         "\"shortAnswer\", \"badCrc\", \"exception\", \"silenceInside\" or \"otherAddress\""},
        {R"({"protocol": "modbus-rtu", "controllers": [{"address": 1, "exceptionCode": 2}]})",
         "line.json:1: controllers[0].exceptionCode: goes with the fault \"exception\" only"},
        {R"({"protocol": "modbus-rtu", "controllers": [{"address": 1, "fault": "exception",
             "exceptionCode": 0}]})",
         "line.json:2: controllers[0].exceptionCode: 0 is out of range (1 to 255)"},
        {R"({"protocol": "modbus-rtu", "controllers": [{"address": 1, "silenceMs": 9}]})",
         "line.json:1: controllers[0].silenceMs: goes with the fault \"silenceInside\" only"},
        {R"({"protocol": "modbus-rtu", "controllers": [{"address": 1, "registers": [1]}]})",
         "line.json:1: controllers[0].registers: must be an object of register addresses and "
         "their values, { \"0\": 123 }, not an array"},
        {R"({"protocol": "modbus-rtu", "controllers": [{"address": 1, "registers": {"x": 1}}]})",
         "line.json:1: controllers[0].registers.x: \"x\" is no register address of controller "
         "1, which holds \"0\" to \"9999\""},
        // The controller would refuse a read of it with exception 2 before its value is read.
        {R"({"protocol": "modbus-rtu", "controllers": [{"address": 7, "registers": {"10000": 1}}]})",
         "line.json:1: controllers[0].registers.10000: \"10000\" is no register address of "
         "controller 7, which holds \"0\" to \"9999\""},
        {R"({"protocol": "modbus-rtu", "controllers": [{"address": 1, "registers": {"3": 65536}}]})",
         "line.json:1: controllers[0].registers.3: 65536 is no value of a holding register of "
         "controller 1, 0 to 65535"},
        {R"({"protocol": "modbus-rtu", "controllers": [{"address": 2, "registers": {"3": -1}}]})",
         "line.json:1: controllers[0].registers.3: -1 is no value of a holding register of "
         "controller 2, 0 to 65535"},
        {R"({"protocol": "modbus-rtu", "controllers": [{"address": 1, "protocol": "modbus"}]})",
         "line.json:1: controllers[0].protocol: \"modbus\" is none of \"ascon\", \"modbus-rtu\", "
         "\"jbus-rtu\", \"modbus-ascii\" or \"jbus-ascii\""},
        // An Ascon controller on a Modbus line is known by an Ascon address.
        {R"({"protocol": "modbus-rtu", "controllers": [{"address": 1, "protocol": "ascon"}]})",
         "line.json:1: controllers[0].address: must be a bus address: one character, A to Z, "
         "[ \\ ] ^ _ ` a to ~, \\u007f or @, not a number"},
        {R"({"protocol": "modbus-rtu", "controllers": [{"address": 1, "adress": 2}]})",
         "line.json:1: controllers[0].adress: unknown member (did you mean \"address\"?); "
         "controllers[0] has address, position, baud, parity, dataBits, answerDelayMs, "
         "delaySpreadMs, "
         "fault, faultRate, exceptionCode, silenceMs, noise, registers, serverId, vendor, "
         "productCode, revision"},
        {R"({"protocol": "modbus-rtu", "controllers": [], "noise": 1})",
         "line.json:1: noise: unknown member; a line description has protocol, controllers, "
         "lineNoise, noisePosition, seed, echo, master"},
        {R"({"protocol": "modbus-rtu", "controllers": [], "master": {"writeParameter": "SP "}})",
         "line.json:1: master.writeParameter: unknown member; master has baud, parity, dataBits, "
         "stopBits, pollGapMs, answerTimeoutMs, writeEvery, broadcastEvery, turnaroundMs, "
         "addresses"},
        {R"({"protocol": "modbus-rtu", "controllers": [], "master": {"addresses": [0]}})",
         "line.json:1: master.addresses[0]: 0 is not a station address, 1 to 247"},
        // An Ascon line knows nothing of registers, and says what it always said.
        {R"({"controllers": [{"address": "A", "registers": {}}]})",
         "line.json:1: controllers[0].registers: unknown member; controllers[0] has address, "
         "position, baud, parity, dataBits, answerDelayMs, delaySpreadMs, fault, faultRate, noise"},
        {R"({"controllers": [], "protocole": "ascon"})",
         "line.json:1: protocole: unknown member (did you mean \"protocol\"?); a line "
         "description has controllers, lineNoise, noisePosition, seed, echo, master"},
    };
    for (const auto& [text, message] : cases) {
        EXPECT_EQ(Refusal(text), message) << text;
    }
}

TEST(ModbusBus, TwoProtocolsOnOneWireEachAnswerOnlyTheirOwnRequests) {
    const SimulatedLine line = Read(R"({"protocol": "modbus-rtu", "controllers": [
        {"address": 17, "registers": {"0": 123}},
        {"address": "A", "protocol": "ascon", "answerDelayMs": 5}]})");
    ASSERT_EQ(line.controllers.size(), 2u);
    EXPECT_EQ(line.controllers[0].protocol, nullptr);
    ASSERT_NE(line.controllers[1].protocol, nullptr);
    EXPECT_EQ(line.controllers[1].protocol->CommandName(), "ascon");
    EXPECT_EQ(SimulatedLineSummary(line), "MB RTU controllers 17 healthy, A speaking Ascon");
    SimulatedBus bus = BusOf(line);
    Instant end{};
    // Each hears the other's request as noise and keeps silent; its own it answers.
    EXPECT_EQ(HexText(Text(Send(bus, Bytes(kRead17), end))), "11 03 02 00 7B 39 A4");
    end += 100ms;
    // The Modbus frame was noise in front of the Ascon controller's next frame, until a carriage
    // return ends it (as the settle frame does between exchanges).
    EXPECT_EQ(Text(Send(bus, "A?X  \r", end)), "");
    end += 100ms;
    const std::string ascon = Text(Send(bus, "A?X  \r", end));
    ASSERT_EQ(ascon.size(), 5u);
    EXPECT_EQ(ascon.front(), 'A');
    EXPECT_EQ(ascon.back(), '\r');
    end += 100ms;
    // The Modbus frame to address 65 ("A") is nothing to the Ascon controller.
    EXPECT_EQ(Text(Send(bus, Bytes("41 03 00 00 00 01 8A CA"), end)), "");
    end += 100ms;
    EXPECT_EQ(HexText(Text(Send(bus, Bytes(kRead17), end))), "11 03 02 00 7B 39 A4");
    // The line's master polls its own protocol's controllers only.
    SimulatedMaster master(BusOf(line), MasterSchedule{}, LineSettings{});
    Instant start{};
    for (int i = 0; i < 5; ++i) {
        master.NextPoll(start);
        start += 1s;
    }
    for (const MasterPoll& poll : master.Log()) {
        EXPECT_TRUE(poll.address == "17" || poll.address == "0") << poll.address;
    }
}

TEST(ModbusLineFile, TheBuiltInLineAndTheExampleSayWhatTheyAre) {
    const SimulatedLine modbus = BuiltInLine(1);
    EXPECT_EQ(modbus.protocol, 1);
    EXPECT_EQ(SimulatedLineSummary(modbus),
              "MB RTU controllers 1, 2, 5 healthy, 3 silent, 4 noisy");
    const SimulatedLine ascon = BuiltInLine();
    ASSERT_EQ(modbus.controllers.size(), ascon.controllers.size());
    for (std::size_t i = 0; i < ascon.controllers.size(); ++i) {
        EXPECT_EQ(modbus.controllers[i].address, std::to_string(i + 1));
        EXPECT_EQ(modbus.controllers[i].answerDelay, ascon.controllers[i].answerDelay);
        EXPECT_EQ(modbus.controllers[i].fault, ascon.controllers[i].fault);
        EXPECT_EQ(modbus.controllers[i].noise, ascon.controllers[i].noise);
    }
    EXPECT_EQ(SimulatedLineSummary(BuiltInLine(2)),
              "JB RTU controllers 1, 2, 5 healthy, 3 silent, 4 noisy");

    auto example =
        ReadSimulatedLineFile(std::string(TARVEL_EXAMPLES_DIR) + "/modbus-training-line.json");
    ASSERT_TRUE(std::holds_alternative<SimulatedLine>(example)) << std::get<std::string>(example);
    EXPECT_EQ(SimulatedLineSummary(std::get<SimulatedLine>(example)),
              "MB RTU controllers 1, 2 healthy, 3 silent, 4 noisy, 5 answering exception 2 "
              "(illegal data address), 6 with a bad CRC at times, all only at 9600 8E");
}

// A controller at 17 whose register 0 holds 123 (00 7B), with `fault`.
SimulatedBus FaultyBus(ControllerFault fault, int protocol = 1) {
    SimulatedController controller{"17", 5ms, fault};
    controller.registers = {{0, 123}};
    controller.exceptionCode = 2;
    return SimulatedBus({controller}, 0.0, 1, *ProtocolAt(protocol));
}

TEST(ModbusBus, EachFaultShowsAsItsBytesOnTheBus) {
    const std::pair<ControllerFault, const char*> cases[] = {
        {ControllerFault::None, "11 03 02 00 7B 39 A4"},
        {ControllerFault::BadCrc, "11 03 02 00 7B 39 5B"},        // the CRC's high byte inverted
        {ControllerFault::Exception, "11 83 02 C1 34"},           // illegal data address
        {ControllerFault::OtherAddress, "12 03 02 00 7B 7D A4"},  // from 18, CRC and all
        {ControllerFault::ShortAnswer, "11 03 02"},
        {ControllerFault::Silent, ""},
        {ControllerFault::SilenceInside, "11 03 02 00 7B 39 A4"},
    };
    for (const auto& [fault, answer] : cases) {
        SCOPED_TRACE(answer);
        SimulatedBus bus = FaultyBus(fault);
        Instant end{};
        const std::vector<TimedByte> back = Send(bus, Bytes(kRead17), end);
        EXPECT_EQ(HexText(Text(back)), HexText(Bytes(answer)));
        if (back.empty()) {
            continue;
        }
        // After the delay, a character a millisecond; the silence inside stops the answer 50 ms
        // after its third byte.
        EXPECT_EQ(back[0].end, end + 5ms + kChar);
        for (std::size_t i = 1; i < back.size(); ++i) {
            const Duration pause = fault == ControllerFault::SilenceInside && i == 3 ? 50ms : 0ms;
            EXPECT_EQ(back[i].end - back[i - 1].end, kChar + pause) << i;
        }
    }
    // The last station's other address is the first one.
    SimulatedController last{"247", 5ms, ControllerFault::OtherAddress};
    last.registers = {{0, 123}};
    SimulatedBus bus({last}, 0.0, 1, *ProtocolAt(1));
    Instant end{};
    EXPECT_EQ(HexText(Text(Send(bus, Bytes("F7 03 00 00 00 01 90 9C"), end))),
              "01 03 02 00 7B F8 67");
}

TEST(ModbusBus, OnAnAsciiLineTheFaultsSpoilTheBytesOrTheCharactersOnTheWire) {
    // 11 03 02 00 7B, LRC 0x6F; the refusal 11 83 02, LRC 0x6A; from 18, LRC 0x6E.
    const std::pair<ControllerFault, const char*> cases[] = {
        {ControllerFault::None, ":110302007B6F\r\n"},
        {ControllerFault::BadCrc, ":110302007B60\r\n"},  // the LRC's last digit made another
        {ControllerFault::Exception, ":1183026A\r\n"},
        {ControllerFault::OtherAddress, ":120302007B6E\r\n"},
        {ControllerFault::ShortAnswer, ":11"},
        {ControllerFault::GarbledLastChar, ":110302007B6F\r\r"},
        {ControllerFault::ExtraChars, ":110302007B6F\r\n\r\n"},
        {ControllerFault::Silent, ""},
    };
    for (const auto& [fault, answer] : cases) {
        SCOPED_TRACE(answer);
        SimulatedBus bus = FaultyBus(fault, 3);
        Instant end{};
        EXPECT_EQ(Text(Send(bus, ":110300000001EB\r\n", end)), answer);
    }
}

TEST(ModbusBus, RegistersReadAsGivenAndTheOthersAsTheResponderHasThem) {
    SimulatedBus bus = FaultyBus(ControllerFault::None);
    Instant end{};
    // Registers 0 and 1: 123 given, then the responder's reading plus the register's address.
    EXPECT_EQ(HexText(Text(Send(bus, Bytes("11 03 00 00 00 02 C6 9B"), end))),
              "11 03 04 00 7B 00 C7 DA 79");
    // A write is acknowledged as ever, a broadcast and a frame with a bad CRC go unanswered.
    EXPECT_EQ(HexText(Text(Send(bus, Bytes("11 06 00 00 00 05 4B 59"), end))),
              "11 06 00 00 00 05 4B 59");
    EXPECT_TRUE(Send(bus, Bytes("00 06 00 00 00 05 48 18"), end).empty());
    EXPECT_TRUE(Send(bus, Bytes("11 03 00 00 00 01 86 9B"), end).empty());
    // JBus answers its stations up to 255.
    SimulatedController high{"255", 5ms};
    high.registers = {{0, 123}};
    SimulatedBus jbus({high}, 0.0, 1, *ProtocolAt(2));
    EXPECT_EQ(HexText(Text(Send(jbus, Bytes("FF 03 00 00 00 01 91 D4"), end))),
              "FF 03 02 00 7B D1 B3");
}

// What a listener's decoder made of a master's polls.
struct Heard {
    std::optional<ModbusRtuDecoder> decoder;
    std::vector<Exchange> exchanges;
};

// `master` polls for `span`, its bytes fed to a decoder of stations up to `lastAddress` as
// they end.
Heard Listen(SimulatedMaster& master, Duration span, int lastAddress = 247) {
    Heard heard;
    heard.decoder.emplace(DecoderSettings{CharacterTime(master.Settings()), 200ms, 10, 25ms}, "RTU",
                          lastAddress);
    const auto take = [&] {
        for (Exchange& exchange : heard.decoder->TakeExchanges()) {
            heard.exchanges.push_back(std::move(exchange));
        }
    };
    Instant now{};
    while (now < Instant{} + span) {
        for (const TimedByte& byte : master.NextPoll(now)) {
            heard.decoder->Feed(byte.byte, byte.end);
        }
        now = master.ReadyAt();
        heard.decoder->Advance(now);
        take();
    }
    heard.decoder->Advance(now + 1s);
    take();
    return heard;
}

// The decoder heard every request of the master's log, counted each for its station, and judged
// each exchange as CycleVerdictOf judges the poll. Returns how many of each verdict there were.
std::map<ExchangeVerdict, int> ExpectHeardAsLogged(const SimulatedMaster& master,
                                                   const Heard& heard) {
    std::map<int, std::int64_t> requests;
    std::int64_t broadcasts = 0;
    std::vector<const MasterPoll*> addressed;
    for (const MasterPoll& poll : master.Log()) {
        if (poll.broadcast) {
            ++broadcasts;
        } else {
            ++requests[std::stoi(poll.address)];
            addressed.push_back(&poll);
        }
    }
    EXPECT_EQ(heard.decoder->Broadcasts(), broadcasts);
    EXPECT_EQ(heard.decoder->Requests(), static_cast<std::int64_t>(addressed.size()));
    for (const auto& [station, count] : requests) {
        EXPECT_EQ(heard.decoder->PollsOf(station).requests, count) << station;
    }
    std::map<ExchangeVerdict, int> verdicts;
    EXPECT_EQ(heard.exchanges.size(), addressed.size());
    for (std::size_t i = 0; i < std::min(heard.exchanges.size(), addressed.size()); ++i) {
        const MasterPoll& poll = *addressed[i];
        const Exchange& exchange = heard.exchanges[i];
        SCOPED_TRACE("exchange " + std::to_string(i) + " to " + poll.address);
        EXPECT_EQ(exchange.request.stationText, poll.address);
        EXPECT_EQ(exchange.request.frame, poll.request);
        EXPECT_EQ(exchange.verdict, CycleVerdictOf(poll));
        if (exchange.verdict == ExchangeVerdict::Good) {
            EXPECT_EQ(exchange.answer, poll.answer);
        }
        if (::testing::Test::HasFailure()) {
            break;  // one exchange's story is enough
        }
        ++verdicts[exchange.verdict];
    }
    return verdicts;
}

// A Modbus line at 9600 8E1 with one controller of each kind, polled by its master for ten
// minutes, its bytes fed to a listener's decoder.
struct ModbusMasterRun : ::testing::Test {
    SimulatedLine line = Read(R"({
        "protocol": "modbus-rtu",
        "controllers": [
            { "address": 1, "registers": { "0": 215 } },
            { "address": 2, "answerDelayMs": 9, "delaySpreadMs": 4 },
            { "address": 3, "fault": "silent" },
            { "address": 5, "fault": "exception", "exceptionCode": 2 },
            { "address": 6, "fault": "badCrc", "faultRate": 0.3 },
            { "address": 7, "fault": "silenceInside", "faultRate": 0.5 },
            { "address": 8, "fault": "shortAnswer", "faultRate": 0.2 }
        ],
        "seed": 3,
        "master": { "baud": 9600, "parity": "even", "writeEvery": 5, "broadcastEvery": 13,
                    "addresses": [1, 2, 3, 4, 5, 6, 7, 8] }
    })");
    SimulatedMaster master = MasterOf(line, line.master.value());
    Duration character = CharacterTime(master.Settings());
    Heard heard = Listen(master, 10min);
};

TEST_F(ModbusMasterRun, ItsRequestsAreTheReadsWritesAndBroadcastsOfItsSchedule) {
    const auto& log = master.Log();
    ASSERT_GT(log.size(), 1000u);
    int addressed = 0;
    int writes = 0;
    for (std::size_t i = 0; i < log.size(); ++i) {
        const MasterPoll& poll = log[i];
        SCOPED_TRACE("poll " + std::to_string(i));
        ASSERT_EQ(poll.protocol, ProtocolAt(1));
        ASSERT_EQ(poll.broadcast, (i + 1) % 13 == 0);
        if (poll.broadcast) {
            ASSERT_EQ(poll.address, "0");
            ASSERT_TRUE(poll.answer.empty());
            ASSERT_EQ(CycleVerdictOf(poll), ExchangeVerdict::Good);
        } else {
            ASSERT_EQ(poll.address, std::to_string(addressed % 8 + 1));
            ++addressed;
        }
        const auto station = static_cast<char>(std::stoi(poll.address));
        if (!poll.write) {
            ASSERT_EQ(poll.request,
                      std::string(1, station) + Bytes("03 00 00 00 01") + poll.request.substr(6));
            ASSERT_EQ(poll.request.size(), 8u);
        } else {
            // Register 0 written with function 6 and 16 in turn.
            ASSERT_EQ(poll.request[1], writes % 2 == 0 ? '\x06' : '\x10');
            ASSERT_EQ(poll.request.size(), writes % 2 == 0 ? 8u : 11u);
            ++writes;
        }
        if (poll.address == "1" && !poll.write) {
            ASSERT_EQ(HexText(poll.answer), "01 03 02 00 D7 F8 1A");
        }
        if (poll.address == "4") {
            ASSERT_TRUE(poll.answer.empty());  // nobody is at 4
            ASSERT_EQ(CycleVerdictOf(poll), ExchangeVerdict::NoAnswer);
        }
    }
    EXPECT_EQ(HexText(log[0].request), "01 03 00 00 00 01 84 0A");
    EXPECT_EQ(HexText(log[4].request), "05 06 00 00 00 00 88 4E");           // the first write
    EXPECT_EQ(HexText(log[9].request), "02 10 00 00 00 01 02 00 25 73 7B");  // the second
    EXPECT_EQ(HexText(log[12].request), "00 06 00 00 00 4A 09 EC");          // a broadcast
    EXPECT_GT(writes, 200);
}

TEST_F(ModbusMasterRun, EachRequestStartsAfterTheSilenceOfTheLineAndWaitsForItsAnswer) {
    const auto& log = master.Log();
    const Duration gap = std::max(Duration(20ms), modbus::FrameGap(character));
    for (std::size_t i = 1; i < log.size(); ++i) {
        const MasterPoll& before = log[i - 1];
        const MasterPoll& poll = log[i];
        SCOPED_TRACE("poll " + std::to_string(i));
        const Instant start =
            poll.requestEnd - character * static_cast<std::int64_t>(poll.request.size());
        Instant waitEnd = before.requestEnd + (before.broadcast ? 100ms : 200ms);
        if (before.answerLast) {
            // Whole by its length, even when a silence inside cut it.
            Request asked;
            asked.frame = before.request;
            const bool whole = static_cast<int>(before.answer.size()) >=
                               before.protocol->AnswerLength(asked, before.answer);
            waitEnd = whole ? *before.answerLast : std::max(waitEnd, *before.answerLast);
        }
        ASSERT_EQ(start, waitEnd + gap);
    }
}

TEST_F(ModbusMasterRun, TheDecoderHearsEveryPollAndJudgesItAsTheMasterLogSays) {
    std::map<ExchangeVerdict, int> verdicts = ExpectHeardAsLogged(master, heard);
    // Every fault of the line showed; the silence inside an answer is longer than its host's
    // delays, so a listener tells it as the master's own check does.
    EXPECT_GT(verdicts[ExchangeVerdict::Good], 500);
    EXPECT_GT(verdicts[ExchangeVerdict::NoAnswer], 100);
    EXPECT_GT(verdicts[ExchangeVerdict::BadCrc], 10);
    EXPECT_GT(verdicts[ExchangeVerdict::Cut], 10);
    int exceptions = 0;
    for (const Exchange& exchange : heard.exchanges) {
        exceptions += exchange.exceptionCode == 2 ? 1 : 0;
        if (exchange.exceptionCode) {
            EXPECT_EQ(exchange.request.stationText, "5");
        }
    }
    EXPECT_GT(exceptions, 100);
}

TEST(ModbusMaster, AnAnswerFromAnotherAddressIsHeardAsTheMasterLogsIt) {
    // A write's echo from another address would be that address's own write request, as any
    // listener reads it: the master here only reads.
    SimulatedLine line = Read(R"({
        "protocol": "jbus-rtu",
        "controllers": [ { "address": 1 }, { "address": 255, "fault": "otherAddress",
                                             "faultRate": 0.5 } ],
        "master": { "baud": 19200, "writeEvery": 0, "broadcastEvery": 7 }
    })");
    SimulatedMaster master = MasterOf(line, line.master.value());
    const Heard heard = Listen(master, 1min, 255);
    std::map<ExchangeVerdict, int> verdicts = ExpectHeardAsLogged(master, heard);
    EXPECT_GT(verdicts[ExchangeVerdict::WrongSource], 50);
    EXPECT_GT(verdicts[ExchangeVerdict::Good], 500);
    for (const MasterPoll& poll : master.Log()) {
        // The last station's other address is the first.
        if (poll.address == "255" && CycleVerdictOf(poll) == ExchangeVerdict::WrongSource) {
            EXPECT_EQ(poll.answer[0], '\x01');
        }
    }
}

}  // namespace
}  // namespace tarvel
