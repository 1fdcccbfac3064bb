#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QSqlDatabase>
#include <QString>
#include <optional>

class BookmarkGroup;
class BookmarkItem;

// The identity map over the store: exactly one object per stored row. Inserts, deletes
// (a group takes its links with it) and saves. Every change schedules one automatic save on
// the next turn of the event loop; pending changes are also saved when the application quits.
class ModelContext : public QObject
{
    Q_OBJECT

public:
    // Use ModelContainer to get one; the database connection must already hold the schema.
    ModelContext(const QString &connectionName, QObject *parent = nullptr);
    ~ModelContext() override;

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

    bool hasChanges() const;
    // Writes every pending change in one transaction. On failure the changes stay pending.
    bool save(QString *error = nullptr);

    bool autosaveEnabled() const { return m_autosave; }
    void setAutosaveEnabled(bool enabled);

    // Reads the objects of the store; called once by ModelContainer.
    bool load(QString *error);

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
    void saved();
    void saveFailed(const QString &error);

private:
    friend class BookmarkGroup;
    friend class BookmarkItem;
    void groupChanged(BookmarkGroup *group);
    void itemChanged(BookmarkItem *item, int field);
    void scheduleSave();
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

    bool m_autosave = true;
    bool m_saveScheduled = false;
};
