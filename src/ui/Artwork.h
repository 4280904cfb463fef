// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFont>
#include <QPixmap>
#include <QPushButton>

class QAbstractItemView;
class QMenuBar;
#include <QSize>

// The program's pictures, drawn rather than shipped as files.

namespace tarvel {

// A field bus: a cable with controllers hanging off it.
QPixmap LinePicture(QSize size);
// A single process controller with its display.
QPixmap ControllerPicture(QSize size);

// The font of every window: small enough for the fixed layouts.
QFont FormFont();

// Gives `window` a menu bar and a client area of fixed size under it, and returns the client
// area for the window's controls.
QWidget* FixedClientArea(QWidget& window, QMenuBar* menu, QSize clientSize);

// The look of the error and analysis lists: Arial bold 9.75 points, `text` on white.
void StyleRecordList(QAbstractItemView& list, QColor text);

// A push button whose caption wraps onto a second line when it does not fit.
class WrappingButton final : public QPushButton {
public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent* event) override;
};

inline constexpr const char* kMakerLogo = "Line Tarvel project";
inline constexpr const char* kContactAddress = "line-tarvel@example.org";

}  // namespace tarvel
