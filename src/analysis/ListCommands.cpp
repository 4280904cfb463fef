// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/ListCommands.h"

#include <memory>

#include "core/Analysis.h"
#include "core/ListFile.h"
#include "platform/TextFiles.h"
#include "platform/Waits.h"

namespace tarvel {

FileRequest SaveErrorListRequest() {
    return {"Save Error List", "Data Files (*.lst)|*.lst", "lst", 0};
}
FileRequest LoadErrorListRequest() {
    return {"Load Error List", "Data Files (*.lst)|*.lst|All files (*.*)| *.*|", "lst", 0};
}
FileRequest SaveAnalysisRequest() {
    return {"Save Analisys", "Data Files (*.dat)|*.dat", "dat", 0};
}
FileRequest LoadAnalysisRequest() {
    return {"Load Analisys", "Data Files (*.dat)|*.dat|All files (*.*)| *.*|", "dat", 0};
}

void ListCommands::Tell(const std::string& text) {
    prompts_.ShowMessage(
        {text, "Info Box", MessageIcon::Exclamation, MessageButtons::Ok, std::string()});
}

QCoro::Task<> ListCommands::Save(ListBox& list, FileRequest request) {
    const auto path = prompts_.ChooseFileToSave(request);
    if (!path) {
        co_return;
    }
    if (list.Count() < 1) {
        prompts_.ShowMessage({"No items to save !", "Error", MessageIcon::Exclamation,
                              MessageButtons::Ok, std::string()});
        co_return;
    }
    co_await SaveTo(list, *path);
}

QCoro::Task<bool> ListCommands::SaveTo(const ListBox& list, std::string path) {
    auto bytes = std::make_shared<const std::string>(FormatListFile(list.Items()));
    // Named, not a temporary of the co_await: g++ 12 destroys a lambda argument there twice.
    Aside<std::optional<std::string>> writing(
        scheduler_, [path, bytes] { return WriteFileReplacing(path, *bytes); });
    const std::optional<std::string> failure = co_await writing;
    if (failure) {
        Tell("The list could not be saved to\n" + ShownPath(path) + "\n" + *failure +
             "\nAny file that was there is unchanged.");
        co_return false;
    }
    co_return true;
}

QCoro::Task<> ListCommands::Load(ListBox& list, FileRequest request) {
    const auto path = prompts_.ChooseFileToOpen(request);
    if (!path) {
        list.SetVisible(true);
        co_return;
    }
    co_await LoadFrom(list, *path);
}

QCoro::Task<bool> ListCommands::LoadFrom(ListBox& list, std::string path) {
    const std::uint64_t changesBefore = list.Changes();
    const int countBefore = list.Count();
    // Read and checked to the end before the list is touched: a file refused changes nothing.
    using Read = std::variant<std::vector<std::string>, ListFileProblem>;
    Aside<Read> reading(scheduler_, [path]() -> Read {
        std::string bytes;
        if (const auto refusal = ReadRegularFile(path, bytes, kListFileLimit)) {
            return ListFileProblem{AfterPath(*refusal)};
        }
        Read items = ReadListFile(bytes);
        if (auto* problem = std::get_if<ListFileProblem>(&items)) {
            problem->text = "is not a list: " + problem->text;
        }
        return items;
    });
    Read read = co_await reading;
    if (const auto* problem = std::get_if<ListFileProblem>(&read)) {
        Tell("The file\n" + ShownPath(path) + "\n" + problem->text + ".\nThe list is unchanged.");
        co_return false;
    }
    auto items = std::move(std::get<std::vector<std::string>>(read));
    // Lines added while the file was read (the records of a run) stay, after the file's.
    const std::uint64_t changed = list.Changes() - changesBefore;
    if (changed > 0 && static_cast<std::uint64_t>(list.Count() - countBefore) == changed) {
        const auto& now = list.Items();
        items.insert(items.end(), now.begin() + countBefore, now.end());
    }
    list.ReplaceAll(std::move(items));
    list.SetVisible(true);
    co_return true;
}

bool ListCommands::RefuseWhileBusy(int fileTasksRunning) {
    if (fileTasksRunning == 0) {
        return false;
    }
    Tell("A file of this list is still being read or written. Try again when it is done.");
    return true;
}

void ListCommands::Analyse(ListBox& list) {
    const std::vector<std::string>& lines = list.Items();
    const std::size_t count = lines.size();
    AnalysisReport report = tarvel::Analyse(lines);
    if (count == 0) {
        list.ReplaceAll(std::move(report.lines));
        list.SetVisible(true);
        return;
    }
    if (report.records == 0) {
        Tell((count == 1 ? std::string("The one line of the list is no error record")
                         : "None of the " + std::to_string(count) +
                               " lines of the list is an error record") +
             ", so there is nothing to analyze.\nThe list is left as it is.");
        return;
    }
    list.ReplaceAll(std::move(report.lines));
    if (report.skipped > 0) {
        Tell(std::to_string(report.skipped) + " of the " + std::to_string(count) +
             " lines of the list " +
             (report.skipped == 1 ? "is no error record" : "are no error records") +
             " (an analysis's own lines, for example) and " +
             (report.skipped == 1 ? "was" : "were") + " left out of the analysis.");
    }
}

void CopyErrorList(const ListBox& errors, ListBox& analyzer) {
    if (errors.Count() < 1) {
        analyzer.SetVisible(false);
        return;
    }
    analyzer.ReplaceAll(errors.Items());
    analyzer.SetVisible(true);
}

}  // namespace tarvel
