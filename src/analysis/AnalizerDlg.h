// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>
#include <functional>
#include <memory>

#include "analysis/ListCommands.h"
#include "platform/Tasks.h"
#include "ui/LineList.h"

class QAction;

namespace tarvel {

// The analyzer window "The tarvel's opinions": its own working copy of the error list, which
// "Start Analisys" turns into the report of each controller, and the list files of both.
class AnalizerDlg final : public QWidget {
    Q_OBJECT
public:
    // `analizeButton` gives the main window's "Analize", given back by "E&xit !".
    AnalizerDlg(std::function<Switch&()> analizeButton, Prompts& prompts, Scheduler& scheduler,
                QWidget* parent = nullptr);
    ~AnalizerDlg() override;

    void SaveMEnu_Click();
    void LoadMenu_Click();
    void LoadErrMenu_Click();
    void DelErrSelMenu_Click();
    void DelErrMenu_Click();
    void StartMenu_Click() { commands_.Analyse(*list_); }
    void ExitMenu_Click();

    ListBox& List() { return *list_; }
    LineList& ListView() { return *list_; }
    // A save or load still reading or writing its file.
    TaskOwner& FileTasks() { return tasks_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::function<Switch&()> analizeButton_;
    ListCommands commands_;
    TaskOwner tasks_;
    std::unique_ptr<LineList> list_;
};

}  // namespace tarvel
