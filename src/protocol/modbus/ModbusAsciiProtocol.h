// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "protocol/Protocol.h"
#include "protocol/modbus/ModbusRtuProtocol.h"

namespace tarvel {

// Modbus ASCII and JBus ASCII: the same stations, functions and answers as their RTU twins, in
// frames of ':' then each byte as two hexadecimal characters, an LRC and CR LF. A frame may
// pause up to a second between two of its characters, and a ':' always begins a new one: its
// end is found by its characters, not by a silence. Usually seven data bits.
//
// What the bytes say is judged by the RTU twin, on the same bytes with a CRC of their own once
// the LRC has held: both framings answer the same requests alike.
class ModbusAsciiProtocol final : public Protocol {
public:
    static ModbusRtuProtocol::Variant Modbus() { return {"MB ASCII", "modbus-ascii", 247}; }
    static ModbusRtuProtocol::Variant Jbus() { return {"JB ASCII", "jbus-ascii", 255}; }

    explicit ModbusAsciiProtocol(ModbusRtuProtocol::Variant variant, RequestChoice read = {});

    std::string_view Name() const override { return variant_.name; }
    std::string_view CommandName() const override { return variant_.commandName; }
    bool ChecksFrames() const override { return true; }
    VerdictFamily Verdicts() const override { return VerdictFamily::ModbusAscii; }
    std::vector<Station> Stations() const override { return rtu_.Stations(); }
    std::string StationText(Station station) const override { return rtu_.StationText(station); }
    std::optional<Station> StationFrom(std::string_view text) const override {
        return rtu_.StationFrom(text);
    }
    const std::vector<int>& Speeds() const override { return rtu_.Speeds(); }
    int DataBitsFor(bool /*withParity*/) const override { return 7; }
    std::vector<CharacterFraming> SearchFramings() const override;
    ExchangeTimings Timings(ExchangeKind kind, Duration characterTime) const override;
    std::string SettleFrame() const override { return {}; }
    Duration SettleTime(Duration characterTime) const override;
    std::string RequestFor(Station station, ExchangeKind kind) const override;
    // The frame is whole at its LF (or at a CR without one); until then, one more character.
    int AnswerLength(const Request& request, std::string_view arrived) const override;
    int HealthyAnswerLength(const Request& request) const override;
    using Protocol::CheckAnswer;
    AnswerCheck CheckAnswer(const Request& request, ExchangeKind kind, bool late,
                            const ArrivedAnswer& arrived) const override;
    // The operator gives the bytes up to the LRC; ':', the LRC and CR LF are added.
    std::string TerminalFrame(std::string_view typed) const override;
    // The answer's bytes in hexadecimal, as RTU shows them, and what they say.
    std::string AnswerShown(std::string_view answer) const override;
    std::string AnswerBytes(std::string_view answer) const override;
    // As text: ":010300000001FB\r\n", with any other character that is not printable in <hex>.
    std::string WireShown(std::string_view characters) const override;
    std::unique_ptr<FrameDecoder> MakeDecoder(const DecoderSettings& settings) const override;
    std::unique_ptr<Responder> MakeResponder() const override;

    // A second between characters is allowed inside a frame: the window leaves room for one.
    static constexpr Duration DefaultAnswerWindow = std::chrono::seconds(1);

private:
    ModbusRtuProtocol::Variant variant_;
    ModbusRtuProtocol rtu_;
};

// The bytes an ASCII frame carries, LRC taken off, as its RTU twin frames them (CRC added):
// empty for text that holds no whole, sound frame.
std::string RtuTwinOf(std::string_view asciiFrame);
// The other way: an RTU frame (CRC included) as ASCII frames it.
std::string AsciiTwinOf(std::string_view rtuFrame);

}  // namespace tarvel
