#include "SchemaUpgrade.h"

#include "search/LinkSearch.h"

#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

bool exec(QSqlDatabase &db, const QString &sql, QString *error)
{
    QSqlQuery query(db);
    if (query.exec(sql))
        return true;
    if (error)
        *error = query.lastError().databaseText().isEmpty() ? query.lastError().text()
                                                            : query.lastError().databaseText();
    return false;
}

// 1.0.0 -> 1.1.0: the links still waiting for their metadata are kept in the store, so that a
// refresh cut short by quitting or a crash goes on at the next start. Links an older version
// left with the placeholder summary are queued right away, to fill in only what they lack.
bool addRefreshQueue(QSqlDatabase &db, QString *error)
{
    return exec(db,
               QStringLiteral("CREATE TABLE refresh_queue (itemId INTEGER PRIMARY KEY REFERENCES items(id) "
                              "ON DELETE CASCADE, mode INTEGER NOT NULL)"),
               error)
        && exec(db,
            QStringLiteral("INSERT INTO refresh_queue (itemId, mode) SELECT id, 1 FROM items WHERE summary = "
                           "'\u6b63\u5728\u83b7\u53d6\u4fe1\u606f...'"),
            error);
}

// 1.1.0 -> 1.2.0: the search index over the folded texts of every link.
bool addSearchIndex(QSqlDatabase &db, QString *error)
{
    return LinkSearch::createIndex(db, error);
}

// In order: each step starts from the version the one before it leaves.
const QList<SchemaUpgrade::Step> registeredSteps = {
    { "1.0.0", "1.1.0", &addRefreshQueue },
    { "1.1.0", "1.2.0", &addSearchIndex },
};

} // namespace

QString SchemaUpgrade::baseVersion()
{
    return QStringLiteral("1.0.0");
}

QString SchemaUpgrade::currentVersion()
{
    return registeredSteps.isEmpty() ? baseVersion() : QLatin1String(registeredSteps.last().to);
}

const QList<SchemaUpgrade::Step> &SchemaUpgrade::steps()
{
    return registeredSteps;
}

QString SchemaUpgrade::backupPath(const QString &storePath, const QString &fromVersion)
{
    return storePath + QStringLiteral(".backup-") + fromVersion;
}

QString SchemaUpgrade::recordedVersion(QSqlDatabase &db)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT value FROM metadata WHERE key = 'schemaVersion'"))
        || !query.next())
        return {};
    return query.value(0).toString();
}

bool SchemaUpgrade::runSteps(QSqlDatabase &db, const QString &from, QString *error, const QList<Step> &steps)
{
    QString version = from;
    const QString target = steps.isEmpty() ? from : QLatin1String(steps.last().to);
    while (version != target) {
        const auto step = std::find_if(
            steps.cbegin(), steps.cend(), [&](const Step &s) { return version == QLatin1String(s.from); });
        if (step == steps.cend()) {
            if (error)
                *error = QStringLiteral("No upgrade is known from schema %1").arg(version);
            return false;
        }
        QString message;
        if (!step->run(db, &message)) {
            if (error)
                *error = QStringLiteral("The upgrade from schema %1 to %2 failed: %3")
                             .arg(version, QLatin1String(step->to), message);
            return false;
        }
        version = QLatin1String(step->to);
    }
    return true;
}

bool SchemaUpgrade::upgrade(
    QSqlDatabase &db, const QString &storePath, const QString &from, QString *error, const QList<Step> &steps)
{
    const QString target = steps.isEmpty() ? from : QLatin1String(steps.last().to);
    if (from == target)
        return true;

    // A consistent copy even while another connection writes: VACUUM INTO reads one snapshot,
    // the write-ahead log included. It refuses to overwrite, so a copy an earlier failed attempt
    // left goes first; the store itself is still the one it was made from.
    const QString backup = backupPath(storePath, from);
    QFile::remove(backup);
    {
        QSqlQuery copy(db);
        copy.prepare(QStringLiteral("VACUUM INTO ?"));
        copy.bindValue(0, backup);
        if (!copy.exec()) {
            if (error)
                *error = QStringLiteral("Could not back up the store before upgrading it: %1")
                             .arg(copy.lastError().databaseText());
            QFile::remove(backup);
            return false;
        }
    }

    QString message;
    // IMMEDIATE: no other writer may slip in between reading the version and bumping it.
    if (!exec(db, QStringLiteral("BEGIN IMMEDIATE"), &message)) {
        if (error)
            *error = QStringLiteral("Could not start upgrading the store: %1").arg(message);
        return false;
    }
    const auto failed = [&](const QString &why) {
        exec(db, QStringLiteral("ROLLBACK"), nullptr);
        if (error)
            *error = QStringLiteral("%1. The store is unchanged; a copy is at %2").arg(why, backup);
        return false;
    };
    const QString recorded = recordedVersion(db);
    if (recorded == target) {
        // Another process did it first.
        exec(db, QStringLiteral("ROLLBACK"), nullptr);
        QFile::remove(backup);
        return true;
    }
    if (recorded != from)
        return failed(
            QStringLiteral("The store's schema changed from %1 to %2 while opening it").arg(from, recorded));
    if (!runSteps(db, from, &message, steps))
        return failed(message);
    QSqlQuery bump(db);
    bump.prepare(QStringLiteral("UPDATE metadata SET value = ? WHERE key = 'schemaVersion'"));
    bump.bindValue(0, target);
    if (!bump.exec() || bump.numRowsAffected() != 1)
        return failed(
            QStringLiteral("Could not record the new schema version: %1").arg(bump.lastError().text()));
    if (!exec(db, QStringLiteral("COMMIT"), &message))
        return failed(QStringLiteral("Could not commit the upgrade: %1").arg(message));
    QFile::remove(backup);
    return true;
}
