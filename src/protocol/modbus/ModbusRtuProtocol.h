// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "protocol/Protocol.h"

namespace tarvel {

// Modbus RTU and its older twin JBus RTU: stations are addresses from 1 (247 for Modbus, 255
// for JBus; 0 is the broadcast that no one answers), written as numbers; a frame is the address,
// the function, its data and a CRC-16, with 3.5 characters of silence before it; always eight
// data bits. The test request and the probe read holding registers (function 3); an exception
// answer proves the controller and the line as well as the registers do.
class ModbusRtuProtocol final : public Protocol {
public:
    struct Variant {
        std::string name;         // "MB RTU"
        std::string commandName;  // "modbus-rtu"
        int lastAddress;
    };

    static Variant Modbus() { return {"MB RTU", "modbus-rtu", 247}; }
    static Variant Jbus() { return {"JB RTU", "jbus-rtu", 255}; }

    // The test request reads `read.count` holding registers from `read.start`.
    explicit ModbusRtuProtocol(Variant variant, RequestChoice read = {});

    std::string_view Name() const override { return variant_.name; }
    std::string_view CommandName() const override { return variant_.commandName; }
    bool ChecksFrames() const override { return true; }
    std::vector<Station> Stations() const override;
    std::string StationText(Station station) const override;
    std::optional<Station> StationFrom(std::string_view text) const override;
    const std::vector<int>& Speeds() const override {
        static const std::vector<int> speeds{1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
        return speeds;
    }
    int DataBitsFor(bool /*withParity*/) const override { return 8; }
    // Even parity is the standard's default, and no parity takes two stop bits.
    std::vector<CharacterFraming> SearchFramings() const override {
        return {{'E', 8, 1}, {'N', 8, 2}, {'O', 8, 1}, {'N', 8, 1}};
    }
    ExchangeTimings Timings(ExchangeKind kind, Duration characterTime) const override;
    std::string SettleFrame() const override { return {}; }
    Duration SettleTime(Duration characterTime) const override;
    std::string RequestFor(Station station, ExchangeKind kind) const override;
    // A function whose answer's length is not known here (a maker's own, say) has its answer
    // taken until the line has been silent for the frame gap.
    int AnswerLength(const Request& request, std::string_view arrived) const override;
    Duration AnswerEndingSilence(Duration characterTime,
                                 Duration hostDelayAllowance) const override;
    int HealthyAnswerLength(const Request& request) const override;
    using Protocol::CheckAnswer;
    AnswerCheck CheckAnswer(const Request& request, ExchangeKind kind, bool late,
                            const ArrivedAnswer& arrived) const override;
    // The operator gives the bytes up to the CRC; the CRC is added.
    std::string TerminalFrame(std::string_view typed) const override;
    // The answer in hexadecimal and what it says.
    std::string AnswerShown(std::string_view answer) const override;
    std::string AnswerBytes(std::string_view answer) const override;
    std::unique_ptr<FrameDecoder> MakeDecoder(const DecoderSettings& settings) const override;
    std::unique_ptr<Responder> MakeResponder() const override;

    // The answer window of both kinds of exchange when the operator chooses none.
    static constexpr Duration DefaultAnswerWindow = std::chrono::milliseconds(500);

private:
    Variant variant_;
    RequestChoice read_;
};

}  // namespace tarvel
