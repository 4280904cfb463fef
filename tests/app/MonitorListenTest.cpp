// SPDX-License-Identifier: GPL-3.0-or-later
// Listening from the Line Monitor's window in the whole program, on virtual time: what a listen
// counts, the line handed back, what is refused meanwhile, a quiet line and a wrong speed.

#include <gtest/gtest.h>
#include <QPushButton>
#include <QTableView>
#include <algorithm>
#include <map>
#include <optional>

#include "app/TarvelDlg.h"
#include "lines/LineSettings.h"
#include "monitor/MonitorDlg.h"
#include "serial/LineUse.h"
#include "serial/SetPortDlg.h"
#include "sim/SimulatedMaster.h"
#include "sim/SimulatedSerialLine.h"
#include "support/ProgramRig.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;
using testing::ProgramRig;

// Listening from the Line Monitor, on a simulated line that no controller answers by itself: the
// plant's master is played by characters delivered on virtual time.
struct ListeningWindow : ::testing::Test {
    ProgramRig rig;
    TarvelDlg& main = rig.program.Tarvel();
    LineMonitor& monitor = main.Monitor();
    MonitorDlg* window = nullptr;

    ListeningWindow() {
        rig.program.SetPort().OkBtn_Click();
        rig.line.ClearTransmitted();
        MonitorDlg& shown = rig.program.Monitor();
        shown.show();
        window = &shown;
    }
    ~ListeningWindow() override {
        window->StopListeningBtn_Click();
        rig.time.RunFor(MonitorDlg::RefreshPeriod);
    }
    // Every 250 ms a read of A, answered 20 ms after its carriage return, and halfway a read
    // of B that nothing answers. Returns when the last of them has been judged.
    Instant MasterPolls(int cycles) {
        const Duration character = CharacterTime(rig.line.Settings());
        const Instant first = rig.time.Now() + 10ms;
        for (int cycle = 0; cycle < cycles; ++cycle) {
            const Instant at = first + cycle * 250ms;
            rig.line.DeliverFrom(at, "A?X  \r");
            rig.line.DeliverFrom(at + 6 * character + 20ms, "A215\r");
            rig.line.DeliverFrom(at + 125ms, "B?X  \r");
        }
        return first + cycles * 250ms + 500ms;
    }
    int Refusals() const {
        const auto texts = rig.prompts.Texts();
        return static_cast<int>(std::count(texts.begin(), texts.end(), ListeningRefusal));
    }
};

