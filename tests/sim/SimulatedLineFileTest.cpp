// SPDX-License-Identifier: GPL-3.0-or-later
// Simulated lines described in JSON: what each member makes of the line, the defaults, every
// refusal with its file, line and member, the files themselves, the examples shipped, and the
// spread of the answer delay.

#include "sim/SimulatedLineFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "sim/PtyBusHost.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;

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

std::string Example(const std::string& name) {
    return std::string(TARVEL_EXAMPLES_DIR) + "/" + name;
}

TEST(SimulatedLineFile, EveryMemberShapesTheLine) {
    const SimulatedLine line = Read(R"({
        "controllers": [
            { "address": "@", "baud": 2400, "parity": "odd", "dataBits": 8,
              "answerDelayMs": 12.5, "delaySpreadMs": 3, "fault": "shortAnswer",
              "faultRate": 0.25, "noise": 0.01 },
            { "address": "\u007f", "fault": "garbledLastChar" },
            { "address": "a", "fault": "extraChars" },
            { "address": "B", "fault": "silent" }
        ],
        "lineNoise": 0.001, "seed": 42, "echo": true,
        "master": { "baud": 4800, "parity": "even", "stopBits": 2, "pollGapMs": 35,
                    "answerTimeoutMs": 150, "writeEvery": 0, "addresses": ["B", "@", "Z"],
                    "writeParameter": "OUT", "valueDelayMs": 20 }
    })");
    ASSERT_EQ(line.controllers.size(), 4u);
    const SimulatedController& first = line.controllers[0];
    EXPECT_EQ(first.address, "@");
    EXPECT_EQ(first.baud, 2400);
    ASSERT_TRUE(first.framing.has_value());
    EXPECT_EQ(*first.framing, (Framing{8, Parity::Odd}));
    EXPECT_EQ(first.answerDelay, 12500us);
    EXPECT_EQ(first.delaySpread, 3ms);
    EXPECT_EQ(first.fault, ControllerFault::ShortAnswer);
    EXPECT_EQ(first.faultRate, 0.25);
    EXPECT_EQ(first.noise, 0.01);
    EXPECT_EQ(line.controllers[1].address, "\x7f");
    EXPECT_EQ(line.controllers[1].fault, ControllerFault::GarbledLastChar);
    EXPECT_EQ(line.controllers[2].address, "a");
    EXPECT_EQ(line.controllers[2].fault, ControllerFault::ExtraChars);
    EXPECT_EQ(line.controllers[3].fault, ControllerFault::Silent);
    EXPECT_EQ(line.lineNoise, 0.001);
    EXPECT_EQ(line.seed, 42u);
    EXPECT_TRUE(line.echo);
    ASSERT_TRUE(line.master.has_value());
    EXPECT_EQ(line.master->settings, (LineSettings{4800, Parity::Even, 7, 2}));
    EXPECT_EQ(line.master->schedule.pollGap, 35ms);
    EXPECT_EQ(line.master->schedule.answerTimeout, 150ms);
    EXPECT_EQ(line.master->schedule.writeEvery, 0);
    EXPECT_EQ(line.master->schedule.addresses, (std::vector<std::string>{"B", "@", "Z"}));
    EXPECT_EQ(line.master->schedule.writeParameter, "OUT");
    EXPECT_EQ(line.master->schedule.valueDelay, 20ms);
    EXPECT_EQ(MasterSettingsText(*line.master), "4800 7E2");
    EXPECT_TRUE(BusOf(line).Echo());
}

