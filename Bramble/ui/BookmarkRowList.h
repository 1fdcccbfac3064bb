#pragma once

#include "ui/LinkDropDelegate.h"

#include <QListView>
#include <QPixmap>
#include <QPoint>
#include <QPointer>

class BookmarkItem;
class BookmarkListView;
class DragAutoScroller;

// The scrolling column of rows inside the bookmark list: pointer tracking for the rows,
// their buttons, double click, and the drag source and drop targets of reordering.
class BookmarkRowList : public QListView
{
    Q_OBJECT

public:
    explicit BookmarkRowList(BookmarkListView *owner);

    // The row a drag or drop at this viewport point is over: the row itself, or the nearer
    // row when the point is in the gap between two rows. -1 over no row.
    int dropRowAt(const QPoint &position) const;
    // The drop handler of a row as the list shows it now.
    LinkDropDelegate dropDelegate(int row) const;
    // The link whose card is under a viewport point (not the margins beside it).
    BookmarkItem *itemAt(const QPoint &position) const;
    // What a drag of this row shows: the row, smaller and translucent, with the point of it
    // that follows the pointer (outside it: the picture sits below and right of the pointer).
    static constexpr qreal dragImageScale = 0.7;
    static constexpr qreal dragImageOpacity = 0.7;
    static constexpr int dragImageOffset = 14;
    QPixmap dragPixmap(BookmarkItem *item, QPoint *hotSpot) const;
    DragAutoScroller *autoScroller() const { return m_scroller; }

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    bool viewportEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void updateHover(const QPoint &position);
    void startLinkDrag(BookmarkItem *item);
    void handleDragPosition(QDropEvent *event);
    // Follows the drag to the row at this point; false where it cannot be dropped.
    bool updateDropTarget(const QPoint &position);
    void leaveDropTarget();

    BookmarkListView *m_owner;
    QPoint m_pressPosition;
    QPointer<BookmarkItem> m_pressedItem;
    int m_pressedButton = 0;
    // The row the drag is over, as the drop handlers saw it.
    QPointer<BookmarkItem> m_dropRowItem;
    DragAutoScroller *m_scroller = nullptr;
};
