// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "core/Time.h"
#include "lines/LineSettings.h"
#include "protocol/Protocols.h"
#include "protocol/Responder.h"

namespace tarvel {

enum class ControllerFault {
    None,
    Silent,           // never answers
    GarbledLastChar,  // the closing carriage return comes out as another character
    ExtraChars,       // answers with characters beyond the closing carriage return
    ShortAnswer,      // stops after three characters
    // Faults of the protocols whose frames carry a CRC (Modbus RTU, JBus RTU):
    BadCrc,         // the answer's CRC does not hold
    Exception,      // refuses every request with its exceptionCode instead of answering
    SilenceInside,  // the answer stops for insideSilence after its third byte
    OtherAddress,   // a well-formed answer, CRC and all, that names another station
};

// What sender and receiver must agree on for a character to arrive as sent. The stop bits are
// not part of it: a receiver looks at the first stop bit only, and a second one reads as idle.
struct Framing {
    int dataBits = 8;
    Parity parity = Parity::None;
    friend bool operator==(const Framing&, const Framing&) = default;
};

Framing FramingOf(const LineSettings& settings);

struct SimulatedController {
    std::string address = "A";  // as the line's protocol writes the station
    // From the end of the request's carriage return to the start of the answer.
    Duration answerDelay = std::chrono::milliseconds(5);
    ControllerFault fault = ControllerFault::None;
    // How often the fault shows, from 0 (never) to 1 (on every answer).
    double faultRate = 1.0;
    // Chance that one character of this controller's answers is corrupted on the way.
    double noise = 0.0;
    // The framing of the controller's UART; nothing for one that understands the host at any.
    std::optional<Framing> framing = std::nullopt;
    // The speed of the controller's UART; 0 for one that understands the host at any.
    int baud = 0;
    // Each answer's delay is drawn evenly from answerDelay - delaySpread to answerDelay +
    // delaySpread (never below nothing), as a controller busy with its own control loop varies.
    Duration delaySpread = Duration::zero();
    // The code of its refusals under the Exception fault.
    int exceptionCode = 2;
    // How long its answers stop under the SilenceInside fault: longer than the 1.5 characters a
    // frame may pause, so that a receiver drops what came before, and longer than the delays a
    // USB adapter's delivery makes, so that the host can tell too.
    Duration insideSilence = std::chrono::milliseconds(50);
    // Holding registers with a value of their own, by address; a read of any other reads as the
    // protocol's responder has it.
    std::map<int, int> registers{};
    // The protocol it speaks where that is not the bus's (two protocols sharing a wire by
    // mistake): it answers only that protocol's requests and hears the others as noise.
    const Protocol* protocol = nullptr;
    // Where it hangs on the cable, in metres from the host's end.
    double position = 0.0;
    // What a Modbus controller tells of itself: its Report Server ID, and its device
    // identification's vendor, product code and revision. A controller without a server ID, or
    // without a vendor, refuses the question with exception 1, as many do.
    std::string serverId{};
    std::string vendor{};
    std::string productCode{};
    std::string revision{};
};

// What a Modbus controller counts of its bus from its own place on it, as the diagnostics
// function reads it back: each counter by its sub-function, 0x0B to 0x12.
struct ControllerCounts {
    int busMessages = 0;  // sound frames it heard, for it or not
    int crcErrors = 0;    // frames whose check failed, or that were cut short
    int exceptions = 0;   // refusals it answered
    int addressed = 0;    // frames for it, broadcasts included
    int notAnswered = 0;  // of those, the ones it gave no answer to
    // NAKs, busy answers and character overruns: a simulated controller never has any.
    int naks = 0;
    int busy = 0;
    int overruns = 0;

