// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>

#include "core/Station.h"
#include "core/Time.h"
#include "core/Verdict.h"

namespace tarvel {

// A request as a loop put it on the line.
struct Request {
    Station station = 0;
    std::string stationText;  // as the protocol writes the station, for whoever shows it
    // Where the loop stands, counted from 0: the controller's position in the device table in a
    // test run, the address index in a scan.
    int position = 0;
    int attempt = 0;  // 0 for the first try, up to the retry count
    std::string frame;
    Instant written{};  // when it was handed to the transmitter
};

// One request and what came of it.
struct Exchange {
    Request request;
    ExchangeKind kind = ExchangeKind::Test;       // which loop made it...
    VerdictFamily family = VerdictFamily::Ascon;  // ...for which protocol: they word the verdict
    ExchangeVerdict verdict = ExchangeVerdict::Good;
    // The characters read for a five-character answer, closing character included; nothing for
    // the verdicts that leave the input to the settle step.
    std::string answer;
    int received = 0;  // characters waiting when the answer was judged
    // Those characters themselves, whatever the verdict, for whoever shows what went over the
    // wire: the settle step discards them from the line when the verdict is a failure.
    std::string arrived;
    Instant judged{};        // when the verdict was reached
    LocalDateTime judgedAt;  // the wall clock at the verdict; the error record shows its time
    // When the first and the last of the received characters reached the host, where the line
    // can tell.
    std::optional<Instant> firstArrival;
    std::optional<Instant> lastArrival;
    // A good answer that refuses the request (a Modbus exception) proves the controller and the
    // line all the same; its code is kept apart.
    std::optional<int> exceptionCode;

    bool Failed() const { return verdict != ExchangeVerdict::Good; }
};

// The error list's line for a failed exchange: see ErrorRecord in core/Verdict.h.
std::string ErrorRecord(const Exchange& exchange);
// Its verdict in the words of its protocol and of the loop that made it.
std::string VerdictMessage(const Exchange& exchange);

}  // namespace tarvel
