#pragma once

#include "update/framework/Updater.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// Builds .tar.gz archives with libarchive, entries in the given order.
struct ArchiveEntry
{
    ArchiveEntry(QString name = {}, QByteArray content = {}, int mode = 0644, QString linkTarget = {},
        bool directory = false)
        : name(std::move(name))
        , content(std::move(content))
        , mode(mode)
        , linkTarget(std::move(linkTarget))
        , directory(directory)
    { }
    QString name;
    QByteArray content;
    int mode = 0644;
    // Non-empty makes the entry a symbolic link.
    QString linkTarget;
    bool directory = false;
};
QByteArray makeTarGz(const QList<ArchiveEntry> &entries);

struct FeedEntry
{
    QString version;
    QString displayVersion;
    QString url;
    qint64 length = 0;
    QByteArray signature;
    QString type = QStringLiteral("application/gzip");
    QString pubDate;
    QString description;
};
QByteArray makeFeed(const QList<FeedEntry> &entries);

// Writes every stdout line into a list while alive, for checking the console trail.
class ConsoleCapture
{
public:
    ConsoleCapture();
    ~ConsoleCapture();
    QStringList lines();

private:
    int m_savedFd = -1;
    QString m_path;
};
