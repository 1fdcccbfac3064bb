#include "BookmarkListModel.h"

#include "BookmarkGroup.h"
#include "BookmarkItem.h"
#include "ModelContext.h"

#include <algorithm>
#include <utility>

namespace {
bool before(const BookmarkItem *a, const BookmarkItem *b)
{
    if (a->sortOrder() != b->sortOrder())
        return a->sortOrder() < b->sortOrder();
    return a->id() < b->id();
}
} // namespace

QList<BookmarkItem *> BookmarkListModel::ordered(const BookmarkGroup *group)
{
    if (!group)
        return {};
    QList<BookmarkItem *> list = group->bookmarks();
    std::stable_sort(list.begin(), list.end(),
        [](const BookmarkItem *a, const BookmarkItem *b) { return a->sortOrder() < b->sortOrder(); });
    return list;
}

BookmarkListModel::BookmarkListModel(BookmarkGroup *group, QObject *parent)
    : QAbstractListModel(parent)
    , m_group(group)
{
    m_items = group->bookmarks();
    std::stable_sort(m_items.begin(), m_items.end(), before);
    reindex();
    ModelContext *context = group->context();
    if (!context)
        return;
    connect(context, &ModelContext::itemInserted, this, [this](BookmarkItem *item) {
        if (m_group && item->group() == m_group)
            insertItem(item);
    });
    connect(
        context, &ModelContext::itemAboutToBeRemoved, this, [this](BookmarkItem *item) { removeItem(item); });
    connect(context, &ModelContext::groupAboutToBeRemoved, this, [this](BookmarkGroup *group) {
        if (group != m_group || m_items.isEmpty())
            return;
        beginResetModel();
        m_items.clear();
        m_rows.clear();
        endResetModel();
    });
    connect(context, &ModelContext::itemFieldsChanged, this, [this](BookmarkItem *item, int fields) {
        const bool member = m_group && item->group() == m_group;
        const auto row = m_rows.constFind(item);
        if (row == m_rows.cend()) {
            if (member)
                insertItem(item);
            return;
        }
        if (!member) {
            removeItem(item);
            return;
        }
        if (fields & BookmarkItem::SortField)
            scheduleSort();
        const QModelIndex at = index(*row);
        Q_EMIT dataChanged(at, at);
    });
}

void BookmarkListModel::insertItem(BookmarkItem *item)
{
    if (m_rows.contains(item))
        return;
    sortNow();
    const auto at = std::upper_bound(m_items.begin(), m_items.end(), item, before);
    const int row = int(at - m_items.begin());
    beginInsertRows(QModelIndex(), row, row);
    m_items.insert(row, item);
    reindex();
    endInsertRows();
}

void BookmarkListModel::removeItem(BookmarkItem *item)
{
    const auto found = m_rows.constFind(item);
    if (found == m_rows.cend())
        return;
    const int row = *found;
    beginRemoveRows(QModelIndex(), row, row);
    m_items.removeAt(row);
    reindex();
    endRemoveRows();
}

void BookmarkListModel::scheduleSort()
{
    if (m_sortPending)
        return;
    m_sortPending = true;
    QMetaObject::invokeMethod(this, &BookmarkListModel::sortNow, Qt::QueuedConnection);
}

void BookmarkListModel::sortNow()
{
    if (!m_sortPending)
        return;
    m_sortPending = false;
    QList<BookmarkItem *> sorted = m_items;
    std::stable_sort(sorted.begin(), sorted.end(), before);
    if (sorted == m_items)
        return;
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList oldIndexes = persistentIndexList();
    const QList<BookmarkItem *> previous = std::exchange(m_items, sorted);
    reindex();
    QModelIndexList newIndexes;
    newIndexes.reserve(oldIndexes.size());
    for (const QModelIndex &old : oldIndexes)
        newIndexes << index(m_rows.value(previous.value(old.row()), -1), old.column());
    changePersistentIndexList(oldIndexes, newIndexes);
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void BookmarkListModel::reindex()
{
    m_rows.clear();
    m_rows.reserve(m_items.size());
    for (int i = 0; i < m_items.size(); ++i)
        m_rows.insert(m_items[i], i);
}

int BookmarkListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_items.size());
}

QVariant BookmarkListModel::data(const QModelIndex &index, int role) const
{
    const BookmarkItem *item = itemAt(index.row());
    if (!item || index.parent().isValid())
        return {};
    switch (role) {
    case ItemRole:
        return QVariant::fromValue(const_cast<BookmarkItem *>(item));
    case Qt::DisplayRole:
    case TitleRole:
        return item->title() ? QVariant(*item->title()) : QVariant();
    case UrlRole:
        return item->urlString();
    case SummaryRole:
        return item->summary() ? QVariant(*item->summary()) : QVariant();
    case SortOrderRole:
        return item->sortOrder();
    case Qt::AccessibleTextRole: {
        // What a screen reader says for the row: "title, address".
        const QString title = item->title().value_or(QString());
        return title.isEmpty() ? item->urlString() : title + QStringLiteral(", ") + item->urlString();
    }
    default:
        return {};
    }
}

BookmarkItem *BookmarkListModel::itemAt(int row) const
{
    return m_items.value(row, nullptr);
}

int BookmarkListModel::rowOf(const BookmarkItem *item) const
{
    return m_rows.value(item, -1);
}
