// SPDX-License-Identifier: GPL-3.0-or-later
// Start, Stop and Reset: the protocol dispatch, the states of the controls, the one line that
// never carries two exchanges, and a port that fails during a run.

#include <gtest/gtest.h>

#include <stdexcept>

#include "lines/LineFilter.h"
#include "protocol/ascon/AsconFrame.h"
#include "support/EngineRig.h"
#include "support/FramePeer.h"
#include "support/Run.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;
using testing::EngineRig;
using testing::FramePeer;

struct RunControlTest : ::testing::Test, EngineRig {
    FramePeer peer{line, [this](const std::string& frame, Instant end) {
                       if (frame[0] == 'A') {
                           line.DeliverFrom(end + 5ms, "A215\r");
                       }
                   }};

    // The run set and Reset, in the order of the control table.
    std::vector<bool> Controls() const {
        return {StartBtn.enabled,      StopBtn.enabled,    ConsolleBtn.enabled,
                CommBtn.enabled,       SearchMenu.enabled, MaxNumCmb.enabled,
                ControllerCmb.enabled, AddressCmb.enabled, ResetBtn.enabled};
    }
    int Requests() const {
        return static_cast<int>(std::count_if(peer.frames.begin(), peer.frames.end(),
                                              [](const auto& f) { return !f.empty(); }));
    }
};

TEST_F(RunControlTest, TheControlTableHoldsInEveryState) {
    const std::vector<bool> opened = {true, false, true, true, true, true, true, true, false};
    EXPECT_EQ(Controls(), opened);
    Configure(2, 0);  // B is silent: failures enable Reset
    run.StartBtn_Click();
    // From the moment Start is accepted, through the settling that comes first, nothing of the
    // run set can be pressed; Stop comes on when the run is under way.
    EXPECT_EQ(Controls(),
              (std::vector<bool>{false, false, false, false, false, false, false, false, false}));
    time.RunFor(150ms);
    EXPECT_EQ(Controls(),
              (std::vector<bool>{false, false, false, false, false, false, false, false, false}));
    time.RunFor(150ms);  // past the settling
    EXPECT_EQ(Controls(),
              (std::vector<bool>{false, true, false, false, false, false, false, false, false}));
    RunUntil([&] { return Errors() == 1; });
    EXPECT_TRUE(ResetBtn.enabled);
    run.StopBtn_Click();
    EXPECT_EQ(Controls(),
              (std::vector<bool>{true, false, true, true, true, true, true, true, true}));
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(Controls(),
              (std::vector<bool>{true, false, true, true, true, true, true, true, true}));
}

TEST_F(RunControlTest, OtherProtocolsAreAnsweredWithAMessageAndNothingElseChanges) {
    // Every protocol but Ascon, whichever button closes the box.
    for (const std::int16_t protocol : {1, 2, 3, 4, 5}) {
        for (const MessageAnswer answer : {MessageAnswer::Retry, MessageAnswer::Cancel}) {
            primo.ProtocolIndex = protocol;
            prompts.answers = {answer};
            run.StartBtn_Click();
        }
    }
    ASSERT_EQ(prompts.messages.size(), 10u);
    for (const MessageRequest& message : prompts.messages) {
        EXPECT_EQ(message.text, "Not available Protocol !");
        EXPECT_EQ(message.title, "Info Box");
        EXPECT_EQ(message.icon, MessageIcon::Critical);
        EXPECT_EQ(message.buttons, MessageButtons::RetryCancel);
    }
    for (const std::int16_t protocol : {-1, 6, 200}) {
        primo.ProtocolIndex = protocol;
        run.StartBtn_Click();
    }
    time.RunFor(1s);
    EXPECT_EQ(prompts.messages.size(), 10u);
    EXPECT_FALSE(run.Active());
    EXPECT_TRUE(line.Transmitted().empty());
    EXPECT_EQ(Controls(),
              (std::vector<bool>{true, false, true, true, true, true, true, true, false}));
}

