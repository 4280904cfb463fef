// SPDX-License-Identifier: GPL-3.0-or-later
// Modbus ASCII exchanges judged, and a simulated ASCII controller's reading of its bus. Every
// frame below is written out with its LRC, summed by hand.

#include "protocol/modbus/ModbusAsciiProtocol.h"

#include <gtest/gtest.h>

#include "protocol/Protocols.h"
#include "protocol/modbus/ModbusAsciiResponder.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;

// Read one holding register of controller 1 from 0: 01 03 00 00 00 01, LRC 0xFB.
const std::string kRead1 = ":010300000001FB\r\n";
// Its answer, 42: 01 03 02 00 2A, LRC 0xD0.
const std::string kAnswer1 = ":010302002AD0\r\n";

Request ReadRequest() {
    Request request;
    request.station = 1;
    request.frame = kRead1;
    return request;
}

const ModbusAsciiProtocol& Ascii() {
    static const ModbusAsciiProtocol ascii(ModbusAsciiProtocol::Modbus());
    return ascii;
}

AnswerCheck Check(const std::string& arrived) {
    return Ascii().CheckAnswer(ReadRequest(), ExchangeKind::Test, false, arrived);
}

TEST(ModbusAsciiProtocol, AsksInTextWithAnLrcAndIsKnownByItsNames) {
    EXPECT_EQ(Ascii().RequestFor(1, ExchangeKind::Test), kRead1);
    EXPECT_EQ(Ascii().TerminalFrame(std::string("\x11\x03\x00\x6B\x00\x03", 6)),
              ":1103006B00037E\r\n");
    EXPECT_EQ(ProtocolAt(3)->Name(), "MB ASCII");
    EXPECT_EQ(ProtocolAt(4)->CommandName(), "jbus-ascii");
    EXPECT_EQ(ProtocolAt(4)->Stations().back(), 255);
    EXPECT_EQ(Ascii().DataBitsFor(true), 7);
    // 5 bytes and the LRC in hexadecimal, and ':' CR LF.
    EXPECT_EQ(Ascii().HealthyAnswerLength(ReadRequest()), 15);
    EXPECT_EQ(Ascii().WireShown(kRead1 + '\x01'), ":010300000001FB\\r\\n<01>");
    EXPECT_EQ(Ascii().AnswerShown(kAnswer1), "01 03 02 00 2A  (function 3, registers 42)");
}

TEST(ModbusAsciiProtocol, TheWaitEndsAtTheLfWhateverCameBefore) {
    EXPECT_EQ(Ascii().AnswerLength(ReadRequest(), ""), 15);
    EXPECT_EQ(Ascii().AnswerLength(ReadRequest(), ":0103"), 15);
    // A frame longer than a healthy answer is waited for to its end.
    EXPECT_EQ(Ascii().AnswerLength(ReadRequest(), ":010304002A002B"), 16);
    EXPECT_EQ(Ascii().AnswerLength(ReadRequest(), "xx" + kAnswer1), 17);
    // A CR without its LF ends the frame as well.
    EXPECT_EQ(Ascii().AnswerLength(ReadRequest(), ":010302002AD0\rx"), 15);
}

TEST(ModbusAsciiProtocol, EachFaultOfTheFramingHasItsVerdictAndItsWords) {
    struct Case {
        std::string arrived;
        ExchangeVerdict verdict;
        std::string words;
    };
    const Case cases[] = {
        {kAnswer1, ExchangeVerdict::Good, ""},
        {":010302002ad0\r\n", ExchangeVerdict::Good, ""},  // lower case reads the same
        {":010302002AD1\r\n", ExchangeVerdict::BadLrc, "LRC error !"},
        {":010302002GD0\r\n", ExchangeVerdict::NotHex, "Not hexadecimal !"},
        {":010302002AD0\r:", ExchangeVerdict::NoLf, "LF not received !"},
        {":010302002AD\r\n", ExchangeVerdict::OddLength, "Odd number of characters !"},
        {":0103\r\n", ExchangeVerdict::WrongLength, "Wrong length !"},
        // Sound frames that answer amiss: another address (02 03 02 00 2A, LRC 0xCF), a count
        // the request did not ask (01 03 04 00 2A 00 2B, LRC 0xA3), another function.
        {":020302002ACF\r\n", ExchangeVerdict::WrongSource, "Wrong address or function !"},
        {":010304002A002BA3\r\n", ExchangeVerdict::WrongLength, "Wrong length !"},
        {":010402002ACF\r\n", ExchangeVerdict::WrongSource, "Wrong address or function !"},
        {"", ExchangeVerdict::NoAnswer, "No answer !"},
        {"\x13\x7f", ExchangeVerdict::NoAnswer, "No answer !"},  // noise, and no frame began
        {":010302", ExchangeVerdict::Cut, "Answer cut !"},
        // A ':' of noise, or a frame begun by another address, is no answer of controller 1's.
        {"\x13:", ExchangeVerdict::NoAnswer, "No answer !"},
        {":0", ExchangeVerdict::NoAnswer, "No answer !"},
        {":0503", ExchangeVerdict::NoAnswer, "No answer !"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arrived);
        const AnswerCheck check = Check(c.arrived);
        EXPECT_EQ(check.verdict, c.verdict);
        EXPECT_EQ(VerdictMessage(check.verdict), c.words);
        EXPECT_EQ(check.take, c.verdict == ExchangeVerdict::Good ? 15 : 0);
    }
}

