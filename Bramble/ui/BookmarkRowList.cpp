#include "ui/BookmarkRowList.h"

#include "model/BookmarkItem.h"
#include "model/BookmarkListModel.h"
#include "ui/BookmarkListView.h"
#include "ui/BookmarkRowView.h"
#include "ui/DragAutoScroller.h"
#include "ui/DropState.h"
#include "ui/InsertionIndicator.h"

#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>

BookmarkRowList::BookmarkRowList(BookmarkListView *owner)
    : QListView(owner)
    , m_owner(owner)
{
    setObjectName(QStringLiteral("bookmarkList"));
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setUniformItemSizes(true);
    // Half the gap on each side of every row, and the other half above the first row and
    // below the last, so rows are 8 apart with 8 at both ends.
    setSpacing(BookmarkRowView::rowSpacing / 2);
    setViewportMargins(0, BookmarkRowView::rowSpacing / 2, 0, BookmarkRowView::rowSpacing / 2);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setMouseTracking(true);
    setContextMenuPolicy(Qt::CustomContextMenu);
    // Our own drag start and drop handling; the view's built-in ones would move model rows.
    setDragDropMode(QAbstractItemView::NoDragDrop);
    setDragEnabled(false);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    // Our own scrolling at both edges while a drag rests there; the view's own is for
    // selecting with the mouse.
    setAutoScroll(false);
    m_scroller = new DragAutoScroller(this);
    connect(m_scroller, &DragAutoScroller::scrolled, this, [this](const QPoint &position) {
        updateDropTarget(position);
        viewport()->update();
    });
    QPalette transparent = palette();
    transparent.setColor(QPalette::Base, Qt::transparent);
    viewport()->setAutoFillBackground(false);
    setAttribute(Qt::WA_MacShowFocusRect, false);
}

BookmarkItem *BookmarkRowList::itemAt(const QPoint &position) const
{
    const QModelIndex index = indexAt(position);
    if (!index.isValid())
        return nullptr;
    // Only the card counts, not the margins beside it.
    if (!m_owner->m_rowView->cardRect(visualRect(index)).contains(position))
        return nullptr;
    return m_owner->m_model->itemAt(index.row());
}

void BookmarkRowList::updateHover(const QPoint &position)
{
    m_owner->m_rowView->setHoveredItem(itemAt(position));
}

void BookmarkRowList::mousePressEvent(QMouseEvent *event)
{
    const QPoint position = event->position().toPoint();
    updateHover(position);
    m_pressPosition = position;
    m_pressedItem = itemAt(position);
    m_pressedButton = 0;
    if (m_pressedItem && event->button() == Qt::LeftButton) {
        const QModelIndex index = indexAt(position);
        m_pressedButton = int(m_owner->m_rowView->buttonAt(visualRect(index), position, m_pressedItem));
        if (m_pressedButton)
            return;
    }
    QListView::mousePressEvent(event);
}

void BookmarkRowList::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint position = event->position().toPoint();
    updateHover(position);
    if ((event->buttons() & Qt::LeftButton) && m_pressedItem && !m_pressedButton
        && (position - m_pressPosition).manhattanLength() >= QApplication::startDragDistance()) {
        BookmarkItem *item = m_pressedItem;
        m_pressedItem = nullptr;
        startLinkDrag(item);
        return;
    }
    if (m_pressedButton)
        return;
    QListView::mouseMoveEvent(event);
}

void BookmarkRowList::mouseReleaseEvent(QMouseEvent *event)
{
    const QPoint position = event->position().toPoint();
    const auto pressed = BookmarkRowView::Button(m_pressedButton);
    m_pressedButton = 0;
    BookmarkItem *item = m_pressedItem;
    m_pressedItem = nullptr;
    if (pressed != BookmarkRowView::Button::none) {
        const QModelIndex index = indexAt(position);
        if (item && itemAt(position) == item
            && m_owner->m_rowView->buttonAt(visualRect(index), position, item) == pressed) {
            if (pressed == BookmarkRowView::Button::edit) {
                m_owner->setEditingBookmark(item);
            } else {
                const QRect button = m_owner->m_rowView->buttonRect(visualRect(index), pressed);
                m_owner->showShareMenu(item, viewport()->mapToGlobal(button.bottomLeft()));
            }
        }
        return;
    }
    QListView::mouseReleaseEvent(event);
}

