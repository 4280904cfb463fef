#pragma once

#include <QWidget>
#include <functional>
#include <memory>

#include "ui/QtControls.h"

class QListWidget;

namespace tarvel {

// The analyzer window "The tarvel's opinions": its own working copy of the error list.
class AnalizerDlg final : public QWidget {
    Q_OBJECT
public:
    // `analizeButton` gives the main window's "Analize", given back by "E&xit !".
    explicit AnalizerDlg(std::function<Switch&()> analizeButton, QWidget* parent = nullptr);
    ~AnalizerDlg() override;

    void ExitMenu_Click();
    ListBox& List() { return *list_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::function<Switch&()> analizeButton_;
    QListWidget* ListBox_;
    std::unique_ptr<WidgetListBox> list_;
};

// "Analize" and the clipboard's "&Analisys !": the error list copied into the analyzer's list
// (or, when it is empty, the analyzer's list hidden), "Analize" disabled, the window shown.
void CopyErrorListToAnalyzer(ListBox& errors, AnalizerDlg& analyzer, Switch& analizeButton);

}  // namespace tarvel
