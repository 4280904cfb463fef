// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/Verdict.h"

#include "core/Exchange.h"

#include <cstdio>

#include "core/NumberText.h"

namespace tarvel {

std::string VerdictMessage(ExchangeVerdict verdict, ExchangeKind kind, VerdictFamily family) {
    if (family != VerdictFamily::Ascon) {
        kind = ExchangeKind::Test;
    }
    switch (verdict) {
        case ExchangeVerdict::NoAnswer:
            return kind == ExchangeKind::Probe ? "Not detected !" : "No answer !";
        case ExchangeVerdict::WrongCount: return "Wrong # of characters !";
        case ExchangeVerdict::NoCr:
            return kind == ExchangeKind::Test ? "CR not received !" : "Unknow format !";
        case ExchangeVerdict::BadCrc: return "CRC error !";
        case ExchangeVerdict::WrongLength: return "Wrong length !";
        case ExchangeVerdict::WrongSource: return "Wrong address or function !";
        case ExchangeVerdict::Cut: return "Answer cut !";
        case ExchangeVerdict::BadLrc: return "LRC error !";
        case ExchangeVerdict::NotHex: return "Not hexadecimal !";
        case ExchangeVerdict::NoLf: return "LF not received !";
        case ExchangeVerdict::OddLength: return "Odd number of characters !";
        case ExchangeVerdict::Good: break;
    }
    return {};
}

std::string VerdictMessage(const Exchange& exchange) {
    return VerdictMessage(exchange.verdict, exchange.kind, exchange.family);
}

std::string TimeOfDayText(const TimeOfDay& time) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", time.hours % 100, time.minutes % 100,
                  time.seconds % 100);
    return text;
}

std::string ErrorRecord(std::string_view station, const TimeOfDay& time, ExchangeVerdict verdict,
                        int attempt, ExchangeKind kind) {
    return std::string(station) + "  " + TimeOfDayText(time) + "  " +
           VerdictMessage(verdict, kind) + "  " + SignedNumberText(attempt);
}

std::string ErrorRecord(const Exchange& exchange) {
    return std::string(exchange.request.stationText) + "  " +
           TimeOfDayText(exchange.judgedAt.time) + "  " + VerdictMessage(exchange) + "  " +
           SignedNumberText(exchange.request.attempt);
}

}  // namespace tarvel