TEST_F(ListeningWindow, ListenCountsWhatTheMasterAndControllersSaidAndStopGivesTheLineBack) {
    ASSERT_TRUE(window->ListenButton().isEnabled());
    ASSERT_FALSE(window->StopListeningButton().isEnabled());
    EXPECT_TRUE(window->ListenSummaryText().isEmpty());
    window->ListenButton().click();
    EXPECT_TRUE(main.Listening().Listening());
    EXPECT_TRUE(rig.program.LineUser().HeldByListening());
    EXPECT_FALSE(window->ListenButton().isEnabled());
    EXPECT_TRUE(window->StopListeningButton().isEnabled());
    EXPECT_TRUE(monitor.Running());
    EXPECT_EQ(monitor.RunActivity(), Activity::Listen);

    constexpr int kCycles = 40;
    rig.time.RunFor(MasterPolls(kCycles) - rig.time.Now());
    rig.time.RunFor(MonitorDlg::RefreshPeriod);
    const LineStatistics& statistics = monitor.Statistics();
    const ControllerStatistics* a = statistics.Find(AddressIndexOf('A'));
    const ControllerStatistics* b = statistics.Find(AddressIndexOf('B'));
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(a->requests, kCycles);
    EXPECT_EQ(a->good, kCycles);
    EXPECT_EQ(b->requests, kCycles);
    EXPECT_EQ(b->noAnswer, kCycles);
    // The table, the summary and the traffic show what was heard.
    EXPECT_EQ(window->StatisticsView().model()->rowCount(), 2);
    EXPECT_EQ(window->TrafficView().model()->rowCount(), 2 * 2 * kCycles);
    const QString summary = window->SummaryText();
    EXPECT_TRUE(summary.startsWith("Listened line:")) << summary.toStdString();
    EXPECT_TRUE(summary.contains(QString("Exchanges counted: %1").arg(2 * kCycles)))
        << summary.toStdString();
    const QString heard = window->ListenSummaryText();
    EXPECT_TRUE(heard.startsWith("Listening, nothing is sent. Heard: 120 frames, "))
        << heard.toStdString();
    EXPECT_TRUE(heard.contains("0 bytes of noise")) << heard.toStdString();
    EXPECT_TRUE(heard.contains("A mean 250.0, longest 250.0; B mean 250.0, longest 250.0"))
        << heard.toStdString();
    EXPECT_FALSE(heard.contains("Warning")) << heard.toStdString();

    window->StopListeningButton().click();
    EXPECT_FALSE(window->StopListeningButton().isEnabled());
    ASSERT_TRUE(rig.time.RunUntil([&] { return !main.Listening().Listening(); }));
    rig.time.RunFor(MonitorDlg::RefreshPeriod);
    EXPECT_FALSE(rig.program.LineUser().Busy());
    EXPECT_FALSE(rig.program.LineUser().HeldByListening());
    EXPECT_FALSE(monitor.Running());
    EXPECT_TRUE(window->ListenButton().isEnabled());
    EXPECT_FALSE(window->StopListeningButton().isEnabled());
    // What was heard stays on show.
    EXPECT_TRUE(window->ListenSummaryText().startsWith("Listened, nothing was sent. Heard: 120"))
        << window->ListenSummaryText().toStdString();
    EXPECT_TRUE(rig.line.Transmitted().empty()) << rig.line.TransmittedText();
    EXPECT_TRUE(rig.prompts.messages.empty());

    // The line is the run's again.
    main.StartBtn_Click();
    EXPECT_TRUE(rig.time.RunUntil([&] { return !rig.line.Transmitted().empty(); }));
    main.StopBtn_Click();
    ASSERT_TRUE(rig.time.RunUntil([&] { return !main.Run().Active(); }));
    EXPECT_EQ(monitor.RunActivity(), Activity::Run);
    rig.time.RunFor(MonitorDlg::RefreshPeriod);
    EXPECT_TRUE(window->SummaryText().startsWith("Test run:"));
    EXPECT_TRUE(window->ListenSummaryText().isEmpty());
}

// The simulated plant master polls the demo line, reads and writes, at the port's settings.
TEST_F(ListeningWindow, EveryPollOfASimulatedMasterIsCountedForItsController) {
    SimulatedMaster master(SimulatedBus(DemoControllers(), 0.0, 5), MasterSchedule{},
                           rig.line.Settings());
    window->ListenBtn_Click();
    std::optional<MasterOnLine> playing(std::in_place, master, rig.line, rig.time);
    rig.time.RunFor(60s);
    playing.reset();
    rig.time.RunFor(1s);  // the last poll's window
    window->StopListeningBtn_Click();
    ASSERT_TRUE(rig.time.RunUntil([&] { return !main.Listening().Listening(); }));

    std::map<std::string, int> polls;
    std::map<std::string, int> unanswered;
    for (const MasterPoll& poll : master.Log()) {
        ++polls[poll.address];
        unanswered[poll.address] += poll.answer.empty();
    }
    ASSERT_GT(master.Log().size(), 200u);
    const LineStatistics& statistics = monitor.Statistics();
    EXPECT_EQ(statistics.Exchanges(), static_cast<int>(master.Log().size()));
    ASSERT_EQ(statistics.Controllers().size(), polls.size());
    for (const ControllerStatistics& controller : statistics.Controllers()) {
        EXPECT_EQ(controller.requests, polls[controller.address]) << controller.address;
        EXPECT_EQ(controller.noAnswer, unanswered[controller.address]) << controller.address;
    }
    EXPECT_EQ(statistics.Find(AddressIndexOf('C'))->noAnswer,
              polls["C"]);  // the demo line's silent one
    rig.time.RunFor(MonitorDlg::RefreshPeriod);
    EXPECT_EQ(window->StatisticsView().model()->rowCount(), static_cast<int>(polls.size()));
    EXPECT_TRUE(window->ListenSummaryText().contains("Poll cycle"))
        << window->ListenSummaryText().toStdString();
    EXPECT_TRUE(rig.line.Transmitted().empty()) << rig.line.TransmittedText();
}

