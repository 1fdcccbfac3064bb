#pragma once

#include <QObject>
#include <QSqlDatabase>
#include <QString>
#include <memory>
#include <optional>

class ModelContext;
class WalCheckpointer;

// Opens (or creates) the SQLite store and hands out its main context.
class ModelContainer : public QObject
{
    Q_OBJECT

public:
    // The schema version this program reads and writes; older stores are upgraded on opening
    // (SchemaUpgrade), newer ones refused.
    static QString schemaVersion();
    // An import lists the groups it has created so far under keys with this prefix in the
    // store's metadata table, and removes its keys in the transaction of its last save: keys
    // found when the store opens belong to an import that did not finish.
    static constexpr const char *unfinishedImportKeyPrefix = "unfinishedImport:";

    enum class Access {
        // The caller holds the library's lock: what an unfinished import left is removed.
        Owner,
        // Opened beside a possible owner (the read-only commands): an import's groups are not
        // shown until it has finished, and nothing of it is removed.
        Shared,
    };

    struct RemovedImport
    {
        int groupCount = 0;
        int linkCount = 0;
    };

    // The default store file: <XDG data dir>/Bramble/Bramble.sqlite.
    static QString defaultStorePath();

    // Opens the store at path, creating it when the file does not exist. Returns null and sets
    // error when the file is not a store of ours or comes from a newer version; such a file is
    // left exactly as it was.
    static std::unique_ptr<ModelContainer> open(
        const QString &path, QString *error, Access access = Access::Owner);

    ~ModelContainer() override;

    ModelContext *mainContext() const { return m_context; }
    QString path() const { return m_path; }
    // The main context's connection, for reading on the main thread (searching).
    QSqlDatabase database() const;
    const WalCheckpointer *checkpointer() const { return m_checkpointer.get(); }
    // What opening removed of an import that did not finish, if anything.
    std::optional<RemovedImport> removedImport() const { return m_removedImport; }

private:
    ModelContainer(const QString &path, const QString &connectionName);

    QString m_path;
    QString m_connectionName;
    ModelContext *m_context = nullptr;
    // Declared after the context: it goes after the connection has closed.
    std::unique_ptr<WalCheckpointer> m_checkpointer;
    std::optional<RemovedImport> m_removedImport;
};
