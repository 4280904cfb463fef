// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "monitor/LineMonitor.h"
#include "monitor/LineStatistics.h"
#include "monitor/TrafficLog.h"

namespace tarvel {

// CSV as RFC 4180 has it: fields separated by commas, records ended by CR LF, a field quoted
// when it holds a comma, a quote, a CR or an LF, its quotes doubled. Text is UTF-8.

std::string CsvField(std::string_view field);
std::string CsvRecord(const std::vector<std::string>& fields);

// Every row of both files ends with its date and time (ISO 8601 with the UTC offset), the port
// and the settings: columns rather than a comment row, so that a row keeps saying where it comes
// from when files are joined, filtered or sorted, and every CSV reader takes the file as it is.
// They come last, so the earlier columns keep their places.

// The traffic log, a header row and then two records per exchange, request and answer.
std::string TrafficCsv(const TrafficLog& log);
std::string TrafficCsvHeader();
// The two records of one exchange, as TrafficCsv writes them.
std::string TrafficCsvRecords(const TrafficEntry& entry, std::uint64_t number);
// The statistics file: a header row, then one record per controller of the last test run (or
// listening) and one per address of the last scan, as they stood at `madeAt`. The last column
// says which a row counts ("run", "listen" or "scan"), as the traffic's last column says of each
// exchange: a column rather than a block of rows under a title of its own, so that every row
// still says what it counts when the file is filtered or sorted; last, like the other columns
// added since the first files, so that the earlier ones keep their places.
std::string StatisticsCsv(const LineMonitor& monitor, const LocalDateTime& madeAt);
// `verdicts`: the line's protocol's; Modbus's own failures and its exceptions take the place of
// Ascon's four failure columns.
std::string StatisticsCsvHeader(VerdictFamily verdicts = VerdictFamily::Ascon);
// The records of one kind, as StatisticsCsv writes them.
std::string StatisticsCsvRecords(Activity activity, const LineStatistics& statistics,
                                 const LineDescription& line, const LocalDateTime& madeAt,
                                 VerdictFamily verdicts = VerdictFamily::Ascon);

// The columns of the statistics table, as its header and its CSV show them.
const std::vector<std::string>& StatisticsColumns(VerdictFamily verdicts = VerdictFamily::Ascon);
// The values of one row of the statistics table, in the order of StatisticsColumns().
std::vector<std::string> StatisticsFields(const ControllerStatistics& controller,
                                          Duration answerWindow,
                                          VerdictFamily verdicts = VerdictFamily::Ascon);

}  // namespace tarvel
