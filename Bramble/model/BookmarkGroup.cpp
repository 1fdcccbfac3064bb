#include "BookmarkGroup.h"

#include "BookmarkItem.h"
#include "ModelContext.h"

BookmarkGroup::BookmarkGroup(const QString &name)
    : m_name(name)
    , m_createdAt(QDateTime::currentDateTimeUtc())
    , m_sortOrder(QDateTime::currentSecsSinceEpoch())
{ }

BookmarkGroup::~BookmarkGroup()
{
    for (BookmarkItem *item : std::as_const(m_bookmarks)) {
        if (item->m_group == this)
            item->m_group = nullptr;
    }
}

void BookmarkGroup::setName(const QString &name)
{
    if (name == m_name && name.isNull() == m_name.isNull())
        return;
    m_name = name;
    markDirty();
    Q_EMIT nameChanged();
    Q_EMIT changed();
}

void BookmarkGroup::setCreatedAt(const QDateTime &createdAt)
{
    if (createdAt == m_createdAt)
        return;
    m_createdAt = createdAt;
    markDirty();
    Q_EMIT createdAtChanged();
    Q_EMIT changed();
}

void BookmarkGroup::setSortOrder(qint64 sortOrder)
{
    if (sortOrder == m_sortOrder)
        return;
    m_sortOrder = sortOrder;
    markDirty();
    Q_EMIT sortOrderChanged();
    Q_EMIT changed();
}

void BookmarkGroup::addBookmark(BookmarkItem *item)
{
    if (item)
        item->setGroup(this);
}

void BookmarkGroup::attachItem(BookmarkItem *item)
{
    if (m_bookmarks.contains(item))
        return;
    m_bookmarks.append(item);
    Q_EMIT bookmarksChanged();
}

void BookmarkGroup::detachItem(BookmarkItem *item)
{
    if (m_bookmarks.removeOne(item))
        Q_EMIT bookmarksChanged();
}

void BookmarkGroup::markDirty()
{
    if (m_context && !m_deleted)
        m_context->groupChanged(this);
}
