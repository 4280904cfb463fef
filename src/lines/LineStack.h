// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <optional>

#include "lines/EchoCancellingLine.h"
#include "lines/ListenOnlyLine.h"
#include "lines/PortMap.h"
#include "lines/QtSerialLine.h"
#include "lines/ReadOnlyLine.h"
#include "lines/Rs485.h"
#include "lines/SerialLine.h"
#include "platform/Scheduler.h"

namespace tarvel {

// How the program's line is to be built.
struct LineStackOptions {
    // A port of this host is opened in its driver's RS-485 mode; nothing: left as it is.
    std::optional<Rs485Mode> rs485;
    // Whether the port's adapter gives back what the host sends.
    EchoMode echo = EchoMode::Auto;
    // The program only listens: nothing given to the line reaches the wire.
    bool listenOnly = false;
};

// The serial line of a program, built the same way for the windows and the command line: a
// transport at the bottom, then the filters, each in front of the one below it:
//
//   ListenOnlyLine        only when the program just listens
//   EchoCancellingLine    takes an echoing adapter's echo off the input
//   QtSerialLine          COMn's device: a LocalPort, or a NetworkPort for rfc2217:// and tcp://
//
// The stack owns its layers; the program sees only the top.
class LineStack {
public:
    // Over the host's ports: COMn stands for whatever `ports` gives at each opening (a device of
    // this host, the simulated line's pseudo-terminal, rfc2217://HOST:PORT or tcp://HOST:PORT).
    // `ports` must outlive the stack.
    LineStack(const PortMap& ports, Scheduler& scheduler, const LineStackOptions& options);
    // Over a line made elsewhere, such as the simulated line in the same process; it must
    // outlive the stack. The RS-485 option is for a port of this host and is not used here.
    LineStack(SerialLine& transport, Scheduler& scheduler, const LineStackOptions& options);
    ~LineStack();
    LineStack(const LineStack&) = delete;
    LineStack& operator=(const LineStack&) = delete;

    SerialLine& Line() { return *top_; }
    // The line seen from its receiving side only.
    ReadOnlyLine Receiving() { return ReadOnlyLine(*top_); }
    const EchoCancellingLine& EchoLayer() const { return *echo_; }

private:
    void Build(SerialLine& bottom, Scheduler& scheduler, const LineStackOptions& options);

    std::unique_ptr<QtSerialLine> host_;
    std::unique_ptr<EchoCancellingLine> echo_;
    std::unique_ptr<ListenOnlyLine> listenOnly_;
    SerialLine* top_ = nullptr;
};

}  // namespace tarvel
