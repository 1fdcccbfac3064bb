#pragma once

class BookmarkGroup;
class BookmarkItem;
class ModelContext;

// Moving a link into another group, for every place that does it: a drop on a group in the
// sidebar and the row menu's "移动到分组".
namespace LinkMover {

// Puts the link after the last link of group and saves. False, changing nothing, when the
// link or the group is gone, they belong to another store, or the link is in group already.
bool moveToGroup(ModelContext *context, BookmarkItem *link, BookmarkGroup *group);

} // namespace LinkMover
