// SPDX-License-Identifier: GPL-3.0-or-later
// The test cycle on virtual time: what goes on the wire, when, and what every answer leaves in
// the displays, the error list and the counter.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "protocol/ascon/AsconFrame.h"
#include "support/EngineRig.h"
#include "support/FramePeer.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;
using testing::EngineRig;
using testing::FramePeer;

// Answers every request addressed to a controller of `answers` with its text, `delay` after
// the request's carriage return; silence for the others.
struct Answering : ::testing::Test, EngineRig {
    std::map<char, std::string> answers;
    Duration delay = 5ms;
    FramePeer::Script script;  // answers in its own way when set
    FramePeer peer{line, [this](const std::string& frame, Instant end) {
                       if (script) {
                           script(frame, end);
                           return;
                       }
                       const auto found = answers.find(frame[0]);
                       if (found != answers.end()) {
                           line.DeliverFrom(end + delay, found->second);
                       }
                   }};

    std::vector<std::string> Requests() const {
        std::vector<std::string> requests;
        for (const auto& frame : peer.frames) {
            if (!frame.empty()) {
                requests.push_back(frame);
            }
        }
        return requests;
    }
    int Settles() const {
        return static_cast<int>(std::count(peer.frames.begin(), peer.frames.end(), ""));
    }
};

TEST_F(Answering, AGoodAnswerIsShownAndTheNextControllerAskedWithoutSettling) {
    Configure(2, 2);
    answers = {{'A', "A215\r"}, {'B', "B216\r"}};
    run.StartBtn_Click();
    RunUntil([&] { return Requests().size() == 4; });
    run.StopBtn_Click();
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(Requests()[0], "A?X  ");
    EXPECT_EQ(Requests()[1], "B?X  ");
    EXPECT_EQ(Requests()[2], "A?X  ");
    EXPECT_EQ(Settles(), 1);  // only the one before the run
    EXPECT_TRUE(clipboard.items.empty());
    EXPECT_EQ(ErrorLbl.text, "0");
    EXPECT_EQ(TxLbl.text, std::string("B?X  \r"));
    EXPECT_EQ(RxLbl.history.back(), "B216");
    EXPECT_FALSE(ResetBtn.enabled);
}

TEST_F(Answering, AnExchangeTakesThePauseThePhysicalWireTimeAndTheControllersDelay) {
    answers = {{'A', "A215\r"}};
    Configure(1, 0);
    run.StartBtn_Click();
    RunUntil([&] { return Requests().size() == 3; });
    run.StopBtn_Click();
    ASSERT_TRUE(RunToEnd());
    const Duration character = CharacterTime();
    // From one request's carriage return to the next: the answer (delay + 5 characters), the
    // 0.02 s pause, then the 6 characters of the next request.
    EXPECT_EQ(peer.ends[2] - peer.ends[1], delay + character * 5 + RequestPause + character * 6);
}

TEST_F(Answering, SurplusCharactersAreAWrongCountAndAMissingReturnIsReported) {
    Configure(2, 0);
    // Six characters that are all there when the wait ends.
    script = [this](const std::string& frame, Instant end) {
        for (const char c : std::string(frame[0] == 'A' ? "A2150\r" : "B2150")) {
            line.DeliverAt(end + 10ms, static_cast<std::uint8_t>(c));
        }
    };
    run.StartBtn_Click();
    RunUntil([&] { return clipboard.Count() == 2; });
    run.StopBtn_Click();
    ASSERT_TRUE(RunToEnd());
    ASSERT_GE(clipboard.Count(), 2);
    EXPECT_EQ(clipboard.Item(0).substr(0, 1), "A");
    EXPECT_EQ(clipboard.Item(0).substr(13), "Wrong # of characters !   0");
    EXPECT_EQ(clipboard.Item(1).substr(0, 1), "B");
    EXPECT_EQ(clipboard.Item(1).substr(13), "CR not received !   0");
    EXPECT_EQ(Settles(), 1 + clipboard.Count());
}

TEST_F(Answering, ASilentControllerIsAskedOncePerAttemptEachFailureRecorded) {
    Configure(1, 2);
    run.StartBtn_Click();
    RunUntil([&] { return clipboard.Count() == 3; });
    run.StopBtn_Click();
    ASSERT_TRUE(RunToEnd());
    ASSERT_EQ(clipboard.Count(), 3);
    for (int attempt = 0; attempt < 3; ++attempt) {
        const std::string& record = clipboard.Item(attempt);
        EXPECT_EQ(record.substr(0, 3), "A  ");
        EXPECT_EQ(record.substr(11), "  No answer !   " + std::to_string(attempt));
    }
    EXPECT_EQ(ErrorLbl.text, "3");
    EXPECT_TRUE(ResetBtn.enabled);
    EXPECT_TRUE(clipboard.visible);
    EXPECT_EQ(RxLbl.text, "No answer !");
    // A settle after every failure: the initial one, then one per attempt.
    EXPECT_EQ(Settles(), 4);
}

