#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

// The marker a portable release carries in its folder, ".bramble-portable": which version
// it is and every file (regular file or symbolic link) it ships. Only a folder holding a
// valid marker and nothing the marker does not list is replaced by an update, and only the
// files it lists are ever deleted.
//
//   bramble-portable 1
//   version 1.2
//   bramble
//   lib/libQt6Core.so.6
//   ...
//
// UTF-8, LF line ends, paths relative with "/" separators in byte order, the marker itself
// not listed. Later format versions may add lines after the version line.
class PortableManifest
{
public:
    static constexpr const char *kFileName = ".bramble-portable";
    // Bounds for a marker read from disk.
    static constexpr qint64 kMaxSize = 16 * 1024 * 1024;
    static constexpr qsizetype kMaxFiles = 200000;
    static constexpr qsizetype kMaxPathLength = 4096;

    QString version;
    // Sorted by their UTF-8 bytes, no duplicates.
    QStringList files;

    static std::optional<PortableManifest> parse(const QByteArray &text, QString *error);
    // Reads folder's marker; a link in place of the marker is refused.
    static std::optional<PortableManifest> read(const QString &folder, QString *error);
    QByteArray serialize() const;
    bool lists(const QString &relativePath) const;

    struct Scan
    {
        // Regular files and links beneath the folder, relative, sorted; the marker excluded.
        QStringList files;
        // Entries that are neither (pipes, sockets, devices).
        QStringList others;
        // More than kMaxFiles entries were found; the lists stop there.
        bool truncated = false;
    };
    // Walks folder without following links.
    static Scan scan(const QString &folder);
    // Builds the marker for a release folder; error when it holds what a release cannot.
    static std::optional<PortableManifest> forFolder(
        const QString &folder, const QString &version, QString *error);

    // Entries beneath folder that this marker does not list, at most limit of them.
    QStringList unlistedEntries(const QString &folder, qsizetype limit = 5) const;
    // Listed files that are missing or are not a file or link, at most limit of them.
    QStringList missingFiles(const QString &folder, qsizetype limit = 5) const;

    // Deletes the listed files (never through a link), the marker, then the folders left
    // empty. True when the whole folder is gone; otherwise kept names what stayed.
    bool removeRelease(const QString &folder, QStringList *kept = nullptr) const;

    // The relative path is one a marker may list.
    static bool isSafeRelativePath(const QString &path);
    // Byte order of the UTF-8 form, as the marker is sorted.
    static bool lessThan(const QString &left, const QString &right);
    // A component of relative below root, short of its last, is a link.
    static bool passesThroughLink(const QString &root, const QString &relative);
    // Follows target from the folder of the link at linkRelative (below root) through the
    // links on disk, as the kernel would: true when no step leaves root.
    static bool linkResolvesInside(const QString &root, const QString &linkRelative, const QString &target);
    // The first link beneath root that leads out of it, or empty.
    static QString linkLeavingFolder(const QString &root);
};
