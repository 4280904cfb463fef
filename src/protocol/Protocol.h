// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Exchange.h"
#include "core/Station.h"
#include "core/Time.h"
#include "protocol/FrameDecoder.h"
#include "protocol/Responder.h"

namespace tarvel {

// When an exchange's request goes out and how long its answer is waited for.
struct ExchangeTimings {
    // From the end of the output-drain wait to the write; for the terminal, between its
    // "Command" and its "Value" frame.
    Duration pause{0};
    // From the write to the end of the answer wait; for the terminal, from its last frame.
    Duration window{0};
    // The pause is a silence the line must keep before the request (Modbus's 3.5 characters),
    // counted from the last character on the line rather than from the end of the drain wait:
    // the program's own time over the last verdict is part of it.
    bool silence = false;
};

// The verdict on what had arrived when an answer wait ended, and how many of those characters
// are the answer, to be read from the input; 0 leaves them all to the settle that follows.
struct AnswerCheck {
    ExchangeVerdict verdict = ExchangeVerdict::Good;
    int take = 0;
    std::optional<int> exceptionCode;  // a good answer that refuses the request, and why
};

// What had arrived when an answer wait ended: the characters, and when each reached the host
// where the line tells (`arrivals` is then as long as `bytes`; empty where it cannot), on a line
// whose characters take `characterTime` each.
struct ArrivedAnswer {
    std::string_view bytes;
    std::vector<Instant> arrivals;
    Duration characterTime{0};
    // A silence the host's own delivery can make is no silence of the line.
    Duration hostDelayAllowance = kHostDelayAllowance;
};

// How the characters of a line are framed, as a search across settings tries them: the parity's
// letter (N, E, O), data bits and stop bits.
struct CharacterFraming {
    char parity = 'N';
    int dataBits = 8;
    int stopBits = 1;
};

// What the operator chose of the test request, where a protocol lets him: which registers it
// reads.
struct RequestChoice {
    int start = 0;  // the first register's address as it goes on the wire
    int count = 1;
};

// One protocol of the bus, as the engines need it: they ask and judge through it and never look
// inside a frame themselves. Implementations are stateless and shared.
class Protocol {
public:
    virtual ~Protocol() = default;

    // As the port dialog names it: "Ascon", "MB RTU".
    virtual std::string_view Name() const = 0;
    // As the command line's --protocol names it: "ascon", "modbus-rtu".
    virtual std::string_view CommandName() const = 0;

    // Whether its frames carry a check and a length of their own, judged with the verdicts that
    // go with them, and its stations are known by number (Modbus): reports show what only such
    // protocols have.
    virtual bool ChecksFrames() const { return false; }
    // Which findings its exchanges can have, and so which columns its reports carry.
    virtual VerdictFamily Verdicts() const {
        return ChecksFrames() ? VerdictFamily::ModbusRtu : VerdictFamily::Ascon;
    }

    // Every station the protocol can address, in the order a scan asks them.
    virtual std::vector<Station> Stations() const = 0;
    // The station as the operator and the files write it.
    virtual std::string StationText(Station station) const = 0;
    // The inverse, for what the operator typed; nothing for text that names no station.
    virtual std::optional<Station> StationFrom(std::string_view text) const = 0;

    // The speeds its lines take, from the slowest.
    virtual const std::vector<int>& Speeds() const = 0;
    // The data bits that go with a parity on this protocol's lines.
    virtual int DataBitsFor(bool withParity) const = 0;
    // The framings a search across settings tries at each speed, likeliest first; none where the
    // search keeps its own order (Ascon's, from the port dialog's lists).
    virtual std::vector<CharacterFraming> SearchFramings() const { return {}; }

    // On a line whose characters take `characterTime` each: some protocols count their
    // silences in characters.
    virtual ExchangeTimings Timings(ExchangeKind kind, Duration characterTime) const = 0;
    // What clears the line between exchanges, and how long after it the input is dropped.
    virtual std::string SettleFrame() const = 0;
    virtual Duration SettleTime(Duration characterTime) const = 0;

    virtual std::string RequestFor(Station station, ExchangeKind kind) const = 0;
    // Characters that make a complete answer to `request`, as far as the first of them
    // (`arrived`, perhaps none yet) tell; the answer wait ends when that many have arrived. 0
    // where the protocol does not know the length of the answer: it ends with a silence of
    // AnswerEndingSilence.
    virtual int AnswerLength(const Request& request, std::string_view arrived) const = 0;
    // The silence that ends such an answer, as the host can see it through its delivery.
    virtual Duration AnswerEndingSilence(Duration /*characterTime*/,
                                         Duration /*hostDelayAllowance*/) const {
        return Duration{0};
    }
    // Characters of a healthy answer to `request`, before any has come: what a wait that must
    // be short allows for.
    virtual int HealthyAnswerLength(const Request& request) const {
        return AnswerLength(request, {});
    }
    // Judges what had arrived (`arrived`: the characters waiting when the wait ended) in answer
    // to `request`, `late` when the window ran out before the answer was whole (for Ascon the
    // time-out wins whatever came; a protocol with a length of its own judges what did, and the
    // silences between its characters where their arrivals are known).
    virtual AnswerCheck CheckAnswer(const Request& request, ExchangeKind kind, bool late,
                                    const ArrivedAnswer& arrived) const = 0;
    // The same, for characters whose arrivals are not known.
    AnswerCheck CheckAnswer(const Request& request, ExchangeKind kind, bool late,
                            std::string_view arrived) const {
        return CheckAnswer(request, kind, late, ArrivedAnswer{arrived, {}, Duration{0}});
    }

    // A frame the operator typed, as it goes on the wire.
    virtual std::string TerminalFrame(std::string_view typed) const = 0;
    // A good answer as the terminal shows it: without what only frames it.
    virtual std::string AnswerShown(std::string_view answer) const = 0;
    // The bytes a good answer carries, without what only frames it (a check, a framing of text).
    virtual std::string AnswerBytes(std::string_view answer) const { return std::string(answer); }
    // Characters as they went over the wire, for the operator: in hexadecimal, where the
    // protocol's frames are not text.
    virtual std::string WireShown(std::string_view characters) const;

    // Splits a line that another master drives into judged exchanges.
    virtual std::unique_ptr<FrameDecoder> MakeDecoder(const DecoderSettings& settings) const = 0;
    // What a simulated controller makes of the frames on its bus.
    virtual std::unique_ptr<Responder> MakeResponder() const = 0;
};

}  // namespace tarvel
