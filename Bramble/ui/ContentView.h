#pragma once

#include "model/BookmarkGroup.h"
#include "model/Reordering.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>

class ContextMenu;
class GroupDropTarget;
class GroupListModel;
class ModelContext;
class QAction;
class QListView;
class QSplitter;
class QStackedWidget;
class QToolBar;
class RowMoveAnimator;
class SearchPane;
class TextFieldAlert;
class UndoNotice;
class WelcomeView;

// The content of the main window: the sidebar of groups and, beside it, the detail of the
// selected group or a welcome screen. Creates, renames, deletes and reorders groups.
class ContentView : public QWidget
{
    Q_OBJECT

public:
    // Builds the detail column for a group; called afresh each time another group is chosen.
    using DetailFactory
        = std::function<QWidget *(BookmarkGroup *group, ModelContext *context, QWidget *parent)>;
    // Fills an empty store with the default data; called each time the window is shown.
    using Seeder = std::function<void(ModelContext *context)>;

    explicit ContentView(ModelContext *context, QWidget *parent = nullptr);
    ~ContentView() override;

    ModelContext *modelContext() const { return m_context; }
    // The live query behind the sidebar: every group by ascending sortOrder.
    GroupListModel *groups() const { return m_groups; }

    BookmarkGroup *selectedGroup() const { return m_selectedGroup; }
    void setSelectedGroup(BookmarkGroup *group);

    // The window's toolbar with the new-group button; the hosting window adds it.
    QToolBar *toolBar() const { return m_toolBar; }
    QAction *newGroupAction() const { return m_newGroupAction; }
    QListView *sidebarList() const { return m_list; }
    // Sidebar and detail side by side.
    QSplitter *splitter() const { return m_splitter; }
    // The welcome screen, or the detail of the selected group.
    QWidget *currentDetail() const;
    WelcomeView *welcomeView() const { return m_welcome; }
    // The search field above the detail column and the results it shows.
    SearchPane *searchPane() const { return m_searchPane; }
    TextFieldAlert *addGroupAlert() const { return m_addGroupAlert; }
    TextFieldAlert *renameGroupAlert() const { return m_renameGroupAlert; }
    // "已删除「…」 · 撤销" after a group or a link was deleted; Ctrl+Z is undoAction().
    UndoNotice *undoNotice() const { return m_undoNotice; }
    QAction *undoAction() const { return m_undoAction; }

    void setDetailFactory(DetailFactory factory);
    void setSeeder(Seeder seeder);

    bool showAddGroupAlert() const { return m_showAddGroupAlert; }
    void setShowAddGroupAlert(bool show);
    QString newGroupName() const { return m_newGroupName; }
    bool showRenameGroupAlert() const { return m_showRenameGroupAlert; }
    void setShowRenameGroupAlert(bool show);
    BookmarkGroup *groupToRename() const { return m_groupToRename; }
    QString renameGroupName() const { return m_renameGroupName; }

    void addGroup();
    void beginRename(BookmarkGroup *group);
    void renameGroup();
    void deleteGroup(BookmarkGroup *group);
    // Deletes the groups at these rows of the sidebar, as listed when called.
    void deleteGroups(const QList<int> &offsets);
    void moveGroupUp(BookmarkGroup *group);
    void moveGroupDown(BookmarkGroup *group);
    // Numbers the groups 0, 1, 2, ... by creation date, but only while every position is 0.
    void normalizeGroupSortOrders();

    // The row menu for a group (重命名, 删除, 上移, 下移); the caller owns it.
    ContextMenu *createGroupMenu(BookmarkGroup *group, QWidget *parent);
    // The group a link is being dragged over in the sidebar; it is drawn highlighted.
    BookmarkGroup *dropGroup() const;

Q_SIGNALS:
    void selectedGroupChanged(BookmarkGroup *group);

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void moveGroup(BookmarkGroup *group, Reordering::Direction direction);
    void removeGroup(BookmarkGroup *group);
    void showGroupMenu(const QPoint &position);
    void showGroupMenuForCurrent();

    void syncSelectionToView();
    void onViewSelectionChanged();
    void rebuildDetail();

    ModelContext *m_context;
    GroupListModel *m_groups;
    QSplitter *m_splitter;
    QListView *m_list;
    RowMoveAnimator *m_animator;
    QStackedWidget *m_detailStack;
    WelcomeView *m_welcome;
    SearchPane *m_searchPane;
    QPointer<QWidget> m_detail;
    qint64 m_detailGroupId = 0;
    QToolBar *m_toolBar;
    QAction *m_newGroupAction;
    TextFieldAlert *m_addGroupAlert;
    TextFieldAlert *m_renameGroupAlert;
    UndoNotice *m_undoNotice;
    QAction *m_undoAction;
    DetailFactory m_detailFactory;
    Seeder m_seeder;

    QPointer<BookmarkGroup> m_selectedGroup;
    bool m_showAddGroupAlert = false;
    QString m_newGroupName;
    bool m_showRenameGroupAlert = false;
    QPointer<BookmarkGroup> m_groupToRename;
    GroupDropTarget *m_dropTarget = nullptr;
    QString m_renameGroupName;

    int m_modelChangeDepth = 0;
    bool m_syncingSelection = false;
};
