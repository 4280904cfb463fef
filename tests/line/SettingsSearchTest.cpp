// SPDX-License-Identifier: GPL-3.0-or-later
// The search across settings on virtual time, against a simulated bus whose controllers each
// understand one speed and framing only: what is found at which setting, the confirmation, the
// answer window, Stop, a lost line, and the operator's settings put back afterwards.

#include <gtest/gtest.h>

#include <map>

#include "core/DeviceTable.h"
#include "line/SettingsSearch.h"
#include "protocol/ascon/AsconFrame.h"
#include "protocol/modbus/ModbusAsciiProtocol.h"
#include "protocol/modbus/ModbusRtuProtocol.h"
#include "sim/SimulatedSerialLine.h"
#include "support/FramePeer.h"
#include "support/LineRig.h"
#include "support/Run.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;

SimulatedController At(char address, int baud, Parity parity, Duration delay = 5ms) {
    SimulatedController controller;
    controller.address = std::string(1, address);
    controller.answerDelay = delay;
    controller.baud = baud;
    controller.framing = Framing{parity == Parity::None ? 8 : 7, parity};
    return controller;
}

// Records what the search reports.
struct Recorder final : SearchSink {
    void SearchStarted(int settings) override { started = settings; }
    void SettingStarting(int number, const SearchSetting& setting) override {
        settings.push_back(setting);
        numbers.push_back(number);
    }
    void AddressStarting(const SearchSetting& setting, int index) override {
        ++addresses[setting.Name()];
        lastIndex = index;
    }
    void RequestWritten(const Request&) override { ++requests; }
    void ControllerFound(const SearchFind& find) override { finds.push_back(find); }
    void SearchEnded(const SearchEnd&) override { ended = true; }

    int started = -1;
    std::vector<SearchSetting> settings;
    std::vector<int> numbers;
    std::map<std::string, int> addresses;
    int lastIndex = -1;
    int requests = 0;
    std::vector<SearchFind> finds;
    bool ended = false;
};

struct SettingsSearchTest : ::testing::Test, testing::LineRig {
    LineUse lineUse{time};
    SettingsSearch search{primo, port};
    Recorder recorder;

    SettingsSearchTest() { search.AddSink(recorder); }

    SearchEnd Run(std::vector<SearchSetting> order = SearchOrder()) {
        return testing::RunToEnd(time, Searched(std::move(order)), std::chrono::hours(2));
    }
    QCoro::Task<SearchEnd> Searched(std::vector<SearchSetting> order) {
        co_return co_await search.Search(co_await lineUse.Acquire(), std::move(order));
    }
    void ExpectOperatorSettingsBack() {
        EXPECT_EQ(primo.BaudText, " 9600");
        EXPECT_EQ(primo.ParityText, "N");
        EXPECT_EQ(primo.DataBitsText, "8");
        EXPECT_EQ(primo.StopBitsText, " 1");
        EXPECT_EQ(line.SettingsText(), " 9600,N,8, 1");
        EXPECT_FALSE(lineUse.Busy());
    }
};

TEST(SettingsSearchOrder, EverySpeedFromTheFastestTimesEveryParityWithOneStopBit) {
    const std::vector<SearchSetting> order = SearchOrder();
    ASSERT_EQ(order.size(), 21u);
    EXPECT_EQ(order.front().Name(), "9600 8N1");
    EXPECT_EQ(order[1].Name(), "9600 7E1");
    EXPECT_EQ(order[2].Name(), "9600 7O1");
    EXPECT_EQ(order[3].Name(), "4800 8N1");
    EXPECT_EQ(order.back().Name(), "150 7O1");
    // Six characters of request and five of answer, ten bits each, plus the margin.
    EXPECT_EQ(SearchAnswerWindow(order.front(), SearchTimings{}),
              11 * CharacterTime(LineSettings{9600, Parity::None, 8, 1}) + 50ms);
    EXPECT_EQ(SearchAnswerWindow(order.back(), SearchTimings{}),
              11 * CharacterTime(LineSettings{150, Parity::Odd, 7, 1}) + 50ms);
}

TEST(SettingsSearchOrder, ModbusFromTheFastestWithItsDefaultEvenParityFirst) {
    const ModbusRtuProtocol modbus(ModbusRtuProtocol::Modbus());
    const std::vector<SearchSetting> order = SearchOrder(modbus);
    ASSERT_EQ(order.size(), 32u);
    EXPECT_EQ(order[0].Name(), "115200 8E1");
    EXPECT_EQ(order[1].Name(), "115200 8N2");
    EXPECT_EQ(order[2].Name(), "115200 8O1");
    EXPECT_EQ(order[3].Name(), "115200 8N1");
    EXPECT_EQ(order.back().Name(), "1200 8N1");
    EXPECT_EQ(
        ScanCommandFor(order[1], modbus),
        "line-tarvel-cli scan --protocol modbus-rtu --baud 115200 --parity none --stop-bits 2");
    EXPECT_EQ(PortDialogChoiceFor(order[1]), "Baud 115200, Parity None, StopBit 2");
}

