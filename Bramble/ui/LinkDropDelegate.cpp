#include "ui/LinkDropDelegate.h"

#include "model/BookmarkItem.h"
#include "model/ModelContext.h"
#include "ui/DropState.h"

#include <QMimeData>

bool LinkDropDelegate::validateDrop(const QMimeData *data)
{
    return data && data->hasFormat(QStringLiteral("text/plain"));
}

void LinkDropDelegate::dropEntered() const
{
    dropState->setTargetItem(dropState->draggedItem() == item ? nullptr : item);
}

LinkDropDelegate::Proposal LinkDropDelegate::dropUpdated(const QPointF &position) const
{
    if (dropState->draggedItem() == item)
        return Proposal::cancel;
    // The exact middle belongs to the lower half.
    dropState->setDropEdge(position.y() >= itemHeight * 0.5 ? Edge::bottom : Edge::top);
    return Proposal::move;
}

void LinkDropDelegate::dropExited() const
{
    // The row being entered next may already have claimed the target.
    if (dropState->targetItem() == item)
        dropState->setTargetItem(nullptr);
}

QList<BookmarkItem *> LinkDropDelegate::reordered(QList<BookmarkItem *> list, qsizetype from, qsizetype to)
{
    BookmarkItem *moving = list.at(from);
    if (from < to) {
        list.insert(to, moving);
        list.removeAt(from);
    } else {
        list.removeAt(from);
        list.insert(to, moving);
    }
    return list;
}

bool LinkDropDelegate::performDrop() const
{
    BookmarkItem *dragged = dropState->draggedItem();
    if (!dragged)
        return false;
    const qsizetype from = currentList.indexOf(dragged);
    if (from < 0)
        return false;
    qsizetype to = currentList.size();
    if (BookmarkItem *target = dropState->targetItem()) {
        const qsizetype at = currentList.indexOf(target);
        if (at >= 0)
            to = at + (dropState->dropEdge() == Edge::bottom ? 1 : 0);
    }
    const QList<BookmarkItem *> order = reordered(currentList, from, to);
    for (qsizetype i = 0; i < order.size(); ++i) {
        if (!order.at(i)->isDeleted())
            order.at(i)->setSortOrder(i);
    }
    // A failed save is not reported: automatic saving tries again with the next change.
    if (modelContext)
        modelContext->save();
    dropState->setDraggedItem(nullptr);
    dropState->setTargetItem(nullptr);
    return true;
}
