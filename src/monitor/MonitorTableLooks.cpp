// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/MonitorTableLooks.h"

#include <QBrush>
#include <QColor>
#include <QFont>
#include <QHeaderView>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTableView>

namespace tarvel {
namespace {

struct Look {
    QColor back;
    QColor text;
};

// Colours an operator tells apart at a glance, with dark text that stays readable on each.
Look LookOf(Judgement judgement) {
    switch (judgement) {
        case Judgement::Healthy: return {QColor(0xc6, 0xef, 0xce), QColor(0x00, 0x55, 0x00)};
        case Judgement::Intermittent: return {QColor(0xff, 0xc8, 0x57), QColor(0x5a, 0x38, 0x00)};
        case Judgement::Slow: return {QColor(0xff, 0xf1, 0x8c), QColor(0x5a, 0x4a, 0x00)};
        case Judgement::Garbled: return {QColor(0xf4, 0xa6, 0xa6), QColor(0x78, 0x00, 0x00)};
        case Judgement::Silent: return {QColor(0xc8, 0xc8, 0xc8), QColor(0x8b, 0x00, 0x00)};
        case Judgement::NotAsked: break;
    }
    return {};
}

// A cell as plain text on its colours. The style's own item painting lays every text out
// several times to place icons, check boxes and elision these tables never have; with the
// tables redrawn through a run, that was most of the window's cost.
class PlainCell final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const bool selected = option.state & QStyle::State_Selected;
        const QPalette::ColorGroup group =
            option.state & QStyle::State_Active ? QPalette::Active : QPalette::Inactive;
        const QVariant background = index.data(Qt::BackgroundRole);
        if (selected) {
            painter->fillRect(option.rect, option.palette.brush(group, QPalette::Highlight));
        } else if (background.canConvert<QBrush>()) {
            painter->fillRect(option.rect, background.value<QBrush>());
        }
        const QVariant foreground = index.data(Qt::ForegroundRole);
        painter->setPen(selected ? option.palette.color(group, QPalette::HighlightedText)
                        : foreground.canConvert<QBrush>()
                            ? foreground.value<QBrush>().color()
                            : option.palette.color(group, QPalette::Text));
        const QVariant font = index.data(Qt::FontRole);
        painter->setFont(font.canConvert<QFont>() ? font.value<QFont>() : option.font);
        const QVariant alignment = index.data(Qt::TextAlignmentRole);
        const int flags =
            alignment.isValid() ? alignment.toInt() : int(Qt::AlignLeft | Qt::AlignVCenter);
        painter->drawText(option.rect.adjusted(4, 0, -4, 0), flags | Qt::TextSingleLine,
                          index.data(Qt::DisplayRole).toString());
    }
};

}  // namespace

QVariant JudgementLook(Judgement judgement, int role) {
    const Look look = LookOf(judgement);
    if (!look.back.isValid()) {
        return {};
    }
    switch (role) {
        case Qt::BackgroundRole: return QBrush(look.back);
        case Qt::ForegroundRole: return QBrush(look.text);
        case Qt::FontRole: {
            QFont bold;
            bold.setBold(true);
            return bold;
        }
        default: return {};
    }
}

QVariant FailedAnswerLook(int role) {
    return role == Qt::ForegroundRole ? QVariant(QBrush(QColor(0xa0, 0x00, 0x00))) : QVariant();
}

QTableView* MonitorTable(QWidget* parent, const char* name) {
    auto* view = new QTableView(parent);
    view->setItemDelegate(new PlainCell(view));
    view->setObjectName(name);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setWordWrap(false);
    view->setTextElideMode(Qt::ElideNone);
    view->verticalHeader()->hide();
    // One line of one font per row: the view never measures a row, however many there are.
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
    return view;
}

}  // namespace tarvel