TEST(SettingsSearchOrder, ModbusAsciiTriesSevenDataBitsFirstAndEightLast) {
    const ModbusAsciiProtocol ascii(ModbusAsciiProtocol::Modbus());
    const std::vector<SearchSetting> order = SearchOrder(ascii);
    ASSERT_EQ(order.size(), 32u);
    EXPECT_EQ(order[0].Name(), "115200 7E1");
    EXPECT_EQ(order[1].Name(), "115200 7N2");
    EXPECT_EQ(order[2].Name(), "115200 7O1");
    EXPECT_EQ(order[3].Name(), "115200 8N1");
    EXPECT_EQ(order.back().Name(), "1200 8N1");
    // The command line pairs 7 data bits with the ASCII framings unless told otherwise.
    EXPECT_EQ(ScanCommandFor(order[0], ascii),
              "line-tarvel-cli scan --protocol modbus-ascii --baud 115200 --parity even");
    EXPECT_EQ(ScanCommandFor(order[3], ascii),
              "line-tarvel-cli scan --protocol modbus-ascii --baud 115200 --parity none "
              "--data-bits 8");
}

TEST_F(SettingsSearchTest, ModbusControllersAreFoundAtTheirOwnSpeedAndFraming) {
    const ModbusRtuProtocol modbus(ModbusRtuProtocol::Modbus());
    port.SetLineProtocol(modbus);
    SimulatedController fast;
    fast.address = "1";
    fast.baud = 19200;
    fast.framing = Framing{8, Parity::Even};
    SimulatedController slow = fast;
    slow.address = "7";
    slow.baud = 2400;
    slow.framing = Framing{8, Parity::None};
    BusPeer peer(line, SimulatedBus({fast, slow}, 0.0, 1, modbus));
    search.AskOnly({1, 7, 20});
    const SearchEnd end = Run(SearchOrder(modbus));
    ASSERT_EQ(end.finds.size(), 2u);
    EXPECT_EQ(end.finds[0].index, 1);
    EXPECT_EQ(end.finds[0].setting.Name(), "19200 8E1");
    // A receiver of one stop bit reads two as well: 8N2, tried first, reaches it, and 8N1 does
    // not ask it again.
    EXPECT_EQ(end.finds[1].index, 7);
    EXPECT_EQ(end.finds[1].setting.Name(), "2400 8N2");
    EXPECT_TRUE(end.finds[0].confirmed && end.finds[1].confirmed);
    EXPECT_EQ(recorder.requests, 32 * 3 + 2 - 1);
    ExpectOperatorSettingsBack();
}

TEST_F(SettingsSearchTest, ModbusAsciiControllersAreFoundAtSevenAndAtEightDataBits) {
    const ModbusAsciiProtocol ascii(ModbusAsciiProtocol::Modbus());
    port.SetLineProtocol(ascii);
    SimulatedController seven;
    seven.address = "3";
    seven.baud = 9600;
    seven.framing = Framing{7, Parity::Even};
    SimulatedController eight = seven;
    eight.address = "9";
    eight.baud = 4800;
    eight.framing = Framing{8, Parity::None};
    BusPeer peer(line, SimulatedBus({seven, eight}, 0.0, 1, ascii));
    search.AskOnly({3, 9});
    const SearchEnd end = Run(SearchOrder(ascii));
    ASSERT_EQ(end.finds.size(), 2u);
    EXPECT_EQ(end.finds[0].index, 3);
    EXPECT_EQ(end.finds[0].setting.Name(), "9600 7E1");
    EXPECT_EQ(end.finds[1].index, 9);
    EXPECT_EQ(end.finds[1].setting.Name(), "4800 8N1");
    EXPECT_TRUE(end.finds[0].confirmed && end.finds[1].confirmed);
    ExpectOperatorSettingsBack();
}

