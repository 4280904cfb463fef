// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/MonitorModels.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>

#include "core/DeviceTable.h"
#include "core/Verdict.h"
#include "monitor/MonitorCsv.h"

namespace tarvel {
namespace {

QString Latin1(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// A cell's number when the whole of it is one, so that "9.5" sorts before "10.0".
QVariant SortKey(const std::string& field) {
    if (field.empty()) {
        return {};
    }
    // Not strtod: the host's locale may want a decimal comma.
    double value = 0;
    const char* end = field.data() + field.size();
    const auto [stop, error] = std::from_chars(field.data(), end, value);
    if (error == std::errc() && stop == end) {
        return value;
    }
    return Latin1(field);
}

// Worst last, so that a descending sort puts the controllers to look at first on top.
int Severity(Judgement judgement) {
    switch (judgement) {
        case Judgement::NotAsked: return 0;
        case Judgement::Healthy: return 1;
        case Judgement::Slow: return 2;
        case Judgement::Intermittent: return 3;
        case Judgement::Garbled: return 4;
        case Judgement::Silent: return 5;
    }
    return 0;
}

const char* const kTrafficColumns[] = {"Exchange", "ms from run start", "Time of day", "Direction",
                                       "Address",  "Characters",        "Hex",         "Text",
                                       "Verdict"};
constexpr int kTrafficColumnCount = static_cast<int>(std::size(kTrafficColumns));

// A column title over two lines, split at the blank nearest its middle, so that nineteen
// columns fit the window's width.
QString TwoLines(const std::string& title) {
    std::size_t split = std::string::npos;
    for (std::size_t i = 0; i < title.size(); ++i) {
        if (title[i] == ' ' &&
            (split == std::string::npos ||
             std::abs(static_cast<long>(2 * i) - static_cast<long>(title.size())) <
                 std::abs(static_cast<long>(2 * split) - static_cast<long>(title.size())))) {
            split = i;
        }
    }
    std::string text = title;
    if (split != std::string::npos && title.size() > 8) {
        text[split] = '\n';
    }
    return Latin1(text);
}

bool Numeric(int trafficColumn) { return trafficColumn <= 1 || trafficColumn == 5; }

}  // namespace

StatisticsModel::StatisticsModel(const LineMonitor& monitor, QObject* parent)
    : QAbstractTableModel(parent), monitor_(monitor) {}

StatisticsModel::Row StatisticsModel::MakeRow(const ControllerStatistics& controller) const {
    const Duration window = monitor_.Statistics().AnswerWindow();
    Row row;
    row.station = controller.station;
    row.fields = StatisticsFields(controller, window, verdicts_);
    const Assessment assessment = Assess(controller, window);
    row.judgement = assessment.judgement;
    row.reason = assessment.reason;
    row.sortKeys.reserve(row.fields.size());
    for (const std::string& field : row.fields) {
        row.sortKeys.push_back(SortKey(field));
    }
    // The address in the order of the bus (the station's number), the judgement by how bad it
    // is.
    row.sortKeys.front() = controller.station;
    row.sortKeys.back() = Severity(row.judgement);
    return row;
}

void StatisticsModel::Refresh() {
    // A line of another protocol has columns of its own: everything is shown afresh.
    const VerdictFamily verdicts = monitor_.ShownVerdicts();
    if (verdicts != verdicts_) {
        beginResetModel();
        verdicts_ = verdicts;
        rows_.clear();
        endResetModel();
    }
    const std::vector<ControllerStatistics>& controllers = monitor_.Statistics().Controllers();
    std::vector<Row> rows;
    rows.reserve(controllers.size());
    for (const ControllerStatistics& controller : controllers) {
        rows.push_back(MakeRow(controller));
    }
    // Controllers join at the end during a run; only a new run or "Res" takes them away. Rows
    // inserted (rather than a reset) keep the operator's selection and scroll position.
    const bool samePrefix =
        rows.size() >= rows_.size() &&
        std::equal(rows_.begin(), rows_.end(), rows.begin(),
                   [](const Row& a, const Row& b) { return a.station == b.station; });
    if (!samePrefix) {
        beginResetModel();
        rows_ = std::move(rows);
        endResetModel();
        return;
    }
    const int kept = static_cast<int>(rows_.size());
    const int added = static_cast<int>(rows.size()) - kept;
    // Only the rows that changed are painted again: between two refreshes a few controllers
    // have had an exchange, not all of them.
    for (int i = 0; i < kept; ++i) {
        Row& row = rows_[static_cast<std::size_t>(i)];
        Row& now = rows[static_cast<std::size_t>(i)];
        if (row.fields == now.fields && row.reason == now.reason) {
            continue;
        }
        row = std::move(now);
        emit dataChanged(index(i, 0), index(i, columnCount() - 1));
    }
    if (added > 0) {
        beginInsertRows(QModelIndex(), kept, kept + added - 1);
        for (std::size_t i = static_cast<std::size_t>(kept); i < rows.size(); ++i) {
            rows_.push_back(std::move(rows[i]));
        }
        endInsertRows();
    }
}

int StatisticsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int StatisticsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(StatisticsColumns(verdicts_).size());
}

QVariant StatisticsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) {
        return {};
    }
    const Row& row = rows_[static_cast<std::size_t>(index.row())];
    const auto column = static_cast<std::size_t>(index.column());
    const bool judgement = index.column() == JudgementColumn();
    switch (role) {
        case Qt::DisplayRole:
            // Address 62 is DEL, which no font draws.
            return Latin1(column == 0 ? VisibleText(row.fields[column]) : row.fields[column]);
        case SortRole: return row.sortKeys[column];
        case Qt::ToolTipRole: return judgement ? Latin1(row.reason) : QVariant();
        case Qt::TextAlignmentRole:
            if (index.column() == 0 || judgement) {
                return int(Qt::AlignCenter);
            }
            return int(Qt::AlignRight | Qt::AlignVCenter);
        default: return judgement && style_ ? style_(row.judgement, role) : QVariant();
    }
}

