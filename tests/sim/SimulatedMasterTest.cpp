// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated master on virtual time: its cycle, its writes, the timing of both directions
// on the wire, and what a listening host receives of it.

#include "sim/SimulatedMaster.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/VirtualTime.h"
#include "protocol/ascon/AsconFrame.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;

const LineSettings k9600{9600, Parity::None, 8, 1};

Duration DelayOf(char address) {
    for (const SimulatedController& controller : DemoControllers()) {
        if (controller.address == std::string(1, address)) {
            return controller.answerDelay;
        }
    }
    return {};
}

std::string WireText(const std::vector<MasterPoll>& polls) {
    std::string text;
    for (const MasterPoll& poll : polls) {
        text += poll.request + poll.answer;
    }
    return text;
}

// A listening host on the demo line for a minute of the master's traffic.
struct MasterMinute : ::testing::Test {
    VirtualTime time;
    SimulatedSerialLine line{time};
    SimulatedMaster master{SimulatedBus(DemoControllers(), 0.0, 7), MasterSchedule{}, k9600};
    Duration character = CharacterTime(k9600);

    void SetUp() override {
        ASSERT_TRUE(line.SetSettings(" 9600,N,8, 1"));
        ASSERT_TRUE(line.SetPortOpen(true));
        MasterOnLine playing(master, line, time);
        time.RunFor(1min);
    }
};

TEST_F(MasterMinute, PollsCycleThroughTheControllersWithAWriteEverySeventhPoll) {
    const auto& log = master.Log();
    ASSERT_GT(log.size(), 500u);
    EXPECT_EQ(master.PollCount(), static_cast<long long>(log.size()));
    const std::string cycle = "ABCDE";
    for (std::size_t i = 0; i < log.size(); ++i) {
        const MasterPoll& poll = log[i];
        SCOPED_TRACE("poll " + std::to_string(i));
        ASSERT_EQ(poll.address, std::string(1, cycle[i % cycle.size()]));
        ASSERT_EQ(poll.write, (i + 1) % 7 == 0);
        if (!poll.write) {
            ASSERT_EQ(poll.request, AsconRequest(poll.address[0]));
        } else {
            // The command frame names the parameter, the value frame carries four digits.
            ASSERT_EQ(poll.request.size(), 12u);
            ASSERT_EQ(poll.request.substr(0, 6), poll.address + "!SP \r");
            ASSERT_EQ(poll.request[6], poll.address[0]);
            ASSERT_EQ(poll.request.substr(7, 4).find_first_not_of("0123456789"), std::string::npos);
            ASSERT_EQ(poll.request.back(), '\r');
        }
        if (poll.address == "C") {
            ASSERT_TRUE(poll.answer.empty());
            ASSERT_FALSE(poll.answerFirst);
        } else if (poll.address != "D") {  // D's drop corrupts characters now and then
            ASSERT_EQ(poll.answer.size(), 5u);
            ASSERT_EQ(poll.answer.front(), poll.address[0]);
            ASSERT_EQ(poll.answer.back(), '\r');
            if (poll.write) {
                ASSERT_EQ(poll.answer, poll.address + "ACK\r");
            }
        }
    }
}

TEST_F(MasterMinute, EachCharacterTakesItsWireTimeAndAnswersFollowTheControllersDelays) {
    const auto& log = master.Log();
    ASSERT_FALSE(log.empty());
    Instant readyAt{};
    for (std::size_t i = 0; i < log.size(); ++i) {
        const MasterPoll& poll = log[i];
        SCOPED_TRACE("poll " + std::to_string(i));
        // A write's value frame (six characters like the command) is handed over 50 ms after it.
        const Instant start = poll.requestEnd - character * 6 - (poll.write ? 50ms : 0ms);
        // The first request starts at once, each later one a gap after the previous wait.
        ASSERT_EQ(start, readyAt);
        if (poll.answerFirst) {
            ASSERT_EQ(*poll.answerFirst, poll.requestEnd + DelayOf(poll.address[0]) + character);
            ASSERT_EQ(*poll.answerLast - *poll.answerFirst,
                      character * static_cast<int>(poll.answer.size() - 1));
        }
        const Instant waitEnd = poll.answerLast && poll.answer.back() == '\r'
                                    ? *poll.answerLast
                                    : poll.requestEnd + AnswerWindow;
        readyAt = waitEnd + 20ms;
    }
}

