#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QSqlDatabase>
#include <QString>
#include <chrono>
#include <map>
#include <optional>

class BookmarkGroup;
class BookmarkItem;
class QTimer;

// The identity map over the store: exactly one object per stored row. Inserts, deletes
// (a group takes its links with it) and saves. Every change schedules one automatic save on
// the next turn of the event loop; pending changes are also saved when the application quits.
// A save that fails (another program holds the file, the disk is full) keeps every change and
// is tried again after a growing pause; one that keeps failing is reported by saveProblem().
class ModelContext : public QObject
{
    Q_OBJECT

public:
    // Use ModelContainer to get one; the database connection must already hold the schema.
    ModelContext(const QString &connectionName, QObject *parent = nullptr);
    ~ModelContext() override;

    // The file of the store, for readers that open their own connection (search).
    QString storePath() const;

    // Every live group / item, in the order the store returns them (by identifier).
    QList<BookmarkGroup *> groups() const;
    QList<BookmarkItem *> items() const;
    int groupCount() const { return int(m_groups.size()); }
    int itemCount() const { return int(m_items.size()); }
    BookmarkGroup *group(qint64 id) const { return m_groups.value(id); }
    BookmarkItem *item(qint64 id) const { return m_items.value(id); }

    // Takes ownership. Inserting an item inserts its group too when needed; inserting a group
    // inserts the links already added to it.
    void insert(BookmarkGroup *group);
    void insert(BookmarkItem *item);
    // Deletes at once from the context (a group together with its links); the row leaves the
    // file with the next save. The object is marked deleted and destroyed later.
    void remove(BookmarkGroup *group);
    void remove(BookmarkItem *item);

    // How the metadata of a link waiting for it may be written once it arrives.
    enum class RefreshMode {
        None = 0,
        // Only what the link lacks: a title, a real summary, an icon (an import's links).
        FillMissing = 1,
        // Whatever arrives (an explicit request to refresh).
        Overwrite = 2,
    };
    // The links waiting for their metadata, kept in the store so that the work goes on after a
    // restart. Saved like any other change; a deleted link leaves the queue.
    RefreshMode refreshMode(const BookmarkItem *item) const;
    void setRefreshMode(BookmarkItem *item, RefreshMode mode);
    int refreshQueueSize() const { return int(m_refreshQueue.size()); }
    // The first waiting link in creation order whose identifier is not in skip and, when a
    // group is given, that belongs to it.
    BookmarkItem *nextWaitingItem(const QSet<qint64> &skip, const BookmarkGroup *group = nullptr) const;
    QList<BookmarkItem *> waitingItems() const;

    // A value of the store's own key-value table (absent: remove the key), written with the
    // next save in the same transaction as the changes made so far. Keys name their owner.
    void setStoreValue(const QString &key, const std::optional<QString> &value);

    bool hasChanges() const;
    // Writes every pending change in one transaction. On failure the changes stay pending,
    // and with automatic saving on a retry is scheduled.
    bool save(QString *error = nullptr);
    // As save(), but waits up to patience for another connection to let go of the file: for
    // the last save at quitting, when nothing may be lost and a short wait does no harm.
    bool saveWaiting(std::chrono::milliseconds patience, QString *error = nullptr);

    // While saves keep failing: what the store said, for the window to show; empty otherwise.
    QString saveProblem() const { return m_saveProblem; }
    // The pause after the first failed save, doubled after each further one up to longest.
    void setRetryDelays(std::chrono::milliseconds first, std::chrono::milliseconds longest);
    bool isRetryPending() const;

    bool autosaveEnabled() const { return m_autosave; }
    void setAutosaveEnabled(bool enabled);

    // Reads the objects of the store, leaving out the hidden groups and their links; called
    // once by ModelContainer.
    bool load(QString *error, const QSet<qint64> &hiddenGroups = {});

Q_SIGNALS:
    void groupInserted(BookmarkGroup *group);
    void groupAboutToBeRemoved(BookmarkGroup *group);
    void groupRemoved(qint64 id);
    void itemInserted(BookmarkItem *item);
    void itemAboutToBeRemoved(BookmarkItem *item);
    void itemRemoved(qint64 id);
    // A stored field of an object changed; fields is a mask of BookmarkItem::Field values.
    void groupFieldsChanged(BookmarkGroup *group);
    void itemFieldsChanged(BookmarkItem *item, int fields);
    // A link joined or left the refresh queue; waiting is its new size.
    void refreshQueueChanged(int waiting);
    void saved();
    void saveFailed(const QString &error);
    // Set when a save has failed twice in a row, cleared by the next save that succeeds.
    void saveProblemChanged(const QString &problem);

private:
    friend class BookmarkGroup;
    friend class BookmarkItem;
    void groupChanged(BookmarkGroup *group);
    void itemChanged(BookmarkItem *item, int field);
    void scheduleSave();
    void noteSaveFailure(const QString &error);
    void noteSaveSuccess();
    std::optional<QByteArray> loadIcon(qint64 itemId) const;

    QString m_connectionName;
    QHash<qint64, BookmarkGroup *> m_groups;
    QHash<qint64, BookmarkItem *> m_items;
    qint64 m_nextGroupId = 1;
    qint64 m_nextItemId = 1;

    QSet<qint64> m_insertedGroups;
    QSet<qint64> m_updatedGroups;
    QSet<qint64> m_deletedGroups;
    QSet<qint64> m_insertedItems;
    QHash<qint64, int> m_updatedItems; // id -> field mask
    QSet<qint64> m_deletedItems;
    QHash<QString, std::optional<QString>> m_storeValues;
    std::map<qint64, RefreshMode> m_refreshQueue;
    QSet<qint64> m_refreshChanges;

    bool m_autosave = true;
    bool m_saveScheduled = false;
    QTimer *m_retryTimer = nullptr;
    int m_failedSaves = 0;
    QString m_saveProblem;
    std::chrono::milliseconds m_firstRetry { 100 };
    std::chrono::milliseconds m_longestRetry { 5000 };
};
