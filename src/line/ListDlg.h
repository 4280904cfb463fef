// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>
#include <memory>

#include "ui/LineList.h"

namespace tarvel {

// The controller list window: one line for each controller the line detector found. Shown
// without blocking the main window; "E&xit !" and the frame's close control hide it, and its
// lines stay.
class ListDlg final : public QWidget {
    Q_OBJECT
public:
    explicit ListDlg(QWidget* parent = nullptr);
    ~ListDlg() override;

    void ExitMenu_Click();
    // Appends a line; the window does not show itself for it.
    void AddLine(const std::string& line) { list_->AddItem(line); }
    ListBox& List() { return *list_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::unique_ptr<LineList> list_;
};

}  // namespace tarvel
