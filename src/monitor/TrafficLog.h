// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/Exchange.h"
#include "core/HexText.h"
#include "core/LineDescription.h"

namespace tarvel {

// What the program was doing when an exchange was made: a test run, a scan, or listening to a
// line another master drives.
enum class Activity { Run, Scan, Listen };
// "run", "scan", "listen".
const char* ActivityName(Activity activity);

// One exchange as the traffic log keeps it.
struct TrafficEntry {
    Exchange exchange;
    Instant runStart{};     // of the run it belongs to, for the times shown from it
    LocalDateTime written;  // the request's; the exchange holds its verdict's
    // The port and settings of its run, shared by every entry of that run.
    std::shared_ptr<const LineDescription> line;
    Activity activity = Activity::Run;
};

// The last exchanges on the line, oldest first: a ring, so that a run of a day keeps the same
// memory as a run of an hour.
class TrafficLog {
public:
    static constexpr std::size_t DefaultCapacity = 100000;

    explicit TrafficLog(std::size_t capacity = DefaultCapacity);

    void Add(const Exchange& exchange, Instant runStart, const LocalDateTime& written,
             std::shared_ptr<const LineDescription> line = nullptr,
             Activity activity = Activity::Run);
    void Clear();

    std::size_t Capacity() const { return capacity_; }
    std::size_t Size() const { return entries_.size(); }
    // 0 is the oldest entry kept; `index` below Size().
    const TrafficEntry& At(std::size_t index) const;
    // Exchanges added since the last Clear, those dropped from the ring included.
    std::uint64_t Added() const { return added_; }
    // The number of the entry at `index`, counted from 1 since the last Clear.
    std::uint64_t NumberOf(std::size_t index) const { return added_ - Size() + index + 1; }

private:
    std::size_t capacity_;
    std::vector<TrafficEntry> entries_;
    std::size_t oldest_ = 0;
    std::uint64_t added_ = 0;
};

// One line of the traffic as the log shows it: a request, or what came back for it.
struct TrafficRow {
    std::uint64_t number = 0;  // of the exchange
    bool answer = false;       // false for the request
    Duration sinceRunStart{0};
    LocalDateTime at;           // on the wall clock
    std::string address = "A";  // the station as its protocol writes it
    int characters = 0;         // on the line: the request's, or those received for the answer
    std::string hex;            // the bytes, "41 3F 58 20 20 0D"
    std::string text;           // the bytes as UTF-8 text with control characters made visible
    std::string verdict;  // empty for a request; "good" or the failure's message for an answer
    std::shared_ptr<const LineDescription> line;  // nothing where the run did not say
    Activity activity = Activity::Run;
};

// The two rows of the entry at `index`: its request and its answer.
TrafficRow RequestRow(const TrafficLog& log, std::size_t index);
TrafficRow AnswerRow(const TrafficLog& log, std::size_t index);
// The same for an entry numbered `number`, wherever it is kept.
TrafficRow RequestRow(const TrafficEntry& entry, std::uint64_t number);
TrafficRow AnswerRow(const TrafficEntry& entry, std::uint64_t number);

// Bytes as UTF-8 text: printable characters as they are, control characters by their ASCII
// names in angle brackets (a carriage return as "<CR>"), the other control characters of
// Latin-1 in hex ("<85>"), the rest of Latin-1 as it is.
std::string VisibleText(std::string_view bytes);

}  // namespace tarvel
