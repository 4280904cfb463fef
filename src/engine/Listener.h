// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoroTask>
#include <string>
#include <vector>

#include <memory>

#include "engine/CycleSink.h"
#include "lines/ReadOnlyLine.h"
#include "platform/Scheduler.h"
#include "protocol/FrameDecoder.h"
#include "protocol/Protocol.h"
#include "protocol/Protocols.h"
#include "serial/LineUse.h"

namespace tarvel {

// How listening ended.
struct ListenEnd {
    std::string lineFailure;  // why the serial line failed, when it did; empty otherwise
};

// What the listener reports: each exchange it heard, as the test cycle reports its own, so that
// the line monitor's statistics, traffic and judgements, and the command line's reports, take
// them unchanged.
class ListenSink : public ExchangeSink {
public:
    virtual void ListenStarted(Duration /*answerWindow*/) {}
    virtual void ListenEnded(const ListenEnd& /*end*/) {}
};

// Judges a live line without sending a byte: it reads what the plant's own master and the
// controllers put on the wire, splits it into requests and answers (its protocol's decoder), and
// reports every exchange. It holds the line as a run does, so that nothing else sends meanwhile.
class Listener {
public:
    Listener(ReadOnlyLine line, Scheduler& scheduler, DecoderSettings settings,
             const Protocol& protocol = DefaultProtocol());
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    void AddSink(ListenSink& sink) { sinks_.push_back(&sink); }
    // Listens until Stop() or until the line fails.
    QCoro::Task<ListenEnd> Listen(LineUse::Lease lease);
    // Ends the listening at once: nothing is waited for on a line the program does not drive.
    void Stop();
    bool Listening() const { return listening_; }

    const FrameDecoder& Decoder() const { return *decoder_; }

private:
    void TakeInput();
    void Report();

    ReadOnlyLine line_;
    Scheduler& scheduler_;
    const Protocol& protocol_;
    std::unique_ptr<FrameDecoder> decoder_;
    std::vector<ListenSink*> sinks_;
    Notifier stopAsked_;
    bool stopping_ = false;
    bool listening_ = false;
};

}  // namespace tarvel