void BookmarkRowList::mouseDoubleClickEvent(QMouseEvent *event)
{
    const QPoint position = event->position().toPoint();
    BookmarkItem *item = itemAt(position);
    if (item && event->button() == Qt::LeftButton) {
        const QModelIndex index = indexAt(position);
        if (m_owner->m_rowView->buttonAt(visualRect(index), position, item) == BookmarkRowView::Button::none)
            m_owner->openBookmark(item, false);
        return;
    }
    QListView::mouseDoubleClickEvent(event);
}

bool BookmarkRowList::viewportEvent(QEvent *event)
{
    if (event->type() == QEvent::Leave)
        m_owner->m_rowView->setHoveredItem(nullptr);
    return QListView::viewportEvent(event);
}

void BookmarkRowList::paintEvent(QPaintEvent *event)
{
    QListView::paintEvent(event);
    DropState *state = m_owner->m_dropState;
    BookmarkItem *dragged = state->draggedItem();
    BookmarkItem *target = state->targetItem();
    if (!dragged && !target)
        return;
    QPainter painter(viewport());
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    // The dragged row is drawn above its neighbours.
    if (dragged) {
        const int row = m_owner->m_model->rowOf(dragged);
        if (row >= 0) {
            option.rect = visualRect(m_owner->m_model->index(row));
            if (option.rect.intersects(event->rect()))
                m_owner->m_rowView->paintRow(&painter, option, dragged);
        }
    }
    if (target && target != dragged) {
        const int row = m_owner->m_model->rowOf(target);
        if (row >= 0) {
            const QRect rect = m_owner->m_rowView->cardRect(visualRect(m_owner->m_model->index(row)));
            InsertionIndicator { true, state->dropEdge() }.paint(&painter, rect, BookmarkRowView::rowSpacing);
        }
    }
}

QPixmap BookmarkRowList::dragPixmap(BookmarkItem *item, QPoint *hotSpot) const
{
    const int row = m_owner->m_model->rowOf(item);
    if (row < 0)
        return QPixmap();
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const QRect card = m_owner->m_rowView->cardRect(visualRect(m_owner->m_model->index(row)));
    const QSize full(viewport()->width(), card.height());
    option.rect = QRect(QPoint(0, 0), full);
    // Smaller and see-through, beside the pointer rather than under it, so the insertion
    // marker stays in sight wherever the row goes.
    const QSize small = (QSizeF(full) * dragImageScale).toSize();
    const qreal ratio = devicePixelRatioF();
    QPixmap pixmap(small * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        painter.setOpacity(dragImageOpacity);
        painter.scale(dragImageScale, dragImageScale);
        m_owner->m_rowView->paintRow(&painter, option, item);
    }
    if (hotSpot)
        *hotSpot = QPoint(-dragImageOffset, -dragImageOffset);
    return pixmap;
}

void BookmarkRowList::startLinkDrag(BookmarkItem *item)
{
    QMimeData *data = m_owner->beginDrag(item);
    if (!data)
        return;
    auto *drag = new QDrag(this);
    drag->setMimeData(data);
    QPoint hotSpot;
    const QPixmap pixmap = dragPixmap(item, &hotSpot);
    if (!pixmap.isNull()) {
        drag->setPixmap(pixmap);
        drag->setHotSpot(hotSpot);
    }
    // The platform runs the drag; the drop handlers below do the reordering.
    drag->exec(Qt::MoveAction | Qt::CopyAction, Qt::MoveAction);
    m_owner->endDrag();
}

int BookmarkRowList::dropRowAt(const QPoint &position) const
{
    QModelIndex index = indexAt(position);
    if (!index.isValid()) {
        const int half = BookmarkRowView::rowSpacing / 2 + 1;
        index = indexAt(position - QPoint(0, half));
        if (!index.isValid())
            index = indexAt(position + QPoint(0, half));
    }
    if (!index.isValid() || !m_owner->m_model->itemAt(index.row()))
        return -1;
    return index.row();
}

