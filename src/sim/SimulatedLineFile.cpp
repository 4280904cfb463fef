// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/SimulatedLineFile.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <map>
#include <utility>

#include "core/DeviceTable.h"
#include "core/JsonText.h"
#include "core/RegularFile.h"
#include "protocol/Protocols.h"
#include "protocol/modbus/ModbusRtuResponder.h"
#include "sim/DescriptionReader.h"

namespace tarvel {
namespace {

using namespace description;

// Metres of cable from the host's end: far beyond what an RS-485 line reaches.
constexpr double kLongestLine = 10000.0;
// The characters a controller's name of itself may have.
constexpr std::size_t kLongestIdentity = 64;

Duration Milliseconds(double ms) {
    return std::chrono::duration_cast<Duration>(std::chrono::duration<double, std::milli>(ms));
}

std::string AddressShown(char address) {
    if (address == '\x7f') {
        return "\"\\u007f\"";
    }
    return std::string("\"") + address + "\"";
}

// Reads the meaning of a parsed document, refusing with the file, the line and the member.
class Describer : DescriptionReader {
public:
    using DescriptionReader::DescriptionReader;

    SimulatedLine Line(const JsonValue& document) {
        if (document.kind != JsonValue::Kind::Object) {
            Fail(document.line, "",
                 "a line description is an object, { \"controllers\": [ ... ] }, not " +
                     JsonKindName(document.kind));
        }
        SimulatedLine line;
        if (const JsonValue* protocol = Find(document, "protocol")) {
            line.protocol =
                ProtocolIndexNamed(Word(*protocol, "protocol", ProtocolCommandNames())).value_or(0);
        }
        protocol_ = ProtocolAt(line.protocol);
        rtu_ = protocol_->ChecksFrames();
        // An Ascon line, which needs no "protocol", is told of its members as it always was.
        if (rtu_) {
            Members(document, "",
                    {"protocol", "controllers", "lineNoise", "noisePosition", "seed", "echo",
                     "master"});
        } else {
            Members(document, "",
                    {"controllers", "lineNoise", "noisePosition", "seed", "echo", "master"},
                    {"protocol"});
        }
        const JsonValue* controllers = Find(document, "controllers");
        if (!controllers) {
            Fail(document.line, "",
                 "no \"controllers\" member: a line description lists its controllers (an "
                 "empty list, [], for a line without any)");
        }
        Expect(*controllers, "controllers", JsonValue::Kind::Array);
        std::map<std::string, std::size_t> seen;
        for (std::size_t i = 0; i < controllers->items.size(); ++i) {
            const std::string path = "controllers[" + std::to_string(i) + "]";
            // A controller that speaks another protocol than its line's (a mistake the line
            // is there to show) is read as that protocol's.
            const Protocol* lineProtocol = protocol_;
            const Protocol* own = OwnProtocol(controllers->items[i], path);
            if (own != nullptr) {
                protocol_ = own;
                rtu_ = own->ChecksFrames();
            }
            SimulatedController controller = Controller(controllers->items[i], path);
            controller.protocol = own;
            const auto [earlier, added] = seen.emplace(controller.address, i);
            if (!added) {
                Fail(*Find(controllers->items[i], "address"), path + ".address",
                     (rtu_ ? controller.address : AddressShown(controller.address[0])) +
                         " is the address of controllers[" + std::to_string(earlier->second) +
                         "] already");
            }
            protocol_ = lineProtocol;
            rtu_ = protocol_->ChecksFrames();
            line.controllers.push_back(controller);
        }
        if (const JsonValue* noise = Find(document, "lineNoise")) {
            line.lineNoise = Number(*noise, "lineNoise", 0.0, 1.0);
        }
        if (const JsonValue* position = Find(document, "noisePosition")) {
            line.noisePosition = Number(*position, "noisePosition", 0.0, kLongestLine);
        }
        if (const JsonValue* seed = Find(document, "seed")) {
            // Up to 2^53, as far as a JSON number keeps every whole number exactly.
            line.seed = static_cast<std::uint64_t>(Whole(*seed, "seed", 0, 9007199254740992LL));
        }
        if (const JsonValue* echo = Find(document, "echo")) {
            line.echo = Boolean(*echo, "echo");
        }
        if (const JsonValue* master = Find(document, "master")) {
            line.master = Master(*master, "master");
        }
        return line;
    }

private:
    char Address(const JsonValue& value, const std::string& path) const {
        static const char kAddresses[] =
            "a bus address: one character, A to Z, [ \\ ] ^ _ ` a to ~, \\u007f or @";
        if (value.kind != JsonValue::Kind::String) {
            Fail(value, path,
                 std::string("must be ") + kAddresses + ", not " + JsonKindName(value.kind));
        }
        if (value.text.size() != 1 || AddressIndexOf(value.text[0]) < 0 ||
            AddressIndexOf(value.text[0]) >= kAddressCount) {
            Fail(value, path, Shown(value.text) + " is not " + kAddresses);
        }
        return value.text[0];
    }