TEST(SimulatedLineFile, OmittedMembersTakeTheDefaultsAndFramingPairsAsInThePortDialog) {
    const SimulatedLine line = Read(R"({ "controllers": [
        { "address": "A" }, { "address": "B", "parity": "even" }, { "address": "C", "dataBits": 7 }
    ], "master": {} })");
    const SimulatedController defaults;
    const SimulatedController& a = line.controllers[0];
    EXPECT_EQ(a.answerDelay, defaults.answerDelay);
    EXPECT_EQ(a.delaySpread, 0ns);
    EXPECT_EQ(a.fault, ControllerFault::None);
    EXPECT_EQ(a.faultRate, defaults.faultRate);
    EXPECT_EQ(a.noise, 0.0);
    EXPECT_EQ(a.baud, 0);
    EXPECT_FALSE(a.framing.has_value());
    EXPECT_EQ(line.controllers[1].framing, (Framing{7, Parity::Even}));
    EXPECT_EQ(line.controllers[2].framing, (Framing{7, Parity::None}));
    EXPECT_EQ(line.lineNoise, 0.0);
    EXPECT_EQ(line.seed, 1u);
    EXPECT_FALSE(line.echo);
    EXPECT_EQ(line.master->settings, LineSettings{});
    EXPECT_EQ(line.master->schedule.writeEvery, MasterSchedule{}.writeEvery);
    EXPECT_TRUE(Read(R"({"controllers": []})").controllers.empty());
    EXPECT_FALSE(Read(R"({"controllers": []})").master.has_value());
}

