#pragma once

#include <QSqlDatabase>
#include <QString>
#include <atomic>
#include <memory>

struct sqlite3;

// Copies what the store's write-ahead log holds back into the store file on a worker thread.
// Left to SQLite, this happens inside whichever commit fills the log past 1,000 pages: on the
// main thread, with its fsyncs, a pause of tens of milliseconds in the middle of an import.
// Should the workers fall far behind, the commit does it after all, so the log stays bounded.
class WalCheckpointer
{
public:
    // Takes over the connection's commit hook; the connection must close before this goes.
    explicit WalCheckpointer(const QSqlDatabase &db);
    ~WalCheckpointer();
    WalCheckpointer(const WalCheckpointer &) = delete;
    WalCheckpointer &operator=(const WalCheckpointer &) = delete;

    // Pages in the log that start a checkpoint on a worker, and that make a commit do one.
    static constexpr int workerPages = 1000;
    static constexpr int commitPages = 16 * workerPages;

    // Checkpoints started on a worker so far, and those done in a commit.
    int workerCheckpoints() const { return m_workerRuns; }
    int commitCheckpoints() const { return m_commitRuns; }

private:
    static int committed(void *self, sqlite3 *db, const char *name, int pages);

    sqlite3 *m_db = nullptr;
    QString m_path;
    // Shared with the worker, which may finish after this object is gone.
    std::shared_ptr<std::atomic<bool>> m_running = std::make_shared<std::atomic<bool>>(false);
    int m_workerRuns = 0;
    int m_commitRuns = 0;
};
