// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/Listener.h"

#include "platform/Waits.h"

namespace tarvel {

Listener::Listener(ReadOnlyLine line, Scheduler& scheduler, DecoderSettings settings,
                   const Protocol& protocol)
    : line_(line),
      scheduler_(scheduler),
      protocol_(protocol),
      decoder_(protocol.MakeDecoder(settings)) {}

void Listener::Stop() {
    stopping_ = true;
    stopAsked_.Notify();
}

QCoro::Task<ListenEnd> Listener::Listen(LineUse::Lease lease) {
    const LineUse::Lease held = std::move(lease);
    ListenEnd end;
    listening_ = true;  // a stop asked before this is kept
    decoder_ = protocol_.MakeDecoder(decoder_->Settings());
    line_.WakeOnAnyInput();
    line_.KeepTransmitterOff();
    for (ListenSink* sink : sinks_) {
        sink->ListenStarted(decoder_->Settings().answerWindow);
    }
    while (!stopping_) {
        if (!line_.PortOpen()) {
            end.lineFailure = line_.LastError();
            break;
        }
        TakeInput();
        Report();
        // Woken by characters, by the next verdict that time alone brings, or by Stop.
        co_await NextActivity(scheduler_, line_.InputActivity(), decoder_->NextDeadline(),
                              &stopAsked_);
    }
    // What came before the stop is judged; a request still within its window is left unjudged.
    if (line_.PortOpen()) {
        TakeInput();
    }
    Report();
    listening_ = false;
    for (ListenSink* sink : sinks_) {
        sink->ListenEnded(end);
    }
    co_return end;
}

void Listener::TakeInput() {
    const Instant now = scheduler_.Now();
    for (const ReadOnlyLine::StampedByte& stamped : line_.Take(now)) {
        decoder_->Feed(stamped.byte, stamped.arrival);
    }
    decoder_->Advance(now);
}

void Listener::Report() {
    const Instant now = scheduler_.Now();
    const LocalDateTime wallNow = scheduler_.LocalNow();
    for (Exchange& exchange : decoder_->TakeExchanges()) {
        // The wall clock of the verdict, which may lie a window back from now.
        exchange.judgedAt =
            Later(wallNow, -std::chrono::round<std::chrono::seconds>(now - exchange.judged));
        for (ListenSink* sink : sinks_) {
            sink->RequestWritten(exchange.request);
            sink->ExchangeJudged(exchange);
        }
    }
}

}  // namespace tarvel
