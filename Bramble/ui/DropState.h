#pragma once

#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"

#include <QObject>
#include <QPointer>

// Which half of the target row the pointer is in.
enum class Edge { top, bottom };

// Drag-and-drop bookkeeping shared by all rows of one bookmark list. Main thread only.
class DropState : public QObject
{
    Q_OBJECT

public:
    explicit DropState(QObject *parent = nullptr);

    // The link whose row is being dragged.
    BookmarkItem *draggedItem() const { return m_draggedItem; }
    void setDraggedItem(BookmarkItem *item);
    // The link whose row the drag is over; none over no row or over the dragged row itself.
    BookmarkItem *targetItem() const { return m_targetItem; }
    void setTargetItem(BookmarkItem *item);
    // The half of the target row last reported; kept after a drop.
    Edge dropEdge() const { return m_dropEdge; }
    void setDropEdge(Edge edge);

Q_SIGNALS:
    void changed();

private:
    QPointer<BookmarkItem> m_draggedItem;
    QPointer<BookmarkItem> m_targetItem;
    Edge m_dropEdge = Edge::top;
};
