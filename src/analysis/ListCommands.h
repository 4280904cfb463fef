// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoroTask>
#include <string>

#include "platform/Controls.h"
#include "platform/Prompts.h"
#include "platform/Scheduler.h"

namespace tarvel {

// The file dialogs of the two list windows.
FileRequest SaveErrorListRequest();
FileRequest LoadErrorListRequest();
FileRequest SaveAnalysisRequest();
FileRequest LoadAnalysisRequest();

// The commands of the error list and of the analyzer on their lists: save and load as list
// files, the analysis, and the copy of the error list into the analyzer. What goes wrong with a
// file is told to the operator, and the list is then left as it was. Files are read, checked
// and written away from the program's thread, so a list of a million lines does not freeze the
// window; the lists must outlive the commands on them (they belong to windows that live as
// long as the program).
class ListCommands {
public:
    ListCommands(Prompts& prompts, Scheduler& scheduler)
        : prompts_(prompts), scheduler_(scheduler) {}

    // Asks for a file and writes the list to it; "No items to save !" for an empty list.
    QCoro::Task<> Save(ListBox& list, FileRequest request);
    // Asks for a file and replaces the list with its items, then shows the list; a cancelled
    // dialog only shows the list, a file refused leaves it as it was.
    QCoro::Task<> Load(ListBox& list, FileRequest request);

    // Without the dialog, for a path already chosen. False when the file was refused.
    QCoro::Task<bool> SaveTo(const ListBox& list, std::string path);
    QCoro::Task<bool> LoadFrom(ListBox& list, std::string path);

    // "Start Analisys": the list becomes the report of the error records it holds.
    void Analyse(ListBox& list);

    // True, with a word to the operator, while a file of the list is still read or written:
    // one file at a time per list.
    bool RefuseWhileBusy(int fileTasksRunning);

private:
    void Tell(const std::string& text);

    Prompts& prompts_;
    Scheduler& scheduler_;
};

// "Analize" and the clipboard's "&Analisys !": the error list copied into the analyzer's list
// (or, when it is empty, the analyzer's list hidden).
void CopyErrorList(const ListBox& errors, ListBox& analyzer);

}  // namespace tarvel
