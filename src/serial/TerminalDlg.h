// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

#include "core/Primo.h"
#include "platform/Prompts.h"
#include "platform/Tasks.h"
#include "serial/PortService.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace tarvel {

// The terminal window "KeyBoard", shown modally from the main window's "Terminal" button: one
// hand-typed request and its answer. It is hidden, never destroyed, so inputs and answer stay.
class TerminalDlg final : public QDialog {
    Q_OBJECT
public:
    TerminalDlg(Primo& primo, PortService& port, Prompts& prompts, QWidget* parent = nullptr);

    void SendBtn_Click();
    void InfoMenu_Click();
    void ExitMenu_Click();

    // The exchange in progress, if any: the line stays the terminal's until it has ended.
    TaskOwner& Exchanges() { return exchanges_; }

    // Escape and the frame's close control act like "&Exit !".
    void reject() override { ExitMenu_Click(); }

private:
    QCoro::Task<> Exchange(std::string command, std::string value);

    Primo& primo_;
    PortService& port_;
    Prompts& prompts_;
    TaskOwner exchanges_;

    QLineEdit* Head;
    QLineEdit* Variable;
    QPushButton* SendBtn;
    QLabel* Answer;
};

}  // namespace tarvel
