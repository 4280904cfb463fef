// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/Prompts.h"

class QString;
class QWidget;

namespace tarvel {

// Message boxes and file dialogs of Qt Widgets. Each runs modally in a nested event loop, in
// which the program's timers and serial signals keep being served.
class QtPrompts final : public Prompts {
public:
    MessageAnswer ShowMessage(const MessageRequest& request) override;
    std::optional<std::string> ChooseFileToOpen(const FileRequest& request) override;
    std::optional<std::string> ChooseFileToSave(const FileRequest& request) override;
    void Beep() override;

private:
    std::optional<std::string> ChooseFile(const FileRequest& request, bool save);
};

// "Data Files (*.cfg)|*.cfg|All files (*.*)| *.*|" as Qt's "Data Files (*.cfg);;All files (*.*)".
QString QtFilterFor(const std::string& filter);

}  // namespace tarvel
