// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractTableModel>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "monitor/LineMonitor.h"

namespace tarvel {

// What a sorting proxy compares: numbers as numbers, empty cells after every value.
inline constexpr int SortRole = Qt::UserRole + 1;

// The statistics table: one row per controller, the columns of StatisticsColumns(). It holds
// the texts of its last refresh, so painting and sorting never reach into the statistics.
class StatisticsModel final : public QAbstractTableModel {
public:
    // The look of a judgement for a role (background, foreground, font); an invalid value
    // leaves the view's own. Colours belong to the window, which knows Qt Gui.
    using JudgementStyle = std::function<QVariant(Judgement, int role)>;

    explicit StatisticsModel(const LineMonitor& monitor, QObject* parent = nullptr);

    void StyleJudgementsBy(JudgementStyle style) { style_ = std::move(style); }
    // Takes the statistics as they are now.
    void Refresh();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    int JudgementColumn() const { return columnCount() - 1; }
    // The row of a controller, in the order of its first exchange; -1 when it has none.
    int RowOf(Station station) const;
    std::string Field(int row, int column) const;
    Judgement JudgementAt(int row) const;

private:
    struct Row {
        Station station = 0;
        std::vector<std::string> fields;
        std::vector<QVariant> sortKeys;
        Judgement judgement = Judgement::NotAsked;
        std::string reason;
    };
    Row MakeRow(const ControllerStatistics& controller) const;

    const LineMonitor& monitor_;
    VerdictFamily verdicts_ = VerdictFamily::Ascon;  // whose columns it has
    std::vector<Row> rows_;
    JudgementStyle style_;
};

// The traffic log as a table: two rows per exchange, its request and its answer, read from
// the ring only for the rows the view paints. Rows stand for exchange numbers, so what a row
// shows stays put while the view is not brought up to the log (paused), until the ring drops it.
class TrafficModel final : public QAbstractTableModel {
public:
    // The look of a failed answer's row for a role; invalid leaves the view's own.
    using FailureStyle = std::function<QVariant(int role)>;

    explicit TrafficModel(const TrafficLog& log, QObject* parent = nullptr);

    void StyleFailuresBy(FailureStyle style) { style_ = std::move(style); }
    // Brings the rows up to the log: the exchanges the ring dropped leave the top, the new ones
    // join at the end. Returns how many rows left the top (0 when the rows were made anew).
    int Follow();
    // The log was cleared ("Res") since the rows were last brought up to it: what they show is
    // gone, paused or not.
    bool LogCleared() const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Exchanges shown, two rows each.
    std::uint64_t Exchanges() const { return count_; }
    // The number of the exchange of the first row.
    std::uint64_t FirstNumber() const { return first_; }

private:
    // The row's request or answer; nothing when the ring no longer holds its exchange.
    const TrafficRow* RowAt(int row) const;

    const TrafficLog& log_;
    std::uint64_t first_ = 1;
    std::uint64_t count_ = 0;
    FailureStyle style_;
    // A view asks for every cell of a row, one after the other: the row is made once (and again
    // when the log has changed since, which may have dropped it).
    mutable int cachedRow_ = -1;
    mutable std::uint64_t cachedAdded_ = 0;
    mutable bool cachedValid_ = false;
    mutable TrafficRow cached_;
};

}  // namespace tarvel
