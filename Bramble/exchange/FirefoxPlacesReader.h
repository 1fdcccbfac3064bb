#pragma once

#include "ImportedBookmarks.h"

#include <QByteArrayView>
#include <QString>
#include <optional>

// Reads the bookmarks of a Firefox profile's places.sqlite (tables moz_bookmarks and
// moz_places; the menu, toolbar, unfiled and mobile roots by their guids).
//
// A running Firefox holds the file in exclusive WAL mode: nobody else may open it, and its
// newest changes sit only in places.sqlite-wal. So the file and its WAL are copied into a
// private folder (checking that Firefox did not restart the WAL meanwhile), the copy's WAL is
// folded into the copy, and the copy is read read-only and immutable. The original and its
// WAL are only ever read as plain files; what the import sees is everything Firefox had
// committed when the copy was taken, including changes not yet checkpointed.
class FirefoxPlacesReader
{
public:
    // The database and its WAL together.
    static constexpr qint64 maxFileBytes = qint64(1024) * 1024 * 1024;

    // The SQLite file header.
    static bool looksLikeSqlite(QByteArrayView head);

    // Callable on any thread. On failure returns nothing and sets error to why.
    static std::optional<ImportedBookmarks> readFile(const QString &path, QString *error);
};