    // A station of a Modbus line, as a number.
    int StationNumber(const JsonValue& value, const std::string& path) const {
        const std::string what =
            "a station address, 1 to " + std::to_string(protocol_->Stations().back());
        if (value.kind != JsonValue::Kind::Number) {
            Fail(value, path, "must be " + what + ", not " + JsonKindName(value.kind));
        }
        if (!protocol_->StationFrom(value.text)) {
            Fail(value, path, value.text + " is not " + what);
        }
        return *protocol_->StationFrom(value.text);
    }

    // The station as the line's protocol writes it.
    std::string StationIn(const JsonValue& value, const std::string& path) const {
        return rtu_ ? protocol_->StationText(StationNumber(value, path))
                    : std::string(1, Address(value, path));
    }

    int Baud(const JsonValue& value, const std::string& path) const {
        const std::vector<int>& allowed = SimulatedLineSpeeds(rtu_ ? 1 : 0);
        const std::string kind = rtu_ ? "a Modbus line" : "the port dialog";
        std::string speeds;
        for (const int speed : allowed) {
            speeds += (speeds.empty() ? "" : ", ") + std::to_string(speed);
        }
        if (value.kind != JsonValue::Kind::Number) {
            Fail(value, path,
                 "must be a speed of " + kind + " (" + speeds + "), not " +
                     JsonKindName(value.kind));
        }
        for (const int speed : allowed) {
            if (value.number == speed) {
                return speed;
            }
        }
        Fail(value, path, value.text + " is no speed of " + kind + " (" + speeds + ")");
    }

    Parity ParityOf(const JsonValue& value, const std::string& path) const {
        const std::string name = Word(value, path, {"none", "even", "odd"});
        return name == "even" ? Parity::Even : name == "odd" ? Parity::Odd : Parity::None;
    }

    // The data bits and parity given, the one missing as the protocol pairs them: for Ascon as
    // the port dialog does, 7 data bits with parity, 8 without; always 8 for RTU.
    std::optional<Framing> FramingIn(const JsonValue& object, const std::string& path) const {
        const JsonValue* parity = Find(object, "parity");
        const JsonValue* bits = Find(object, "dataBits");
        if (!parity && !bits) {
            return std::nullopt;
        }
        Framing framing;
        framing.parity = parity ? ParityOf(*parity, path + ".parity") : Parity::None;
        framing.dataBits = bits ? static_cast<int>(Whole(*bits, path + ".dataBits", 7, 8))
                                : protocol_->DataBitsFor(framing.parity != Parity::None);
        if (protocol_->Verdicts() == VerdictFamily::ModbusRtu && framing.dataBits != 8) {
            Fail(*bits, path + ".dataBits", "RTU characters always have 8 data bits");
        }
        return framing;
    }

    // The protocol a controller speaks where its "protocol" names another than the line's.
    const Protocol* OwnProtocol(const JsonValue& object, const std::string& path) const {
        const JsonValue* named =
            object.kind == JsonValue::Kind::Object ? Find(object, "protocol") : nullptr;
        if (!named) {
            return nullptr;
        }
        const Protocol* own =
            ProtocolAt(ProtocolIndexNamed(Word(*named, path + ".protocol", ProtocolCommandNames()))
                           .value_or(0));
        return own->CommandName() == protocol_->CommandName() ? nullptr : own;
    }

