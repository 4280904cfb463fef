// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>

namespace tarvel {

enum class MessageIcon { None, Information, Exclamation, Critical };
enum class MessageButtons { Ok, RetryCancel, OkCancel };
enum class MessageAnswer { Ok, Retry, Cancel };

struct MessageRequest {
    std::string text;
    std::string title;
    MessageIcon icon = MessageIcon::Information;
    MessageButtons buttons = MessageButtons::Ok;
    // Shown under the message on request, for example the host's reason why a port would not
    // open. The message itself stays as it is.
    std::string detail;
};

struct FileRequest {
    std::string title;
    // Pairs of description and pattern separated by vertical bars, for example
    // "Data Files (*.cfg)|*.cfg|All files (*.*)| *.*|".
    std::string filter;
    // Added to a file name typed without an extension.
    std::string defaultExtension;
    // Which description-and-pattern pair is preselected, counted from 0.
    int filterIndex = 0;
};

// What the program asks of the operator: modal message boxes, the open and save file dialogs
// and the beep. A modal prompt keeps the event loop running, so a loop that is waiting on the
// line keeps its timing while the operator reads.
class Prompts {
public:
    virtual ~Prompts() = default;
    virtual MessageAnswer ShowMessage(const MessageRequest& request) = 0;
    // The chosen path, or nothing when the operator cancelled.
    virtual std::optional<std::string> ChooseFileToOpen(const FileRequest& request) = 0;
    virtual std::optional<std::string> ChooseFileToSave(const FileRequest& request) = 0;
    virtual void Beep() = 0;
};

}  // namespace tarvel