TEST_F(MasterMinute, TheListeningHostReceivesBothDirectionsInOrderWithoutOverlaps) {
    const auto& log = master.Log();
    ASSERT_GE(log.size(), 2u);
    const int count = line.InBufferCount();
    std::vector<Instant> arrivals;
    for (int i = 0; i < count; ++i) {
        arrivals.push_back(*line.ArrivalOf(i));
    }
    const std::string received = line.Input();
    // The last poll may still be on the wire when the minute ends.
    const std::string complete = WireText({log.begin(), log.end() - 1});
    const std::string all = WireText(log);
    ASSERT_GE(received.size(), complete.size());
    EXPECT_EQ(received.substr(0, complete.size()), complete);
    EXPECT_EQ(all.substr(0, received.size()), received);
    for (std::size_t i = 1; i < arrivals.size(); ++i) {
        ASSERT_GE(arrivals[i] - arrivals[i - 1], character) << "byte " << i;
    }
    EXPECT_LE(arrivals.back(), time.Now());
}

TEST(SimulatedMaster, ASlowAnswerIsWaitedOutAndAGarbledOneWaitsTheWholeTimeOut) {
    const LineSettings settings{19200, Parity::Even, 7, 1};
    const Duration character = CharacterTime(settings);
    SimulatedBus bus({{"A", 250ms}, {"B", 1ms, ControllerFault::GarbledLastChar}}, 0.0, 1);
    MasterSchedule schedule;
    schedule.writeEvery = 0;
    schedule.pollGap = 5ms;
    SimulatedMaster master(std::move(bus), schedule, settings);
    const Instant t0 = Instant{} + 1s;
    const auto first = master.NextPoll(t0);
    ASSERT_EQ(first.size(), 11u);
    EXPECT_EQ(first.front().end, t0 + character);
    const MasterPoll slow = master.Log().back();
    EXPECT_EQ(*slow.answerFirst, slow.requestEnd + 250ms + character);
    EXPECT_EQ(master.ReadyAt(), *slow.answerLast + 5ms);
    // An earlier start is no reason to talk over the line.
    const auto second = master.NextPoll(t0);
    EXPECT_EQ(second.front().end, *slow.answerLast + 5ms + character);
    const MasterPoll garbled = master.Log().back();
    EXPECT_EQ(garbled.address, "B");
    EXPECT_NE(garbled.answer.back(), '\r');
    EXPECT_EQ(master.ReadyAt(), garbled.requestEnd + 200ms + 5ms);
    // Polls go on counting across a cleared log.
    master.ClearLog();
    master.NextPoll(t0);
    EXPECT_EQ(master.Log().size(), 1u);
    EXPECT_EQ(master.Log().back().address, "A");
    EXPECT_EQ(master.PollCount(), 3);
}

TEST(SimulatedMaster, ItPollsOnlyTheAddressesGivenAndStopsWhenItGoes) {
    VirtualTime time;
    SimulatedSerialLine line{time};
    ASSERT_TRUE(line.SetSettings(" 9600,N,8, 1"));
    ASSERT_TRUE(line.SetPortOpen(true));
    MasterSchedule schedule;
    schedule.addresses = {"E", "A", "Z"};  // Z is not on the line
    schedule.writeEvery = 2;
    SimulatedMaster master(SimulatedBus(DemoControllers(), 0.0, 1), schedule, k9600);
    {
        MasterOnLine playing(master, line, time);
        time.RunFor(2s);
    }
    const auto polls = master.PollCount();
    ASSERT_GE(polls, 6);
    EXPECT_EQ(master.Log()[0].address, "E");
    EXPECT_EQ(master.Log()[1].address, "A");
    EXPECT_TRUE(master.Log()[1].write);
    EXPECT_EQ(master.Log()[2].address, "Z");
    EXPECT_TRUE(master.Log()[2].answer.empty());
    time.RunFor(10s);
    EXPECT_EQ(master.PollCount(), polls);
    EXPECT_EQ(time.PendingEvents(), 0u);

    // A master of nobody sends nothing and does not spin.
    SimulatedMaster nobody(SimulatedBus({}, 0.0, 1), MasterSchedule{}, k9600);
    MasterOnLine idle(nobody, line, time);
    time.RunFor(1s);
    EXPECT_TRUE(nobody.Log().empty());
    EXPECT_EQ(time.PendingEvents(), 0u);
}

}  // namespace
}  // namespace tarvel
