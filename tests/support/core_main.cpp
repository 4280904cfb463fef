// SPDX-License-Identifier: GPL-3.0-or-later
// Test entry for suites that need Qt's event loop (real-time tests on a pseudo-terminal).

#include <gtest/gtest.h>
#include <QCoreApplication>

#include "lines/NetworkPort.h"

int main(int argc, char** argv) {
    tarvel::BlockNetworkWakeSignal();  // as the programs do
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
