#pragma once

#include "ImportedBookmarks.h"

#include <QByteArray>
#include <QString>
#include <optional>

enum class BookmarkFormat {
    Unknown,
    // Bramble's own export file.
    Bramble,
    // Netscape bookmark HTML, as every browser exports it.
    NetscapeHtml,
    // A Chromium profile's "Bookmarks" file.
    ChromiumJson,
    // A Firefox profile's places.sqlite.
    FirefoxPlaces,
    // A Firefox JSON backup (bookmarks-*.json).
    FirefoxBackup,
};

enum class BookmarkReadFailure {
    None,
    // Missing, not a regular file (a folder, a pipe, a device) or refused by the system.
    CannotOpen,
    TooLarge,
    ReadError,
    // A known format, but broken.
    Invalid,
    // Not a bookmark file Bramble knows.
    Unsupported,
};

struct BookmarkReadResult
{
    std::optional<ImportedBookmarks> bookmarks;
    BookmarkFormat format = BookmarkFormat::Unknown;
    BookmarkReadFailure failure = BookmarkReadFailure::None;
    // Says what is wrong, for the failure alert and the command line.
    QString error;
};

// The one entry for importing a file: tells the format from the content (never from the file's
// name), reads it with the matching reader, and fails as a whole with a precise message. Has
// no QObject and needs no event loop, so it runs on a worker thread:
//
//     QtConcurrent::run([path] { return BookmarkFileReader::readFile(path); })
//
// then ImportedBookmarks::skipDuplicates() for --skip-existing, then the records are created.
class BookmarkFileReader
{
public:
    // Files other than places.sqlite are read whole: no bookmark file comes near this.
    static constexpr qint64 maxFileBytes = qint64(128) * 1024 * 1024;

    static BookmarkReadResult readFile(const QString &path);
    // Everything but places.sqlite, which SQLite must read from a file.
    static BookmarkReadResult read(const QByteArray &contents);

    // "Bramble", "HTML", "Chromium", "Firefox", "Firefox (JSON)".
    static QString formatName(BookmarkFormat format);
};
