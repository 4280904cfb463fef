// SPDX-License-Identifier: GPL-3.0-or-later
// The line detector on virtual time: the 64 addresses, the tries, the classification, the
// summary that becomes the device table, Stop, and the controls.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "protocol/ascon/AsconFrame.h"
#include "support/FramePeer.h"
#include "support/Run.h"
#include "support/ScanRig.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;

struct LineDetectorTest : ::testing::Test, testing::ScanRig {
    // What each address answers (after `delay`, character after character); silence for the
    // others. `allAtOnce` delivers an answer's characters at one moment.
    std::map<char, std::string> answers;
    Duration delay = 5ms;
    bool allAtOnce = false;
    testing::FramePeer peer{line, [this](const std::string& frame, Instant end) {
                                const auto found = answers.find(frame[0]);
                                if (found == answers.end()) {
                                    return;
                                }
                                if (!allAtOnce) {
                                    line.DeliverFrom(end + delay, found->second);
                                    return;
                                }
                                for (const char c : found->second) {
                                    line.DeliverAt(end + delay, static_cast<std::uint8_t>(c));
                                }
                            }};

    LineDetectorTest() {
        detector.AddSink(scanDisplay);
        editor.LoadStartupTable();
        primo.RetryCount = 0;
    }
    bool ScanToEnd(Duration limit = std::chrono::hours(1)) {
        scan.SearchMenu_Click();
        return time.RunUntil([this] { return !scan.Active(); }, limit);
    }
    // Requests per address character, in the order sent.
    std::string RequestOrder() const {
        std::string order;
        for (const auto& frame : peer.frames) {
            if (!frame.empty()) {
                order += frame[0];
            }
        }
        return order;
    }
    int Settles() const {
        return static_cast<int>(std::count(peer.frames.begin(), peer.frames.end(), ""));
    }
};

