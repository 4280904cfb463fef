// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gtest/gtest.h>

#include "core/Primo.h"
#include "lines/EchoCancellingLine.h"
#include "platform/VirtualTime.h"
#include "serial/PortService.h"
#include "sim/SimulatedSerialLine.h"

namespace tarvel::testing {

// Port 1 at 9600 baud, 8N1.
inline Primo Primo9600() {
    Primo primo;
    primo.PortNumber = 1;
    primo.BaudText = " 9600";
    primo.ParityText = "N";
    primo.DataBitsText = "8";
    primo.StopBitsText = " 1";
    return primo;
}

// A simulated line on virtual time, opened at 9600 baud, 8N1, through the port service, with
// the program's layer against echoing adapters in between (passing everything through unless
// told to look for echoes).
struct LineRig {
    VirtualTime time;
    SimulatedSerialLine line{time};
    EchoCancellingLine echoLayer;
    Primo primo = Primo9600();
    PortService port;

    explicit LineRig(EchoMode echo = EchoMode::Off)
        : echoLayer(line, time, echo), port(echoLayer, primo, time) {
        EXPECT_FALSE(port.OpenPort());
    }

    Duration CharacterTime() const { return tarvel::CharacterTime(line.Settings()); }
    Duration Elapsed() const { return time.Now().time_since_epoch(); }
};

}  // namespace tarvel::testing
