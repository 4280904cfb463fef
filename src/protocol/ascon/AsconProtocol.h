// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "protocol/Protocol.h"

namespace tarvel {

// The Ascon protocol: 64 stations, each a one-character address ("A" to "~", then code 127, then
// "@"), frames ended by a carriage return, a read request "A?X  " answered by five characters
// whose last is a carriage return.
class AsconProtocol final : public Protocol {
public:
    std::string_view Name() const override { return "Ascon"; }
    std::string_view CommandName() const override { return "ascon"; }
    std::vector<Station> Stations() const override;
    std::string StationText(Station station) const override;
    std::optional<Station> StationFrom(std::string_view text) const override;
    // The port dialog's: 150 to 9600.
    const std::vector<int>& Speeds() const override {
        static const std::vector<int> speeds{150, 300, 600, 1200, 2400, 4800, 9600};
        return speeds;
    }
    int DataBitsFor(bool withParity) const override { return withParity ? 7 : 8; }
    ExchangeTimings Timings(ExchangeKind kind, Duration characterTime) const override;
    std::string SettleFrame() const override { return "\r"; }
    Duration SettleTime(Duration characterTime) const override;
    std::string RequestFor(Station station, ExchangeKind kind) const override;
    int AnswerLength(const Request& request, std::string_view arrived) const override;
    using Protocol::CheckAnswer;
    AnswerCheck CheckAnswer(const Request& request, ExchangeKind kind, bool late,
                            const ArrivedAnswer& arrived) const override;
    std::string TerminalFrame(std::string_view typed) const override;
    std::string AnswerShown(std::string_view answer) const override;
    std::unique_ptr<FrameDecoder> MakeDecoder(const DecoderSettings& settings) const override;
    std::unique_ptr<Responder> MakeResponder() const override;
};

}  // namespace tarvel
