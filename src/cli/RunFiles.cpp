// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/RunFiles.h"

#include <memory>
#include <ostream>
#include <vector>

#include "platform/TextFiles.h"
#include "platform/Waits.h"

namespace tarvel {

RunFiles::RunFiles(Scheduler& scheduler, std::ostream& err) : scheduler_(scheduler), err_(err) {}

RunFiles::~RunFiles() {
    if (timer_) {
        scheduler_.Cancel(*timer_);
    }
}

bool RunFiles::AddDocument(const std::string& path, const std::string& what, Content content) {
    auto prepared = ReplacedFile::Prepare(path);
    if (auto* failure = std::get_if<std::string>(&prepared)) {
        err_ << "line-tarvel-cli: cannot write the " << what << " " << ShownPath(path) << ": "
             << *failure << "\n";
        return false;
    }
    documents_.push_back(
        std::make_shared<Document>(Document{what, std::move(std::get<ReplacedFile>(prepared)),
                                            std::move(content), std::string(), false, false}));
    return true;
}

bool RunFiles::AddLog(const std::string& path, const std::string& what, const std::string& header) {
    auto prepared = AppendedFile::Prepare(path);
    if (auto* failure = std::get_if<std::string>(&prepared)) {
        err_ << "line-tarvel-cli: cannot write the " << what << " " << ShownPath(path) << ": "
             << *failure << "\n";
        return false;
    }
    log_ = std::make_shared<Log>(Log{what, std::move(std::get<AppendedFile>(prepared)), false});
    Append(header);
    return true;
}

bool RunFiles::ContinueLog(const std::string& path, const std::string& what,
                           const std::string& header) {
    auto prepared = AppendedFile::Continue(path);
    if (auto* failure = std::get_if<std::string>(&prepared)) {
        err_ << "line-tarvel-cli: cannot write the " << what << " " << ShownPath(path) << ": "
             << *failure << "\n";
        anyFailed_ = true;
        return false;
    }
    // The log that is left is made lasting aside; it is closed once that is done.
    if (log_) {
        scheduler_.RunAside([left = log_] { left->file.Sync(); }, [] {});
    }
    log_ = std::make_shared<Log>(Log{what, std::move(std::get<AppendedFile>(prepared)), false});
    if (log_->file.BegunEmpty()) {
        Append(header);
    }
    return true;
}

void RunFiles::Append(const std::string& rows) {
    if (!log_) {
        return;
    }
    // Handed to the host at once: a killed program loses nothing appended before.
    const auto failure = log_->file.Append(rows);
    anyFailed_ = anyFailed_ || failure.has_value();
    Told(log_->what, log_->file.Path(), failure, log_->failing);
    logChanged_ = true;
}

bool RunFiles::Told(const std::string& what, const std::string& path,
                    const std::optional<std::string>& failure, bool& failing) {
    if (failure && !failing) {
        err_ << "line-tarvel-cli: cannot write the " << what << " " << ShownPath(path) << ": "
             << *failure << "\n";
    }
    failing = failure.has_value();
    return !failure;
}

void RunFiles::Start() {
    // Small (an empty list, a table without rows): written here, before the first request.
    for (const auto& shared : documents_) {
        Document& document = *shared;
        if (auto content = document.content()) {
            if (Told(document.what, document.file.Path(), document.file.Replace(*content),
                     document.failing)) {
                document.written = std::move(*content);
                document.everWritten = true;
            } else {
                anyFailed_ = true;
            }
        }
    }
    timer_ = scheduler_.CallAt(scheduler_.Now() + rewriteInterval_, [this] { Tick(); });
}

void RunFiles::Tick() {
    timer_ = scheduler_.CallAt(scheduler_.Now() + rewriteInterval_, [this] { Tick(); });
    if (writing_) {
        return;  // a slow disk: the next tick takes what changed meanwhile
    }
    struct Job {
        std::shared_ptr<Document> document;
        std::shared_ptr<const std::string> bytes;
        std::optional<std::string> failure;
    };
    auto jobs = std::make_shared<std::vector<Job>>();
    for (const auto& document : documents_) {
        if (auto content = document->content();
            content && (!document->everWritten || *content != document->written)) {
            jobs->push_back(
                Job{document, std::make_shared<const std::string>(std::move(*content)), {}});
        }
    }
    std::shared_ptr<Log> log = logChanged_ ? log_ : nullptr;
    logChanged_ = false;
    if (jobs->empty() && log == nullptr) {
        return;
    }
    writing_ = true;
    auto logFailure = std::make_shared<std::optional<std::string>>();
    scheduler_.RunAside(
        [jobs, log, logFailure] {
            for (Job& job : *jobs) {
                job.failure = job.document->file.Replace(*job.bytes);
            }
            if (log != nullptr) {
                *logFailure = log->file.Sync();
            }
        },
        [this, alive = std::weak_ptr<bool>(alive_), jobs, log, logFailure] {
            if (alive.expired()) {
                return;
            }
            for (Job& job : *jobs) {
                Document& document = *job.document;
                if (Told(document.what, document.file.Path(), job.failure, document.failing)) {
                    document.written = *job.bytes;
                    document.everWritten = true;
                } else {
                    anyFailed_ = true;  // the file lagged behind the run for a while
                }
            }
            if (log != nullptr) {
                Told(log->what, log->file.Path(), *logFailure, log->failing);
            }
            writing_ = false;
            written_.Notify();
        });
}

QCoro::Task<bool> RunFiles::Finish() {
    if (timer_) {
        scheduler_.Cancel(*timer_);
        timer_.reset();
    }
    while (writing_) {
        co_await NextActivity(scheduler_, written_, std::nullopt);
    }
    bool allWritten = !anyFailed_;
    for (const auto& shared : documents_) {
        Document& document = *shared;
        const auto content = document.content();
        if (!content) {
            document.file.Abandon();
            continue;
        }
        if (document.everWritten && *content == document.written) {
            continue;
        }
        document.failing = false;  // the last word on each file is told
        const auto failure = document.file.Replace(*content);
        allWritten =
            Told(document.what, document.file.Path(), failure, document.failing) && allWritten;
    }
    if (log_) {
        log_->failing = false;
        allWritten =
            Told(log_->what, log_->file.Path(), log_->file.Sync(), log_->failing) && allWritten;
    }
    co_return allWritten;
}

}  // namespace tarvel