    // The counter of a sub-function from 0x0B to 0x12.
    int Of(int subFunction) const;
};

// A controller at `baud` and the framing the port dialog pairs with `parity`: 7 data bits with
// parity, 8 without.
SimulatedController ControllerAt(std::string address, int baud, Parity parity);

// What the bus knows of the host's transmitter: its speed, and its framing when a line of this
// process chose it (a pseudo-terminal keeps no parity, so a program elsewhere leaves it unknown).
struct HostWire {
    int baud = 9600;
    std::optional<Framing> framing = std::nullopt;
};

struct TimedByte {
    Instant end;  // when the byte's last stop bit has left the wire
    std::uint8_t byte;
};

// A multidrop line of controllers speaking a protocol, the Ascon protocol unless told. Where
// frames end, whom they address and what a healthy controller answers is the protocol's
// Responder; the delays, faults and noise are the bus's, drawn from a seeded generator in the
// same order for every protocol (delay, value, fault, then noise character by character), so a
// line with the same seed behaves the same every time.
class SimulatedBus {
public:
    SimulatedBus(std::vector<SimulatedController> controllers, double lineNoise, std::uint64_t seed,
                 const Protocol& protocol = DefaultProtocol());

    // A character from the host, sent as `host` says, has left the wire at `end`. Returns what
    // comes back to the host: the character itself when the adapter echoes, and what the
    // controllers put on the wire in answer, with the times their characters end; answers
    // never overlap. A controller of another speed or framing reads the request as garbage and
    // does not answer; with the host's framing unknown, every controller takes it for its own.
    std::vector<TimedByte> HostCharacter(std::uint8_t byte, Instant end, Duration characterTime,
                                         const HostWire& host);

    const std::vector<SimulatedController>& Controllers() const { return controllers_; }
    // What the controller at `index` of Controllers() has counted so far.
    const ControllerCounts& Counts(std::size_t index) const { return drops_.at(index).counts; }

    // Line noise enters the cable `metres` from the host's end: the controllers from there on
    // hear the host's characters as it spoiled them, and it spoils their answers on their way
    // back; those nearer the host hear the host clean and answer through clean cable.
    void SetNoisePosition(double metres) { noisePosition_ = metres; }
    const Protocol& BusProtocol() const { return protocol_; }

    // The host's adapter keeps its receiver on while it sends, so every character the host
    // sends comes back to it as it was on the wire (noise included).
    void SetEcho(bool echo) { echo_ = echo; }
    bool Echo() const { return echo_; }

private:
    struct Answer {
        std::string bytes;
        Duration pauseAfterThird{0};
        bool refused = false;  // an exception, for the controller's count
    };
    // One controller's ear on the bus: each hears its own copy of every character and finds
    // its own frames in it, with what it counted of them.
    struct Drop {
        const Protocol* protocol;
        std::unique_ptr<Responder> responder;
        ControllerCounts counts;
    };
    Answer AnswerTo(const SimulatedController& controller, Drop& drop, Station station,
                    const std::string& frame);
    // The answer a controller gives to a question about itself (its counters, its identity),
    // rather than its responder's; nothing for any other question.
    static std::optional<std::string> OwnAnswer(const SimulatedController& controller, Drop& drop,
                                                Station station, const std::string& frame);
    bool BeyondNoise(const SimulatedController& controller) const {
        return controller.position >= noisePosition_;
    }
    // What a controller's own registers make of the healthy answer to a read.
    static void ReadRegisters(const SimulatedController& controller, const Protocol& protocol,
                              const std::string& frame, std::string& answer);
    // The address a controller with the OtherAddress fault answers with.
    static Station OtherStation(const Protocol& protocol, Station station);
    // What a character of the host makes the controller at `index` count and answer, added to
    // `back`.
    void HeardBy(std::size_t index, std::uint8_t byte, Instant end, Duration characterTime,
                 const HostWire& host, std::vector<TimedByte>& back);
    bool Chance(double probability);
    Duration DelayOf(const SimulatedController& controller);
    std::uint8_t Corrupt(std::uint8_t byte);

    std::vector<SimulatedController> controllers_;
    double lineNoise_;
    std::mt19937_64 random_;
    const Protocol& protocol_;
    std::vector<Drop> drops_;  // one for each controller, in their order
    double noisePosition_ = 0.0;
    Instant wireFreeAt_{};
    int value_ = 200;
    bool echo_ = false;
};

// The built-in line of the program's simulated port: a few healthy controllers, one that never
// answers and one that suffers from noise.
std::vector<SimulatedController> DemoControllers();

}  // namespace tarvel
