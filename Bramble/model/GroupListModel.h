#pragma once

#include <QAbstractListModel>
#include <QList>

class BookmarkGroup;
class ModelContext;

// Live query: every group, sorted by sortOrder ascending (equal positions keep the store's
// order). Follows inserts, deletes, renames and position changes by itself.
class GroupListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Roles { GroupRole = Qt::UserRole + 1, SortOrderRole };

    explicit GroupListModel(ModelContext *context, QObject *parent = nullptr);

    // The sidebar's order: every group by sortOrder, equal positions in the store's order.
    static QList<BookmarkGroup *> ordered(const ModelContext *context);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;

    BookmarkGroup *groupAt(int row) const;
    int rowOf(const BookmarkGroup *group) const;
    const QList<BookmarkGroup *> &groups() const { return m_groups; }

private:
    void watch(BookmarkGroup *group);
    void resort();

    ModelContext *m_context;
    QList<BookmarkGroup *> m_groups;
};
