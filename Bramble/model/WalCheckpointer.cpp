#include "WalCheckpointer.h"

#include "SqlStatement.h"

#include <QThreadPool>
#include <sqlite3.h>

WalCheckpointer::WalCheckpointer(const QSqlDatabase &db)
    : m_db(SqlStatement::handleOf(db))
    , m_path(db.databaseName())
{
    if (m_db)
        sqlite3_wal_hook(m_db, &WalCheckpointer::committed, this);
}

WalCheckpointer::~WalCheckpointer() = default;

int WalCheckpointer::committed(void *context, sqlite3 *db, const char *name, int pages)
{
    auto *self = static_cast<WalCheckpointer *>(context);
    if (pages >= commitPages) {
        ++self->m_commitRuns;
        sqlite3_wal_checkpoint_v2(db, name, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
        return SQLITE_OK;
    }
    if (pages < workerPages || self->m_running->exchange(true))
        return SQLITE_OK;
    ++self->m_workerRuns;
    // A connection of its own: a passive checkpoint waits for no lock and leaves the main
    // connection free to commit meanwhile.
    QThreadPool::globalInstance()->start([path = self->m_path.toUtf8(), running = self->m_running] {
        sqlite3 *own = nullptr;
        if (sqlite3_open_v2(path.constData(), &own, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK)
            sqlite3_wal_checkpoint_v2(own, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
        sqlite3_close(own);
        running->store(false);
    });
    return SQLITE_OK;
}
