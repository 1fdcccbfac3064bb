#include "JSONDocument.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

std::optional<JSONDocument> JSONDocument::fromContents(const QByteArray &contents, QString *error)
{
    auto data = ExportData::fromJson(contents, error);
    if (!data)
        return std::nullopt;
    return JSONDocument(std::move(*data));
}

JSONReadResult JSONDocument::readFile(const QString &path, qint64 maxBytes)
{
    JSONReadResult result;
    const auto failWith = [&result](JSONReadFailure failure, const QString &error) {
        result.failure = failure;
        result.error = error;
        return result;
    };
    const QFileInfo info(path);
    if (!info.exists())
        return failWith(JSONReadFailure::CannotOpen,
            QStringLiteral("The file “%1” does not exist.").arg(info.fileName()));
    if (info.isDir())
        return failWith(JSONReadFailure::CannotOpen,
            QStringLiteral("“%1” is a folder, not an export file.").arg(info.fileName()));
    // Opening a pipe or a device could block or never end; only regular files are read.
    if (!info.isFile())
        return failWith(JSONReadFailure::CannotOpen,
            QStringLiteral("“%1” is not a regular file (a pipe or a device, for example).")
                .arg(info.fileName()));
    const auto tooLarge = [&] {
        return failWith(JSONReadFailure::TooLarge,
            QStringLiteral("The file “%1” is too large to be an export file (the limit is %2 MB).")
                .arg(info.fileName())
                .arg(maxBytes / (1024 * 1024)));
    };
    if (info.size() > maxBytes)
        return tooLarge();

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        // The system's own reason, such as "Permission denied", is the clearest here.
        return failWith(JSONReadFailure::CannotOpen,
            file.error() == QFileDevice::PermissionsError || !info.isReadable()
                ? QStringLiteral("Permission denied")
                : file.errorString());
    }
    // The file may grow between the size check and the read.
    const QByteArray contents = file.read(maxBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return failWith(JSONReadFailure::ReadError, file.errorString());
    if (contents.size() > maxBytes)
        return tooLarge();

    QString error;
    result.document = fromContents(contents, &error);
    if (!result.document)
        return failWith(JSONReadFailure::Invalid, error);
    return result;
}

bool JSONDocument::writeFile(const QString &path, QString *error) const
{
    const auto failWith = [error](const QString &message) {
        if (error)
            *error = message;
        return false;
    };
    // Saving renames a new file over the old one, which would put a regular file in place of
    // a pipe or a device and report success; such targets are refused instead.
    const QFileInfo target(path);
    if (target.isDir())
        return failWith(QStringLiteral("Could not write “%1”: it is a folder.").arg(path));
    if (target.exists() && !target.isFile())
        return failWith(QStringLiteral(
            "Could not write “%1”: it is not a regular file (a pipe or a device, for example).")
                            .arg(path));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return failWith(QStringLiteral("Could not write “%1”: %2").arg(path, file.errorString()));
    const QByteArray bytes = contents();
    if (file.write(bytes) != bytes.size() || !file.commit())
        return failWith(QStringLiteral("Could not write “%1”: %2").arg(path, file.errorString()));
    return true;
}
