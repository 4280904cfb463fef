// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/MonitorFiles.h"

#include <memory>
#include <optional>

#include "monitor/MonitorCsv.h"
#include "platform/TextFiles.h"
#include "platform/Waits.h"

namespace tarvel {

namespace {

FileRequest SaveCsvRequest(std::string title) {
    return {std::move(title), "CSV Files (*.csv)|*.csv|All files (*.*)| *.*|", "csv", 0};
}

}  // namespace

FileRequest SaveTrafficRequest() { return SaveCsvRequest("Save Traffic"); }

FileRequest SaveStatisticsRequest() { return SaveCsvRequest("Save Statistics"); }

QCoro::Task<> MonitorFiles::SaveTraffic() {
    const auto path = prompts_.ChooseFileToSave(SaveTrafficRequest());
    if (!path) {
        co_return;
    }
    // The ring goes on filling while the file is written: the copy is the traffic as it was
    // when the operator chose the file.
    auto snapshot = std::make_shared<const TrafficLog>(monitor_.Traffic());
    // Made apart from the co_await: g++ 12 destroys temporaries of a co_await expression twice.
    QCoro::Task<> writing = Write(*path, "traffic", [snapshot] { return TrafficCsv(*snapshot); });
    co_await std::move(writing);
}

QCoro::Task<> MonitorFiles::SaveStatistics() {
    const auto path = prompts_.ChooseFileToSave(SaveStatisticsRequest());
    if (!path) {
        co_return;
    }
    // At most 128 rows: made here, written aside like the traffic.
    auto text = std::make_shared<const std::string>(StatisticsCsv(monitor_, scheduler_.LocalNow()));
    QCoro::Task<> writing = Write(*path, "statistics", [text] { return *text; });
    co_await std::move(writing);
}

QCoro::Task<> MonitorFiles::Write(std::string path, std::string what,
                                  std::function<std::string()> makeText) {
    // Named, not a temporary of the co_await: g++ 12 destroys a lambda argument there twice.
    Aside<std::optional<std::string>> writing(
        scheduler_, [path, makeText] { return WriteFileReplacing(path, makeText()); });
    const std::optional<std::string> failure = co_await writing;
    if (failure) {
        prompts_.ShowMessage({"The " + what + " could not be saved to\n" + ShownPath(path) + "\n" +
                                  *failure + "\nAny file that was there is unchanged.",
                              "Line Monitor", MessageIcon::Exclamation, MessageButtons::Ok,
                              std::string()});
    }
}

bool MonitorFiles::RefuseWhileBusy(int savesRunning) {
    if (savesRunning == 0) {
        return false;
    }
    prompts_.ShowMessage({"A file of the line monitor is still being written. Try again when it "
                          "is done.",
                          "Line Monitor", MessageIcon::Exclamation, MessageButtons::Ok,
                          std::string()});
    return true;
}

}  // namespace tarvel
