#include "BrowserFixtures.h"

#include "exchange/BookmarkFileReader.h"

#include <QCryptographicHash>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

QByteArray BrowserFixtures::fixture(const QString &name)
{
    QFile file(QStringLiteral(BROWSER_FIXTURES "/") + name);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing fixture %s", qPrintable(name));
    return file.readAll();
}

bool BrowserFixtures::exec(QSqlDatabase &db, const QString &sql)
{
    QSqlQuery query(db);
    if (query.exec(sql))
        return true;
    qWarning("%s: %s", qPrintable(sql), qPrintable(query.lastError().text()));
    return false;
}

QSqlDatabase BrowserFixtures::createPlaces(const QString &path, const QString &connectionName)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
    db.setDatabaseName(path);
    if (!db.open())
        return {};
    // The layout of Firefox 115's places.sqlite, less the indexes and triggers.
    const QStringList statements = {
        QStringLiteral(
            "CREATE TABLE moz_origins (id INTEGER PRIMARY KEY, prefix TEXT NOT NULL, host TEXT NOT NULL, "
            "frecency INTEGER NOT NULL, recalc_frecency INTEGER NOT NULL DEFAULT 0, alt_frecency INTEGER, "
            "recalc_alt_frecency INTEGER NOT NULL DEFAULT 0, UNIQUE (prefix, host))"),
        QStringLiteral(
            "CREATE TABLE moz_places (id INTEGER PRIMARY KEY, url LONGVARCHAR, title LONGVARCHAR, "
            "rev_host LONGVARCHAR, visit_count INTEGER DEFAULT 0, hidden INTEGER DEFAULT 0 NOT NULL, "
            "typed INTEGER DEFAULT 0 NOT NULL, frecency INTEGER DEFAULT -1 NOT NULL, last_visit_date "
            "INTEGER, guid TEXT, foreign_count INTEGER DEFAULT 0 NOT NULL, url_hash INTEGER DEFAULT 0 "
            "NOT NULL, description TEXT, preview_image_url TEXT, site_name TEXT, origin_id INTEGER "
            "REFERENCES moz_origins(id), recalc_frecency INTEGER NOT NULL DEFAULT 0, alt_frecency "
            "INTEGER, recalc_alt_frecency INTEGER NOT NULL DEFAULT 0)"),
        QStringLiteral(
            "CREATE TABLE moz_bookmarks (id INTEGER PRIMARY KEY, type INTEGER, fk INTEGER DEFAULT NULL, "
            "parent INTEGER, position INTEGER, title LONGVARCHAR, keyword_id INTEGER, folder_type TEXT, "
            "dateAdded INTEGER, lastModified INTEGER, guid TEXT, syncStatus INTEGER NOT NULL DEFAULT 0, "
            "syncChangeCounter INTEGER NOT NULL DEFAULT 1)"),
        QStringLiteral("INSERT INTO moz_places (id, url, title, guid, description) VALUES "
                       "(1, 'https://menu.example/', 'Menu page', 'p1', 'The page''s own description'), "
                       "(2, 'https://work.example/', 'Work page', 'p2', NULL), "
                       "(3, 'https://toolbar.example/', 'Toolbar page', 'p3', NULL), "
                       "(4, 'place:type=6&sort=14', NULL, 'p4', NULL), "
                       "(5, 'https://phone.example/', 'Phone page', 'p5', NULL)"),
        // type 1 link, 2 folder, 3 separator; dateAdded in microseconds.
        QStringLiteral(
            "INSERT INTO moz_bookmarks (id, type, fk, parent, position, title, dateAdded, guid) VALUES "
            "(1, 2, NULL, 0, 0, '', 1600000000000000, 'root________'), "
            "(6, 2, NULL, 1, 4, 'mobile', 1600000000000000, 'mobile______'), "
            "(3, 2, NULL, 1, 1, 'toolbar', 1600000000000000, 'toolbar_____'), "
            "(2, 2, NULL, 1, 0, 'menu', 1600000000000000, 'menu________'), "
            "(4, 2, NULL, 1, 2, 'tags', 1600000000000000, 'tags________'), "
            "(5, 2, NULL, 1, 3, 'unfiled', 1600000000000000, 'unfiled_____'), "
            "(12, 2, NULL, 2, 2, 'Work', 1600000100000000, 'folder000001'), "
            "(10, 1, 1, 2, 0, 'Menu link', 1600000200000000, 'bookmark0001'), "
            "(11, 3, NULL, 2, 1, '', 1600000300000000, 'separator001'), "
            "(13, 1, 2, 12, 0, 'Work link', 1600000400000000, 'bookmark0002'), "
            "(14, 1, 3, 3, 0, 'Toolbar link', 1600000500000000, 'bookmark0003'), "
            "(15, 2, NULL, 4, 0, 'rust', 1600000600000000, 'tagfolder001'), "
            "(16, 1, 3, 15, 0, NULL, 1600000600000000, 'tagentry0001'), "
            "(17, 1, 4, 5, 0, 'Recent tags', 1600000700000000, 'bookmark0004'), "
            "(18, 1, 5, 6, 0, 'Phone link', 1600000800000000, 'bookmark0005')"),
    };
    for (const QString &statement : statements) {
        if (!exec(db, statement)) {
            db.close();
            return {};
        }
    }
    return db;
}

const ExportGroup *BrowserFixtures::groupNamed(const ExportData &data, const QString &name)
{
    for (const ExportGroup &group : data.groups) {
        if (group.name == name)
            return &group;
    }
    return nullptr;
}

QStringList BrowserFixtures::groupNames(const ExportData &data)
{
    QStringList names;
    for (const ExportGroup &group : data.groups)
        names.append(group.name);
    return names;
}

QStringList BrowserFixtures::addresses(const ExportGroup &group)
{
    QStringList urls;
    for (const ExportItem &item : group.bookmarks)
        urls.append(item.urlString);
    return urls;
}

QByteArray BrowserFixtures::sha(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "missing";
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

ImportedBookmarks BrowserFixtures::readOrFail(const QByteArray &contents)
{
    const BookmarkReadResult result = BookmarkFileReader::read(contents);
    if (!result.bookmarks)
        qWarning("read failed: %s", qPrintable(result.error));
    return result.bookmarks.value_or(ImportedBookmarks {});
}

QByteArray BrowserFixtures::fakeChromiumFile(int links)
{
    QByteArray children;
    for (int i = 0; i < links; ++i) {
        if (i > 0)
            children += ',';
        children += QString::fromLatin1(
            R"({"type":"url","name":"Link %1","url":"https://link%1.example/","date_added":"13345678901234567"})")
                        .arg(i)
                        .toUtf8();
    }
    return R"({"roots":{"bookmark_bar":{"type":"folder","name":"Bar","children":[)" + children
        + R"(]},"other":{"type":"folder","children":[]}},"version":1})";
}
