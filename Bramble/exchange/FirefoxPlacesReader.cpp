#include "FirefoxPlacesReader.h"

#include "BookmarkTreeBuilder.h"
#include "FirefoxBackupReader.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUrl>
#include <QUuid>
#include <vector>

namespace {

constexpr int typeLink = 1;
constexpr int typeFolder = 2;

struct Entry
{
    qint64 id = 0;
    int type = 0;
    QString title;
    QDateTime createdAt;
    QString guid;
    QString url;
    QString description;
};

// The first 32 bytes of a WAL name its generation (salts and checkpoint count); empty when
// there is no WAL.
QByteArray walHeader(const QString &walPath)
{
    QFile file(walPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(32);
}

bool copyFile(const QString &from, const QString &to, QString *error)
{
    QFile::remove(to);
    // The copy is written to when its WAL is folded in, whatever the original's permissions.
    if (QFile::copy(from, to))
        return QFile::setPermissions(to, QFile::ReadOwner | QFile::WriteOwner);
    QFile source(from);
    *error = QStringLiteral("Could not copy “%1”: %2").arg(QFileInfo(from).fileName(), source.errorString());
    return false;
}

// A consistent copy of the database and its WAL: frames Firefox checkpoints into the database
// while it is being copied are still in the WAL copied after it, unless the WAL was started
// anew in between, which the WAL's header tells.
bool takeSnapshot(const QString &path, const QString &copy, QString *error)
{
    const QString wal = path + QStringLiteral("-wal");
    const QString walCopy = copy + QStringLiteral("-wal");
    for (int attempt = 0; attempt < 5; ++attempt) {
        const QByteArray before = walHeader(wal);
        if (!copyFile(path, copy, error))
            return false;
        QFile::remove(walCopy);
        if (QFileInfo::exists(wal) && !copyFile(wal, walCopy, error))
            return false;
        if (walHeader(walCopy) == before && walHeader(wal) == before)
            return true;
    }
    *error = QStringLiteral("Firefox kept changing its bookmarks while they were being read. Try again, or "
                            "quit Firefox first.");
    return false;
}

// One connection of its own, closed and removed when this goes.
class Connection
{
public:
    Connection(const QString &databaseName, const QString &options)
        : m_name(QStringLiteral("bramble-places-") + QUuid::createUuid().toString(QUuid::WithoutBraces))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(databaseName);
        db.setConnectOptions(options);
        m_open = db.open();
        if (!m_open)
            m_error = db.lastError().text();
    }
    ~Connection()
    {
        {
            QSqlDatabase db = QSqlDatabase::database(m_name, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(m_name);
    }
    bool isOpen() const { return m_open; }
    QString error() const { return m_error; }
    QSqlDatabase database() const { return QSqlDatabase::database(m_name, false); }

private:
    QString m_name;
    QString m_error;
    bool m_open = false;
};

QString notPlaces(const QString &detail)
{
    return QStringLiteral("The file is not a Firefox places.sqlite: %1").arg(detail);
}

// Folds the copied WAL into the copy, so that the immutable read below sees it.
bool foldWal(const QString &copy, QString *error)
{
    if (!QFileInfo::exists(copy + QStringLiteral("-wal")))
        return true;
    bool ok;
    {
        Connection connection(copy, QString());
        if (!connection.isOpen()) {
            *error = notPlaces(connection.error());
            return false;
        }
        QSqlQuery query(connection.database());
        ok = query.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"))
            && query.exec(QStringLiteral("PRAGMA journal_mode=DELETE"));
        if (!ok)
            *error = notPlaces(query.lastError().text());
    }
    return ok;
}

bool hasColumn(const QSqlDatabase &db, const QString &table, const QString &column)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("PRAGMA table_info(%1)").arg(table)))
        return false;
    while (query.next()) {
        if (query.value(1).toString() == column)
            return true;
    }
    return false;
}

class TreeReader
{
public:
    TreeReader(BookmarkTreeBuilder &builder, QHash<qint64, std::vector<Entry>> children)
        : m_builder(builder)
        , m_children(std::move(children))
    { }

    bool readFolder(qint64 id, bool atRoot)
    {
        const auto it = m_children.constFind(id);
        if (it == m_children.constEnd())
            return true;
        for (const Entry &entry : *it) {
            if (entry.type == typeLink) {
                if (!m_builder.addLink(entry.url, entry.title, entry.description, entry.createdAt))
                    return false;
            } else if (entry.type == typeFolder) {
                if (atRoot && FirefoxBackupReader::isTagsRoot(entry.guid))
                    continue;
                const QString root = atRoot ? FirefoxBackupReader::rootName(entry.guid) : QString();
                if (!m_builder.enterFolder(root.isEmpty() ? entry.title : root, entry.createdAt))
                    return false;
                const bool ok = readFolder(entry.id, false);
                m_builder.leaveFolder();
                if (!ok)
                    return false;
            }
        }
        return true;
    }

private:
    BookmarkTreeBuilder &m_builder;
    QHash<qint64, std::vector<Entry>> m_children;
};

