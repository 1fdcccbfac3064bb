#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QMap>
#include <QString>
#include <QUrl>
#include <optional>

// One downloadable file of a release (the full archive, or a delta from an older build).
struct AppcastEnclosure
{
    QUrl url;
    quint64 length = 0;
    QString type;
    // Base64 Ed25519 signature over the file's bytes.
    QByteArray edSignature;
};

// One release of the update feed.
struct AppcastItem
{
    enum class ArchiveKind { Unknown, Portable, AppImage };

    QString title;
    QString displayVersionString;
    QString versionString;
    quint64 contentLength = 0;
    std::optional<QUrl> fileURL;
    QString enclosureType;
    QByteArray edSignature;
    std::optional<QDateTime> date;
    std::optional<QString> itemDescription;
    // Keyed by the build version each delta applies to.
    std::optional<QMap<QString, AppcastEnclosure>> deltaUpdates;

    // What kind of release the enclosure holds, by its type, else by its file name.
    ArchiveKind archiveKind() const;
};