TEST_F(SettingsSearchTest, AnEmptyLineIsAskedAtEverySettingOnceAnAddressAndGetsItsSettingsBack) {
    BusPeer peer(line, SimulatedBus({}, 0.0, 1));
    const SearchEnd end = Run();
    EXPECT_TRUE(end.finds.empty());
    EXPECT_FALSE(end.stopped);
    EXPECT_TRUE(end.lineFailure.empty());
    EXPECT_EQ(end.settingsTried, 21);
    EXPECT_EQ(recorder.started, 21);
    ASSERT_EQ(recorder.settings.size(), 21u);
    EXPECT_EQ(recorder.settings, SearchOrder());
    for (const auto& [name, count] : recorder.addresses) {
        EXPECT_EQ(count, 64) << name;
    }
    // No retry: one request an address at each setting.
    EXPECT_EQ(recorder.requests, 21 * 64);
    EXPECT_TRUE(recorder.ended);
    ExpectOperatorSettingsBack();
    // Well under the line detector's pace at every setting but the slowest: each miss costs
    // its pause and its window only.
    Duration expected{0};
    for (const SearchSetting& setting : SearchOrder()) {
        expected += 64 * (20ms + SearchAnswerWindow(setting, SearchTimings{}));
    }
    EXPECT_GT(Elapsed(), expected);
    EXPECT_LT(Elapsed(), expected + 22 * 300ms);
}

TEST_F(SettingsSearchTest, ControllersAtThreeSettingsAreEachFoundAtTheirOwnAndConfirmed) {
    BusPeer peer(line, SimulatedBus({At('A', 9600, Parity::None), At('B', 9600, Parity::None),
                                     At('C', 2400, Parity::Even), At('@', 300, Parity::Odd)},
                                    0.0, 1));
    const SearchEnd end = Run();
    ASSERT_EQ(end.finds.size(), 4u);
    EXPECT_EQ(end.finds[0].index, 0);
    EXPECT_EQ(end.finds[0].setting.Name(), "9600 8N1");
    EXPECT_EQ(end.finds[1].index, 1);
    EXPECT_EQ(end.finds[2].index, 2);
    EXPECT_EQ(end.finds[2].setting.Name(), "2400 7E1");
    EXPECT_EQ(end.finds[3].index, 63);
    EXPECT_EQ(end.finds[3].setting.Name(), "300 7O1");
    for (const SearchFind& find : end.finds) {
        EXPECT_TRUE(find.confirmed) << AddressCharacter(find.index);
    }
    EXPECT_EQ(recorder.finds.size(), 4u);
    // One request an address, and a second for each find.
    EXPECT_EQ(recorder.requests, 21 * 64 + 4);
    ExpectOperatorSettingsBack();

    const std::vector<SettingGroup> groups = ConfirmedGroups(end.finds);
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_EQ(groups[0].addresses, (std::vector<int>{0, 1}));
    EXPECT_EQ(LargestGroup(groups)->setting.Name(), "9600 8N1");
    const auto warning =
        MixedSettingsWarning(groups, [](const SearchSetting& s) { return ScanCommandFor(s); });
    ASSERT_TRUE(warning.has_value());
    EXPECT_NE(warning->find("9600 8N1: A B (line-tarvel-cli scan --baud 9600 --parity none)"),
              std::string::npos)
        << *warning;
    EXPECT_NE(warning->find("2400 7E1: C (line-tarvel-cli scan --baud 2400 --parity even)"),
              std::string::npos);
    EXPECT_NE(warning->find("300 7O1: @ (line-tarvel-cli scan --baud 300 --parity odd)"),
              std::string::npos);
    EXPECT_EQ(PortDialogChoiceFor(groups[1].setting), "Baud 2400, Parity Even, StopBit 1");
}

TEST_F(SettingsSearchTest, ControllersAllAtOneSettingGiveNoWarning) {
    BusPeer peer(line,
                 SimulatedBus({At('A', 1200, Parity::Even), At('D', 1200, Parity::Even)}, 0.0, 1));
    const SearchEnd end = Run();
    const std::vector<SettingGroup> groups = ConfirmedGroups(end.finds);
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0].setting.Name(), "1200 7E1");
    EXPECT_EQ(groups[0].addresses, (std::vector<int>{0, 3}));
    EXPECT_FALSE(MixedSettingsWarning(groups, [](const SearchSetting& s) {
                     return ScanCommandFor(s);
                 }).has_value());
}

TEST_F(SettingsSearchTest, AFindThatDoesNotAnswerTheSecondRequestIsShownButNoController) {
    int asked = 0;
    testing::FramePeer peer(line, [&](const std::string& frame, Instant end) {
        if (frame[0] == 'B' && line.Settings().baud == 4800 &&
            line.Settings().parity == Parity::None && ++asked == 1) {
            line.DeliverFrom(end + 5ms, "B215\r");
        }
    });
    const SearchEnd end =
        Run({SearchSetting{9600, Parity::None}, SearchSetting{4800, Parity::None}});
    ASSERT_EQ(end.finds.size(), 1u);
    EXPECT_EQ(end.finds[0].index, 1);
    EXPECT_FALSE(end.finds[0].confirmed);
    EXPECT_TRUE(ConfirmedGroups(end.finds).empty());
    EXPECT_FALSE(LargestGroup(ConfirmedGroups(end.finds)).has_value());
}

