#pragma once

#include <QList>
#include <algorithm>

// The one-step moves of the sidebar and of a group's list: one rule for groups and links.
namespace Reordering {

enum class Direction { Up, Down };

// The index of the neighbour an item moves past in the displayed order: the one just before
// it (up) or just after it (down). -1 when the item is absent or already at that end.
template<typename T> qsizetype neighbourIndex(const QList<T *> &ordered, const T *item, Direction direction)
{
    const qsizetype position = ordered.indexOf(const_cast<T *>(item));
    if (position < 0)
        return -1;
    if (direction == Direction::Up)
        return position == 0 ? -1 : position - 1;
    return position == ordered.size() - 1 ? -1 : position + 1;
}

// Moves exactly this item one place in the displayed order (ascending sortOrder, ties in the
// order given) and nothing else. Different positions are exchanged. Equal ones cannot be:
// exchanging changes nothing, and nudging one by 1 can jump it over other items of the same
// position (an import gives all its groups one position). Then the shown order is numbered
// 0, 1, 2, ... with the two exchanged. Returns whether anything moved.
template<typename T> bool moveOneStep(const QList<T *> &ordered, T *item, Direction direction)
{
    const qsizetype neighbourPosition = neighbourIndex(ordered, item, direction);
    if (neighbourPosition < 0)
        return false;
    T *neighbour = ordered.at(neighbourPosition);
    const qint64 mine = item->sortOrder();
    const qint64 theirs = neighbour->sortOrder();
    if (mine != theirs) {
        item->setSortOrder(theirs);
        neighbour->setSortOrder(mine);
        return true;
    }
    QList<T *> order = ordered;
    order.swapItemsAt(ordered.indexOf(item), neighbourPosition);
    for (qsizetype i = 0; i < order.size(); ++i)
        order.at(i)->setSortOrder(i);
    return true;
}

// Gives item, which is not in others, the place index of the displayed order of others. Its own
// position is kept when that alone puts it there; else (positions shared, as an import leaves
// them) the shown order is numbered 0, 1, 2, ... with it at index.
template<typename T> void placeAt(const QList<T *> &others, T *item, qsizetype index)
{
    index = std::clamp<qsizetype>(index, 0, others.size());
    const qint64 mine = item->sortOrder();
    const bool afterPrevious = index == 0 || others.at(index - 1)->sortOrder() < mine;
    const bool beforeNext = index == others.size() || mine < others.at(index)->sortOrder();
    if (afterPrevious && beforeNext)
        return;
    QList<T *> order = others;
    order.insert(index, item);
    for (qsizetype i = 0; i < order.size(); ++i)
        order.at(i)->setSortOrder(i);
}

} // namespace Reordering
