#pragma once

#include <QObject>
#include <QPointer>

class BookmarkItem;
class BookmarkListView;
class QKeyEvent;

// The keyboard in the bookmark list: Enter (or Return) opens the current link, Delete deletes
// it, F2 or Ctrl+E edits it, Ctrl+C copies its address, the Menu key and Shift+F10 open its
// context menu; Left and Right step onto the row's share and edit buttons, which Enter (or
// Space) then presses. Every command takes the same road as the menu item of that name.
class BookmarkListKeys : public QObject
{
    Q_OBJECT

public:
    explicit BookmarkListKeys(BookmarkListView *list);

    // The link of the list's current row, if any.
    BookmarkItem *currentItem() const;
    // Opens the row menu of the current link below its row; returns the menu or null.
    QObject *showMenuForCurrent();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool handleKey(QKeyEvent *key);
    void stepButton(int direction);

    BookmarkListView *m_list;
    // Kept apart: events reach them while the list view is being destroyed.
    QPointer<QWidget> m_rows;
    QPointer<QWidget> m_viewport;
};