TEST_F(RunControlTest, StartWhileAStoppedRunFinishesWaitsForItAndNeverOverlapsExchanges) {
    Configure(1, 0);
    table[0] = 1;  // B is silent: every exchange lasts its full window and settle
    run.StartBtn_Click();
    RunUntil([&] { return Requests() == 3; });
    time.RunFor(20ms);
    run.StopBtn_Click();
    run.StartBtn_Click();  // Start is enabled again at once
    run.StartBtn_Click();  // and pressed twice
    ASSERT_TRUE(RunUntil([&] { return Requests() == 5; }));
    run.StopBtn_Click();
    ASSERT_TRUE(RunToEnd());
    // Nothing goes on the wire during any settling pause, so no two loops shared the line; and
    // only one second run started.
    for (std::size_t i = 0; i + 1 < peer.frames.size(); ++i) {
        if (peer.frames[i].empty()) {
            EXPECT_GE(peer.ends[i + 1] - peer.ends[i], SettleTime) << "frame " << i;
        }
    }
    EXPECT_EQ(StatusPanel1.history,
              (std::vector<std::string>{"The Tarvel has working !", "The Tarvel has finished !",
                                        "The Tarvel has working !", "The Tarvel has finished !"}));
}

TEST_F(RunControlTest, TheEndOfAStoppedRunGivesNothingBackWhileTheNextWaitsToStart) {
    Configure(1, 0);
    table[0] = 1;  // B is silent
    run.StartBtn_Click();
    RunUntil([&] { return Errors() == ErrorLimit - 1; }, 10h);
    const int before = Requests();
    RunUntil([&] { return Requests() == before + 1; });
    time.RunFor(50ms);  // inside the next exchange, which will be the 900th failure
    run.StopBtn_Click();
    run.StartBtn_Click();  // accepted: it waits for the stopped run
    RunUntil([&] { return !cycle.Running(); });
    EXPECT_EQ(Errors(), ErrorLimit);
    EXPECT_EQ(RxLbl.text, "There are too Errors !");
    // The limit gave nothing back: the next run has the run set.
    EXPECT_EQ(Controls(),
              (std::vector<bool>{false, false, false, false, false, false, false, false, true}));
    ASSERT_TRUE(RunToEnd());  // the new run meets its first failure, 901, and stops
    EXPECT_EQ(Errors(), ErrorLimit + 1);
    EXPECT_EQ(Controls(),
              (std::vector<bool>{true, false, true, true, true, true, true, true, true}));
}

TEST_F(RunControlTest, ASecondStartWhileTheRunStartsUpIsIgnored) {
    run.StartBtn_Click();
    time.RunFor(50ms);  // inside the first settling pause, before the controls are switched
    run.StartBtn_Click();
    RunUntil([&] { return Requests() == 2; });
    run.StopBtn_Click();
    ASSERT_TRUE(RunToEnd());
    time.RunFor(5s);
    EXPECT_FALSE(run.Active());
    EXPECT_EQ(StatusPanel1.history.size(), 2u);
}

TEST_F(RunControlTest, ALostPortEndsTheRunKeepsTheRecordsAndSaysWhy) {
    Configure(2, 0);
    run.StartBtn_Click();
    RunUntil([&] { return Errors() == 2; });
    const auto records = clipboard.items;
    time.RunFor(30ms);
    line.Lose("the USB adapter was unplugged");
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(clipboard.items, records);  // no false record for the loss
    EXPECT_EQ(Errors(), 2);
    EXPECT_EQ(StatusPanel1.text, "The Tarvel has finished !");
    EXPECT_EQ(Controls(),
              (std::vector<bool>{true, false, true, true, true, true, true, true, true}));
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_NE(prompts.messages[0].text.find("the USB adapter was unplugged"), std::string::npos);
    EXPECT_NE(prompts.messages[0].text.find("Comm"), std::string::npos);

    // Reopened, the next run works.
    ASSERT_FALSE(port.OpenPort());
    run.StartBtn_Click();
    RunUntil([&] { return Errors() == 3; });
    run.StopBtn_Click();
    ASSERT_TRUE(RunToEnd());
}

