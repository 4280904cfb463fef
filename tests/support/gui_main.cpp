// SPDX-License-Identifier: GPL-3.0-or-later
// Test entry for suites that build real windows: a QApplication on the offscreen platform, so
// no display is needed.

#include <gtest/gtest.h>
#include <QApplication>

#include "lines/NetworkPort.h"

int main(int argc, char** argv) {
    tarvel::BlockNetworkWakeSignal();  // as the programs do
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
