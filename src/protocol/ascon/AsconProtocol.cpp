// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/ascon/AsconProtocol.h"

#include <stdexcept>
#include <string>

#include "core/DeviceTable.h"
#include "protocol/ascon/AsconFrame.h"
#include "protocol/ascon/AsconFrameSplitter.h"
#include "protocol/ascon/AsconResponder.h"

namespace tarvel {

std::vector<Station> AsconProtocol::Stations() const {
    std::vector<Station> stations;
    stations.reserve(kAddressCount);
    for (Station station = 0; station < kAddressCount; ++station) {
        stations.push_back(station);
    }
    return stations;
}

std::string AsconProtocol::StationText(Station station) const {
    if (station < 0 || station >= kAddressCount) {
        return "#" + std::to_string(station);  // no Ascon address: shown, never mistaken for one
    }
    return std::string(1, AddressCharacter(station));
}

std::optional<Station> AsconProtocol::StationFrom(std::string_view text) const {
    if (text.size() != 1) {
        return std::nullopt;
    }
    const int index = AddressIndexOf(text.front());
    if (index < 0 || index >= kAddressCount) {
        return std::nullopt;
    }
    return index;
}

ExchangeTimings AsconProtocol::Timings(ExchangeKind kind, Duration /*characterTime*/) const {
    if (kind == ExchangeKind::Probe) {
        return {ScanRequestPause, ScanAnswerWindow};
    }
    if (kind == ExchangeKind::Terminal) {
        return {TerminalValuePause, TerminalAnswerWindow};
    }
    return {RequestPause, AnswerWindow};
}

Duration AsconProtocol::SettleTime(Duration /*characterTime*/) const { return tarvel::SettleTime; }

std::string AsconProtocol::RequestFor(Station station, ExchangeKind /*kind*/) const {
    if (station < 0 || station >= kAddressCount) {
        throw std::out_of_range("no Ascon address has the number " + std::to_string(station));
    }
    return AsconRequest(AddressCharacter(station));
}

int AsconProtocol::AnswerLength(const Request& /*request*/, std::string_view /*arrived*/) const {
    return tarvel::AnswerLength;
}

AnswerCheck AsconProtocol::CheckAnswer(const Request& /*request*/, ExchangeKind /*kind*/, bool late,
                                       const ArrivedAnswer& answer) const {
    // Its answers are judged by count and end alone, whatever silences came between them.
    const std::string_view arrived = answer.bytes;
    // The time-out wins even when the whole answer came at the same moment.
    if (late) {
        return {ExchangeVerdict::NoAnswer, 0, std::nullopt};
    }
    // Any other count stays in the input for the settle to throw away.
    if (arrived.size() != static_cast<std::size_t>(tarvel::AnswerLength)) {
        return {ExchangeVerdict::WrongCount, 0, std::nullopt};
    }
    if (arrived.back() == AsconFrameEnd) {
        return {ExchangeVerdict::Good, tarvel::AnswerLength, std::nullopt};
    }
    return {ExchangeVerdict::NoCr, tarvel::AnswerLength, std::nullopt};
}

std::string AsconProtocol::TerminalFrame(std::string_view typed) const {
    return std::string(typed) + AsconFrameEnd;
}

std::string AsconProtocol::AnswerShown(std::string_view answer) const {
    if (!answer.empty() && answer.back() == AsconFrameEnd) {
        answer.remove_suffix(1);
    }
    return std::string(answer);
}

std::unique_ptr<FrameDecoder> AsconProtocol::MakeDecoder(const DecoderSettings& settings) const {
    return std::make_unique<AsconFrameSplitter>(settings);
}

std::unique_ptr<Responder> AsconProtocol::MakeResponder() const {
    return std::make_unique<AsconResponder>();
}

}  // namespace tarvel