TEST_F(LineDetectorTest, ControllersAtACAndAtBecomeTheTableAndAreListedEachOne) {
    answers = {{'A', "A215\r"}, {'C', "C215\r"}, {'@', "@215\r"}};
    ASSERT_TRUE(ScanToEnd());
    EXPECT_EQ(table[0], 0);
    EXPECT_EQ(table[1], 2);
    EXPECT_EQ(table[2], 63);
    EXPECT_EQ(primo.DeviceCount, 3);
    EXPECT_EQ(RxLbl.text, "Devices Found:  3");
    EXPECT_EQ(controllerList.items,
              (std::vector<std::string>{"Controller  1  Address: A", "Controller  2  Address: C",
                                        "Controller  3  Address: @"}));
    // Each find was announced, "@" included.
    EXPECT_EQ(std::count(RxLbl.history.begin(), RxLbl.history.end(), "1 Device Found !"), 3);
    // The summary chose the count and the first controller, as the operator would.
    EXPECT_EQ(MaxNumCmb.Item(MaxNumCmb.index), "3");
    EXPECT_EQ(ControllerCmb.index, 0);
    EXPECT_EQ(AddressCmb.Item(AddressCmb.index), "0");
    EXPECT_EQ(StatusPanel1.history,
              (std::vector<std::string>{"Line Detector is working !", "End Line Detector work !"}));
    EXPECT_EQ(ProgressBar.maximum, 64);
    EXPECT_EQ(ProgressBar.value, 64);
    // Every address asked once, from "A" to "@"; a settle after each silent one only.
    std::string expected;
    for (int i = 0; i < 64; ++i) {
        expected += AddressCharacter(i);
    }
    EXPECT_EQ(RequestOrder(), expected);
    EXPECT_EQ(Settles(), 1 + 61);
    EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(LineDetectorTest, EachSilentAddressGetsOnePlusRetryCountRequests) {
    primo.RetryCount = 2;
    answers = {{'B', "B215\r"}};
    ASSERT_TRUE(ScanToEnd());
    const std::string order = RequestOrder();
    EXPECT_EQ(std::count(order.begin(), order.end(), 'A'), 3);
    EXPECT_EQ(std::count(order.begin(), order.end(), 'B'), 1);
    EXPECT_EQ(std::count(order.begin(), order.end(), '@'), 3);
    EXPECT_EQ(order.size(), 63u * 3 + 1);
}

TEST_F(LineDetectorTest, ClassifiesInOrderTimeFirstThenFormatThenCount) {
    struct Case {
        std::string answer;
        Duration delay;
        bool allAtOnce;
        const char* shown;
    };
    const Duration character = CharacterTime();
    const std::vector<Case> cases = {
        {"A215\r", ScanAnswerWindow - character * 6 - character * 5 + 1ns, false,
         "Not detected !"},  // complete a nanosecond after the window
        {"A215\r", ScanAnswerWindow - character * 6 + 1ns, true,
         "Not detected !"},  // five at one moment, after the window
        {"A2151", 5ms, false, "Unknow format !"},
        {"A2150\r", 5ms, true, "Wrong # of characters !"},
        {"A215", 5ms, false, "Not detected !"},  // four and silence
    };
    for (const Case& c : cases) {
        answers = {{'A', c.answer}};
        delay = c.delay;
        allAtOnce = c.allAtOnce;
        RxLbl.history.clear();
        peer.frames.clear();
        primo.RetryCount = 1;
        scan.SearchMenu_Click();
        // Stopped after the first address: both tries of "A" are made, then the summary.
        ASSERT_TRUE(time.RunUntil([&] { return RequestOrder().size() == 2; }));
        scan.SearchMenu_Click();  // refused: the scan runs
        run.StopBtn_Click();
        ASSERT_TRUE(time.RunUntil([&] { return !scan.Active(); }));
        EXPECT_EQ(RequestOrder(), "AA") << c.shown;
        EXPECT_EQ(std::count(RxLbl.history.begin(), RxLbl.history.end(), c.shown), 2) << c.shown;
        EXPECT_EQ(RxLbl.text, "No devices On Line !");
        EXPECT_EQ(Settles(), 1 + 2) << c.shown;  // the first settle, then one per failure
    }
}

TEST_F(LineDetectorTest, AnEmptyLineChangesNeitherCountNorTableNorLists) {
    editor.SelectCount(4);
    table[2] = 17;
    const auto before = table;
    ASSERT_TRUE(ScanToEnd());
    EXPECT_EQ(RxLbl.text, "No devices On Line !");
    EXPECT_EQ(primo.DeviceCount, 5);
    EXPECT_EQ(table, before);
    EXPECT_EQ(MaxNumCmb.index, 4);
    EXPECT_TRUE(controllerList.items.empty());
    // The first settle, then 64 addresses of one try each: the 0.1 s pause, the 0.3 s window
    // from the write (the request's own wire time inside it) and the 0.2 s settle.
    const Duration perTry = ScanRequestPause + ScanAnswerWindow + SettleTime;
    const Duration nominal = SettleTime + perTry * 64;
    EXPECT_GE(time.Now().time_since_epoch(), nominal);
    EXPECT_LT(time.Now().time_since_epoch(), nominal + 64ms);
}

TEST_F(LineDetectorTest, SixtyFourControllersFillTheWholeTable) {
    for (int i = 0; i < 64; ++i) {
        const char address = AddressCharacter(i);
        answers[address] = std::string(1, address) + "215\r";
    }
    ASSERT_TRUE(ScanToEnd());
    EXPECT_EQ(primo.DeviceCount, 64);
    for (int i = 0; i < 64; ++i) {
        EXPECT_EQ(table[i], i);
    }
    EXPECT_EQ(controllerList.Count(), 64);
    EXPECT_EQ(controllerList.items.back(), "Controller  64  Address: @");
    EXPECT_EQ(Settles(), 1);
}

TEST_F(LineDetectorTest, StopEndsTheScanAfterTheCurrentAddressWithWhatWasFound) {
    answers = {{'A', "A215\r"}, {'B', "B215\r"}, {'E', "E215\r"}};
    primo.RetryCount = 2;
    scan.SearchMenu_Click();
    ASSERT_TRUE(time.RunUntil([&] { return RequestOrder() == "ABC"; }));
    run.StopBtn_Click();
    ASSERT_TRUE(time.RunUntil([&] { return !scan.Active(); }));
    EXPECT_EQ(RequestOrder(), "ABCCC");  // "C" got all its tries
    EXPECT_EQ(primo.DeviceCount, 2);
    EXPECT_EQ(RxLbl.text, "Devices Found:  2");
    EXPECT_EQ(StatusPanel1.text, "End Line Detector work !");
}

TEST_F(LineDetectorTest, TheControlsAreHeldFromTheClickAndGivenBackAllAtTheEnd) {
    answers = {{'A', "A215\r"}};
    auto states = [&] {
        return std::vector<bool>{SearchMenu.enabled,  StartBtn.enabled,    CommBtn.enabled,
                                 ConsolleBtn.enabled, AnalizerBtn.enabled, ReportBtn.enabled,
                                 StopBtn.enabled};
    };
    scan.SearchMenu_Click();
    EXPECT_EQ(RxLbl.text, "");
    EXPECT_EQ(states(), std::vector<bool>(7, false));
    time.RunFor(100ms);  // inside the first settle
    EXPECT_EQ(states(), std::vector<bool>(7, false));
    time.RunFor(150ms);
    EXPECT_EQ(states(), (std::vector<bool>{false, false, false, false, false, false, true}));
    EXPECT_TRUE(MaxNumCmb.enabled);  // the lists stay the operator's during a scan
    ASSERT_TRUE(time.RunUntil([&] { return !scan.Active(); }));
    EXPECT_EQ(states(), (std::vector<bool>{true, true, true, true, true, true, false}));
}

TEST_F(LineDetectorTest, AnotherProtocolIsRefusedWithABeepAndNothingElse) {
    primo.ProtocolIndex = 3;
    RxLbl.text = "A215";
    TxLbl.text = "A?X  \r";
    StatusPanel1.text = "The Tarvel has finished !";
    scan.SearchMenu_Click();
    time.RunFor(1s);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].text, "Not available Protocol !");
    EXPECT_EQ(prompts.messages[0].title, "Info Box");
    EXPECT_EQ(prompts.messages[0].icon, MessageIcon::Critical);
    EXPECT_EQ(prompts.messages[0].buttons, MessageButtons::RetryCancel);
    EXPECT_EQ(prompts.beeps, 1);
    EXPECT_FALSE(scan.Active());
    EXPECT_TRUE(peer.frames.empty());
    EXPECT_TRUE(SearchMenu.enabled && StartBtn.enabled);
    EXPECT_EQ(RxLbl.text, "A215");
    EXPECT_EQ(TxLbl.text, "A?X  \r");
    EXPECT_EQ(StatusPanel1.text, "The Tarvel has finished !");
}

