#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "monitor/LineStatistics.h"
#include "monitor/TrafficLog.h"

namespace tarvel {

// CSV as RFC 4180 has it: fields separated by commas, records ended by CR LF, a field quoted
// when it holds a comma, a quote, a CR or an LF, its quotes doubled. Text is UTF-8.

std::string CsvField(std::string_view field);
std::string CsvRecord(const std::vector<std::string>& fields);

// The traffic log, a header row and then two records per exchange, request and answer.
std::string TrafficCsv(const TrafficLog& log);
// The statistics table, a header row and then one record per controller.
std::string StatisticsCsv(const LineStatistics& statistics);

// The columns of the statistics table, as its header and its CSV show them.
const std::vector<std::string>& StatisticsColumns();
// The values of one row of the statistics table, in the order of StatisticsColumns().
std::vector<std::string> StatisticsFields(const ControllerStatistics& controller,
                                          Duration answerWindow);

}  // namespace tarvel
