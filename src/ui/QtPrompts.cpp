// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/QtPrompts.h"

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QStringList>

#include "ui/QtControls.h"

namespace tarvel {

QString QtFilterFor(const std::string& filter) {
    const QStringList parts = ToQt(filter).split('|');
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString description = parts[i].trimmed();
        const QString pattern = parts[i + 1].trimmed();
        if (description.isEmpty()) {
            continue;
        }
        // Qt reads the patterns from the parentheses at the end of the description.
        entries << (description.endsWith(')') ? description : description + " (" + pattern + ")");
    }
    return entries.join(";;");
}

MessageAnswer QtPrompts::ShowMessage(const MessageRequest& request) {
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(ToQt(request.title));
    // Messages carry file names and the host's reasons: shown as they are, never as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(ToQt(request.text));
    if (!request.detail.empty()) {
        box.setInformativeText(ToQt(request.detail));
        for (QLabel* label : box.findChildren<QLabel*>()) {
            label->setTextFormat(Qt::PlainText);
        }
    }
    switch (request.icon) {
        case MessageIcon::None: box.setIcon(QMessageBox::NoIcon); break;
        case MessageIcon::Information: box.setIcon(QMessageBox::Information); break;
        case MessageIcon::Exclamation: box.setIcon(QMessageBox::Warning); break;
        case MessageIcon::Critical: box.setIcon(QMessageBox::Critical); break;
    }
    if (request.buttons == MessageButtons::RetryCancel) {
        box.setStandardButtons(QMessageBox::Retry | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Retry);
        box.setEscapeButton(QMessageBox::Cancel);
    } else if (request.buttons == MessageButtons::OkCancel) {
        // What it confirms cannot be undone: a stray Enter does not do it.
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Cancel);
        box.setEscapeButton(QMessageBox::Cancel);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    switch (box.exec()) {
        case QMessageBox::Retry: return MessageAnswer::Retry;
        case QMessageBox::Cancel: return MessageAnswer::Cancel;
        case QMessageBox::Ok: return MessageAnswer::Ok;
        default: break;
    }
    // Closed without a button: whatever was asked is not done.
    return request.buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::Cancel;
}

std::optional<std::string> QtPrompts::ChooseFile(const FileRequest& request, bool save) {
    QFileDialog dialog(QApplication::activeWindow(), ToQt(request.title));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    const QStringList filters = QtFilterFor(request.filter).split(";;");
    dialog.setNameFilters(filters);
    if (request.filterIndex >= 0 && request.filterIndex < filters.size()) {
        dialog.selectNameFilter(filters[request.filterIndex]);
    }
    dialog.setDefaultSuffix(ToQt(request.defaultExtension));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().front().toStdString();
}

std::optional<std::string> QtPrompts::ChooseFileToOpen(const FileRequest& request) {
    return ChooseFile(request, false);
}

std::optional<std::string> QtPrompts::ChooseFileToSave(const FileRequest& request) {
    return ChooseFile(request, true);
}

void QtPrompts::Beep() { QApplication::beep(); }

}  // namespace tarvel
