#pragma once

#include <QList>
#include <QSqlDatabase>
#include <QString>

// Brings a store written by an older version up to the schema this version reads, one step
// at a time. Each step is a function registered in SchemaUpgrade.cpp with the version it starts
// from and the one it leaves; adding a step is one line there plus its function.
//
// An upgrade first copies the store to a backup beside it (<store>.backup-<from version>), then
// runs every step and records the new version in one transaction, and removes the backup only
// once that transaction has committed. A step that fails rolls everything back: the store stays
// exactly as it was, and the backup is kept.
class SchemaUpgrade
{
public:
    // Runs inside the upgrade's transaction; returns false and sets error to stop it.
    using StepFunction = bool (*)(QSqlDatabase &db, QString *error);
    struct Step
    {
        const char *from;
        const char *to;
        StepFunction run;
    };

    // The version of the schema ModelContainer creates before any step.
    static QString baseVersion();
    // The version the last registered step leaves: the one this program reads and writes.
    static QString currentVersion();
    static const QList<Step> &steps();

    static QString backupPath(const QString &storePath, const QString &fromVersion);

    // Runs the steps from version `from` on, without a transaction of their own: for a new
    // store, whose schema is created in the same transaction.
    static bool runSteps(QSqlDatabase &db, const QString &from, QString *error,
        const QList<Step> &steps = SchemaUpgrade::steps());

    // Upgrades the open store at storePath from version `from` to the last step's version, as
    // described above. A store another process upgraded meanwhile is left as it is.
    static bool upgrade(QSqlDatabase &db, const QString &storePath, const QString &from, QString *error,
        const QList<Step> &steps = SchemaUpgrade::steps());

    // The version recorded in the store's metadata table, or empty when there is none.
    static QString recordedVersion(QSqlDatabase &db);
};
