#include "BookmarkItem.h"

#include "BookmarkGroup.h"
#include "ModelContext.h"

BookmarkItem::BookmarkItem(const QString &urlString, BookmarkGroup *group)
    : m_urlString(urlString)
    , m_createdAt(QDateTime::currentDateTimeUtc())
{
    m_sortOrder = QDateTime::currentSecsSinceEpoch();
    if (group) {
        // A detached item belongs to its group until someone inserts it.
        setParent(group);
        m_group = group;
        group->attachItem(this);
        // Relating an object to a stored one stores it too.
        if (group->context() && !group->isDeleted())
            group->context()->insert(this);
    }
}

BookmarkItem::~BookmarkItem()
{
    if (m_group)
        m_group->detachItem(this);
}

void BookmarkItem::setUrlString(const QString &urlString)
{
    if (urlString == m_urlString && urlString.isNull() == m_urlString.isNull())
        return;
    m_urlString = urlString;
    markDirty(UrlField);
    Q_EMIT urlStringChanged();
    Q_EMIT changed();
}

static bool sameText(const std::optional<QString> &a, const std::optional<QString> &b)
{
    if (a.has_value() != b.has_value())
        return false;
    return !a || *a == *b;
}

void BookmarkItem::setTitle(const std::optional<QString> &title)
{
    if (sameText(title, m_title))
        return;
    m_title = title;
    markDirty(TitleField);
    Q_EMIT titleChanged();
    Q_EMIT changed();
}

void BookmarkItem::setSummary(const std::optional<QString> &summary)
{
    if (sameText(summary, m_summary))
        return;
    m_summary = summary;
    markDirty(SummaryField);
    Q_EMIT summaryChanged();
    Q_EMIT changed();
}

std::optional<QByteArray> BookmarkItem::iconData() const
{
    if (!m_iconLoaded) {
        m_iconLoaded = true;
        if (m_context)
            m_iconData = m_context->loadIcon(m_id);
    }
    return m_iconData;
}

void BookmarkItem::setIconData(const std::optional<QByteArray> &iconData)
{
    const std::optional<QByteArray> current = this->iconData();
    if (current.has_value() == iconData.has_value() && (!current || *current == *iconData))
        return;
    m_iconData = iconData;
    m_iconLoaded = true;
    markDirty(IconField);
    Q_EMIT iconDataChanged();
    Q_EMIT changed();
}

void BookmarkItem::setSortOrder(qint64 sortOrder)
{
    if (sortOrder == m_sortOrder)
        return;
    m_sortOrder = sortOrder;
    markDirty(SortField);
    Q_EMIT sortOrderChanged();
    Q_EMIT changed();
}

void BookmarkItem::setCreatedAt(const QDateTime &createdAt)
{
    if (createdAt == m_createdAt)
        return;
    m_createdAt = createdAt;
    markDirty(CreatedField);
    Q_EMIT createdAtChanged();
    Q_EMIT changed();
}

void BookmarkItem::setGroup(BookmarkGroup *group)
{
    if (group == m_group)
        return;
    if (m_group)
        m_group->detachItem(this);
    m_group = group;
    if (group) {
        group->attachItem(this);
        if (!m_context)
            setParent(group);
        if (!m_context && group->context() && !group->isDeleted())
            group->context()->insert(this);
    }
    markDirty(GroupField);
    Q_EMIT groupChanged();
    Q_EMIT changed();
}

void BookmarkItem::markDirty(Field field)
{
    if (m_context && !m_deleted)
        m_context->itemChanged(this, field);
}
