// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/Artwork.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QMenuBar>
#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QVBoxLayout>

#include <algorithm>

namespace tarvel {

QFont FormFont() {
    QFont font = QApplication::font();
    font.setPixelSize(11);
    return font;
}

QWidget* FixedClientArea(QWidget& window, QMenuBar* menu, QSize clientSize) {
    auto* client = new QWidget(&window);
    client->setFixedSize(clientSize);
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setMenuBar(menu);
    layout->addWidget(client);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    return client;
}

void StyleRecordList(QAbstractItemView& list, QColor text) {
    QFont font("Arial");
    font.setPointSizeF(9.75);
    font.setBold(true);
    list.setFont(font);
    QPalette palette = list.palette();
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Base, Qt::white);
    list.setPalette(palette);
}

void WrappingButton::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const QString caption = option.text;
    option.text.clear();
    painter.drawControl(QStyle::CE_PushButton, option);
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
    painter.drawText(rect().adjusted(2, 2, -2, -2), Qt::AlignCenter | Qt::TextWordWrap, caption);
}

QPixmap LinePicture(QSize size) {
    QPixmap picture(size);
    picture.fill(QColor(0, 0, 64));
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    const int w = size.width();
    const int h = size.height();
    painter.setPen(QPen(QColor(255, 200, 0), 2));
    const int bus = w / 4;
    painter.drawLine(bus, 4, bus, h - 4);
    const int drops = 5;
    for (int i = 0; i < drops; ++i) {
        const int y = 10 + i * (h - 20) / (drops - 1);
        painter.setPen(QPen(QColor(255, 200, 0), 1));
        painter.drawLine(bus, y, w / 2, y);
        painter.setPen(Qt::NoPen);
        painter.setBrush(i == 2 ? QColor(200, 40, 40) : QColor(60, 200, 90));
        painter.drawRoundedRect(QRect(w / 2, y - 5, w / 2 - 6, 10), 2, 2);
    }
    return picture;
}

QPixmap ControllerPicture(QSize size) {
    QPixmap picture(size);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRect body = picture.rect().adjusted(2, 2, -2, -2);
    painter.setBrush(QColor(70, 70, 80));
    painter.setPen(QPen(Qt::black, 1));
    painter.drawRoundedRect(body, 4, 4);
    const QRect display = body.adjusted(6, 6, -6, -body.height() / 2);
    painter.setBrush(Qt::black);
    painter.drawRect(display);
    painter.setPen(QColor(255, 60, 40));
    QFont digits = painter.font();
    digits.setBold(true);
    digits.setPixelSize(std::max(8, std::min(display.height() - 4, display.width() / 2)));
    painter.setFont(digits);
    painter.drawText(display, Qt::AlignCenter, "215");
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(60, 200, 90));
    painter.drawEllipse(QPoint(body.left() + 12, body.bottom() - 10), 4, 4);
    return picture;
}

}  // namespace tarvel
