// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

class QPushButton;

namespace tarvel {

// The intro window, shown once at start-up. Closing it with its frame goes on like "OK".
class IntroDlg final : public QDialog {
    Q_OBJECT
public:
    explicit IntroDlg(QWidget* parent = nullptr);
    void OkBtn_Click();

private:
    QPushButton* OkBtn;
};

}  // namespace tarvel
