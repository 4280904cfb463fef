// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/LineList.h"

#include <QFontMetrics>
#include <QListView>
#include <QThreadPool>
#include <memory>

#include "ui/QtControls.h"

namespace tarvel {
namespace {

constexpr std::size_t kFreeAsideFrom = 10'000;

}  // namespace

int LineListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(lines_.size());
}

QVariant LineListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    if (role == Qt::SizeHintRole && measure_) {
        return measure_(lines_[longest_]);
    }
    if (role != Qt::DisplayRole) {
        return {};
    }
    return ToQt(lines_[static_cast<std::size_t>(index.row())]);
}

void LineListModel::FindLongest() {
    longest_ = 0;
    for (std::size_t row = 1; row < lines_.size(); ++row) {
        if (lines_[row].size() > lines_[longest_].size()) {
            longest_ = row;
        }
    }
}

void LineListModel::Append(std::string line) {
    const int row = rowCount();
    beginInsertRows(QModelIndex(), row, row);
    lines_.push_back(std::move(line));
    ++changes_;
    if (lines_.back().size() > lines_[longest_].size()) {
        longest_ = lines_.size() - 1;
    }
    endInsertRows();
}

void LineListModel::RemoveAt(int row) {
    if (row < 0 || row >= rowCount()) {
        return;
    }
    beginRemoveRows(QModelIndex(), row, row);
    lines_.erase(lines_.begin() + row);
    ++changes_;
    FindLongest();
    endRemoveRows();
}

void LineListModel::Replace(std::vector<std::string> lines) {
    beginResetModel();
    std::swap(lines_, lines);
    ++changes_;
    FindLongest();
    endResetModel();
    // A million lines take a while to free: not on the program's thread.
    if (lines.size() > kFreeAsideFrom) {
        auto old = std::make_shared<std::vector<std::string>>(std::move(lines));
        QThreadPool::globalInstance()->start([old]() mutable { old.reset(); });
    }
}

LineList::LineList(QWidget* parent, const QRect& at)
    : view_(new QListView(parent)), model_(new LineListModel(view_)) {
    view_->setGeometry(at);
    view_->setModel(model_);
    // Every line is one line of the same font: the view need not measure each of them.
    view_->setUniformItemSizes(true);
    // Laid out in batches between events, so a million lines never hold up the window.
    view_->setLayoutMode(QListView::Batched);
    view_->setBatchSize(20000);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->setSelectionMode(QAbstractItemView::SingleSelection);
    model_->MeasureBy([view = view_](const std::string& line) {
        const QFontMetrics metrics(view->font());
        return QSize(metrics.horizontalAdvance(ToQt(line)) + 12, metrics.height() + 2);
    });
}

void LineList::AddItem(const std::string& text) { model_->Append(text); }
void LineList::RemoveItem(int index) { model_->RemoveAt(index); }
void LineList::Clear() { model_->Replace({}); }
int LineList::Count() const { return model_->rowCount(); }

std::string LineList::Item(int index) const {
    const auto& lines = model_->Lines();
    return index >= 0 && index < Count() ? lines[static_cast<std::size_t>(index)] : std::string();
}

int LineList::SelectedIndex() const {
    const QModelIndexList selected = view_->selectionModel()->selectedRows();
    return selected.isEmpty() ? -1 : selected.front().row();
}

void LineList::SetVisible(bool visible) { view_->setVisible(visible); }
bool LineList::Visible() const { return !view_->isHidden(); }
void LineList::ReplaceAll(std::vector<std::string> items) { model_->Replace(std::move(items)); }

}  // namespace tarvel
