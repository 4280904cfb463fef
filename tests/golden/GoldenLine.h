// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/CliSession.h"
#include "lines/LineSettings.h"
#include "platform/TextFiles.h"
#include "platform/VirtualTime.h"
#include "protocol/Protocols.h"
#include "sim/SimulatedBus.h"
#include "sim/SimulatedSerialLine.h"
#include "support/Run.h"

namespace tarvel::golden {

using namespace std::chrono_literals;

// "1041.666": a span in microseconds, to the nanosecond.
inline std::string Micros(Duration span) {
    const long long ns = span.count();
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%03lld", ns / 1000, ns % 1000);
    return text;
}

// Control characters as the traffic shows them, so that a frame is one readable line.
inline std::string Shown(const std::string& bytes) {
    std::string shown;
    for (const char c : bytes) {
        if (c == '\r') {
            shown += "<CR>";
        } else if (c == '\n') {
            shown += "<LF>";
        } else {
            shown += c;
        }
    }
    return shown;
}

// A character the host put on the wire, as the far end heard it.
struct HeardByte {
    Instant end;  // of its last stop bit
    std::uint8_t byte;
    Duration character;    // its time on the wire
    std::string settings;  // the line's settings text then
};

// What the host put on the wire, one line per frame: when its first character started and its
// last one ended (microseconds from the start of the virtual clock), and its bytes. A frame ends
// at its carriage return, or where the characters stop following each other back to back.
// With `settings`, each line begins with the line's settings text.
inline std::vector<std::string> Transcript(const std::vector<HeardByte>& bytes,
                                           bool settings = false) {
    std::vector<std::string> lines;
    std::string frame;
    const HeardByte* first = nullptr;
    const HeardByte* last = nullptr;
    const auto flush = [&] {
        if (!frame.empty()) {
            lines.push_back((settings ? first->settings + " " : std::string()) +
                            Micros((first->end - first->character).time_since_epoch()) + " " +
                            Micros(last->end.time_since_epoch()) + " " + Shown(frame));
            frame.clear();
        }
    };
    for (const HeardByte& byte : bytes) {
        if (!frame.empty() && byte.end != last->end + byte.character) {
            flush();
        }
        if (frame.empty()) {
            first = &byte;
        }
        frame.push_back(static_cast<char>(byte.byte));
        last = &byte;
        if (byte.byte == '\r') {
            flush();
        }
    }
    flush();
    return lines;
}

inline std::string Joined(const std::vector<std::string>& lines, std::size_t from = 0,
                          std::size_t count = std::string::npos) {
    std::string text;
    for (std::size_t i = from; i < lines.size() && i - from < count; ++i) {
        text += lines[i] + "\n";
    }
    return text;
}

// `text` with each line ended by CR LF instead of LF: the files' own line ends, for literals
// written as raw strings.
inline std::string Crlf(const std::string& text) {
    std::string crlf;
    for (const char c : text) {
        if (c == '\n') {
            crlf += '\r';
        }
        crlf += c;
    }
    return crlf;
}

// The first `count` lines of `text`, with their line ends.
inline std::string FirstLines(const std::string& text, int count) {
    std::size_t end = 0;
    for (int i = 0; i < count && end != std::string::npos; ++i) {
        end = text.find('\n', end);
        end = end == std::string::npos ? end : end + 1;
    }
    return text.substr(0, end);
}

// How a scripted controller answers a read or a write addressed to it.
struct Answer {
    std::string text;
    Duration delay = 5ms;  // from the end of the request's carriage return
    bool atOnce = false;   // every character at one moment, as an adapter that buffers
    int baud = 0;          // answers only at this speed (0: at any) ...
    char parity = 0;       // ... and parity letter (0: at any)
};

// Controllers that answer the same way each time: a frame given whole in `answers` gets its
// answer, any other frame the answer given for its first character, the address. An empty text
// is silence. It keeps every character the host sent.
class ScriptedBus final : public LinePeer {
public:
    ScriptedBus(SimulatedSerialLine& line, std::map<std::string, Answer> answers)
        : answers(std::move(answers)), line_(line) {
        line_.AttachPeer(this);
    }
    ~ScriptedBus() override { line_.AttachPeer(nullptr); }
    ScriptedBus(const ScriptedBus&) = delete;
    ScriptedBus& operator=(const ScriptedBus&) = delete;