std::optional<ImportedBookmarks> readCopy(const QString &copy, QString *error)
{
    const QString uri
        = QUrl::fromLocalFile(copy).toString(QUrl::FullyEncoded) + QStringLiteral("?immutable=1");
    Connection connection(uri, QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_OPEN_READONLY"));
    if (!connection.isOpen()) {
        *error = notPlaces(connection.error());
        return std::nullopt;
    }
    const QSqlDatabase db = connection.database();
    if (!hasColumn(db, QStringLiteral("moz_bookmarks"), QStringLiteral("parent"))
        || !hasColumn(db, QStringLiteral("moz_places"), QStringLiteral("url"))) {
        *error = notPlaces(QStringLiteral("it has no tables of bookmarks (moz_bookmarks and moz_places)."));
        return std::nullopt;
    }
    const bool descriptions = hasColumn(db, QStringLiteral("moz_places"), QStringLiteral("description"));
    QSqlQuery query(db);
    query.setForwardOnly(true);
    const QString sql = QStringLiteral(
        "SELECT b.id, b.type, b.parent, b.title, b.dateAdded, b.guid, p.url, %1 "
        "FROM moz_bookmarks b LEFT JOIN moz_places p ON p.id = b.fk ORDER BY b.parent, b.position, b.id")
                            .arg(descriptions ? QStringLiteral("p.description") : QStringLiteral("NULL"));
    if (!query.exec(sql)) {
        *error = notPlaces(query.lastError().text());
        return std::nullopt;
    }
    QHash<qint64, std::vector<Entry>> children;
    qint64 root = -1;
    int rows = 0;
    while (query.next()) {
        if (++rows > BookmarkTreeBuilder::maxLinks * 2) {
            *error = QStringLiteral("The file holds more bookmarks than Bramble imports at once.");
            return std::nullopt;
        }
        Entry entry;
        entry.id = query.value(0).toLongLong();
        entry.type = query.value(1).toInt();
        const qint64 parent = query.value(2).toLongLong();
        entry.title = query.value(3).toString();
        entry.createdAt = BookmarkTreeBuilder::fromUnixTime(query.value(4).toLongLong());
        entry.guid = query.value(5).toString();
        entry.url = query.value(6).toString();
        entry.description = query.value(7).toString();
        if (entry.guid == QLatin1String("root________"))
            root = entry.id;
        children[parent].push_back(std::move(entry));
    }
    if (query.lastError().isValid()) {
        *error = notPlaces(query.lastError().text());
        return std::nullopt;
    }
    if (root < 0) {
        *error = notPlaces(QStringLiteral("it has no root folder."));
        return std::nullopt;
    }
    BookmarkTreeBuilder builder(BookmarkSource::firefox);
    TreeReader reader(builder, std::move(children));
    if (!reader.readFolder(root, true)) {
        *error = builder.error();
        return std::nullopt;
    }
    return builder.finish();
}

} // namespace

bool FirefoxPlacesReader::looksLikeSqlite(QByteArrayView head)
{
    return head.startsWith(QByteArrayView("SQLite format 3\0", 16));
}

std::optional<ImportedBookmarks> FirefoxPlacesReader::readFile(const QString &path, QString *error)
{
    QString message;
    const auto failWith = [&](const QString &text) -> std::optional<ImportedBookmarks> {
        if (error)
            *error = text;
        return std::nullopt;
    };
    const QFileInfo info(path);
    if (!info.isFile())
        return failWith(QStringLiteral("“%1” is not a file.").arg(info.fileName()));
    const QFileInfo wal(path + QStringLiteral("-wal"));
    if (info.size() + (wal.isFile() ? wal.size() : 0) > maxFileBytes)
        return failWith(QStringLiteral("The file “%1” is larger than %2 MB.")
                            .arg(info.fileName())
                            .arg(maxFileBytes / (1024 * 1024)));
    QTemporaryDir folder;
    if (!folder.isValid())
        return failWith(QStringLiteral("Could not make a private copy of “%1”: %2")
                            .arg(info.fileName(), folder.errorString()));
    const QString copy = folder.filePath(QStringLiteral("places.sqlite"));
    if (!takeSnapshot(path, copy, &message) || !foldWal(copy, &message))
        return failWith(message);
    auto result = readCopy(copy, &message);
    if (!result)
        return failWith(message);
    return result;
}
