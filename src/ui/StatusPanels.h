// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTimer>
#include <QWidget>
#include <array>
#include <memory>

#include "ui/QtControls.h"

class QLabel;

namespace tarvel {

// The main window's status bar: four sunken panels. Panel 1 says what the running operation is
// doing, panel 2 names the protocol, panels 3 and 4 keep the date and the time current by
// themselves.
class StatusPanels final : public QWidget {
    Q_OBJECT
public:
    explicit StatusPanels(QWidget* parent = nullptr);
    // Panel 1 or 2.
    TextDisplay& Panel(int number) { return *texts_.at(number - 1); }
    QString ShownText(int number) const;

private:
    void ShowClock();

    std::array<QLabel*, 4> panels_{};
    std::array<std::unique_ptr<LabelText>, 2> texts_;
    QTimer clock_;
};

}  // namespace tarvel
