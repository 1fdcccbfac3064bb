#pragma once

#include <QList>
#include <QPointF>
#include <QPointer>

class BookmarkGroup;
class BookmarkItem;
class DropState;
class ModelContext;
class QMimeData;

// The drop handler of one row of the bookmark list, made afresh for each drag event. The
// pointer position it is given is in the row's own coordinates (y grows downwards from the
// row's top).
struct LinkDropDelegate
{
    enum class Proposal { move, cancel };

    BookmarkItem *item = nullptr;
    BookmarkGroup *group = nullptr;
    ModelContext *modelContext = nullptr;
    // The group's links in the displayed order.
    QList<BookmarkItem *> currentList;
    DropState *dropState = nullptr;
    qreal itemHeight = 0;

    // Rows take plain text only.
    static bool validateDrop(const QMimeData *data);
    void dropEntered() const;
    Proposal dropUpdated(const QPointF &position) const;
    void dropExited() const;
    // Places the dragged link before or after this row, numbers the whole list 0 … n−1 and
    // saves. Returns whether the drop was handled.
    bool performDrop() const;

    // The order after moving the link at from to position to (to counts the list before the
    // move, so to == size appends).
    static QList<BookmarkItem *> reordered(QList<BookmarkItem *> list, qsizetype from, qsizetype to);
};
