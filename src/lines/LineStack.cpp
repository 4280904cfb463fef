// SPDX-License-Identifier: GPL-3.0-or-later
#include "lines/LineStack.h"

namespace tarvel {

LineStack::LineStack(const PortMap& ports, Scheduler& scheduler, const LineStackOptions& options)
    : host_(std::make_unique<QtSerialLine>(ports, scheduler)) {
    host_->SetRs485(options.rs485);
    Build(*host_, scheduler, options);
}

LineStack::LineStack(SerialLine& transport, Scheduler& scheduler, const LineStackOptions& options) {
    Build(transport, scheduler, options);
}

// The filters go before the transport they stand in front of.
LineStack::~LineStack() {
    listenOnly_.reset();
    echo_.reset();
    host_.reset();
}

void LineStack::Build(SerialLine& bottom, Scheduler& scheduler, const LineStackOptions& options) {
    echo_ = std::make_unique<EchoCancellingLine>(bottom, scheduler, options.echo);
    top_ = echo_.get();
    if (options.listenOnly) {
        listenOnly_ = std::make_unique<ListenOnlyLine>(*top_);
        top_ = listenOnly_.get();
    }
}

}  // namespace tarvel