TEST_F(LineDetectorTest, AScanWaitsForAStoppedRunAndNeverSharesTheLine) {
    Configure(1, 0);
    table[0] = 1;  // B is silent: the run's exchanges last their full window
    run.StartBtn_Click();
    ASSERT_TRUE(time.RunUntil([&] { return RequestOrder() == "BB"; }));
    time.RunFor(20ms);
    run.StopBtn_Click();
    scan.SearchMenu_Click();
    ASSERT_TRUE(time.RunUntil([&] { return !scan.Active() && !run.Active(); }));
    // Nothing went on the wire during any settling pause: no two loops shared the line.
    for (std::size_t i = 0; i + 1 < peer.frames.size(); ++i) {
        if (peer.frames[i].empty()) {
            EXPECT_GE(peer.ends[i + 1] - peer.ends[i], SettleTime) << "frame " << i;
        }
    }
    EXPECT_EQ(RequestOrder().substr(0, 3), "BBA");
}

TEST_F(LineDetectorTest, TheSummaryMakesTheControllersFoundTheTableWhateverWasChanged) {
    answers = {{'A', "A215\r"}, {'C', "C215\r"}};
    scan.SearchMenu_Click();
    ASSERT_TRUE(time.RunUntil([&] { return RequestOrder() == "AB"; }));
    // The operator sets controller 1 to address 2 meanwhile; C at address 2 is found later.
    editor.SelectController(0);
    editor.SelectAddress(2);
    ASSERT_TRUE(time.RunUntil([&] { return !scan.Active(); }));
    EXPECT_EQ(table[0], 0);
    EXPECT_EQ(table[1], 2);
    EXPECT_TRUE(prompts.messages.empty());  // no "address already used" from the summary
}

TEST_F(LineDetectorTest, StopThenStartDuringAScanGivesReportAndAnalizeBack) {
    answers = {{'A', "A215\r"}};
    scan.SearchMenu_Click();
    ASSERT_TRUE(time.RunUntil([&] { return RequestOrder() == "AB"; }));
    run.StopBtn_Click();
    run.StartBtn_Click();  // waits for the scan's last address
    ASSERT_TRUE(time.RunUntil([&] { return !scan.Active(); }));
    EXPECT_TRUE(AnalizerBtn.enabled);
    EXPECT_TRUE(ReportBtn.enabled);
    EXPECT_FALSE(StartBtn.enabled);  // the run that waits has the run set
    ASSERT_TRUE(time.RunUntil([&] { return cycle.Running() && StopBtn.enabled; }));
    run.StopBtn_Click();
    ASSERT_TRUE(RunToEnd());
    EXPECT_TRUE(StartBtn.enabled && SearchMenu.enabled && ConsolleBtn.enabled);
}

TEST_F(LineDetectorTest, ASearchWhileAnotherUserHoldsTheLineWaitsForItInsteadOfVanishing) {
    // The terminal still finishing its exchange, say.
    LineUse::Lease held = testing::RunToEnd(time, lineUse.Acquire());
    answers = {{'A', "A215\r"}};
    scan.SearchMenu_Click();
    time.RunFor(1s);
    EXPECT_TRUE(scan.Active());
    EXPECT_TRUE(peer.frames.empty());
    held.Release();
    ASSERT_TRUE(time.RunUntil([&] { return !scan.Active(); }));
    EXPECT_EQ(primo.DeviceCount, 1);
}

TEST_F(LineDetectorTest, ReceiveIsEmptyWhenTheScanStartsAfterAStoppedRun) {
    struct Watch final : ScanSink {
        testing::FakeText& rx;
        std::string atStart = "not started";
        explicit Watch(testing::FakeText& r) : rx(r) {}
        void ScanStarted() override { atStart = rx.text; }
    } watch(RxLbl);
    detector.AddSink(watch);
    Configure(1, 0);
    table[0] = 1;  // B is silent
    run.StartBtn_Click();
    ASSERT_TRUE(time.RunUntil([&] { return RequestOrder() == "B"; }));
    time.RunFor(20ms);
    run.StopBtn_Click();
    scan.SearchMenu_Click();
    ASSERT_TRUE(time.RunUntil([&] { return watch.atStart != "not started"; }));
    EXPECT_EQ(watch.atStart, "");
    EXPECT_EQ(std::count(RxLbl.history.begin(), RxLbl.history.end(), "No answer !"), 1);
    run.StopBtn_Click();
    ASSERT_TRUE(time.RunUntil([&] { return !scan.Active(); }));
}

}  // namespace
}  // namespace tarvel
