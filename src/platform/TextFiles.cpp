#include "platform/TextFiles.h"

#include <QFile>
#include <QSaveFile>

namespace tarvel {
namespace {

std::string Latin1(const QString& text) { return text.toLatin1().toStdString(); }

}  // namespace

std::string ShownPath(const std::string& path) { return Latin1(QString::fromStdString(path)); }

std::optional<std::string> WriteFileReplacing(const std::string& path, const std::string& bytes) {
    QSaveFile file(QString::fromStdString(path));
    // A folder that takes no new file still lets an existing file be written over.
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly)) {
        return Latin1(file.errorString());
    }
    if (file.write(bytes.data(), static_cast<qint64>(bytes.size())) !=
        static_cast<qint64>(bytes.size())) {
        const std::string reason = Latin1(file.errorString());
        file.cancelWriting();
        return reason;
    }
    if (!file.commit()) {
        return Latin1(file.errorString());
    }
    return std::nullopt;
}

std::optional<std::string> ReadWholeFile(const std::string& path, std::string& bytes) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        return Latin1(file.errorString());
    }
    const QByteArray read = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        return Latin1(file.errorString());
    }
    bytes.assign(read.constData(), static_cast<std::size_t>(read.size()));
    return std::nullopt;
}

}  // namespace tarvel
