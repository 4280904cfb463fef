// SPDX-License-Identifier: GPL-3.0-or-later
// A short test run in real time through a pseudo-terminal: the program's QSerialPort line on
// one side, the simulated bus on the other.

#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QTimer>
#include <algorithm>
#include <thread>

#include "engine/RunControl.h"
#include "engine/RunDisplay.h"
#include "engine/TestCycle.h"
#include "support/FakeRunPanel.h"
#include "support/PtyRig.h"
#include "support/RealTime.h"
#include "ui/QtPrompts.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;
using namespace testing;

using testing::Wait;
using testing::WaitUntil;

struct PtyRun : ::testing::Test, PtyRig, FakeRunPanel {
    LineUse lineUse{scheduler};
    QtPrompts prompts;
    ControllerAddressTable table = StartupAddressTable();
    std::unique_ptr<TestCycle> cycle;
    std::unique_ptr<RunDisplay> display;
    std::unique_ptr<RunControl> run;
    FakeListBox& errors = clipboard;

    explicit PtyRun(std::vector<SimulatedController> controllers = {{"A", 5ms},
                                                                    {"C", 5ms,
                                                                     ControllerFault::Silent}})
        : PtyRig(std::move(controllers)) {}
    void SetUp() override {
        ASSERT_TRUE(Ready()) << failure;
        cycle = std::make_unique<TestCycle>(primo, *port, table);
        display = std::make_unique<RunDisplay>(primo, Panel(), Lists());
        cycle->AddSink(*display);
        run = std::make_unique<RunControl>(primo, *port, lineUse, prompts, *cycle, *display);
    }
    void TearDown() override {
        if (run) {
            run->StopBtn_Click();
            WaitUntil([&] { return !run->Active(); });
        }
        run.reset();
        display.reset();
        cycle.reset();
        port.reset();
        line.reset();
        host.reset();
    }
    void Configure(std::vector<std::int16_t> addresses, int retries) {
        FakeRunPanel::Configure(primo, static_cast<int>(addresses.size()), retries);
        std::copy(addresses.begin(), addresses.end(), table.begin());
    }
};

TEST_F(PtyRun, ARealTimeRunPutsTheRequestsOnTheWireAndRecordsOnlyTheSilentController) {
    Configure({0, 2}, 1);
    run->StartBtn_Click();
    ASSERT_TRUE(WaitUntil([&] { return errors.Count() >= 4; }));
    run->StopBtn_Click();
    ASSERT_TRUE(WaitUntil([&] { return !run->Active(); }));

    const auto frames = Frames();
    // Settle; then per sweep: A, C, settle, C, settle.
    ASSERT_GE(frames.size(), 11u);
    const std::vector<std::string> sweep = {"A?X  ", "C?X  ", "", "C?X  ", ""};
    EXPECT_EQ(frames[0], "");
    for (std::size_t i = 1; i < 11; ++i) {
        EXPECT_EQ(frames[i], sweep[(i - 1) % sweep.size()]) << i;
    }
    for (int i = 0; i < errors.Count(); ++i) {
        const std::string& record = errors.Item(i);
        EXPECT_EQ(record[0], 'C');
        EXPECT_EQ(record.substr(13, 11), "No answer !");
        EXPECT_EQ(record.back(), i % 2 == 0 ? '0' : '1');
    }
    EXPECT_EQ(ErrorLbl.text, std::to_string(errors.Count()));
    EXPECT_EQ(StatusPanel1.text, "The Tarvel has finished !");
}

TEST_F(PtyRun, AModalMessageBoxDoesNotHoldUpTheRun) {
    Configure({0}, 0);
    run->StartBtn_Click();
    ASSERT_TRUE(WaitUntil([&] { return Frames().size() >= 3; }));
    std::size_t before = 0;
    std::size_t after = 0;
    QTimer::singleShot(1s, [&] {
        after = Frames().size();
        if (QWidget* box = QApplication::activeModalWidget()) {
            box->close();
        }
    });
    before = Frames().size();
    prompts.ShowMessage({"reading", "Info Box", MessageIcon::Information, MessageButtons::Ok, {}});
    // About 27 exchanges a second at 9600 baud; the box must not have stopped them.
    EXPECT_GT(after - before, 15u);
    EXPECT_EQ(errors.Count(), 0);
}

TEST_F(PtyRun, TheFarEndGoingAwayEndsTheRunWithoutFalseRecordsAndSaysSo) {
    Configure({0}, 0);
    run->StartBtn_Click();
    ASSERT_TRUE(WaitUntil([&] { return Frames().size() >= 5; }));
    QString told;
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            told = box->text();
            box->close();
        }
    });
    answerer.start(10);
    host.reset();
    ASSERT_TRUE(WaitUntil([&] { return !run->Active() && !told.isEmpty(); }, 5s));
    EXPECT_FALSE(line->PortOpen());
    EXPECT_EQ(errors.Count(), 0);
    EXPECT_TRUE(told.contains("was lost")) << told.toStdString();
    EXPECT_TRUE(StartBtn.enabled);
}

// Keeps the program's thread busy for 300 ms from 1 ms after every request, as a long repaint
// or a big list being filled would.
struct BusyThread final : CycleSink {
    void RequestWritten(const Request&) override {
        QTimer::singleShot(1ms, [] { std::this_thread::sleep_for(300ms); });
    }
};

struct BusyPtyRun : PtyRun {
    // A answers after 10 ms, well within the window; B after 250 ms, too late.
    BusyPtyRun() : PtyRun({{"A", 10ms}, {"B", 250ms}}) {}
};

TEST_F(BusyPtyRun, ABusyThreadNeitherAccusesAControllerThatAnsweredInTimeNorExcusesALateOne) {
    BusyThread busy;
    cycle->AddSink(busy);
    Configure({0, 1}, 0);
    run->StartBtn_Click();
    ASSERT_TRUE(WaitUntil([&] { return errors.Count() >= 2; }));
    run->StopBtn_Click();
    ASSERT_TRUE(WaitUntil([&] { return !run->Active(); }));
    for (int i = 0; i < errors.Count(); ++i) {
        EXPECT_EQ(errors.Item(i)[0], 'B') << errors.Item(i);
        EXPECT_EQ(errors.Item(i).substr(13, 11), "No answer !");
    }
    // A's answers were shown as good ones: its address and three digits.
    EXPECT_GE(std::count_if(
                  RxLbl.history.begin(), RxLbl.history.end(),
                  [](const std::string& shown) { return shown.size() == 4 && shown[0] == 'A'; }),
              2);
}

}  // namespace
}  // namespace tarvel
