#include "GroupListModel.h"

#include "BookmarkGroup.h"
#include "ModelContext.h"

#include <algorithm>

namespace {
bool before(const BookmarkGroup *a, const BookmarkGroup *b)
{
    if (a->sortOrder() != b->sortOrder())
        return a->sortOrder() < b->sortOrder();
    return a->id() < b->id();
}
} // namespace

GroupListModel::GroupListModel(ModelContext *context, QObject *parent)
    : QAbstractListModel(parent)
    , m_context(context)
{
    m_groups = ordered(context);
    for (BookmarkGroup *group : std::as_const(m_groups))
        watch(group);

    connect(context, &ModelContext::groupInserted, this, [this](BookmarkGroup *group) {
        const auto at = std::upper_bound(m_groups.begin(), m_groups.end(), group, before);
        const int row = int(at - m_groups.begin());
        beginInsertRows(QModelIndex(), row, row);
        m_groups.insert(row, group);
        endInsertRows();
        watch(group);
    });
    connect(context, &ModelContext::groupAboutToBeRemoved, this, [this](BookmarkGroup *group) {
        const int row = int(m_groups.indexOf(group));
        if (row < 0)
            return;
        group->disconnect(this);
        beginRemoveRows(QModelIndex(), row, row);
        m_groups.removeAt(row);
        endRemoveRows();
    });
}

QList<BookmarkGroup *> GroupListModel::ordered(const ModelContext *context)
{
    QList<BookmarkGroup *> groups = context->groups();
    std::stable_sort(groups.begin(), groups.end(), before);
    return groups;
}

void GroupListModel::watch(BookmarkGroup *group)
{
    connect(group, &BookmarkGroup::nameChanged, this, [this, group] {
        const int row = int(m_groups.indexOf(group));
        if (row >= 0)
            Q_EMIT dataChanged(index(row), index(row), { Qt::DisplayRole, Qt::EditRole });
    });
    connect(group, &BookmarkGroup::sortOrderChanged, this, [this, group] {
        const int row = int(m_groups.indexOf(group));
        if (row >= 0)
            Q_EMIT dataChanged(index(row), index(row), { SortOrderRole });
        resort();
    });
}

void GroupListModel::resort()
{
    QList<BookmarkGroup *> sorted = m_groups;
    std::stable_sort(sorted.begin(), sorted.end(), before);
    if (sorted == m_groups)
        return;
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList oldIndexes = persistentIndexList();
    QModelIndexList newIndexes;
    newIndexes.reserve(oldIndexes.size());
    for (const QModelIndex &old : oldIndexes) {
        BookmarkGroup *group = m_groups.value(old.row());
        newIndexes << index(int(sorted.indexOf(group)), old.column());
    }
    m_groups = sorted;
    changePersistentIndexList(oldIndexes, newIndexes);
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

int GroupListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_groups.size());
}

QVariant GroupListModel::data(const QModelIndex &index, int role) const
{
    BookmarkGroup *group = groupAt(index.row());
    if (!group || index.parent().isValid())
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return group->name();
    case GroupRole:
        return QVariant::fromValue(group);
    case SortOrderRole:
        return group->sortOrder();
    default:
        return {};
    }
}

BookmarkGroup *GroupListModel::groupAt(int row) const
{
    return m_groups.value(row, nullptr);
}

int GroupListModel::rowOf(const BookmarkGroup *group) const
{
    return int(m_groups.indexOf(const_cast<BookmarkGroup *>(group)));
}