TEST_F(RunControlTest, AClosedPortIsReportedAtStartInsteadOfRecordingFalseErrors) {
    port.ClosePort();
    run.StartBtn_Click();
    time.RunFor(2s);
    EXPECT_FALSE(run.Active());
    EXPECT_TRUE(clipboard.items.empty());
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_NE(prompts.messages[0].text.find("closed"), std::string::npos);
    EXPECT_TRUE(StartBtn.enabled);
}

// A listener with a fault of its own, as a chart or a log added later might have.
struct FaultySink final : CycleSink {
    void ExchangeJudged(const Exchange& exchange) override {
        if (exchange.Failed()) {
            throw std::runtime_error("the statistics table is full");
        }
    }
};

TEST_F(RunControlTest, AnExceptionInTheRunIsNamedToTheOperatorAndTheControlsComeBack) {
    FaultySink faulty;
    cycle.AddSink(faulty);
    Configure(2, 0);  // B is silent
    bool lineFreeWhileTold = false;
    prompts.whileOpen = [&] { lineFreeWhileTold = !lineUse.Busy(); };
    run.StartBtn_Click();
    ASSERT_TRUE(RunToEnd());
    EXPECT_TRUE(lineFreeWhileTold);  // "Comm" or "Terminal" need not wait for the box
    EXPECT_EQ(StatusPanel1.text, "The Tarvel has finished !");
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_NE(prompts.messages[0].text.find("the statistics table is full"), std::string::npos);
    EXPECT_EQ(prompts.messages[0].icon, MessageIcon::Critical);
    // The fault came before the count: Reset stays as the counter left it.
    EXPECT_EQ(Controls(),
              (std::vector<bool>{true, false, true, true, true, true, true, true, false}));
    EXPECT_FALSE(cycle.Running());
    EXPECT_FALSE(lineUse.Busy());
    EXPECT_EQ(clipboard.Count(), 1);  // what was recorded before the fault is kept

    // The program goes on: the next run works (and meets the same fault).
    run.StartBtn_Click();
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(prompts.messages.size(), 2u);
    EXPECT_EQ(Requests(), 4);
}

// Hands the cycle a lease that no longer holds the line.
QCoro::Task<bool> RefusedWithoutTheLine(TestCycle& cycle, LineUse& lineUse) {
    LineUse::Lease lease = co_await lineUse.Acquire();
    lease.Release();
    try {
        co_await cycle.TxAscon(std::move(lease));
    } catch (const std::logic_error&) {
        co_return true;
    }
    co_return false;
}

TEST_F(RunControlTest, TheCycleRunsOnlyUnderTheLinesLease) {
    EXPECT_TRUE(testing::RunToEnd(time, RefusedWithoutTheLine(cycle, lineUse)));
    EXPECT_TRUE(peer.frames.empty());
    EXPECT_FALSE(cycle.Running());
}

// A line whose transmitter never gets its characters out.
class StuckLine final : public LineFilter {
public:
    explicit StuckLine(SimulatedSerialLine& line) : LineFilter(line) {}
    void Output(std::string_view text) override { unsent_ += static_cast<int>(text.size()); }
    int OutBufferCount() override { return unsent_; }

private:
    int unsent_ = 0;
};

TEST(RunControlStuck, AnOutputThatNeverDrainsEndsTheRunAsAPortFailure) {
    EngineRig rig;
    StuckLine stuck(rig.line);
    PortService port(stuck, rig.primo, rig.time);
    TestCycle cycle(rig.primo, port, rig.table);
    cycle.AddSink(rig.display);
    RunControl run(rig.primo, port, rig.lineUse, rig.prompts, cycle, rig.display);
    testing::FakeListBox& errors = rig.clipboard;
    run.StartBtn_Click();
    ASSERT_TRUE(rig.time.RunUntil([&] { return !run.Active(); }, 1min));
    EXPECT_LT(rig.Elapsed(), 3s);
    EXPECT_TRUE(errors.items.empty());
    ASSERT_EQ(rig.prompts.messages.size(), 1u);
    EXPECT_NE(rig.prompts.messages[0].text.find("has not sent"), std::string::npos);
}

}  // namespace
}  // namespace tarvel
