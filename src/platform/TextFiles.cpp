#include "platform/TextFiles.h"

#include <QFile>
#include <QSaveFile>

namespace tarvel {

std::optional<std::string> WriteFileReplacing(const std::string& path, const std::string& bytes) {
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly)) {
        return file.errorString().toStdString();
    }
    if (file.write(bytes.data(), static_cast<qint64>(bytes.size())) !=
        static_cast<qint64>(bytes.size())) {
        const std::string reason = file.errorString().toStdString();
        file.cancelWriting();
        return reason;
    }
    if (!file.commit()) {
        return file.errorString().toStdString();
    }
    return std::nullopt;
}

std::optional<std::string> ReadWholeFile(const std::string& path, std::string& bytes) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        return file.errorString().toStdString();
    }
    const QByteArray read = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        return file.errorString().toStdString();
    }
    bytes.assign(read.constData(), static_cast<std::size_t>(read.size()));
    return std::nullopt;
}

}  // namespace tarvel