    SimulatedController Controller(const JsonValue& object, const std::string& path) const {
        if (object.kind != JsonValue::Kind::Object) {
            Fail(object, path,
                 "a controller is an object, { \"address\": \"A\", ... }, not " +
                     JsonKindName(object.kind));
        }
        if (rtu_) {
            Members(object, path,
                    {"address", "position", "baud", "parity", "dataBits", "answerDelayMs",
                     "delaySpreadMs", "fault", "faultRate", "exceptionCode", "silenceMs", "noise",
                     "registers", "serverId", "vendor", "productCode", "revision"},
                    {"protocol"});
        } else {
            Members(object, path,
                    {"address", "position", "baud", "parity", "dataBits", "answerDelayMs",
                     "delaySpreadMs", "fault", "faultRate", "noise"},
                    {"protocol"});
        }
        SimulatedController controller;
        const JsonValue* address = Find(object, "address");
        if (!address) {
            Fail(object, path, "no \"address\" member: every controller has its bus address");
        }
        controller.address = StationIn(*address, path + ".address");
        if (const JsonValue* position = Find(object, "position")) {
            controller.position = Number(*position, path + ".position", 0.0, kLongestLine);
        }
        if (const JsonValue* baud = Find(object, "baud")) {
            controller.baud = Baud(*baud, path + ".baud");
        }
        controller.framing = FramingIn(object, path);
        if (const JsonValue* delay = Find(object, "answerDelayMs")) {
            controller.answerDelay =
                Milliseconds(Number(*delay, path + ".answerDelayMs", 0, 10000));
        }
        if (const JsonValue* spread = Find(object, "delaySpreadMs")) {
            controller.delaySpread =
                Milliseconds(Number(*spread, path + ".delaySpreadMs", 0, 10000));
        }
        if (const JsonValue* fault = Find(object, "fault")) {
            using Faults = std::vector<std::pair<std::string, ControllerFault>>;
            static const Faults kAsconFaults{{"none", ControllerFault::None},
                                             {"silent", ControllerFault::Silent},
                                             {"garbledLastChar", ControllerFault::GarbledLastChar},
                                             {"extraChars", ControllerFault::ExtraChars},
                                             {"shortAnswer", ControllerFault::ShortAnswer}};
            static const Faults kRtuFaults{{"none", ControllerFault::None},
                                           {"silent", ControllerFault::Silent},
                                           {"shortAnswer", ControllerFault::ShortAnswer},
                                           {"badCrc", ControllerFault::BadCrc},
                                           {"exception", ControllerFault::Exception},
                                           {"silenceInside", ControllerFault::SilenceInside},
                                           {"otherAddress", ControllerFault::OtherAddress}};
            // An ASCII frame ends in a line feed, which can come out as another character.
            static const Faults kAsciiFaults = [] {
                Faults faults = kRtuFaults;
                faults.insert(faults.begin() + 2,
                              {"garbledLastChar", ControllerFault::GarbledLastChar});
                return faults;
            }();
            const Faults& faults = !rtu_ ? kAsconFaults
                                   : protocol_->Verdicts() == VerdictFamily::ModbusAscii
                                       ? kAsciiFaults
                                       : kRtuFaults;
            std::vector<std::string> names;
            for (const auto& [name, kind] : faults) {
                names.push_back(name);
            }
            const std::string name = Word(*fault, path + ".fault", names);
            for (const auto& [known, kind] : faults) {
                if (known == name) {
                    controller.fault = kind;
                }
            }
        }
        // What shapes one fault only is refused beside another, rather than quietly ignored.
        if (const JsonValue* code = Find(object, "exceptionCode")) {
            if (controller.fault != ControllerFault::Exception) {
                Fail(*code, path + ".exceptionCode", "goes with the fault \"exception\" only");
            }
            controller.exceptionCode =
                static_cast<int>(Whole(*code, path + ".exceptionCode", 1, 255));
        }
        if (const JsonValue* silence = Find(object, "silenceMs")) {
            if (controller.fault != ControllerFault::SilenceInside) {
                Fail(*silence, path + ".silenceMs", "goes with the fault \"silenceInside\" only");
            }
            controller.insideSilence =
                Milliseconds(Number(*silence, path + ".silenceMs", 0, 10000));
        }
        if (const JsonValue* registers = Find(object, "registers")) {
            controller.registers = Registers(*registers, path + ".registers", controller.address);
        }
        if (const JsonValue* rate = Find(object, "faultRate")) {
            controller.faultRate = Number(*rate, path + ".faultRate", 0.0, 1.0);
        }
        if (const JsonValue* noise = Find(object, "noise")) {
            controller.noise = Number(*noise, path + ".noise", 0.0, 1.0);
        }
        // What the controller tells of itself when asked who it is.
        const std::pair<const char*, std::string SimulatedController::*> identity[] = {
            {"serverId", &SimulatedController::serverId},
            {"vendor", &SimulatedController::vendor},
            {"productCode", &SimulatedController::productCode},
            {"revision", &SimulatedController::revision}};
        for (const auto& [name, member] : identity) {
            if (const JsonValue* text = Find(object, name)) {
                controller.*member = Text(*text, path + "." + name, kLongestIdentity);
            }
        }
        return controller;
    }

