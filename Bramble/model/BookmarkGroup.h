#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>

class BookmarkItem;
class ModelContext;

// A named group of links. One object per stored row: compare by pointer (or id()).
// Created detached; ModelContext::insert() takes ownership. After ModelContext::remove()
// isDeleted() is true at once and the object itself is destroyed on the next event-loop
// turn, so code that keeps one across an await should hold a QPointer.
class BookmarkGroup : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(QDateTime createdAt READ createdAt WRITE setCreatedAt NOTIFY createdAtChanged)
    Q_PROPERTY(qint64 sortOrder READ sortOrder WRITE setSortOrder NOTIFY sortOrderChanged)

public:
    explicit BookmarkGroup(const QString &name);
    ~BookmarkGroup() override;

    // The store's identifier; 0 until inserted.
    qint64 id() const { return m_id; }
    ModelContext *context() const { return m_context; }
    bool isDeleted() const { return m_deleted; }

    QString name() const { return m_name; }
    void setName(const QString &name);
    QDateTime createdAt() const { return m_createdAt; }
    void setCreatedAt(const QDateTime &createdAt);
    qint64 sortOrder() const { return m_sortOrder; }
    void setSortOrder(qint64 sortOrder);

    // The group's links in no defined order (the order the store returns them).
    const QList<BookmarkItem *> &bookmarks() const { return m_bookmarks; }
    // Makes the item a member of this group (and sets its group).
    void addBookmark(BookmarkItem *item);

Q_SIGNALS:
    void nameChanged();
    void createdAtChanged();
    void sortOrderChanged();
    void bookmarksChanged();
    // Any stored field of this group changed.
    void changed();

private:
    friend class BookmarkItem;
    friend class ModelContext;
    void attachItem(BookmarkItem *item);
    void detachItem(BookmarkItem *item);
    void markDirty();

    qint64 m_id = 0;
    ModelContext *m_context = nullptr;
    bool m_deleted = false;
    QString m_name;
    QDateTime m_createdAt;
    qint64 m_sortOrder = 0;
    QList<BookmarkItem *> m_bookmarks;
};
