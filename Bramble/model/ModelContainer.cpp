#include "ModelContainer.h"

#include "ModelContext.h"
#include "SchemaUpgrade.h"
#include "WalCheckpointer.h"
#include "platform/Console.h"

#include <QAtomicInt>
#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QVersionNumber>
#include <cstdio>

namespace {

QAtomicInt connectionCounter;

// The schema of version 1.0.0, as the first stores were written. Never changed: later
// versions change it through the steps of SchemaUpgrade.
const char *const schemaStatements[] = {
    "CREATE TABLE metadata (key TEXT PRIMARY KEY, value TEXT NOT NULL)",
    "CREATE TABLE groups (id INTEGER PRIMARY KEY, name TEXT NOT NULL, createdAt INTEGER NOT NULL, "
    "sortOrder INTEGER NOT NULL DEFAULT 0)",
    "CREATE TABLE items (id INTEGER PRIMARY KEY, urlString TEXT NOT NULL, title TEXT, summary TEXT, "
    "sortOrder INTEGER NOT NULL DEFAULT 0, createdAt INTEGER NOT NULL, "
    "groupId INTEGER REFERENCES groups(id) ON DELETE CASCADE)",
    "CREATE INDEX items_by_group ON items (groupId)",
    // Icons live apart so that reading the list at start-up never touches their bytes.
    "CREATE TABLE icons (itemId INTEGER PRIMARY KEY REFERENCES items(id) ON DELETE CASCADE, data BLOB NOT "
    "NULL)",
};

// Checks the file without writing to it. Returns true when it can be opened: fresh (the schema
// must still be created) or holding the schema version given back in storedVersion.
bool inspect(QSqlDatabase &db, bool *fresh, QString *recorded, QString *error)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table'"))) {
        *error = QStringLiteral("The file is not a Bramble store (%1)").arg(query.lastError().databaseText());
        return false;
    }
    QStringList tables;
    while (query.next())
        tables << query.value(0).toString();
    if (tables.isEmpty()) {
        *fresh = true;
        return true;
    }
    *fresh = false;
    if (!tables.contains(QStringLiteral("metadata")) || !tables.contains(QStringLiteral("groups"))
        || !tables.contains(QStringLiteral("items")) || !tables.contains(QStringLiteral("icons"))) {
        *error = QStringLiteral("The file is an SQLite database but not a Bramble store");
        return false;
    }
    if (!query.exec(QStringLiteral("SELECT value FROM metadata WHERE key = 'schemaVersion'"))
        || !query.next()) {
        *error = QStringLiteral("The store records no schema version");
        return false;
    }
    const QString stored = query.value(0).toString();
    const QVersionNumber storedVersion = QVersionNumber::fromString(stored);
    const QVersionNumber ours = QVersionNumber::fromString(ModelContainer::schemaVersion());
    if (storedVersion.isNull()) {
        *error = QStringLiteral("The store records an unreadable schema version \"%1\"").arg(stored);
        return false;
    }
    if (storedVersion > ours) {
        *error = QStringLiteral(
            "The store was written by a newer version of Bramble (schema %1; this version reads %2)")
                     .arg(stored, ModelContainer::schemaVersion());
        return false;
    }
    *recorded = stored;
    return true;
}

bool exec(QSqlDatabase &db, const QString &sql, QString *error)
{
    QSqlQuery query(db);
    if (query.exec(sql))
        return true;
    *error = query.lastError().text();
    return false;
}

// The groups listed by imports that have not finished.
std::optional<QSet<qint64>> unfinishedImportGroups(QSqlDatabase &db, QString *error)
{
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT value FROM metadata WHERE substr(key, 1, ?) = ?"));
    const QString prefix = QLatin1String(ModelContainer::unfinishedImportKeyPrefix);
    query.bindValue(0, prefix.size());
    query.bindValue(1, prefix);
    if (!query.exec()) {
        *error = query.lastError().text();
        return std::nullopt;
    }
    QSet<qint64> ids;
    while (query.next()) {
        const QStringList listed = query.value(0).toString().split(QLatin1Char(','), Qt::SkipEmptyParts);
        for (const QString &id : listed)
            ids.insert(id.toLongLong());
    }
    return ids;
}

// Removes those groups, their links and icons, and the keys, in one transaction.
std::optional<ModelContainer::RemovedImport> removeUnfinishedImport(
    QSqlDatabase &db, const QSet<qint64> &groups, QString *error)
{
    ModelContainer::RemovedImport removed;
    if (!db.transaction()) {
        *error = db.lastError().text();
        return std::nullopt;
    }
    const auto failed = [&](const QSqlQuery &query) {
        *error = query.lastError().text();
        db.rollback();
        return std::nullopt;
    };
    QSqlQuery countGroups(db);
    QSqlQuery countLinks(db);
    QSqlQuery icons(db);
    QSqlQuery searchText(db);
    QSqlQuery items(db);
    QSqlQuery group(db);
    const QString prefix = QLatin1String(ModelContainer::unfinishedImportKeyPrefix);
    QSqlQuery keys(db);
    for (auto [query, sql] : { std::pair { &countGroups, "SELECT COUNT(*) FROM groups WHERE id = ?" },
             std::pair { &countLinks, "SELECT COUNT(*) FROM items WHERE groupId = ?" },
             std::pair {
                 &icons, "DELETE FROM icons WHERE itemId IN (SELECT id FROM items WHERE groupId = ?)" },
             std::pair { &searchText,
                 "DELETE FROM search_text WHERE itemId IN (SELECT id FROM items WHERE groupId = ?)" },
             std::pair { &items, "DELETE FROM items WHERE groupId = ?" },
             std::pair { &group, "DELETE FROM groups WHERE id = ?" },
             std::pair { &keys, "DELETE FROM metadata WHERE substr(key, 1, ?) = ?" } }) {
        if (!query->prepare(QLatin1String(sql)))
            return failed(*query);
    }
    for (const qint64 id : groups) {
        for (QSqlQuery *count : { &countGroups, &countLinks }) {
            count->bindValue(0, id);
            if (!count->exec() || !count->next())
                return failed(*count);
            (count == &countGroups ? removed.groupCount : removed.linkCount) += count->value(0).toInt();
            count->finish();
        }
        for (QSqlQuery *statement : { &icons, &searchText, &items, &group }) {
            statement->bindValue(0, id);
            if (!statement->exec())
                return failed(*statement);
        }
    }
    keys.bindValue(0, prefix.size());
    keys.bindValue(1, prefix);
    if (!keys.exec())
        return failed(keys);
    if (!db.commit()) {
        *error = db.lastError().text();
        db.rollback();
        return std::nullopt;
    }
    return removed;
}

} // namespace

