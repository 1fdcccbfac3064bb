#pragma once

#include "ExportData.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

struct JSONReadResult;

// The export file as the save and open panels see it: one JSON document carrying an ExportData.
class JSONDocument
{
public:
    static constexpr const char *defaultFileName = "Bramble_Backup";
    static constexpr const char *mimeType = "application/json";
    // Far above any real library (100,000 links take about 20 MB), low enough that reading
    // such a file cannot exhaust memory.
    static constexpr qint64 maxFileBytes = qint64(128) * 1024 * 1024;

    // Exactly one type, JSON, both for reading and writing.
    static QStringList readableContentTypes() { return { QString::fromLatin1(mimeType) }; }
    static QStringList writableContentTypes() { return readableContentTypes(); }
    // For QFileDialog::setNameFilter.
    static QString nameFilter() { return QStringLiteral("JSON (*.json)"); }

    JSONDocument() = default;
    explicit JSONDocument(ExportData data)
        : data(std::move(data))
    { }

    ExportData data;

    // Decodes a file's full contents.
    static std::optional<JSONDocument> fromContents(const QByteArray &contents, QString *error);

    static JSONReadResult readFile(const QString &path, qint64 maxBytes = maxFileBytes);

    QByteArray contents() const { return data.toJson(); }
    // Replaces the file atomically, so a failed write leaves any earlier file intact.
    bool writeFile(const QString &path, QString *error) const;
};

enum class JSONReadFailure {
    None,
    // Missing, not a regular file (a folder, a pipe, a device) or refused by the system.
    CannotOpen,
    TooLarge,
    ReadError,
    // Not JSON, or not an export file.
    Invalid,
};
struct JSONReadResult
{
    std::optional<JSONDocument> document;
    JSONReadFailure failure = JSONReadFailure::None;
    QString error;
};