TEST(SimulatedLineFile, AWrongDescriptionIsRefusedNamingTheLineAndTheMember) {
    const std::pair<const char*, const char*> cases[] = {
        {"{\n \"controllers\": [\n  {\"address\": \"A\"},\n  {\"address\": \"B\", \"baud\": "
         "2500}\n ]\n}",
         "line.json:4: controllers[1].baud: 2500 is no speed of the port dialog (150, 300, 600, "
         "1200, 2400, 4800, 9600)"},
        {"{\"controllers\": [{\"address\": \"A\", \"baud\": \"9600\"}]}",
         "line.json:1: controllers[0].baud: must be a speed of the port dialog (150, 300, 600, "
         "1200, 2400, 4800, 9600), not a string"},
        {"{\"controllers\": [{\"adress\": \"A\"}]}",
         "line.json:1: controllers[0].adress: unknown member (did you mean \"address\"?); "
         "controllers[0] has address, position, baud, parity, dataBits, answerDelayMs, "
         "delaySpreadMs, "
         "fault, faultRate, noise"},
        {"{\"controllers\": [], \"linenoise\": 0.1}",
         "line.json:1: linenoise: unknown member (did you mean \"lineNoise\"?); a line "
         "description has controllers, lineNoise, noisePosition, seed, echo, master"},
        {"{\"controllers\": [], \"master\": {\"speed\": 9600}}",
         "line.json:1: master.speed: unknown member; master has baud, parity, dataBits, stopBits, "
         "pollGapMs, answerTimeoutMs, writeEvery, addresses, writeParameter, valueDelayMs"},
        {"{\"controllers\": [{\"address\": \"A\"},\n{\"address\": \"A\"}]}",
         "line.json:2: controllers[1].address: \"A\" is the address of controllers[0] already"},
        {"{\"controllers\": [{\"address\": \"!\"}]}",
         "line.json:1: controllers[0].address: \"!\" is not a bus address: one character, A to Z, "
         "[ \\ ] ^ _ ` a to ~, \\u007f or @"},
        {"{\"controllers\": [{\"address\": \"AB\"}]}",
         "line.json:1: controllers[0].address: \"AB\" is not a bus address: one character, A to "
         "Z, [ \\ ] ^ _ ` a to ~, \\u007f or @"},
        {"{\"controllers\": [{\"address\": 0}]}",
         "line.json:1: controllers[0].address: must be a bus address: one character, A to Z, "
         "[ \\ ] ^ _ ` a to ~, \\u007f or @, not a number"},
        {"{\"controllers\": [{\"baud\": 9600}]}",
         "line.json:1: controllers[0]: no \"address\" member: every controller has its bus "
         "address"},
        {"{\"controllers\": [\"A\"]}",
         "line.json:1: controllers[0]: a controller is an object, { \"address\": \"A\", ... }, "
         "not a string"},
        {"{\"controllers\": {}}", "line.json:1: controllers: must be an array, not an object"},
        {"{}",
         "line.json:1: no \"controllers\" member: a line description lists its controllers (an "
         "empty list, [], for a line without any)"},
        {"[]", "line.json:1: a line description is an object, { \"controllers\": [ ... ] }, not an "
               "array"},
        {"{\"controllers\": [{\"address\": \"A\", \"noise\": 1.5}]}",
         "line.json:1: controllers[0].noise: 1.5 is out of range (0 to 1)"},
        {"{\"controllers\": [{\"address\": \"A\", \"faultRate\": true}]}",
         "line.json:1: controllers[0].faultRate: must be a number from 0 to 1, not true or false"},
        {"{\"controllers\": [{\"address\": \"A\", \"answerDelayMs\": -1}]}",
         "line.json:1: controllers[0].answerDelayMs: -1 is out of range (0 to 10000)"},
        {"{\"controllers\": [{\"address\": \"A\", \"dataBits\": 7.5}]}",
         "line.json:1: controllers[0].dataBits: 7.5 is not a whole number"},
        {"{\"controllers\": [{\"address\": \"A\", \"dataBits\": 6}]}",
         "line.json:1: controllers[0].dataBits: 6 is out of range (7 to 8)"},
        {"{\"controllers\": [{\"address\": \"\\u001b[2J A long text\"}]}",
         "line.json:1: controllers[0].address: \"?[2J A long text\" is not a bus address: one "
         "character, A to Z, [ \\ ] ^ _ ` a to ~, \\u007f or @"},
        {"{\"controllers\": [{\"address\": \"A\", \"fault\": \"seventeen letters\"}]}",
         "line.json:1: controllers[0].fault: \"seventeen letter...\" is none of \"none\", "
         "\"silent\", \"garbledLastChar\", \"extraChars\" or \"shortAnswer\""},
        {"{\"controllers\": [{\"address\": \"A\", \"parity\": \"mark\"}]}",
         "line.json:1: controllers[0].parity: \"mark\" is none of \"none\", \"even\" or \"odd\""},
        {"{\"controllers\": [{\"address\": \"A\", \"fault\": \"dead\"}]}",
         "line.json:1: controllers[0].fault: \"dead\" is none of \"none\", \"silent\", "
         "\"garbledLastChar\", \"extraChars\" or \"shortAnswer\""},
        {"{\"controllers\": [], \"seed\": -1}",
         "line.json:1: seed: -1 is out of range (0 to 9007199254740992)"},
        {"{\"controllers\": [], \"echo\": \"yes\"}",
         "line.json:1: echo: must be true or false, not a string"},
        {"{\"controllers\": [], \"master\": []}",
         "line.json:1: master: the master is an object, { \"baud\": 9600, ... }, not an array"},
        {"{\"controllers\": [], \"master\": {\"addresses\": [\"A\", 1]}}",
         "line.json:1: master.addresses[1]: must be a bus address: one character, A to Z, [ \\ ] "
         "^ _ ` a to ~, \\u007f or @, not a number"},
        {"{\"controllers\": [], \"master\": {\"writeParameter\": \"SP\"}}",
         "line.json:1: master.writeParameter: \"SP\" is not a mnemonic of three printable "
         "characters, such as \"SP \""},
        {"{\"controllers\": [], \"master\": {\"answerTimeoutMs\": 0}}",
         "line.json:1: master.answerTimeoutMs: 0 is out of range (1 to 10000)"},
        {"{\"controllers\": [\n{\"address\": \"A\",}]}",
         "line.json:2: a \",\" before \"}\" (no member follows it)"},
        // A member name the format does not have is no more let loose on the terminal than a
        // value is.
        {"{\"controllers\": [{\"address\": \"A\", \"\\u001b[2J and a long name\": 1}]}",
         "line.json:1: controllers[0].?[2J and a long ...: unknown member; controllers[0] has "
         "address, position, baud, parity, dataBits, answerDelayMs, delaySpreadMs, fault, "
         "faultRate, "
         "noise"},
    };
    for (const auto& [text, message] : cases) {
        EXPECT_EQ(Refusal(text), message) << text;
    }
}