TEST_F(Answering, AnAnswerCompletingJustAfterTheWindowIsNoAnswer) {
    Configure(1, 0);
    const Duration character = CharacterTime();
    // The window runs from the write of the request, which takes six characters to send.
    delay = AnswerWindow - character * 6 - character * 5 + 100us;
    answers = {{'A', "A215\r"}};
    run.StartBtn_Click();
    RunUntil([&] { return clipboard.Count() == 1; });
    run.StopBtn_Click();
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(clipboard.Item(0).substr(13, 11), "No answer !");
}

TEST_F(Answering, AnAnswerCompletingJustBeforeTheWindowIsGood) {
    Configure(1, 0);
    const Duration character = CharacterTime();
    delay = AnswerWindow - character * 6 - character * 5 - 100us;
    answers = {{'A', "A215\r"}};
    run.StartBtn_Click();
    RunUntil([&] { return Requests().size() == 5; });
    run.StopBtn_Click();
    ASSERT_TRUE(RunToEnd());
    EXPECT_TRUE(clipboard.items.empty());
    EXPECT_EQ(RxLbl.text, "A215");
}

TEST_F(Answering, TheAddressCharacterFollowsTheTable) {
    Configure(3, 0);
    table[0] = 0;
    table[1] = 62;
    table[2] = 63;
    run.StartBtn_Click();
    RunUntil([&] { return Requests().size() == 3; });
    run.StopBtn_Click();
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(Requests()[0][0], 'A');
    EXPECT_EQ(Requests()[1][0], '\x7f');
    EXPECT_EQ(Requests()[2][0], '@');
    EXPECT_EQ(clipboard.Item(2)[0], '@');
    EXPECT_EQ(ProgressBar.maximum, 3);
    EXPECT_EQ(ProgressBar.value, 3);  // kept after the run
}

TEST_F(Answering, OneControllerIsPolledOverAndOverUntilStopped) {
    answers = {{'A', "A215\r"}};
    run.StartBtn_Click();
    RunUntil([&] { return Requests().size() == 50; });
    EXPECT_TRUE(run.Active());
    run.StopBtn_Click();
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(StatusPanel1.text, "The Tarvel has finished !");
}

TEST_F(Answering, StopDuringARequestFinishesAndClassifiesTheExchangeFirst) {
    Configure(1, 2);
    run.StartBtn_Click();
    RunUntil([&] { return Requests().size() == 1; });
    time.RunFor(50ms);  // the request is out, its answer window open
    run.StopBtn_Click();
    // The controls are back at once ...
    EXPECT_TRUE(StartBtn.enabled);
    EXPECT_FALSE(StopBtn.enabled);
    EXPECT_TRUE(CommBtn.enabled && ConsolleBtn.enabled && SearchMenu.enabled);
    EXPECT_TRUE(MaxNumCmb.enabled && ControllerCmb.enabled && AddressCmb.enabled);
    EXPECT_EQ(StatusPanel1.text, "The Tarvel has working !");
    // ... the run ends only once the exchange is classified and recorded.
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(clipboard.Count(), 1);
    EXPECT_EQ(StatusPanel1.text, "The Tarvel has finished !");
    EXPECT_EQ(Requests().size(), 1u);
}

TEST_F(Answering, AChangeOfTheCountDuringASweepCountsFromTheNextSweep) {
    answers = {{'A', "A215\r"}, {'B', "B215\r"}, {'C', "C215\r"}};
    Configure(2, 0);
    run.StartBtn_Click();
    RunUntil([&] { return Requests().size() == 1; });
    primo.DeviceCount = 3;  // as a configuration loaded during the run
    RunUntil([&] { return Requests().size() == 6; });
    run.StopBtn_Click();
    ASSERT_TRUE(RunToEnd());
    std::string order;
    for (const auto& request : Requests()) {
        order += request[0];
    }
    EXPECT_EQ(order.substr(0, 5), "ABABC");
}

