// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <functional>

#include "app/Program.h"
#include "lines/EchoCancellingLine.h"
#include "platform/VirtualTime.h"
#include "sim/SimulatedSerialLine.h"
#include "support/FakePorts.h"
#include "support/ScriptedPrompts.h"

namespace tarvel::testing {

// The whole program on virtual time, a simulated line and scripted prompts. As in the program,
// the line is seen through the layer that finds and takes off an adapter's echo.
struct ProgramRig {
    VirtualTime time;
    SimulatedSerialLine line{time};
    EchoCancellingLine echoLayer{line, time, EchoMode::Auto};
    ScriptedPrompts prompts;
    int processEnds = 0;
    FakePortEnumerator hostPorts;
    PortMap ports{&hostPorts};
    Program program{Platform{time, echoLayer, prompts, [this] { ++processEnds; }, &ports}};
};

// Acts on the modal dialogs the code under test opens, one step per dialog, in order.
class ModalScript {
public:
    explicit ModalScript(std::deque<std::function<void(QWidget&)>> steps)
        : steps_(std::move(steps)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal != nullptr && modal != last_ && !steps_.empty()) {
                last_ = modal;
                auto step = std::move(steps_.front());
                steps_.pop_front();
                step(*modal);
            }
        });
        timer_.start(5);
    }
    bool Done() const { return steps_.empty(); }

private:
    std::deque<std::function<void(QWidget&)>> steps_;
    QWidget* last_ = nullptr;
    QTimer timer_;
};

}  // namespace tarvel::testing