LinkDropDelegate BookmarkRowList::dropDelegate(int row) const
{
    LinkDropDelegate delegate;
    delegate.item = m_owner->m_model->itemAt(row);
    delegate.group = m_owner->m_group;
    delegate.modelContext = m_owner->m_modelContext;
    delegate.currentList = m_owner->m_model->items();
    delegate.dropState = m_owner->m_dropState;
    delegate.itemHeight = visualRect(m_owner->m_model->index(row)).height();
    return delegate;
}

void BookmarkRowList::handleDragPosition(QDropEvent *event)
{
    if (updateDropTarget(event->position().toPoint())) {
        if (event->possibleActions() & Qt::MoveAction)
            event->setDropAction(Qt::MoveAction);
        event->accept();
    } else {
        event->ignore();
    }
}

bool BookmarkRowList::updateDropTarget(const QPoint &position)
{
    const int row = dropRowAt(position);
    BookmarkItem *item = row >= 0 ? m_owner->m_model->itemAt(row) : nullptr;
    if (item != m_dropRowItem) {
        if (m_dropRowItem) {
            const int previous = m_owner->m_model->rowOf(m_dropRowItem);
            if (previous >= 0)
                dropDelegate(previous).dropExited();
            else if (m_owner->m_dropState->targetItem() == m_dropRowItem)
                m_owner->m_dropState->setTargetItem(nullptr);
        }
        m_dropRowItem = item;
        if (item)
            dropDelegate(row).dropEntered();
    }
    if (!item)
        return false;
    const QPointF local(position.x(), position.y() - visualRect(model()->index(row, 0)).top());
    return dropDelegate(row).dropUpdated(local) != LinkDropDelegate::Proposal::cancel;
}

void BookmarkRowList::leaveDropTarget()
{
    if (m_dropRowItem) {
        const int row = m_owner->m_model->rowOf(m_dropRowItem);
        if (row >= 0)
            dropDelegate(row).dropExited();
        else if (m_owner->m_dropState->targetItem() == m_dropRowItem)
            m_owner->m_dropState->setTargetItem(nullptr);
    }
    m_dropRowItem = nullptr;
    m_scroller->stop();
    setState(NoState);
}

void BookmarkRowList::dragEnterEvent(QDragEnterEvent *event)
{
    if (!LinkDropDelegate::validateDrop(event->mimeData())) {
        event->ignore();
        return;
    }
    setState(DraggingState);
    // Accept the enter itself so that move events keep coming even over a refused row.
    event->acceptProposedAction();
    handleDragPosition(event);
    event->accept();
}

void BookmarkRowList::dragMoveEvent(QDragMoveEvent *event)
{
    if (!LinkDropDelegate::validateDrop(event->mimeData())) {
        event->ignore();
        return;
    }
    handleDragPosition(event);
    m_scroller->follow(event->position().toPoint());
}

void BookmarkRowList::dragLeaveEvent(QDragLeaveEvent *event)
{
    leaveDropTarget();
    event->accept();
}

void BookmarkRowList::dropEvent(QDropEvent *event)
{
    if (!LinkDropDelegate::validateDrop(event->mimeData())) {
        event->ignore();
        return;
    }
    const QPoint position = event->position().toPoint();
    const int row = dropRowAt(position);
    bool handled = false;
    if (row >= 0) {
        const LinkDropDelegate delegate = dropDelegate(row);
        const QPointF local(position.x(), position.y() - visualRect(model()->index(row, 0)).top());
        // A drop right after entering a row: make sure the target and half are this row's.
        if (m_dropRowItem != delegate.item) {
            delegate.dropEntered();
            m_dropRowItem = delegate.item;
        }
        if (delegate.dropUpdated(local) == LinkDropDelegate::Proposal::move)
            handled = delegate.performDrop();
    }
    m_dropRowItem = nullptr;
    m_scroller->stop();
    setState(NoState);
    if (handled) {
        if (event->possibleActions() & Qt::MoveAction)
            event->setDropAction(Qt::MoveAction);
        event->accept();
    } else {
        event->ignore();
    }
    viewport()->update();
}