QString ModelContainer::schemaVersion()
{
    return SchemaUpgrade::currentVersion();
}

QString ModelContainer::defaultStorePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/Bramble/Bramble.sqlite");
}

std::unique_ptr<ModelContainer> ModelContainer::open(const QString &path, QString *error, Access access)
{
    QString message;
    const QString connectionName
        = QStringLiteral("bramble-store-%1").arg(connectionCounter.fetchAndAddRelaxed(1));
    bool ok = false;
    QSet<qint64> hiddenGroups;
    std::optional<RemovedImport> removedImport;
    {
        if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
            message = QStringLiteral("Cannot create the folder of %1").arg(path);
        } else if (QFileInfo(path).isDir()) {
            message = QStringLiteral("%1 is a folder, not a store file").arg(path);
        } else {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
            db.setDatabaseName(path);
            // Opening may wait a moment for a writer; the context's saves wait far less.
            db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=1000"));
            bool fresh = false;
            QString storedVersion;
            if (!db.open()) {
                message = db.lastError().text();
            } else if (inspect(db, &fresh, &storedVersion, &message)) {
                // Only now is the file known to be ours, so only now may anything be written.
                ok = exec(db, QStringLiteral("PRAGMA foreign_keys = ON"), &message)
                    && exec(db, QStringLiteral("PRAGMA journal_mode = WAL"), &message)
                    && exec(db, QStringLiteral("PRAGMA synchronous = NORMAL"), &message)
                    // Once a large import's log has been copied back, its file shrinks again.
                    && exec(db, QStringLiteral("PRAGMA journal_size_limit = 4194304"), &message);
                if (ok && fresh) {
                    // The base schema and every step after it, so that a new store is exactly
                    // what an upgraded one is.
                    ok = db.transaction();
                    for (const char *statement : schemaStatements)
                        ok = ok && exec(db, QLatin1String(statement), &message);
                    ok = ok && SchemaUpgrade::runSteps(db, SchemaUpgrade::baseVersion(), &message);
                    QSqlQuery query(db);
                    ok = ok
                        && query.prepare(
                            QStringLiteral("INSERT INTO metadata (key, value) VALUES ('schemaVersion', ?)"));
                    query.bindValue(0, schemaVersion());
                    ok = ok && query.exec();
                    if (ok && !db.commit()) {
                        message = db.lastError().text();
                        ok = false;
                    }
                    if (!ok) {
                        if (message.isEmpty())
                            message = query.lastError().text();
                        db.rollback();
                    }
                }
                if (ok && !fresh && storedVersion != schemaVersion())
                    ok = SchemaUpgrade::upgrade(db, path, storedVersion, &message);
                std::optional<QSet<qint64>> unfinished;
                if (ok)
                    unfinished = unfinishedImportGroups(db, &message);
                ok = ok && unfinished;
                if (ok && !unfinished->isEmpty()) {
                    if (access == Access::Shared) {
                        hiddenGroups = *unfinished;
                    } else {
                        removedImport = removeUnfinishedImport(db, *unfinished, &message);
                        ok = removedImport.has_value();
                    }
                }
            }
            if (!ok)
                db.close();
        }
    }
    if (!ok) {
        QSqlDatabase::removeDatabase(connectionName);
        if (error)
            *error = message;
        return nullptr;
    }

    std::unique_ptr<ModelContainer> container(new ModelContainer(path, connectionName));
    container->m_removedImport = removedImport;
    if (removedImport)
        Console::printLine(
            QStringLiteral("Removed what an unfinished import had added: %1 groups with %2 links.")
                .arg(removedImport->groupCount)
                .arg(removedImport->linkCount));
    if (!container->m_context->load(&message, hiddenGroups)) {
        container.reset();
        if (error)
            *error = message;
        return nullptr;
    }
    return container;
}

QSqlDatabase ModelContainer::database() const
{
    return QSqlDatabase::database(m_connectionName, false);
}

ModelContainer::ModelContainer(const QString &path, const QString &connectionName)
    : m_path(path)
    , m_connectionName(connectionName)
    , m_context(new ModelContext(connectionName, this))
    , m_checkpointer(std::make_unique<WalCheckpointer>(QSqlDatabase::database(connectionName, false)))
{ }

ModelContainer::~ModelContainer()
{
    if (m_context->hasChanges()) {
        QString error;
        if (!m_context->saveWaiting(std::chrono::seconds(10), &error))
            std::fprintf(stderr, "Could not save changes, they are lost: %s\n", qPrintable(error));
    }
    delete m_context;
    m_context = nullptr;
    {
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connectionName);
}
