// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractListModel>
#include <QSize>
#include <functional>
#include <string>
#include <vector>

#include "platform/Controls.h"

class QColor;
class QListView;
class QRect;
class QWidget;

namespace tarvel {

// The lines of a record list, held once, as the bytes they are; the view asks only for those it
// shows, so a million lines cost no more to show than ten.
class LineListModel final : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    const std::vector<std::string>& Lines() const { return lines_; }
    std::uint64_t Changes() const { return changes_; }

    // Every line is shown at the size of the longest one, as `measure` finds it: the view then
    // needs to measure nothing, and scrolls sideways far enough for the longest line.
    void MeasureBy(std::function<QSize(const std::string&)> measure) {
        measure_ = std::move(measure);
    }
    void Append(std::string line);
    void RemoveAt(int row);
    void Replace(std::vector<std::string> lines);

private:
    void FindLongest();

    std::vector<std::string> lines_;
    std::uint64_t changes_ = 0;
    std::size_t longest_ = 0;  // the row of the line with the most characters
    std::function<QSize(const std::string&)> measure_;
};

// A list box: a list view on its own model.
class LineList final : public ListBox {
public:
    LineList(QWidget* parent, const QRect& at);

    void AddItem(const std::string& text) override;
    void RemoveItem(int index) override;
    void Clear() override;
    int Count() const override;
    std::string Item(int index) const override;
    int SelectedIndex() const override;
    // Whether the list is shown in its window, whether or not the window itself is.
    void SetVisible(bool visible) override;
    bool Visible() const override;
    const std::vector<std::string>& Items() const override { return model_->Lines(); }
    void ReplaceAll(std::vector<std::string> items) override;
    std::uint64_t Changes() const override { return model_->Changes(); }

    QListView& View() { return *view_; }

private:
    QListView* view_;
    LineListModel* model_;
};

}  // namespace tarvel
