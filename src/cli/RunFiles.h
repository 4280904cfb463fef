// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoroTask>
#include <chrono>
#include <functional>
#include <iosfwd>
#include <list>
#include <memory>
#include <optional>
#include <string>

#include "platform/DurableFiles.h"
#include "platform/Notifier.h"
#include "platform/Scheduler.h"

namespace tarvel {

// The files a scan or a test leaves, kept on the disk while it runs, so that a run killed at
// 3 a.m. (or a host that lost its power) leaves its evidence up to the moment it ended: each
// document (error list, analysis report, statistics, line configuration) is replaced whole every
// RewriteInterval when it changed, and the traffic log is appended as exchanges happen. The
// writing and the flushing to the disk run away from the program's thread, so a slow disk never
// holds up the line.
class RunFiles {
public:
    static constexpr Duration RewriteInterval = std::chrono::milliseconds(500);

    // A document's content as it stands now; nothing while there is nothing to write (a scan
    // that has found no controller yet).
    using Content = std::function<std::optional<std::string>()>;

    RunFiles(Scheduler& scheduler, std::ostream& err);
    RunFiles(const RunFiles&) = delete;
    RunFiles& operator=(const RunFiles&) = delete;
    ~RunFiles();

    // Checked before the line is opened: false, with the file and the host's reason told on
    // standard error, when the file cannot be written. `what` names it: "error list".
    bool AddDocument(const std::string& path, const std::string& what, Content content);
    bool AddLog(const std::string& path, const std::string& what, const std::string& header);
    // A log that goes on after what the file holds, the header written only into a new or empty
    // file: a watch's day, again after a restart or a reopening. It takes the place of the log
    // there was; false, told, when the file cannot be written (the log there was is kept).
    bool ContinueLog(const std::string& path, const std::string& what, const std::string& header);
    // How often the documents are replaced when they changed (RewriteInterval); before Start.
    void SetRewriteInterval(Duration interval) { rewriteInterval_ = interval; }
    void Append(const std::string& rows);

    // Writes the first versions, so that the files are there from the first exchange on, and
    // begins the rewrites.
    void Start();
    // The last versions; false when any file could not be written (told on standard error).
    QCoro::Task<bool> Finish();

private:
    struct Document {
        std::string what;
        ReplacedFile file;
        Content content;
        std::string written;  // the last version on the disk
        bool everWritten = false;
        bool failing = false;  // its last write failed, and that was told
    };
    struct Log {
        std::string what;
        AppendedFile file;
        bool failing = false;
    };

    void Tick();
    bool Told(const std::string& what, const std::string& path,
              const std::optional<std::string>& failure, bool& failing);

    Scheduler& scheduler_;
    std::ostream& err_;
    // Shared with the write aside, which keeps them while it runs, even past this object (a
    // command that ends by an exception does not wait for it).
    std::list<std::shared_ptr<Document>> documents_;
    std::shared_ptr<Log> log_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    bool logChanged_ = false;
    bool writing_ = false;  // a write runs aside; nothing here touches the files meanwhile
    Notifier written_;      // notified when it has ended
    std::optional<Scheduler::TimerId> timer_;
    Duration rewriteInterval_ = RewriteInterval;
    bool anyFailed_ = false;
};

}  // namespace tarvel
