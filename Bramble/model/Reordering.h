#pragma once

#include <QList>

// The one-step moves of the sidebar and of a group's list share how the neighbour is found.
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

} // namespace Reordering
