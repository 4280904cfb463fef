// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLabel>
#include <QMouseEvent>

namespace tarvel {

// A picture that reports a click.
class ClickablePicture final : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
            emit clicked();
        }
        QLabel::mouseReleaseEvent(event);
    }
};

}  // namespace tarvel
