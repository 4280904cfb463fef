// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/TrafficLog.h"

#include <algorithm>
#include <cassert>

namespace tarvel {
namespace {

void AppendUtf8(std::string& text, char32_t code) {
    if (code < 0x80) {
        text += static_cast<char>(code);
    } else if (code < 0x800) {
        text += static_cast<char>(0xC0 | (code >> 6));
        text += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        text += static_cast<char>(0xE0 | (code >> 12));
        text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (code & 0x3F));
    }
}

}  // namespace

const char* ActivityName(Activity activity) {
    switch (activity) {
        case Activity::Scan: return "scan";
        case Activity::Listen: return "listen";
        case Activity::Run: break;
    }
    return "run";
}

TrafficLog::TrafficLog(std::size_t capacity) : capacity_(std::max<std::size_t>(capacity, 1)) {}

void TrafficLog::Add(const Exchange& exchange, Instant runStart, const LocalDateTime& written,
                     std::shared_ptr<const LineDescription> line, Activity activity) {
    ++added_;
    if (entries_.size() < capacity_) {
        entries_.push_back(TrafficEntry{exchange, runStart, written, std::move(line), activity});
        return;
    }
    entries_[oldest_] = TrafficEntry{exchange, runStart, written, std::move(line), activity};
    oldest_ = (oldest_ + 1) % capacity_;
}

void TrafficLog::Clear() {
    entries_.clear();
    entries_.shrink_to_fit();
    oldest_ = 0;
    added_ = 0;
}

const TrafficEntry& TrafficLog::At(std::size_t index) const {
    assert(index < entries_.size());
    return entries_[(oldest_ + index) % entries_.size()];
}

TrafficRow RequestRow(const TrafficLog& log, std::size_t index) {
    return RequestRow(log.At(index), log.NumberOf(index));
}

TrafficRow AnswerRow(const TrafficLog& log, std::size_t index) {
    return AnswerRow(log.At(index), log.NumberOf(index));
}

TrafficRow RequestRow(const TrafficEntry& entry, std::uint64_t number) {
    const Request& request = entry.exchange.request;
    TrafficRow row;
    row.number = number;
    row.line = entry.line;
    row.activity = entry.activity;
    row.sinceRunStart = request.written - entry.runStart;
    row.at = entry.written;
    row.address = request.stationText;
    row.characters = static_cast<int>(request.frame.size());
    row.hex = HexText(request.frame);
    row.text = VisibleText(request.frame);
    return row;
}

TrafficRow AnswerRow(const TrafficEntry& entry, std::uint64_t number) {
    const Exchange& exchange = entry.exchange;
    TrafficRow row;
    row.number = number;
    row.line = entry.line;
    row.activity = entry.activity;
    row.answer = true;
    row.sinceRunStart = exchange.firstArrival.value_or(exchange.judged) - entry.runStart;
    row.at = exchange.judgedAt;
    row.address = exchange.request.stationText;
    row.characters = exchange.received;
    // All that had arrived by the verdict, also when it was too little, too much or too late.
    row.hex = HexText(exchange.arrived);
    row.text = VisibleText(exchange.arrived);
    row.verdict = exchange.Failed() ? VerdictMessage(exchange) : "good";
    if (exchange.exceptionCode) {
        // A refusal proves the controller and the line; its code tells what it refused.
        row.verdict += " (exception " + std::to_string(*exchange.exceptionCode) + ")";
    }
    return row;
}

std::string VisibleText(std::string_view bytes) {
    // The ASCII names, not Unicode's control pictures: few fonts have those, and a CSV file
    // read by any program shows these as they are.
    static constexpr const char* names[] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL",
                                            "BS",  "HT",  "LF",  "VT",  "FF",  "CR",  "SO",  "SI",
                                            "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB",
                                            "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};
    std::string text;
    text.reserve(bytes.size() + 8);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            text += '<';
            text += byte == 0x7F ? "DEL" : names[byte];
            text += '>';
        } else if (byte >= 0x80 && byte < 0xA0) {
            // Noise makes these often; as Latin-1 they would show as nothing at all.
            static constexpr char digits[] = "0123456789ABCDEF";
            text += '<';
            text += digits[byte >> 4];
            text += digits[byte & 0x0F];
            text += '>';
        } else {
            AppendUtf8(text, byte);
        }
    }
    return text;
}

}  // namespace tarvel