    // A controller's own holding registers. Its responder holds addresses 0 to
    // RegisterCount - 1 only and refuses a read of any other with an exception before a value
    // given here is looked at, so an address beyond them could never be read: it is refused
    // here, as a value no register holds is.
    std::map<int, int> Registers(const JsonValue& object, const std::string& path,
                                 const std::string& controller) const {
        if (object.kind != JsonValue::Kind::Object) {
            Fail(object, path,
                 "must be an object of register addresses and their values, { \"0\": 123 }, "
                 "not " +
                     JsonKindName(object.kind));
        }
        std::map<int, int> registers;
        for (const JsonMember& member : object.members) {
            const std::string where = path + "." + NameShown(member.name);
            constexpr int kLast = ModbusRtuResponder::RegisterCount - 1;
            int address = -1;
            const char* end = member.name.data() + member.name.size();
            const auto [stop, failure] = std::from_chars(member.name.data(), end, address);
            if (failure != std::errc() || stop != end || address < 0 || address > kLast) {
                Fail(member.value, where,
                     Shown(member.name) + " is no register address of controller " + controller +
                         ", which holds \"0\" to \"" + std::to_string(kLast) + "\"");
            }
            if (member.value.kind == JsonValue::Kind::Number &&
                (member.value.number < 0 || member.value.number > 65535)) {
                Fail(member.value, where,
                     member.value.text + " is no value of a holding register of controller " +
                         controller + ", 0 to 65535");
            }
            registers[address] = static_cast<int>(Whole(member.value, where, 0, 65535));
        }
        return registers;
    }

