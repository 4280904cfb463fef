#pragma once

#include <QWidget>
#include <functional>
#include <memory>

#include "ui/QtControls.h"

class QAction;
class QListWidget;

namespace tarvel {

// The clipboard window "ClipBoard": it holds the error list, one record per failed exchange,
// for the life of the process. Shown without blocking the main window; "E&xit !" and the frame's
// close control hide it and give the main window's "Report" back.
class ClipDlg final : public QWidget {
    Q_OBJECT
public:
    // `reportButton` gives the main window's "Report"; `analyze` hands the list to the analyzer.
    ClipDlg(std::function<Switch&()> reportButton, std::function<void()> analyze,
            QWidget* parent = nullptr);
    ~ClipDlg() override;

    void CancelMenu_Click();
    void DelAllMenu_Click();
    void DelSelMenu_Click();
    void AnalisysMenu_Click() { analyze_(); }

    ListBox& List() { return *list_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::function<Switch&()> reportButton_;
    std::function<void()> analyze_;
    QListWidget* ListBox_;
    std::unique_ptr<WidgetListBox> list_;
    QAction* SaveMEnu;
    QAction* LoadMenu;
};

}  // namespace tarvel