struct SimulatedLineFileOnDisk : ::testing::Test {
    std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("line-file-" + std::to_string(::getpid()));
    SimulatedLineFileOnDisk() { std::filesystem::create_directories(folder); }
    ~SimulatedLineFileOnDisk() override { std::filesystem::remove_all(folder); }
    std::string Write(const std::string& name, const std::string& bytes) const {
        const std::string path = (folder / name).string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    static std::string ErrorOf(const std::string& path) {
        auto read = ReadSimulatedLineFile(path);
        const auto* error = std::get_if<std::string>(&read);
        return error ? *error : "(read)";
    }
};

TEST_F(SimulatedLineFileOnDisk, OnlyARegularFileOfAFewBytesIsRead) {
    const std::string good = Write("good.json", R"({"controllers": [{"address": "Q"}]})");
    auto read = ReadSimulatedLineFile(good);
    ASSERT_TRUE(std::holds_alternative<SimulatedLine>(read)) << std::get<std::string>(read);
    EXPECT_EQ(std::get<SimulatedLine>(read).controllers.at(0).address, "Q");

    EXPECT_EQ(ErrorOf(folder.string()), folder.string() + ": is a folder, not a file");
    EXPECT_EQ(ErrorOf((folder / "none.json").string()),
              (folder / "none.json").string() + ": No such file or directory");
    const std::string fifo = (folder / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(ErrorOf(fifo), fifo + ": is a FIFO (named pipe), not a file");
    EXPECT_EQ(ErrorOf("/dev/null"), "/dev/null: is a character device, not a file");
    const std::string big = Write("big.json", std::string(kSimulatedLineFileLimit + 1, ' '));
    EXPECT_EQ(ErrorOf(big), big + ": is larger than 1024 KiB, more than a line description can be");
    // The message names the file as it was given.
    const std::string broken = Write("broken.json", "{\n\"controllers\": [\n");
    EXPECT_EQ(ErrorOf(broken),
              broken + ":2: the array begun on this line is not closed with \"]\"");
}

TEST(SimulatedLineFile, TheExamplesReadAndSayWhatTheyAre) {
    const std::pair<const char*, const char*> examples[] = {
        {"training-line.json",
         "controllers A, B, F healthy, C silent, D noisy, E only at 2400 8N, the others only at "
         "9600 8N"},
        {"faults.json",
         "controllers A, F healthy, B silent at times, C garbling its carriage return, D sending "
         "extra characters at times, E answering short at times, line noise 0.002"},
        {"even-parity-line.json", "controllers A, B, C healthy, all only at 4800 7E"},
        {"echoing-adapter.json", "controllers A, B healthy, the adapter echoes"},
        {"listened-line.json", "controllers A healthy, B noisy, C silent"},
    };
    for (const auto& [name, summary] : examples) {
        auto read = ReadSimulatedLineFile(Example(name));
        ASSERT_TRUE(std::holds_alternative<SimulatedLine>(read)) << std::get<std::string>(read);
        EXPECT_EQ(SimulatedLineSummary(std::get<SimulatedLine>(read)), summary) << name;
    }
    // The built-in line is one of them, to start from.
    auto builtIn = ReadSimulatedLineFile(Example("built-in-line.json"));
    ASSERT_TRUE(std::holds_alternative<SimulatedLine>(builtIn));
    const SimulatedLine& described = std::get<SimulatedLine>(builtIn);
    const SimulatedLine line = BuiltInLine();
    ASSERT_EQ(described.controllers.size(), line.controllers.size());
    for (std::size_t i = 0; i < described.controllers.size(); ++i) {
        const SimulatedController& a = described.controllers[i];
        const SimulatedController& b = line.controllers[i];
        EXPECT_EQ(a.address, b.address);
        EXPECT_EQ(a.answerDelay, b.answerDelay);
        EXPECT_EQ(a.fault, b.fault);
        EXPECT_EQ(a.noise, b.noise);
        EXPECT_EQ(a.baud, b.baud);
        EXPECT_EQ(a.framing, b.framing);
        EXPECT_EQ(a.delaySpread, b.delaySpread);
        EXPECT_TRUE(a.fault == ControllerFault::None || a.faultRate == b.faultRate);
    }
    EXPECT_EQ(described.seed, line.seed);
    EXPECT_EQ(described.lineNoise, line.lineNoise);
    // The built-in line says what the program has always said of it.
    EXPECT_EQ(SimulatedLineSummary(BuiltInLine()),
              "controllers A, B, E healthy, C silent, D noisy");
}

// The delay from the end of a request to the end of its answer's first character.
std::vector<Duration> FirstCharacterDelays(SimulatedBus& bus, int requests) {
    std::vector<Duration> delays;
    Instant end{};
    for (int i = 0; i < requests; ++i) {
        std::vector<TimedByte> answer;
        for (const char c : std::string("B?X  \r")) {
            end += 1ms;
            for (const TimedByte& byte : bus.HostCharacter(static_cast<std::uint8_t>(c), end, 1ms,
                                                           HostWire{9600, std::nullopt})) {
                answer.push_back(byte);
            }
        }
        delays.push_back(answer.at(0).end - end);
        end = answer.back().end + 10ms;
    }
    return delays;
}

TEST(SimulatedLineFile, EachAnswerDelayIsDrawnWithinItsSpreadAndRepeatsForTheSeed) {
    SimulatedController spread{"B", 8ms};
    spread.delaySpread = 3ms;
    SimulatedBus bus({spread}, 0.0, 5);
    const auto delays = FirstCharacterDelays(bus, 400);
    const auto [least, most] = std::minmax_element(delays.begin(), delays.end());
    // The first character takes 1 ms on the wire after the delay.
    EXPECT_GE(*least, 6ms);
    EXPECT_LE(*most, 12ms);
    EXPECT_LT(*least, 6500us);
    EXPECT_GT(*most, 11500us);
    SimulatedBus again({spread}, 0.0, 5);
    EXPECT_EQ(FirstCharacterDelays(again, 400), delays);

    // A spread wider than the delay never makes an answer start before the request ended.
    SimulatedController wide{"B", 1ms};
    wide.delaySpread = 5ms;
    SimulatedBus early({wide}, 0.0, 5);
    const auto wideDelays = FirstCharacterDelays(early, 200);
    EXPECT_EQ(*std::min_element(wideDelays.begin(), wideDelays.end()), 1ms);

    // Without a spread every answer keeps its delay.
    SimulatedBus fixed({{"B", 8ms}}, 0.0, 5);
    for (const Duration delay : FirstCharacterDelays(fixed, 20)) {
        EXPECT_EQ(delay, 9ms);
    }
}

TEST(SimulatedLineFile, AnEchoingAdapterOnAPseudoTerminalGivesBackTheRequestBeforeTheAnswer) {
    auto read = ReadSimulatedLineFile(Example("echoing-adapter.json"));
    ASSERT_TRUE(std::holds_alternative<SimulatedLine>(read)) << std::get<std::string>(read);
    std::string error;
    const auto host = PtyBusHost::Start(BusOf(std::get<SimulatedLine>(read)), error);
    ASSERT_TRUE(host) << error;
    const int fd = ::open(host->DevicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios raw{};
    ASSERT_EQ(::tcgetattr(fd, &raw), 0);
    ::cfmakeraw(&raw);
    ::cfsetspeed(&raw, B9600);
    ASSERT_EQ(::tcsetattr(fd, TCSANOW, &raw), 0);
    ASSERT_EQ(::write(fd, "B?X  \r", 6), 6);
    std::string back;
    const auto deadline = std::chrono::steady_clock::now() + 3s;
    while (back.size() < 11 && std::chrono::steady_clock::now() < deadline) {
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, 100) > 0) {
            char bytes[32];
            const ssize_t got = ::read(fd, bytes, sizeof bytes);
            if (got > 0) {
                back.append(bytes, static_cast<std::size_t>(got));
            }
        }
    }
    ::close(fd);
    ASSERT_EQ(back.size(), 11u) << back;
    EXPECT_EQ(back.substr(0, 7), "B?X  \rB");
    EXPECT_EQ(back.back(), '\r');
}

}  // namespace
}  // namespace tarvel
