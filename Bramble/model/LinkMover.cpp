#include "model/LinkMover.h"

#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"
#include "model/ModelContext.h"

#include <algorithm>
#include <limits>

bool LinkMover::moveToGroup(ModelContext *context, BookmarkItem *link, BookmarkGroup *group)
{
    if (!context || !link || !group || link->isDeleted() || group->isDeleted() || link->context() != context
        || group->context() != context || link->group() == group)
        return false;
    qint64 position = 0;
    if (!group->bookmarks().isEmpty()) {
        qint64 largest = std::numeric_limits<qint64>::min();
        for (const BookmarkItem *other : group->bookmarks())
            largest = std::max(largest, other->sortOrder());
        position = largest + 1;
    }
    link->setSortOrder(position);
    link->setGroup(group);
    // A failed save is not reported here: automatic saving retries it and says so.
    context->save();
    return true;
}
