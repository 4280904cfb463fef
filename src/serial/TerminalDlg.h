#pragma once

#include <QDialog>

namespace tarvel {

// The terminal window "KeyBoard", shown modally from the main window's "Terminal" button.
class TerminalDlg final : public QDialog {
    Q_OBJECT
public:
    explicit TerminalDlg(QWidget* parent = nullptr);
    void ExitMenu_Click();
};

}  // namespace tarvel
