// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/Prompts.h"

namespace tarvel::testing {

// Prompts that answer from a script and remember what was asked. A reaction can run while a
// prompt is "open", as the operator's reading time in a nested event loop would.
class ScriptedPrompts final : public Prompts {
public:
    std::vector<MessageRequest> messages;
    std::vector<FileRequest> fileRequests;
    std::deque<MessageAnswer> answers;             // empty: OK, or Cancel for Retry/Cancel
    std::deque<std::optional<std::string>> files;  // empty: cancelled
    std::function<void()> whileOpen;               // runs inside every prompt
    int beeps = 0;

    MessageAnswer ShowMessage(const MessageRequest& request) override {
        messages.push_back(request);
        if (whileOpen) {
            whileOpen();
        }
        if (!answers.empty()) {
            const MessageAnswer answer = answers.front();
            answers.pop_front();
            return answer;
        }
        return request.buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::Cancel;
    }
    std::optional<std::string> ChooseFileToOpen(const FileRequest& request) override {
        return NextFile(request);
    }
    std::optional<std::string> ChooseFileToSave(const FileRequest& request) override {
        return NextFile(request);
    }
    void Beep() override { ++beeps; }

    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const auto& message : messages) {
            texts.push_back(message.text);
        }
        return texts;
    }

private:
    std::optional<std::string> NextFile(const FileRequest& request) {
        fileRequests.push_back(request);
        if (whileOpen) {
            whileOpen();
        }
        if (files.empty()) {
            return std::nullopt;
        }
        auto file = files.front();
        files.pop_front();
        return file;
    }
};

}  // namespace tarvel::testing
