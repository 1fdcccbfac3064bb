#pragma once

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QPointer>

class BookmarkGroup;
class BookmarkItem;
class ModelContext;

// Live query: the links of one group in display order, sortOrder ascending with equal
// positions in the store's order. Position changes are re-sorted once per event-loop turn, so
// renumbering thousands of links costs one sort.
class BookmarkListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Roles { ItemRole = Qt::UserRole + 1, UrlRole, TitleRole, SummaryRole, SortOrderRole };

    BookmarkListModel(BookmarkGroup *group, QObject *parent = nullptr);

    // The ordering rule: stable sort by sortOrder of the group's links as the store returns them.
    static QList<BookmarkItem *> ordered(const BookmarkGroup *group);

    BookmarkGroup *group() const { return m_group; }
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;

    BookmarkItem *itemAt(int row) const;
    int rowOf(const BookmarkItem *item) const;
    const QList<BookmarkItem *> &items() const { return m_items; }
    // Applies a pending re-sort now.
    void sortNow();

private:
    void scheduleSort();
    void reindex();
    void insertItem(BookmarkItem *item);
    void removeItem(BookmarkItem *item);

    QPointer<BookmarkGroup> m_group;
    QList<BookmarkItem *> m_items;
    QHash<const BookmarkItem *, int> m_rows;
    bool m_sortPending = false;
};
