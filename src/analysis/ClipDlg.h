// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>
#include <functional>
#include <memory>

#include "analysis/ListCommands.h"
#include "platform/Tasks.h"
#include "ui/LineList.h"

namespace tarvel {

// The clipboard window "ClipBoard": it holds the error list, one record per failed exchange,
// for the life of the process. Shown without blocking the main window; "E&xit !" and the frame's
// close control hide it and give the main window's "Report" back.
class ClipDlg final : public QWidget {
    Q_OBJECT
public:
    // `reportButton` gives the main window's "Report"; `analyze` hands the list to the analyzer.
    ClipDlg(std::function<Switch&()> reportButton, std::function<void()> analyze, Prompts& prompts,
            Scheduler& scheduler, QWidget* parent = nullptr);
    ~ClipDlg() override;

    void SaveMEnu_Click();
    void LoadMenu_Click();
    // A save or load still reading or writing its file.
    TaskOwner& FileTasks() { return tasks_; }
    void CancelMenu_Click();
    void DelAllMenu_Click();
    void DelSelMenu_Click();
    void AnalisysMenu_Click() { analyze_(); }

    ListBox& List() { return *list_; }
    LineList& ListView() { return *list_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::function<Switch&()> reportButton_;
    std::function<void()> analyze_;
    ListCommands commands_;
    TaskOwner tasks_;
    std::unique_ptr<LineList> list_;
};

}  // namespace tarvel