TEST(ModbusAsciiProtocol, AColonBeginsTheAnswerAfreshAndTheNoiseBeforeIsTakenWithIt) {
    const std::string noise("\x00\xff", 2);
    EXPECT_EQ(Check(noise + kAnswer1).verdict, ExchangeVerdict::Good);
    EXPECT_EQ(Check(noise + kAnswer1).take, 17);
    EXPECT_EQ(Check(":0103" + kAnswer1).verdict, ExchangeVerdict::Good);
    // An exception (01 83 02, LRC 0x7A) proves the controller, with its code.
    const AnswerCheck refused = Check(":0183027A\r\n");
    EXPECT_EQ(refused.verdict, ExchangeVerdict::Good);
    EXPECT_EQ(refused.exceptionCode, 2);
}

// The answer's characters at 9600 baud, back to back but for `gap` before the character at
// `at`.
ArrivedAnswer WithGap(const std::string& answer, std::size_t at, Duration gap) {
    const Duration character = Duration(std::chrono::seconds(10)) / 9600;
    ArrivedAnswer arrived{answer, {}, character};
    Instant when{};
    for (std::size_t i = 0; i < answer.size(); ++i) {
        when += character + (i == at ? gap : Duration{0});
        arrived.arrivals.push_back(when);
    }
    return arrived;
}

TEST(ModbusAsciiProtocol, ASecondOfSilenceInsideAFrameIsAllowedAndNoMore) {
    const auto verdict = [](Duration gap) {
        return Ascii()
            .CheckAnswer(ReadRequest(), ExchangeKind::Test, false, WithGap(kAnswer1, 7, gap))
            .verdict;
    };
    EXPECT_EQ(verdict(1s), ExchangeVerdict::Good);
    EXPECT_EQ(verdict(1s + 1us), ExchangeVerdict::Cut);
    // Noise before the frame, and a silence after it, are not inside it.
    const AnswerCheck afterNoise = Ascii().CheckAnswer(ReadRequest(), ExchangeKind::Test, false,
                                                       WithGap("x" + kAnswer1, 1, 5s));
    EXPECT_EQ(afterNoise.verdict, ExchangeVerdict::Good);
}

// Feeds `text` to `controller` at 9600 baud, `gap` of silence before the character at `at`;
// what it took as whole frames.
std::vector<std::string> Heard(ModbusAsciiResponder& controller, const std::string& text,
                               std::size_t at = 0, Duration gap = Duration{0}) {
    const Duration character = Duration(std::chrono::seconds(10)) / 9600;
    std::vector<std::string> frames;
    Instant end{std::chrono::hours(1)};
    for (std::size_t i = 0; i < text.size(); ++i) {
        end += character + (i == at ? gap : Duration{0});
        if (auto frame = controller.Take(static_cast<std::uint8_t>(text[i]), end, character)) {
            frames.push_back(std::move(*frame));
        }
    }
    return frames;
}

TEST(ModbusAsciiResponder, TakesSoundFramesAsTheirRtuTwinAndAnswersInAscii) {
    ModbusAsciiResponder controller(247);
    const std::vector<std::string> frames = Heard(controller, kRead1);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], std::string("\x01\x03\x00\x00\x00\x01\x84\x0A", 8));
    ASSERT_EQ(controller.AnsweredBy(frames[0]), 1);
    // Register 0 reads the value given.
    EXPECT_EQ(controller.Framed(controller.Answer(1, frames[0], 42)), kAnswer1);
    // A fault that breaks the CRC breaks the LRC on the wire.
    std::string broken = controller.Answer(1, frames[0], 42);
    broken.back() = static_cast<char>(broken.back() ^ 0x01);
    EXPECT_EQ(controller.Framed(broken), ":010302002AD1\r\n");
    EXPECT_EQ(controller.Framed(""), "");
}

TEST(ModbusAsciiResponder, DropsWhatIsNotSoundAndStartsAfreshAtEveryColon) {
    ModbusAsciiResponder controller(247);
    EXPECT_TRUE(Heard(controller, ":010300000001FC\r\n").empty());  // its LRC
    EXPECT_TRUE(Heard(controller, ":01030000000!FB\r\n").empty());
    EXPECT_EQ(Heard(controller, "garbage:0103" + kRead1).size(), 1u);
    // Up to a second of silence inside a frame, and no more.
    EXPECT_EQ(Heard(controller, kRead1, 9, 1s).size(), 1u);
    EXPECT_TRUE(Heard(controller, kRead1, 9, 1s + 1ms).empty());
    EXPECT_EQ(Heard(controller, kRead1).size(), 1u);  // nothing of the last is left over
}

}  // namespace
}  // namespace tarvel