TEST_F(Answering, TheNineHundredthFailureStopsTheRunAndANewRunStopsAtItsFirstFailure) {
    Configure(2, 4);
    run.StartBtn_Click();
    ASSERT_TRUE(RunToEnd(2h));
    EXPECT_EQ(Errors(), 900);
    EXPECT_EQ(clipboard.Count(), 900);
    EXPECT_EQ(RxLbl.text, "There are too Errors !");
    EXPECT_EQ(primo.StopFlag, kTrue);
    // The whole run set is back, as after Stop.
    EXPECT_TRUE(StartBtn.enabled);
    EXPECT_FALSE(StopBtn.enabled);
    EXPECT_TRUE(ConsolleBtn.enabled && CommBtn.enabled && SearchMenu.enabled);
    EXPECT_TRUE(MaxNumCmb.enabled && ControllerCmb.enabled && AddressCmb.enabled);
    EXPECT_TRUE(ResetBtn.enabled);
    EXPECT_EQ(StatusPanel1.text, "The Tarvel has finished !");
    // The message of the 900th failure was there for an instant, before the limit's text.
    EXPECT_EQ(RxLbl.history[RxLbl.history.size() - 2], "No answer !");

    run.StartBtn_Click();
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(Errors(), 901);
    EXPECT_EQ(clipboard.Count(), 901);
}

TEST_F(Answering, ResetLeavesTheAnalyzersListShownOrHiddenAsItWas) {
    for (const bool shown : {true, false}) {
        analyzer.visible = shown;
        analyzer.AddItem("a copy");
        run.ResetBtn_Click();
        EXPECT_TRUE(analyzer.items.empty());
        EXPECT_EQ(analyzer.visible, shown);
    }
}

TEST_F(Answering, AGoodAnswerAfterFailuresLeavesTheListAndTheCounterAsTheyWere) {
    Configure(1, 1);
    int requests = 0;
    // The first two attempts get nothing, every later one a good answer.
    script = [&](const std::string& frame, Instant end) {
        if (++requests > 2) {
            line.DeliverFrom(end + 5ms, std::string(1, frame[0]) + "215\r");
        }
    };
    run.StartBtn_Click();
    RunUntil([&] { return Requests().size() == 6; });
    run.StopBtn_Click();
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(clipboard.Count(), 2);
    EXPECT_TRUE(clipboard.visible);
    EXPECT_EQ(ErrorLbl.text, "2");
    EXPECT_TRUE(ResetBtn.enabled);
    EXPECT_EQ(RxLbl.text, "A215");
}

TEST_F(Answering, ResetDuringARunEmptiesBothListsAndTheCountStartsAgain) {
    Configure(1, 0);
    analyzer.AddItem("a copy");
    run.StartBtn_Click();
    RunUntil([&] { return Errors() == 12; });
    run.ResetBtn_Click();
    EXPECT_EQ(ErrorLbl.text, "0");
    EXPECT_TRUE(clipboard.items.empty());
    EXPECT_FALSE(clipboard.visible);
    EXPECT_TRUE(analyzer.items.empty());
    EXPECT_FALSE(ResetBtn.enabled);
    EXPECT_TRUE(run.Active());
    RunUntil([&] { return Errors() == 1; });
    EXPECT_TRUE(ResetBtn.enabled);
    EXPECT_TRUE(clipboard.visible);
    run.StopBtn_Click();
    ASSERT_TRUE(RunToEnd());
}

TEST_F(Answering, AModalPromptDuringARunDoesNotHoldUpItsExchanges) {
    answers = {{'A', "A215\r"}};
    // The operator takes ten seconds over a message box opened from another window.
    prompts.whileOpen = [&] { time.RunFor(10s); };
    run.StartBtn_Click();
    RunUntil([&] { return Requests().size() == 3; });
    prompts.ShowMessage({"reading", "Info Box", MessageIcon::Information, MessageButtons::Ok, {}});
    const auto during = Requests().size();
    run.StopBtn_Click();
    ASSERT_TRUE(RunToEnd());
    EXPECT_GT(during, 200u);
    EXPECT_TRUE(clipboard.items.empty());
}

TEST_F(Answering, AnEmptyTableStillLetsTheWindowWorkAndStopEndsTheRun) {
    Configure(1, 0);
    primo.DeviceCount = 0;
    run.StartBtn_Click();
    time.RunFor(5s);
    EXPECT_TRUE(Requests().empty());  // and the clock moved: no spinning at one instant
    run.StopBtn_Click();
    ASSERT_TRUE(RunToEnd());
}

}  // namespace
}  // namespace tarvel
