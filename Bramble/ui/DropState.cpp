#include "ui/DropState.h"

#include "model/BookmarkItem.h"

DropState::DropState(QObject *parent)
    : QObject(parent)
{ }

void DropState::setDraggedItem(BookmarkItem *item)
{
    if (m_draggedItem == item)
        return;
    m_draggedItem = item;
    Q_EMIT changed();
}

void DropState::setTargetItem(BookmarkItem *item)
{
    if (m_targetItem == item)
        return;
    m_targetItem = item;
    Q_EMIT changed();
}

void DropState::setDropEdge(Edge edge)
{
    if (m_dropEdge == edge)
        return;
    m_dropEdge = edge;
    Q_EMIT changed();
}
