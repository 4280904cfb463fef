// SPDX-License-Identifier: GPL-3.0-or-later
// A scan in real time through a pseudo-terminal: the program's QSerialPort line on one side,
// the simulated bus on the other.

#include <gtest/gtest.h>

#include "line/LineDetector.h"
#include "support/PtyRig.h"
#include "support/RealTime.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;

// Stops the scan once the tries at address `stopAt` have begun.
struct StopAtAddress final : ScanSink {
    Primo& primo;
    int stopAt;
    std::vector<int> found;
    StopAtAddress(Primo& p, int at) : primo(p), stopAt(at) {}
    void AddressStarting(Station index, int, int) override {
        if (index == stopAt) {
            primo.StopFlag = kTrue;
        }
    }
    void ControllerFound(int index, int) override { found.push_back(index); }
};

QCoro::Task<ScanEnd> ScanOnce(LineDetector& detector, LineUse& lineUse) {
    co_return co_await detector.Scan(co_await lineUse.Acquire());
}

TEST(PtyScan, FindsTheSimulatedControllersThroughTheRealPort) {
    testing::PtyRig rig({{"A", 5ms}, {"B", 20ms}, {"D", 5ms}});
    ASSERT_TRUE(rig.Ready()) << rig.failure;
    LineUse lineUse(rig.scheduler);
    ControllerAddressTable table = StartupAddressTable();
    LineDetector detector(rig.primo, *rig.port, table);
    StopAtAddress sink(rig.primo, 2);
    detector.AddSink(sink);
    rig.primo.RetryCount = 0;
    const ScanEnd end = testing::RunInEventLoop(ScanOnce(detector, lineUse), 10s);
    EXPECT_EQ(end.found, (std::vector<std::int16_t>{0, 1}));
    EXPECT_TRUE(end.stopped);
    EXPECT_EQ(table[0], 0);
    EXPECT_EQ(table[1], 1);
    // Settle; A and B answer; C is silent and settled after.
    EXPECT_EQ(rig.Frames(), (std::vector<std::string>{"", "A?X  ", "B?X  ", "C?X  ", ""}));
}

}  // namespace
}  // namespace tarvel