    SimulatedLineMaster Master(const JsonValue& object, const std::string& path) const {
        if (object.kind != JsonValue::Kind::Object) {
            Fail(object, path,
                 "the master is an object, { \"baud\": 9600, ... }, not " +
                     JsonKindName(object.kind));
        }
        if (rtu_) {
            Members(object, path,
                    {"baud", "parity", "dataBits", "stopBits", "pollGapMs", "answerTimeoutMs",
                     "writeEvery", "broadcastEvery", "turnaroundMs", "addresses"});
        } else {
            Members(object, path,
                    {"baud", "parity", "dataBits", "stopBits", "pollGapMs", "answerTimeoutMs",
                     "writeEvery", "addresses", "writeParameter", "valueDelayMs"});
        }
        SimulatedLineMaster master;
        if (const JsonValue* baud = Find(object, "baud")) {
            master.settings.baud = Baud(*baud, path + ".baud");
        }
        if (const auto framing = FramingIn(object, path)) {
            master.settings.parity = framing->parity;
            master.settings.dataBits = framing->dataBits;
        }
        if (const JsonValue* stop = Find(object, "stopBits")) {
            master.settings.stopBits = static_cast<int>(Whole(*stop, path + ".stopBits", 1, 2));
        }
        MasterSchedule& schedule = master.schedule;
        if (const JsonValue* gap = Find(object, "pollGapMs")) {
            schedule.pollGap = Milliseconds(Number(*gap, path + ".pollGapMs", 0, 60000));
        }
        if (const JsonValue* timeout = Find(object, "answerTimeoutMs")) {
            schedule.answerTimeout =
                Milliseconds(Number(*timeout, path + ".answerTimeoutMs", 1, 10000));
        }
        if (const JsonValue* every = Find(object, "writeEvery")) {
            schedule.writeEvery = static_cast<int>(Whole(*every, path + ".writeEvery", 0, 1000000));
        }
        if (const JsonValue* addresses = Find(object, "addresses")) {
            Expect(*addresses, path + ".addresses", JsonValue::Kind::Array);
            for (std::size_t i = 0; i < addresses->items.size(); ++i) {
                schedule.addresses.push_back(
                    StationIn(addresses->items[i], path + ".addresses[" + std::to_string(i) + "]"));
            }
        }
        if (const JsonValue* parameter = Find(object, "writeParameter")) {
            const std::string where = path + ".writeParameter";
            Expect(*parameter, where, JsonValue::Kind::String);
            const bool printable = std::all_of(parameter->text.begin(), parameter->text.end(),
                                               [](char c) { return c >= 0x20 && c < 0x7f; });
            if (parameter->text.size() != 3 || !printable) {
                Fail(*parameter, where,
                     Shown(parameter->text) +
                         " is not a mnemonic of three printable characters, such as \"SP \"");
            }
            schedule.writeParameter = parameter->text;
        }
        if (const JsonValue* delay = Find(object, "valueDelayMs")) {
            schedule.valueDelay = Milliseconds(Number(*delay, path + ".valueDelayMs", 0, 10000));
        }
        if (const JsonValue* every = Find(object, "broadcastEvery")) {
            schedule.broadcastEvery =
                static_cast<int>(Whole(*every, path + ".broadcastEvery", 0, 1000000));
        }
        if (const JsonValue* turnaround = Find(object, "turnaroundMs")) {
            schedule.turnaround =
                Milliseconds(Number(*turnaround, path + ".turnaroundMs", 0, 10000));
        }
        return master;
    }

    const Protocol* protocol_ = &DefaultProtocol();
    bool rtu_ = false;
};

}  // namespace

std::variant<SimulatedLine, std::string> ParseSimulatedLine(std::string_view text,
                                                            const std::string& fileName) {
    auto parsed = ParseJson(text);
    if (const auto* error = std::get_if<JsonSyntaxError>(&parsed)) {
        return fileName + ":" + std::to_string(error->line) + ": " + error->message;
    }
    try {
        return Describer(fileName).Line(std::get<JsonValue>(parsed));
    } catch (const Refusal& refusal) {
        return refusal.message;
    }
}

std::variant<SimulatedLine, std::string> ReadSimulatedLineFile(const std::string& path) {
    std::string bytes;
    const auto failure = ReadRegularFileBytes(path, bytes, kSimulatedLineFileLimit);
    if (!failure) {
        return ParseSimulatedLine(bytes, path);
    }
    // The host's reason in the C library's words: the simulator links no Qt.
    switch (failure->cause) {
        case RegularFileFailure::Cause::CannotOpen:
        case RegularFileFailure::Cause::CannotRead:
            return path + ": " + std::strerror(failure->error);
        case RegularFileFailure::Cause::NotAFile: return path + ": " + failure->what;
        case RegularFileFailure::Cause::TooLarge: break;
    }
    return path + ": is larger than " + std::to_string(kSimulatedLineFileLimit / 1024) +
           " KiB, more than a line description can be";
}

}  // namespace tarvel