QVariant StatisticsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount()) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    const std::string& title = StatisticsColumns(verdicts_)[static_cast<std::size_t>(section)];
    if (role == Qt::DisplayRole) {
        return TwoLines(title);
    }
    if (role == Qt::ToolTipRole) {
        if (title.find(" ms") != std::string::npos) {
            return Latin1(title) +
                   QStringLiteral(": milliseconds from the end of the request on the wire to the "
                                  "arrival of the answer's first or last character, over the "
                                  "good answers");
        }
        return Latin1(title);
    }
    return {};
}

int StatisticsModel::RowOf(Station station) const {
    for (std::size_t row = 0; row < rows_.size(); ++row) {
        if (rows_[row].station == station) {
            return static_cast<int>(row);
        }
    }
    return -1;
}

std::string StatisticsModel::Field(int row, int column) const {
    return rows_.at(static_cast<std::size_t>(row)).fields.at(static_cast<std::size_t>(column));
}

Judgement StatisticsModel::JudgementAt(int row) const {
    return rows_.at(static_cast<std::size_t>(row)).judgement;
}

TrafficModel::TrafficModel(const TrafficLog& log, QObject* parent)
    : QAbstractTableModel(parent), log_(log) {}

bool TrafficModel::LogCleared() const {
    // Numbers count on across the ring's drops and start again from 1 only after a Clear.
    return log_.Added() + 1 < first_ + count_;
}

int TrafficModel::Follow() {
    cachedRow_ = -1;
    const std::uint64_t added = log_.Added();
    const std::uint64_t size = log_.Size();
    const std::uint64_t oldest = added - size + 1;
    if (LogCleared() || oldest < first_ || oldest >= first_ + count_) {
        // Cleared, or everything shown has been dropped: the rows are made anew.
        beginResetModel();
        first_ = oldest;
        count_ = size;
        endResetModel();
        return 0;
    }
    const std::uint64_t dropped = oldest - first_;
    if (dropped > 0) {
        beginRemoveRows(QModelIndex(), 0, static_cast<int>(2 * dropped) - 1);
        first_ = oldest;
        count_ -= dropped;
        endRemoveRows();
    }
    if (size > count_) {
        beginInsertRows(QModelIndex(), static_cast<int>(2 * count_),
                        static_cast<int>(2 * size) - 1);
        count_ = size;
        endInsertRows();
    }
    return static_cast<int>(2 * dropped);
}

const TrafficRow* TrafficModel::RowAt(int row) const {
    if (row != cachedRow_ || log_.Added() != cachedAdded_) {
        const std::uint64_t number = first_ + static_cast<std::uint64_t>(row / 2);
        const std::uint64_t oldest = log_.Added() - log_.Size() + 1;
        cachedRow_ = row;
        cachedAdded_ = log_.Added();
        cachedValid_ = number >= oldest && number <= log_.Added() && !LogCleared();
        if (cachedValid_) {
            const auto at = static_cast<std::size_t>(number - oldest);
            cached_ = row % 2 == 0 ? RequestRow(log_, at) : AnswerRow(log_, at);
        }
    }
    return cachedValid_ ? &cached_ : nullptr;
}

int TrafficModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(2 * count_);
}

int TrafficModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kTrafficColumnCount;
}

QVariant TrafficModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= kTrafficColumnCount) {
        return {};
    }
    if (role == Qt::TextAlignmentRole) {
        return Numeric(index.column()) ? int(Qt::AlignRight | Qt::AlignVCenter)
                                       : int(Qt::AlignLeft | Qt::AlignVCenter);
    }
    if (role != Qt::DisplayRole && !(style_ && index.row() % 2 == 1)) {
        return {};
    }
    const TrafficRow* found = RowAt(index.row());
    if (found == nullptr) {
        return role == Qt::DisplayRole && index.column() == 8
                   ? QStringLiteral("(dropped from the log)")
                   : QVariant();
    }
    const TrafficRow& row = *found;
    if (role != Qt::DisplayRole) {
        return !row.verdict.starts_with("good") ? style_(role) : QVariant();
    }
    switch (index.column()) {
        case 0: return QVariant::fromValue<qulonglong>(row.number);
        case 1: return Latin1(Milliseconds(row.sinceRunStart));
        case 2: return Latin1(TimeOfDayText(row.at.time));
        case 3: return row.answer ? QStringLiteral("answer") : QStringLiteral("request");
        case 4: return Latin1(VisibleText(row.address));
        case 5: return row.characters;
        case 6: return Latin1(row.hex);
        case 7: return QString::fromUtf8(row.text.data(), static_cast<qsizetype>(row.text.size()));
        default: return Latin1(row.verdict);
    }
}

QVariant TrafficModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < kTrafficColumnCount) {
        return QString::fromLatin1(kTrafficColumns[section]);
    }
    return QAbstractTableModel::headerData(section, orientation, role);
}

}  // namespace tarvel
