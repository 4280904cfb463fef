// SPDX-License-Identifier: GPL-3.0-or-later
// SIGINT and SIGTERM in line-tarvel-cli: the first asks for a proper stop through the pipe, a
// second one ends the program at once, whatever the stop is waiting for.

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>

#include "cli/StopSignals.h"

namespace tarvel {
namespace {

struct StopSignalsTest : ::testing::Test {
    int ends[2] = {-1, -1};
    struct sigaction before[2]{};

    StopSignalsTest() {
        EXPECT_EQ(::pipe(ends), 0);
        ::sigaction(SIGINT, nullptr, &before[0]);
        ::sigaction(SIGTERM, nullptr, &before[1]);
    }
    ~StopSignalsTest() override {
        ::sigaction(SIGINT, &before[0], nullptr);
        ::sigaction(SIGTERM, &before[1], nullptr);
        ::close(ends[0]);
        ::close(ends[1]);
    }
};

TEST_F(StopSignalsTest, TheFirstSignalIsPassedOnAndNamed) {
    CatchStopSignals(ends[1]);
    ASSERT_EQ(::raise(SIGTERM), 0);
    unsigned char number = 0;
    ASSERT_EQ(::read(ends[0], &number, 1), 1);
    EXPECT_EQ(number, SIGTERM);
    EXPECT_EQ(StopSignalName(number), "SIGTERM");
    EXPECT_EQ(StopSignalName(SIGINT), "Ctrl+C");
    // Neither is caught any more.
    for (const int signal : {SIGINT, SIGTERM}) {
        struct sigaction now {};
        ::sigaction(signal, nullptr, &now);
        EXPECT_EQ(now.sa_handler, SIG_DFL) << signal;
    }
}

TEST_F(StopSignalsTest, ASecondSignalEndsTheProgramAtOnce) {
    EXPECT_EXIT(
        {
            CatchStopSignals(ends[1]);
            ::raise(SIGINT);
            ::raise(SIGINT);
            std::_Exit(0);
        },
        ::testing::KilledBySignal(SIGINT), "");
}

}  // namespace
}  // namespace tarvel
