#include "ui/LineList.h"

#include <QListView>

#include "ui/QtControls.h"

namespace tarvel {

int LineListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(lines_.size());
}

QVariant LineListModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    return ToQt(lines_[static_cast<std::size_t>(index.row())]);
}

void LineListModel::Append(std::string line) {
    const int row = rowCount();
    beginInsertRows(QModelIndex(), row, row);
    lines_.push_back(std::move(line));
    endInsertRows();
}

void LineListModel::RemoveAt(int row) {
    if (row < 0 || row >= rowCount()) {
        return;
    }
    beginRemoveRows(QModelIndex(), row, row);
    lines_.erase(lines_.begin() + row);
    endRemoveRows();
}

void LineListModel::Replace(std::vector<std::string> lines) {
    beginResetModel();
    lines_ = std::move(lines);
    endResetModel();
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
