#include "ui/BookmarkListKeys.h"

#include "model/BookmarkItem.h"
#include "model/BookmarkListModel.h"
#include "ui/BookmarkListView.h"
#include "ui/BookmarkRowView.h"
#include "ui/ContextMenu.h"
#include "ui/ShareMenu.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <algorithm>

BookmarkListKeys::BookmarkListKeys(BookmarkListView *list)
    : QObject(list)
    , m_list(list)
    , m_rows(list->listView())
    , m_viewport(list->listView()->viewport())
{
    m_list->listView()->installEventFilter(this);
    m_list->listView()->viewport()->installEventFilter(this);
    // Another row, another set of buttons: the keyboard starts on the row itself again.
    connect(m_list->listView()->selectionModel(), &QItemSelectionModel::currentChanged, this,
        [this] { m_list->rowView()->setKeyboardButton(BookmarkRowView::Button::none); });
}

BookmarkItem *BookmarkListKeys::currentItem() const
{
    const QModelIndex current = m_list->listView()->currentIndex();
    return current.isValid() ? m_list->model()->itemAt(current.row()) : nullptr;
}

QObject *BookmarkListKeys::showMenuForCurrent()
{
    BookmarkItem *item = currentItem();
    if (!item)
        return nullptr;
    BookmarkRowList *rows = m_list->listView();
    const QRect rect = rows->visualRect(rows->currentIndex());
    ContextMenu *menu = m_list->createBookmarkMenu(item, m_list);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(rows->viewport()->mapToGlobal(QPoint(rect.left() + 24, rect.bottom())));
    return menu;
}

void BookmarkListKeys::stepButton(int direction)
{
    BookmarkItem *item = currentItem();
    if (!item)
        return;
    using Button = BookmarkRowView::Button;
    QList<Button> stops { Button::none };
    if (BookmarkRowView::hasShareButton(item))
        stops << Button::share;
    stops << Button::edit;
    const qsizetype at = std::max<qsizetype>(0, stops.indexOf(m_list->rowView()->keyboardButton()));
    const qsizetype next = std::clamp<qsizetype>(at + direction, 0, stops.size() - 1);
    m_list->rowView()->setKeyboardButton(stops.at(next));
}

bool BookmarkListKeys::handleKey(QKeyEvent *key)
{
    const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
    BookmarkItem *item = currentItem();
    using Button = BookmarkRowView::Button;

    if ((key->key() == Qt::Key_Menu && modifiers == Qt::NoModifier)
        || (key->key() == Qt::Key_F10 && modifiers == Qt::ShiftModifier))
        return showMenuForCurrent() != nullptr;
    if (key->matches(QKeySequence::Copy)) {
        if (item)
            m_list->copyBookmarkLink(item);
        return item != nullptr;
    }
    if ((key->key() == Qt::Key_F2 && modifiers == Qt::NoModifier)
        || (key->key() == Qt::Key_E && modifiers == Qt::ControlModifier)) {
        if (item)
            m_list->setEditingBookmark(item);
        return item != nullptr;
    }
    if (modifiers != Qt::NoModifier)
        return false;
    switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space: {
        if (!item)
            return false;
        const Button button = m_list->rowView()->keyboardButton();
        if (button == Button::edit) {
            m_list->setEditingBookmark(item);
        } else if (button == Button::share) {
            BookmarkRowList *rows = m_list->listView();
            const QRect place = m_list->rowView()->buttonRect(rows->visualRect(rows->currentIndex()), button);
            if (ShareMenu *menu = m_list->createShareMenu(item, m_list)) {
                menu->setAttribute(Qt::WA_DeleteOnClose);
                menu->popup(rows->viewport()->mapToGlobal(place.bottomLeft()));
            }
        } else if (key->key() != Qt::Key_Space) {
            m_list->openBookmark(item, true);
        }
        return true;
    }
    case Qt::Key_Delete: {
        if (!item)
            return false;
        const int row = m_list->listView()->currentIndex().row();
        m_list->deleteBookmark(item);
        // The keyboard stays where it was: on the link that took the deleted one's place.
        if (const int count = m_list->model()->rowCount(); count > 0)
            m_list->listView()->setCurrentIndex(m_list->model()->index(std::min(row, count - 1)));
        return true;
    }
    case Qt::Key_Right:
        stepButton(1);
        return true;
    case Qt::Key_Left:
        stepButton(-1);
        return true;
    default:
        return false;
    }
}

bool BookmarkListKeys::eventFilter(QObject *watched, QEvent *event)
{
    // The desktop's own menu-key event: the menu belongs to the current row, not the pointer's.
    if (event->type() == QEvent::ContextMenu
        && static_cast<QContextMenuEvent *>(event)->reason() == QContextMenuEvent::Keyboard
        && (watched == m_rows || watched == m_viewport)) {
        showMenuForCurrent();
        return true;
    }
    if (m_rows && watched == m_rows) {
        if (event->type() == QEvent::KeyPress && handleKey(static_cast<QKeyEvent *>(event)))
            return true;
        // The shortcut map must not take these keys from the list (Ctrl+C, F2, Delete).
        if (event->type() == QEvent::ShortcutOverride) {
            auto *key = static_cast<QKeyEvent *>(event);
            const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
            if (key->matches(QKeySequence::Copy) || (key->key() == Qt::Key_F2 && modifiers == Qt::NoModifier)
                || (key->key() == Qt::Key_Delete && modifiers == Qt::NoModifier)) {
                event->accept();
                return true;
            }
        }
        if (event->type() == QEvent::FocusIn) {
            BookmarkRowList *rows = m_list->listView();
            // Tabbing into the list lands on a row, so the ring shows where the keys act.
            if (!rows->currentIndex().isValid() && m_list->model()->rowCount() > 0)
                rows->setCurrentIndex(m_list->model()->index(0));
        }
    }
    return QObject::eventFilter(watched, event);
}