// A listen has no end of its own: whatever asks for the line meanwhile is refused at once, and
// says why, rather than waiting.
TEST_F(ListeningWindow, WhileListeningStartSearchTerminalAndCommAreRefusedAndNothingIsSent) {
    window->ListenBtn_Click();
    ASSERT_TRUE(main.Listening().Listening());
    // Were a dialog opened all the same, it is closed again, and the test fails below.
    testing::ModalScript closeAny(
        {[](QWidget& modal) { modal.close(); }, [](QWidget& modal) { modal.close(); }});
    MasterPolls(8);
    main.StartBtn_Click();
    main.SearchMenu_Click();
    main.ConsolleBtn_Click();
    main.CommBtn_Click();
    rig.time.RunFor(3s);
    EXPECT_EQ(Refusals(), 4) << ::testing::PrintToString(rig.prompts.Texts());
    EXPECT_EQ(rig.prompts.messages.size(), 4u);
    EXPECT_FALSE(main.Run().Active());
    EXPECT_FALSE(main.Scan().Active());
    EXPECT_TRUE(main.Listening().Listening());
    EXPECT_TRUE(rig.line.Transmitted().empty()) << rig.line.TransmittedText();
    EXPECT_EQ(monitor.Statistics().Exchanges(), 16);
    // The main window keeps its controls as they are.
    EXPECT_TRUE(main.Ui().StartBtn.Enabled());
    EXPECT_TRUE(main.Ui().CommBtn.Enabled());

    window->StopListeningBtn_Click();
    ASSERT_TRUE(rig.time.RunUntil([&] { return !main.Listening().Listening(); }));
    main.SearchMenu_Click();
    EXPECT_TRUE(main.Scan().Active());
    EXPECT_EQ(Refusals(), 4);
    // Ended before the window goes, so that no scan is left waiting.
    main.StopBtn_Click();
    EXPECT_TRUE(rig.time.RunUntil([&] { return !main.Scan().Active(); }));
}

TEST_F(ListeningWindow, ListenIsRefusedWhileARunHoldsTheLineOrThePortIsClosed) {
    main.StartBtn_Click();
    ASSERT_TRUE(rig.program.LineUser().Busy());
    window->ListenBtn_Click();
    EXPECT_FALSE(main.Listening().Listening());
    ASSERT_EQ(rig.prompts.messages.size(), 1u);
    EXPECT_EQ(rig.prompts.messages[0].text,
              "The line is in use by a test run, a scan or the terminal.\nStop it first, then "
              "listen.");
    main.StopBtn_Click();
    ASSERT_TRUE(rig.time.RunUntil([&] { return !main.Run().Active(); }));

    rig.program.Port().ClosePort();
    window->ListenBtn_Click();
    EXPECT_FALSE(main.Listening().Listening());
    ASSERT_EQ(rig.prompts.messages.size(), 2u);
    EXPECT_TRUE(rig.prompts.messages[1].text.starts_with("The serial port is closed"))
        << rig.prompts.messages[1].text;
    EXPECT_TRUE(window->ListenButton().isEnabled());
}

TEST_F(ListeningWindow, AQuietLineSaysNothingWasHeardAndCharactersThatMakeNoFrameAWrongSpeed) {
    window->ListenBtn_Click();
    rig.time.RunFor(5s);
    EXPECT_TRUE(window->ListenSummaryText().contains("Nothing heard on the line"))
        << window->ListenSummaryText().toStdString();
    EXPECT_TRUE(window->ListenSummaryText().contains("Heard: 0 frames, 0.00 frames/s"))
        << window->ListenSummaryText().toStdString();

    // What a line at another speed looks like: characters, and never a request among them.
    const Instant from = rig.time.Now();
    for (int burst = 0; burst < 40; ++burst) {
        rig.line.DeliverFrom(from + burst * 100ms, "\xf3\x9c\xe1\x0f");
    }
    rig.time.RunFor(5s);
    const QString heard = window->ListenSummaryText();
    EXPECT_FALSE(heard.contains("Nothing heard")) << heard.toStdString();
    EXPECT_TRUE(heard.contains("160 bytes of noise")) << heard.toStdString();
    EXPECT_TRUE(heard.contains("Warning: the line does not look like Ascon traffic at "))
        << heard.toStdString();
    EXPECT_TRUE(rig.line.Transmitted().empty());
}

// "E&xit !" ends the process at once, listening or not.
TEST_F(ListeningWindow, ExitWhileListeningEndsAtOnce) {
    window->ListenBtn_Click();
    main.ExitMenu_Click();
    EXPECT_EQ(rig.processEnds, 1);
    EXPECT_TRUE(rig.prompts.messages.empty());
    EXPECT_TRUE(rig.line.Transmitted().empty());
}

}  // namespace
}  // namespace tarvel
