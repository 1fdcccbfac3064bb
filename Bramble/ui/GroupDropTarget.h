#pragma once

#include <QObject>
#include <QPointer>

class BookmarkGroup;
class BookmarkItem;
class GroupListModel;
class ModelContext;
class QListView;
class QMimeData;

// The sidebar as a place to drop links dragged from the bookmark list: the group under the
// pointer is highlighted, and dropping moves the link to the end of that group.
class GroupDropTarget : public QObject
{
    Q_OBJECT

public:
    GroupDropTarget(QListView *sidebar, GroupListModel *groups, ModelContext *context);

    // The group the drag is over and would move the link to; null otherwise.
    BookmarkGroup *group() const { return m_group; }
    // The live link a drag carries, if it comes from a bookmark list of this store.
    BookmarkItem *draggedLink(const QMimeData *data) const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setGroup(BookmarkGroup *group);

    QListView *m_sidebar;
    // Kept apart: events reach it while the list is being destroyed, no longer a list.
    QPointer<QWidget> m_viewport;
    GroupListModel *m_groups;
    QPointer<ModelContext> m_context;
    QPointer<BookmarkGroup> m_group;
};
