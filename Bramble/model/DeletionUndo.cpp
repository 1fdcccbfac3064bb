#include "model/DeletionUndo.h"

#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"
#include "model/BookmarkListModel.h"
#include "model/GroupListModel.h"
#include "model/Reordering.h"

DeletionUndo *DeletionUndo::of(ModelContext *context)
{
    if (!context)
        return nullptr;
    if (auto *existing = context->findChild<DeletionUndo *>(QString(), Qt::FindDirectChildrenOnly))
        return existing;
    return new DeletionUndo(context);
}

DeletionUndo::DeletionUndo(ModelContext *context)
    : QObject(context)
    , m_context(context)
{ }

DeletionUndo::Link DeletionUndo::snapshot(const BookmarkItem *link) const
{
    Link saved;
    saved.urlString = link->urlString();
    saved.title = link->title();
    saved.summary = link->summary();
    // Read now: the bytes are loaded from the store lazily, and the row is going.
    saved.iconData = link->iconData();
    saved.sortOrder = link->sortOrder();
    saved.createdAt = link->createdAt();
    saved.refresh = m_context->refreshMode(link);
    return saved;
}

void DeletionUndo::deleteGroup(BookmarkGroup *group)
{
    if (!m_context || !group || group->isDeleted() || group->context() != m_context)
        return;
    Snapshot saved;
    saved.isGroup = true;
    saved.displayName = group->name();
    saved.groupName = group->name();
    saved.groupSortOrder = group->sortOrder();
    saved.groupCreatedAt = group->createdAt();
    saved.position = GroupListModel::ordered(m_context).indexOf(group);
    for (const BookmarkItem *link : group->bookmarks())
        saved.links << snapshot(link);
    m_context->remove(group);
    m_pending = std::move(saved);
    Q_EMIT deleted(m_pending->displayName);
}

void DeletionUndo::deleteLink(BookmarkItem *link)
{
    if (!m_context || !link || link->isDeleted() || link->context() != m_context)
        return;
    Snapshot saved;
    saved.owner = link->group();
    saved.position = BookmarkListModel::ordered(link->group()).indexOf(link);
    saved.links << snapshot(link);
    const std::optional<QString> title = link->title();
    saved.displayName = title && !title->isEmpty() ? *title : link->urlString();
    m_context->remove(link);
    m_pending = std::move(saved);
    Q_EMIT deleted(m_pending->displayName);
}

BookmarkItem *DeletionUndo::rebuild(const Link &saved, BookmarkGroup *group)
{
    auto *link = new BookmarkItem(saved.urlString, group);
    link->setTitle(saved.title);
    link->setSummary(saved.summary);
    link->setIconData(saved.iconData);
    link->setSortOrder(saved.sortOrder);
    link->setCreatedAt(saved.createdAt);
    return link;
}

DeletionUndo::Restored DeletionUndo::undo()
{
    Restored restored;
    if (!m_pending || !m_context)
        return restored;
    const Snapshot saved = std::move(*m_pending);
    m_pending.reset();
    QList<BookmarkItem *> links;
    if (saved.isGroup) {
        auto *group = new BookmarkGroup(saved.groupName);
        group->setSortOrder(saved.groupSortOrder);
        group->setCreatedAt(saved.groupCreatedAt);
        for (const Link &link : saved.links)
            links << rebuild(link, group);
        // Its old position may be shared with others (as after an import), which would put it
        // last among them.
        Reordering::placeAt(GroupListModel::ordered(m_context), group, saved.position);
        // Inserting the group inserts the links already added to it.
        m_context->insert(group);
        restored.group = group;
    } else {
        BookmarkGroup *owner = saved.owner;
        if (!owner || owner->isDeleted()) {
            Q_EMIT forgotten();
            return restored;
        }
        // Filled in before it joins the group, so it arrives in its old place.
        restored.link = rebuild(saved.links.first(), nullptr);
        Reordering::placeAt(BookmarkListModel::ordered(owner), restored.link, saved.position);
        restored.link->setGroup(owner);
        restored.group = owner;
        links << restored.link;
    }
    for (qsizetype i = 0; i < links.size(); ++i) {
        if (saved.links.at(i).refresh != ModelContext::RefreshMode::None)
            m_context->setRefreshMode(links.at(i), saved.links.at(i).refresh);
    }
    Q_EMIT undone();
    return restored;
}

void DeletionUndo::forget()
{
    if (!m_pending)
        return;
    m_pending.reset();
    Q_EMIT forgotten();
}
