#pragma once

#include <QAbstractItemView>
#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTest>

// Context menus of item views driven the way a user does: a right click on the row, then a
// click on the item.
namespace ContextMenus {

// Opens the menu of the row at index and returns it (null: no menu opened).
inline QMenu *openAt(QAbstractItemView *view, const QModelIndex &index)
{
    const QPoint position = view->visualRect(index).center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, position, view->viewport()->mapToGlobal(position));
    QApplication::sendEvent(view->viewport(), &event);
    return qobject_cast<QMenu *>(QApplication::activePopupWidget());
}

inline QAction *find(QMenu *menu, const QString &text)
{
    for (QAction *action : menu->actions()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

// Clicks the item of an open menu; false when the menu has no such item or stays open.
inline bool choose(QMenu *menu, const QString &text)
{
    QAction *action = menu ? find(menu, text) : nullptr;
    if (!action || !action->isEnabled())
        return false;
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
    return QTest::qWaitFor([] { return !QApplication::activePopupWidget(); }, 5000);
}

} // namespace ContextMenus
