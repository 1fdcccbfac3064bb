#pragma once

#include <QDateTime>
#include <QString>
#include <QUrl>
#include <optional>

// An update the last check found.
struct UpdateInfo
{
    QString version;
    QString buildNumber;
    QDateTime releaseDate;
    QString releaseNotes;
    std::optional<QUrl> downloadURL;
    qint64 fileSize = 0;
    bool isDeltaUpdate = false;

    bool operator==(const UpdateInfo &) const = default;
};
