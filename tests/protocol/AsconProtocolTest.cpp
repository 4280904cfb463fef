// SPDX-License-Identifier: GPL-3.0-or-later
// The Ascon protocol as the engines see it through the protocol interface: its stations, its
// requests and how each kind of exchange judges what arrived.

#include <gtest/gtest.h>

#include <stdexcept>

#include "protocol/Protocols.h"
#include "protocol/ascon/AsconProtocol.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;

TEST(AsconProtocol, StationsAreTheSixtyFourAddressesFromAToAt) {
    const Protocol& ascon = DefaultProtocol();
    EXPECT_EQ(ascon.Name(), "Ascon");
    const std::vector<Station> stations = ascon.Stations();
    ASSERT_EQ(stations.size(), 64u);
    EXPECT_EQ(ascon.StationText(stations.front()), "A");
    EXPECT_EQ(ascon.StationText(62), "\x7f");
    EXPECT_EQ(ascon.StationText(stations.back()), "@");
    for (const Station station : stations) {
        EXPECT_EQ(ascon.StationFrom(ascon.StationText(station)), station);
    }
    EXPECT_EQ(ascon.StationFrom(""), std::nullopt);
    EXPECT_EQ(ascon.StationFrom("AB"), std::nullopt);
    EXPECT_EQ(ascon.StationFrom("#"), std::nullopt);
    // A number that is no address is never written as one, nor polled as "@".
    EXPECT_EQ(ascon.StationText(-1), "#-1");
    EXPECT_EQ(ascon.StationText(64), "#64");
    EXPECT_THROW(ascon.RequestFor(-1, ExchangeKind::Test), std::out_of_range);
    EXPECT_THROW(ascon.RequestFor(64, ExchangeKind::Probe), std::out_of_range);
    EXPECT_EQ(ProtocolAt(0), &ascon);
    EXPECT_EQ(ProtocolAt(5), nullptr);  // "Pyromat": not yet
}

TEST(AsconProtocol, RequestsTimingsAndFrames) {
    const AsconProtocol ascon;
    EXPECT_EQ(ascon.RequestFor(1, ExchangeKind::Test), "B?X  \r");
    EXPECT_EQ(ascon.RequestFor(63, ExchangeKind::Probe), "@?X  \r");
    EXPECT_EQ(ascon.Timings(ExchangeKind::Test, 1ms).pause, 20ms);
    EXPECT_EQ(ascon.Timings(ExchangeKind::Test, 1ms).window, 200ms);
    EXPECT_EQ(ascon.Timings(ExchangeKind::Probe, 1ms).pause, 100ms);
    EXPECT_EQ(ascon.Timings(ExchangeKind::Probe, 1ms).window, 300ms);
    EXPECT_EQ(ascon.Timings(ExchangeKind::Terminal, 1ms).pause, 50ms);  // between its two frames
    EXPECT_EQ(ascon.Timings(ExchangeKind::Terminal, 1ms).window, 300ms);
    EXPECT_EQ(ascon.SettleFrame(), "\r");
    EXPECT_EQ(ascon.SettleTime(1ms), 200ms);
    EXPECT_EQ(ascon.TerminalFrame("A*MAN"), "A*MAN\r");
    EXPECT_EQ(ascon.AnswerShown("A215\r"), "A215");
    EXPECT_EQ(ascon.DataBitsFor(true), 7);
    EXPECT_EQ(ascon.DataBitsFor(false), 8);
}

TEST(AsconProtocol, EachKindOfExchangeNamesTheSameFindingsInItsOwnWords) {
    const AsconProtocol ascon;
    struct Case {
        bool late;
        std::string arrived;
        std::string test, probe, terminal;
        int take;
    };
    const Case cases[] = {
        // Late wins even over a whole answer.
        {true, "A215\r", "No answer !", "Not detected !", "No answer !", 0},
        {false, "A215\r", "", "", "", 5},
        {false, "A2150", "CR not received !", "Unknow format !", "Unknow format !", 5},
        // Any other count is left for the settle.
        {false, "A21\r", "Wrong # of characters !", "Wrong # of characters !",
         "Wrong # of characters !", 0},
        {false, "A2150\r", "Wrong # of characters !", "Wrong # of characters !",
         "Wrong # of characters !", 0},
    };
    const auto said = [&ascon](ExchangeKind kind, const Case& c) {
        return VerdictMessage(ascon.CheckAnswer({}, kind, c.late, c.arrived).verdict, kind);
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arrived);
        EXPECT_EQ(ascon.CheckAnswer({}, ExchangeKind::Test, c.late, c.arrived).take, c.take);
        EXPECT_EQ(said(ExchangeKind::Test, c), c.test);
        EXPECT_EQ(said(ExchangeKind::Probe, c), c.probe);
        EXPECT_EQ(said(ExchangeKind::Terminal, c), c.terminal);
    }
}

TEST(AsconProtocol, SilencesBetweenTheCharactersOfAnAnswerChangeNothing) {
    const AsconProtocol ascon;
    const Duration character = Duration(std::chrono::seconds(10)) / 9600;
    std::vector<Instant> stamps;
    Instant at{};
    for (int i = 0; i < 5; ++i) {
        at += character + (i == 2 ? std::chrono::milliseconds(80) : Duration{0});
        stamps.push_back(at);
    }
    const AnswerCheck check = ascon.CheckAnswer({}, ExchangeKind::Test, false,
                                                ArrivedAnswer{"A215\r", stamps, character});
    EXPECT_EQ(check.verdict, ExchangeVerdict::Good);
    EXPECT_EQ(check.take, 5);
}

TEST(AsconProtocol, TheResponderAnswersAReadAndAWritesValueFrame) {
    const AsconProtocol ascon;
    const auto responder = ascon.MakeResponder();
    auto frameOf = [&](const std::string& text) {
        std::optional<std::string> frame;
        for (const char c : text) {
            frame = responder->Take(static_cast<std::uint8_t>(c), Instant{}, 1ms);
        }
        return frame;
    };
    const auto read = frameOf("C?X  \r");
    ASSERT_TRUE(read);
    EXPECT_EQ(responder->AnsweredBy(*read), 2);
    EXPECT_EQ(responder->Answer(2, *read, 215), "C215\r");
    // The command frame of a write waits for its value frame; both in one are answered.
    EXPECT_EQ(responder->AnsweredBy(*frameOf("A!SP \r")), std::nullopt);
    EXPECT_EQ(responder->Answer(0, *frameOf("A0123\r"), 215), "AACK\r");
    EXPECT_EQ(responder->AnsweredBy(*frameOf("A!SP 0123\r")), 0);
    EXPECT_EQ(frameOf("\r"), std::nullopt);
    EXPECT_EQ(responder->AnsweredBy(*frameOf("#?X  \r")), std::nullopt);
}

}  // namespace
}  // namespace tarvel