TEST_F(SettingsSearchTest, TheAnswerWindowIsTheWireTimeOfRequestAndAnswerAndFiftyMilliseconds) {
    // The answer's last character ends 5 characters after its start: in time with a delay just
    // under the margin, late with one just over it.
    BusPeer peer(
        line, SimulatedBus({At('A', 9600, Parity::None, 49ms), At('B', 9600, Parity::None, 51ms)},
                           0.0, 1));
    const SearchEnd end = Run({SearchSetting{9600, Parity::None}});
    ASSERT_EQ(end.finds.size(), 1u);
    EXPECT_EQ(end.finds[0].index, 0);
}

TEST_F(SettingsSearchTest, LeftOversAndWrongAnswersAreNoFinds) {
    // C answers with six characters, D with five that do not end in a carriage return, and E's
    // answer to the request before comes so late that it lands in the next one's time.
    testing::FramePeer peer(line, [&](const std::string& frame, Instant end) {
        switch (frame[0]) {
            case 'C': line.DeliverFrom(end + 5ms, "C2150\r"); break;
            case 'D': line.DeliverFrom(end + 5ms, "D2150"); break;
            case 'E': line.DeliverFrom(end + 60ms, "E215\r"); break;
            default: break;
        }
    });
    const SearchEnd end = Run({SearchSetting{9600, Parity::None}});
    EXPECT_TRUE(end.finds.empty());
}

TEST_F(SettingsSearchTest, StopEndsTheSearchAfterTheAddressInProgressWithWhatWasFound) {
    BusPeer peer(line,
                 SimulatedBus({At('A', 9600, Parity::None), At('C', 4800, Parity::None)}, 0.0, 1));
    std::optional<SearchEnd> end;
    auto waiter = testing::StoreResult(Searched(SearchOrder()), end);
    ASSERT_TRUE(time.RunUntil([&] {
        return !recorder.settings.empty() && recorder.settings.back().baud == 4800 &&
               recorder.lastIndex == 2;
    }));
    search.RequestStop();
    EXPECT_TRUE(search.Stopping());
    ASSERT_TRUE(time.RunUntil([&] { return end.has_value(); }));
    EXPECT_TRUE(end->stopped);
    // C, asked when Stop came, is still confirmed; nothing after it is asked.
    ASSERT_EQ(end->finds.size(), 2u);
    EXPECT_EQ(end->finds[1].index, 2);
    EXPECT_TRUE(end->finds[1].confirmed);
    EXPECT_EQ(recorder.lastIndex, 2);
    EXPECT_EQ(end->settingsTried, 4);
    EXPECT_FALSE(search.Running());
    ExpectOperatorSettingsBack();
}

TEST_F(SettingsSearchTest, AStopAskedForBeforeTheSearchBeganEndsItAfterItsFirstAddress) {
    BusPeer peer(line, SimulatedBus({}, 0.0, 1));
    search.RequestStop();
    const SearchEnd first = Run();
    EXPECT_TRUE(first.stopped);
    EXPECT_EQ(recorder.requests, 1);
    // Once ended, the next search runs to its end.
    const SearchEnd second = Run({SearchSetting{9600, Parity::None}});
    EXPECT_FALSE(second.stopped);
    EXPECT_EQ(recorder.requests, 1 + 64);
}

TEST_F(SettingsSearchTest, ALostLineEndsTheSearchWithTheReasonAndTheSettingsOfTheOperator) {
    BusPeer peer(line, SimulatedBus({}, 0.0, 1));
    std::optional<SearchEnd> end;
    auto waiter = testing::StoreResult(Searched(SearchOrder()), end);
    ASSERT_TRUE(time.RunUntil([&] { return recorder.settings.size() == 2; }));
    line.Lose("the adapter was pulled out");
    ASSERT_TRUE(time.RunUntil([&] { return end.has_value(); }));
    EXPECT_NE(end->lineFailure.find("the adapter was pulled out"), std::string::npos);
    EXPECT_FALSE(end->stopped);
    EXPECT_EQ(primo.BaudText, " 9600");
    EXPECT_EQ(primo.ParityText, "N");
    EXPECT_FALSE(lineUse.Busy());
}

}  // namespace
}  // namespace tarvel