    void HostCharacter(std::uint8_t byte, Instant end, Duration character) override {
        heard.push_back({end, byte, character, line_.SettingsText()});
        if (byte != '\r') {
            frame_.push_back(static_cast<char>(byte));
            return;
        }
        const std::string frame = std::exchange(frame_, {});
        if (!frame.empty()) {
            Answered(frame, end);
        }
    }
    std::vector<std::string> Wire(bool settings = false) const {
        return Transcript(heard, settings);
    }

    std::map<std::string, Answer> answers;
    std::vector<HeardByte> heard;

private:
    void Answered(const std::string& frame, Instant end) {
        auto found = answers.find(frame);
        if (found == answers.end()) {
            found = answers.find(frame.substr(0, 1));
        }
        if (found == answers.end() || found->second.text.empty()) {
            return;
        }
        const Answer& answer = found->second;
        const LineSettings& settings = line_.Settings();
        const char parity = settings.parity == Parity::None   ? 'N'
                            : settings.parity == Parity::Even ? 'E'
                                                              : 'O';
        if ((answer.baud != 0 && answer.baud != settings.baud) ||
            (answer.parity != 0 && answer.parity != parity)) {
            return;
        }
        if (!answer.atOnce) {
            line_.DeliverFrom(end + answer.delay, answer.text);
            return;
        }
        for (const char c : answer.text) {
            line_.DeliverAt(end + answer.delay, static_cast<std::uint8_t>(c));
        }
    }

    SimulatedSerialLine& line_;
    std::string frame_;
};

// A Modbus RTU line at any speed: 1 answers register 0 with 215 after 5 ms, 2 refuses with
// exception 2, 3 answers with a CRC that never holds; no controller has address 4.
inline SimulatedBus ModbusGoldenBus() {
    std::vector<SimulatedController> controllers(3);
    for (std::size_t i = 0; i < controllers.size(); ++i) {
        controllers[i].address = std::to_string(i + 1);
    }
    controllers[0].registers = {{0, 215}};
    controllers[1].fault = ControllerFault::Exception;
    controllers[2].fault = ControllerFault::BadCrc;
    return SimulatedBus(controllers, 0.0, 1, *ProtocolAt(*ProtocolIndexNamed("modbus-rtu")));
}

// The Modbus test run whose report and files are pinned: one sweep over 1 to 4 at 9600 8E1,
// each failure retried once.
inline std::vector<std::string> ModbusGoldenRun() {
    return {"test",        "--protocol", "modbus-rtu", "--baud", "9600",    "--parity", "even",
            "--addresses", "1-4",        "--sweeps",   "1",      "--retry", "1"};
}

// One of line-tarvel-cli's commands on virtual time, on port 1 named /dev/ttyS9, its files in a
// folder of its own.
struct CliRig {
    VirtualTime time;
    SimulatedSerialLine line{time};
    std::ostringstream out, err;
    std::filesystem::path folder;

    CliRig() {
        folder = std::filesystem::temp_directory_path() /
                 ("golden-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder);
    }
    ~CliRig() { std::filesystem::remove_all(folder); }
    CliRig(const CliRig&) = delete;
    CliRig& operator=(const CliRig&) = delete;

    std::string File(const std::string& name) const { return (folder / name).string(); }
    std::string Read(const std::string& name) const {
        std::string bytes;
        EXPECT_FALSE(ReadWholeFile(File(name), bytes)) << name;
        return bytes;
    }
    int Command(const std::vector<std::string>& arguments) {
        const CliOptions options = ParseCliArguments(arguments);
        EXPECT_EQ(options.error, "");
        CliSession session(options, CliHost{time, line, out, err, false, "/dev/ttyS9"});
        std::optional<int> status;
        auto task = testing::StoreResult(session.Run(), status);
        EXPECT_TRUE(time.RunUntil([&] { return status.has_value(); }, 48h));
        return status.value_or(-1);
    }
};

}  // namespace tarvel::golden
