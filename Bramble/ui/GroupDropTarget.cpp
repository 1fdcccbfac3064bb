#include "ui/GroupDropTarget.h"

#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"
#include "model/GroupListModel.h"
#include "model/LinkMover.h"
#include "model/ModelContext.h"
#include "ui/BookmarkListView.h"

#include <QDragEnterEvent>
#include <QListView>
#include <QMimeData>

GroupDropTarget::GroupDropTarget(QListView *sidebar, GroupListModel *groups, ModelContext *context)
    : QObject(sidebar)
    , m_sidebar(sidebar)
    , m_viewport(sidebar->viewport())
    , m_groups(groups)
    , m_context(context)
{
    sidebar->setAcceptDrops(true);
    sidebar->viewport()->setAcceptDrops(true);
    sidebar->viewport()->installEventFilter(this);
}

BookmarkItem *GroupDropTarget::draggedLink(const QMimeData *data) const
{
    if (!data || !data->hasFormat(BookmarkListView::linkMimeType))
        return nullptr;
    bool ok = false;
    const qint64 id = data->data(BookmarkListView::linkMimeType).toLongLong(&ok);
    BookmarkItem *link = ok ? m_context->item(id) : nullptr;
    return link && !link->isDeleted() ? link : nullptr;
}

void GroupDropTarget::setGroup(BookmarkGroup *group)
{
    if (group == m_group)
        return;
    m_group = group;
    if (m_viewport)
        m_viewport->update();
}

bool GroupDropTarget::eventFilter(QObject *watched, QEvent *event)
{
    if (!m_viewport || watched != m_viewport || !m_context)
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        BookmarkItem *link = draggedLink(drop->mimeData());
        const QModelIndex index = m_sidebar->indexAt(drop->position().toPoint());
        BookmarkGroup *group = index.isValid() ? m_groups->groupAt(index.row()) : nullptr;
        // Its own group is no destination: the list reorders within it.
        const bool possible = link && group && link->group() != group;
        if (event->type() == QEvent::Drop) {
            setGroup(nullptr);
            if (possible && LinkMover::moveToGroup(m_context, link, group)) {
                drop->setDropAction(Qt::MoveAction);
                drop->accept();
            } else {
                drop->ignore();
            }
            return true;
        }
        setGroup(possible ? group : nullptr);
        if (link)
            drop->setDropAction(Qt::MoveAction);
        // The enter is taken for any link, so that moves over other rows keep coming.
        if (possible || (link && event->type() == QEvent::DragEnter))
            drop->accept();
        else
            drop->ignore();
        return true;
    }
    case QEvent::DragLeave:
        setGroup(nullptr);
        event->accept();
        return true;
    default:
        return QObject::eventFilter(watched, event);
    }
}
