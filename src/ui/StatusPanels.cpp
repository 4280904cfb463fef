// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/StatusPanels.h"

#include <QDateTime>
#include <QLabel>
#include <QLocale>

#include "ui/Twips.h"

namespace tarvel {

StatusPanels::StatusPanels(QWidget* parent) : QWidget(parent) {
    const std::array<int, 4> widths = {3025, 1350, 1025, 875};
    int left = 0;
    for (std::size_t i = 0; i < panels_.size(); ++i) {
        auto* panel = new QLabel(this);
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setGeometry(Pixels(left), 2, Pixels(widths[i]) - 2, Pixels(495) - 4);
        panel->setAlignment(i < 2 ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignCenter);
        panel->setIndent(3);
        panel->setTextFormat(Qt::PlainText);
        panels_[i] = panel;
        left += widths[i];
    }
    texts_[0] = std::make_unique<LabelText>(panels_[0]);
    texts_[1] = std::make_unique<LabelText>(panels_[1]);
    ShowClock();
    connect(&clock_, &QTimer::timeout, this, &StatusPanels::ShowClock);
    clock_.start(1000);
}

QString StatusPanels::ShownText(int number) const { return panels_.at(number - 1)->text(); }

void StatusPanels::ShowClock() {
    const QDateTime now = QDateTime::currentDateTime();
    const QLocale locale = QLocale::system();
    panels_[2]->setText(locale.toString(now.date(), QLocale::ShortFormat));
    panels_[3]->setText(locale.toString(now.time(), QLocale::ShortFormat));
}

}  // namespace tarvel
