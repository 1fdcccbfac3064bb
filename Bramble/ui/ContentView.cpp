#include "ui/ContentView.h"

#include "exchange/DataExchange.h"
#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"
#include "model/DataSeeder.h"
#include "model/DeletionUndo.h"
#include "model/GroupListModel.h"
#include "model/ModelContext.h"
#include "platform/AppSignals.h"
#include "ui/BookmarkListView.h"
#include "ui/ContextMenu.h"
#include "ui/GroupDropTarget.h"
#include "ui/GroupRowDelegate.h"
#include "ui/RowMoveAnimator.h"
#include "ui/SearchField.h"
#include "ui/SearchPane.h"
#include "ui/Symbols.h"
#include "ui/TextFieldAlert.h"
#include "ui/UndoNotice.h"
#include "ui/WelcomeView.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QPainter>
#include <QShowEvent>
#include <QSplitter>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>

namespace {

constexpr int sidebarMinimumWidth = 200;
constexpr int sidebarIdealWidth = 200;
constexpr int sidebarMaximumWidth = 250;

// The detail column until the bookmark list takes its place: the group's name.
class GroupNameView : public QWidget
{
public:
    GroupNameView(BookmarkGroup *group, QWidget *parent)
        : QWidget(parent)
        , m_label(new QLabel(group->name(), this))
    {
        setObjectName(QStringLiteral("groupDetail"));
        QFont font = m_label->font();
        font.setPixelSize(22);
        font.setBold(true);
        m_label->setFont(font);
        m_label->setAlignment(Qt::AlignCenter);
        m_label->setTextFormat(Qt::PlainText);
        m_label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        auto *layout = new QVBoxLayout(this);
        layout->addWidget(m_label);
        connect(
            group, &BookmarkGroup::nameChanged, m_label, [this, group] { m_label->setText(group->name()); });
    }

private:
    QLabel *m_label;
};

} // namespace

ContentView::ContentView(ModelContext *context, QWidget *parent)
    : QWidget(parent)
    , m_context(context)
    , m_groups(new GroupListModel(context, this))
    , m_splitter(new QSplitter(Qt::Horizontal, this))
    , m_list(new QListView)
    , m_animator(nullptr)
    , m_detailStack(new QStackedWidget)
    , m_welcome(new WelcomeView)
    , m_toolBar(new QToolBar(QStringLiteral("工具栏"), this))
    , m_newGroupAction(
          new QAction(Symbols::icon(QStringLiteral("folder.badge.plus")), QStringLiteral("新建分组"), this))
    , m_addGroupAlert(new TextFieldAlert(
          QStringLiteral("新建分组"), QStringLiteral("分组名称"), QStringLiteral("创建"), this))
    , m_renameGroupAlert(new TextFieldAlert(
          QStringLiteral("重命名分组"), QStringLiteral("新名称"), QStringLiteral("保存"), this))
    , m_undoNotice(new UndoNotice(DeletionUndo::of(context), this))
    , m_undoAction(new QAction(QStringLiteral("撤销删除"), this))
    , m_detailFactory([](BookmarkGroup *group, ModelContext *, QWidget *parent) -> QWidget * {
        return new GroupNameView(group, parent);
    })
    , m_seeder(&DataSeeder::seedDefaultDataIfNeeded)
{
    setObjectName(QStringLiteral("contentView"));
    m_list->setObjectName(QStringLiteral("groupList"));
    m_addGroupAlert->setObjectName(QStringLiteral("addGroupAlert"));
    m_renameGroupAlert->setObjectName(QStringLiteral("renameGroupAlert"));

    // Sidebar: one section, "我的书签", with a row per group.
    auto *sidebar = new QWidget;
    sidebar->setObjectName(QStringLiteral("sidebar"));
    sidebar->setMinimumWidth(sidebarMinimumWidth);
    sidebar->setMaximumWidth(sidebarMaximumWidth);
    sidebar->setAutoFillBackground(true);
    QPalette sidebarPalette = sidebar->palette();
    sidebarPalette.setColor(QPalette::Window, sidebarPalette.color(QPalette::Window).darker(104));
    sidebar->setPalette(sidebarPalette);
    auto *sectionTitle = new QLabel(QStringLiteral("我的书签"), sidebar);
    sectionTitle->setObjectName(QStringLiteral("sidebarSection"));
    QFont sectionFont = sectionTitle->font();
    sectionFont.setBold(true);
    sectionFont.setPointSizeF(sectionFont.pointSizeF() * 0.85);
    sectionTitle->setFont(sectionFont);
    QPalette sectionPalette = sectionTitle->palette();
    QColor sectionColor = sectionPalette.color(QPalette::WindowText);
    sectionColor.setAlphaF(0.5f);
    sectionPalette.setColor(QPalette::WindowText, sectionColor);
    sectionTitle->setPalette(sectionPalette);

    // Our handlers for "about to change" must run before the view's, and those for "changed"
    // after them, so that the selection the view restores is replaced by ours.
    const auto aboutToChange = [this] { ++m_modelChangeDepth; };
    connect(m_groups, &QAbstractItemModel::layoutAboutToBeChanged, this, aboutToChange);
    connect(m_groups, &QAbstractItemModel::rowsAboutToBeInserted, this, aboutToChange);
    connect(m_groups, &QAbstractItemModel::rowsAboutToBeRemoved, this, aboutToChange);
    connect(m_groups, &QAbstractItemModel::rowsAboutToBeMoved, this, aboutToChange);
    connect(m_groups, &QAbstractItemModel::modelAboutToBeReset, this, aboutToChange);

    m_list->setModel(m_groups);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setUniformItemSizes(true);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setAttribute(Qt::WA_MacShowFocusRect, false);
    m_list->setMouseTracking(true);
    // The list sits on the sidebar's own background.
    m_list->viewport()->setAutoFillBackground(false);
    m_list->setAutoFillBackground(false);
    QPalette listPalette = m_list->palette();
    listPalette.setColor(QPalette::Base, Qt::transparent);
    m_list->setPalette(listPalette);
    m_animator
        = new RowMoveAnimator(m_list, m_groups, [this](int row) { return quintptr(m_groups->groupAt(row)); });
    m_list->setItemDelegate(new GroupRowDelegate(m_list, m_animator, [this](int row) {
        return m_dropTarget && m_dropTarget->group() && m_groups->groupAt(row) == m_dropTarget->group();
    }));
    m_dropTarget = new GroupDropTarget(m_list, m_groups, m_context);
    m_list->installEventFilter(this);
    m_list->viewport()->installEventFilter(this);
    m_list->setAccessibleName(QStringLiteral("分组"));

    const auto changed = [this] {
        if (m_modelChangeDepth > 0 && --m_modelChangeDepth == 0)
            syncSelectionToView();
    };
    connect(m_groups, &QAbstractItemModel::layoutChanged, this, changed);
    connect(m_groups, &QAbstractItemModel::rowsInserted, this, changed);
    connect(m_groups, &QAbstractItemModel::rowsRemoved, this, changed);
    connect(m_groups, &QAbstractItemModel::rowsMoved, this, changed);
    connect(m_groups, &QAbstractItemModel::modelReset, this, changed);
    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
        &ContentView::onViewSelectionChanged);
    connect(m_list, &QListView::customContextMenuRequested, this, &ContentView::showGroupMenu);

    auto *sidebarLayout = new QVBoxLayout(sidebar);
    sidebarLayout->setContentsMargins(8, 10, 8, 8);
    sidebarLayout->setSpacing(4);
    sidebarLayout->addWidget(sectionTitle);
    sidebarLayout->addWidget(m_list, 1);

    // A group deleted elsewhere (the menu-bar menu, an import) must not stay selected.
    connect(m_context, &ModelContext::groupAboutToBeRemoved, this, [this](BookmarkGroup *group) {
        if (group == m_selectedGroup)
            setSelectedGroup(nullptr);
    });

    m_detailStack->setObjectName(QStringLiteral("detail"));
    m_detailStack->addWidget(m_welcome);

    m_splitter->addWidget(sidebar);
    m_searchPane = new SearchPane(m_context, m_detailStack);
    m_searchPane->setRevealer([this](BookmarkItem *item) {
        setSelectedGroup(item->group());
        SearchPane::selectInDetail(currentDetail(), item);
    });
    m_splitter->addWidget(m_searchPane);
    m_splitter->setCollapsible(0, false);
    m_splitter->setCollapsible(1, false);
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setSizes({ sidebarIdealWidth, 600 });

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_splitter, 1);
    layout->addWidget(m_undoNotice);

    // Ctrl+Z anywhere in the window while the notice offers it; a text field's own undo
    // still wins while it has the focus.
    m_undoAction->setObjectName(QStringLiteral("undoDeleteAction"));
    m_undoAction->setShortcut(QKeySequence::Undo);
    m_undoAction->setShortcutContext(Qt::WindowShortcut);
    m_undoAction->setEnabled(false);
    addAction(m_undoAction);
    connect(m_undoAction, &QAction::triggered, m_undoNotice, &UndoNotice::undoLast);
    if (DeletionUndo *undo = DeletionUndo::of(context)) {
        const auto follow = [this, undo] { m_undoAction->setEnabled(undo->canUndo()); };
        connect(undo, &DeletionUndo::deleted, this, follow);
        connect(undo, &DeletionUndo::undone, this, follow);
        connect(undo, &DeletionUndo::forgotten, this, follow);
    }
    connect(m_undoNotice, &UndoNotice::restored, this, [this](BookmarkGroup *group, bool wasGroup) {
        if (wasGroup)
            setSelectedGroup(group);
    });

    // Toolbar: the new-group button in the primary-action place, at the trailing end.
    m_toolBar->setObjectName(QStringLiteral("mainToolBar"));
    m_toolBar->setMovable(false);
    m_toolBar->setFloatable(false);
    m_toolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_toolBar->setIconSize(QSize(18, 18));
    auto *spacer = new QWidget(m_toolBar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    m_toolBar->addWidget(spacer);
    m_newGroupAction->setObjectName(QStringLiteral("newGroupAction"));
    m_newGroupAction->setToolTip(QStringLiteral("创建一个新的书签分组"));
    m_newGroupAction->setStatusTip(QStringLiteral("创建一个新的书签分组"));
    m_toolBar->addAction(m_newGroupAction);
    // Tool buttons take no focus by default; here they are part of the Tab order.
    m_toolBar->widgetForAction(m_newGroupAction)->setFocusPolicy(Qt::TabFocus);
    connect(m_newGroupAction, &QAction::triggered, this, [this] { setShowAddGroupAlert(true); });

    connect(m_addGroupAlert, &TextFieldAlert::textChanged, this,
        [this](const QString &text) { m_newGroupName = text; });
    connect(m_addGroupAlert, &QDialog::accepted, this, &ContentView::addGroup);
    connect(m_addGroupAlert, &QDialog::finished, this, [this] { m_showAddGroupAlert = false; });
    connect(m_renameGroupAlert, &TextFieldAlert::textChanged, this,
        [this](const QString &text) { m_renameGroupName = text; });
    connect(m_renameGroupAlert, &QDialog::accepted, this, &ContentView::renameGroup);
    connect(m_renameGroupAlert, &QDialog::finished, this, [this] { m_showRenameGroupAlert = false; });
}

ContentView::~ContentView() = default;

BookmarkGroup *ContentView::dropGroup() const
{
    return m_dropTarget ? m_dropTarget->group() : nullptr;
}

QWidget *ContentView::currentDetail() const
{
    return m_detailStack->currentWidget();
}

void ContentView::setDetailFactory(DetailFactory factory)
{
    m_detailFactory = std::move(factory);
    m_detailGroupId = 0;
    rebuildDetail();
}

void ContentView::setSeeder(Seeder seeder)
{
    m_seeder = std::move(seeder);
}

void ContentView::setSelectedGroup(BookmarkGroup *group)
{
    if (group && (group->isDeleted() || group->context() != m_context))
        group = nullptr;
    const bool changed = group != m_selectedGroup;
    m_selectedGroup = group;
    syncSelectionToView();
    rebuildDetail();
    if (changed)
        Q_EMIT selectedGroupChanged(group);
}

void ContentView::rebuildDetail()
{
    BookmarkGroup *group = m_selectedGroup;
    const qint64 id = group ? group->id() : 0;
    if (m_detail && id == m_detailGroupId && group)
        return;
    if (m_detail) {
        m_detailStack->removeWidget(m_detail);
        m_detail->deleteLater();
        m_detail = nullptr;
    }
    m_detailGroupId = id;
    QWidget *detail = group && m_detailFactory ? m_detailFactory(group, m_context, m_detailStack) : nullptr;
    if (detail) {
        m_detail = detail;
        m_detailStack->addWidget(detail);
        m_detailStack->setCurrentWidget(detail);
        // Tab: sidebar, the toolbar's new-group button, the search field, then the pane's
        // buttons and list.
        if (auto *list = qobject_cast<BookmarkListView *>(detail)) {
            QWidget *previous = m_toolBar->widgetForAction(m_newGroupAction);
            QWidget::setTabOrder(m_list, previous);
            QWidget::setTabOrder(previous, m_searchPane->field());
            previous = m_searchPane->field();
            for (QWidget *next : list->tabOrder()) {
                QWidget::setTabOrder(previous, next);
                previous = next;
            }
        }
    } else {
        m_detailStack->setCurrentWidget(m_welcome);
    }
}

void ContentView::syncSelectionToView()
{
    if (m_modelChangeDepth > 0)
        return;
    m_syncingSelection = true;
    const int row = m_selectedGroup ? m_groups->rowOf(m_selectedGroup) : -1;
    QItemSelectionModel *selection = m_list->selectionModel();
    if (row < 0) {
        selection->clearSelection();
        selection->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    } else {
        const QModelIndex index = m_groups->index(row);
        selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
        m_list->scrollTo(index);
    }
    m_syncingSelection = false;
}

void ContentView::onViewSelectionChanged()
{
    if (m_syncingSelection || m_modelChangeDepth > 0)
        return;
    const QModelIndexList rows = m_list->selectionModel()->selectedRows();
    setSelectedGroup(rows.isEmpty() ? nullptr : m_groups->groupAt(rows.first().row()));
}

void ContentView::setShowAddGroupAlert(bool show)
{
    if (show == m_showAddGroupAlert)
        return;
    m_showAddGroupAlert = show;
    if (show) {
        // The field keeps the name typed last.
        m_addGroupAlert->setText(m_newGroupName);
        m_addGroupAlert->present();
    } else {
        m_addGroupAlert->reject();
    }
}

void ContentView::setShowRenameGroupAlert(bool show)
{
    if (show == m_showRenameGroupAlert)
        return;
    m_showRenameGroupAlert = show;
    if (show) {
        m_renameGroupAlert->setText(m_renameGroupName);
        m_renameGroupAlert->present();
    } else {
        m_renameGroupAlert->reject();
    }
}

void ContentView::addGroup()
{
    if (m_newGroupName.isEmpty())
        return;
    qint64 largest = -1;
    for (const BookmarkGroup *group : m_groups->groups())
        largest = std::max(largest, group->sortOrder());
    auto *group = new BookmarkGroup(m_newGroupName);
    group->setSortOrder(largest + 1);
    m_context->insert(group);
    setSelectedGroup(group);
    AppSignals::send(QStringLiteral("group_created"),
        { { QStringLiteral("groupCount"), QString::number(m_groups->rowCount()) } });
}

void ContentView::beginRename(BookmarkGroup *group)
{
    if (!group || group->isDeleted())
        return;
    m_groupToRename = group;
    m_renameGroupName = group->name();
    setShowRenameGroupAlert(true);
}

void ContentView::renameGroup()
{
    BookmarkGroup *group = m_groupToRename;
    if (!group || group->isDeleted() || m_renameGroupName.isEmpty())
        return;
    group->setName(m_renameGroupName);
    AppSignals::send(QStringLiteral("group_renamed"));
}

void ContentView::removeGroup(BookmarkGroup *group)
{
    if (!group || group->isDeleted())
        return;
    if (group == m_selectedGroup)
        setSelectedGroup(nullptr);
    DeletionUndo::of(m_context)->deleteGroup(group);
    AppSignals::send(QStringLiteral("group_deleted"));
}

void ContentView::deleteGroup(BookmarkGroup *group)
{
    removeGroup(group);
}

void ContentView::deleteGroups(const QList<int> &offsets)
{
    // Offsets refer to the list as it was when the command was given.
    const QList<QPointer<BookmarkGroup>> listed = [this] {
        QList<QPointer<BookmarkGroup>> result;
        for (BookmarkGroup *group : m_groups->groups())
            result << group;
        return result;
    }();
    QList<int> sorted = offsets;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    for (int offset : std::as_const(sorted)) {
        if (offset >= 0 && offset < listed.size())
            removeGroup(listed.at(offset));
    }
}

void ContentView::moveGroupUp(BookmarkGroup *group)
{
    moveGroup(group, Reordering::Direction::Up);
}

void ContentView::moveGroupDown(BookmarkGroup *group)
{
    moveGroup(group, Reordering::Direction::Down);
}

void ContentView::moveGroup(BookmarkGroup *group, Reordering::Direction direction)
{
    if (!group || group->isDeleted())
        return;
    // The sidebar's animator slides the rows to their new places as the positions change.
    Reordering::moveOneStep(GroupListModel::ordered(m_context), group, direction);
}

void ContentView::normalizeGroupSortOrders()
{
    QList<BookmarkGroup *> groups = m_groups->groups();
    if (groups.isEmpty())
        return;
    for (const BookmarkGroup *group : std::as_const(groups)) {
        if (group->sortOrder() != 0)
            return;
    }
    std::stable_sort(groups.begin(), groups.end(),
        [](const BookmarkGroup *a, const BookmarkGroup *b) { return a->createdAt() < b->createdAt(); });
    for (qsizetype i = 0; i < groups.size(); ++i)
        groups.at(i)->setSortOrder(i);
    // A failed save is not reported: automatic saving tries again with the next change.
    m_context->save();
}

ContextMenu *ContentView::createGroupMenu(BookmarkGroup *group, QWidget *parent)
{
    auto *menu = new ContextMenu(parent);
    menu->setObjectName(QStringLiteral("groupMenu"));
    const QPointer<BookmarkGroup> target(group);
    const auto act = [this, target](void (ContentView::*operation)(BookmarkGroup *)) {
        return [this, target, operation] {
            if (target && !target->isDeleted())
                (this->*operation)(target);
        };
    };
    connect(
        menu->addAction(QStringLiteral("重命名")), &QAction::triggered, this, act(&ContentView::beginRename));
    connect(menu->addAction(QStringLiteral("刷新信息")), &QAction::triggered, this, [target] {
        if (target && !target->isDeleted())
            DataExchange::queueLinks(target->bookmarks(), DataExchange::RefreshMode::Overwrite);
    });
    connect(menu->addDestructiveAction(QStringLiteral("删除")), &QAction::triggered, this,
        act(&ContentView::deleteGroup));
    menu->addSeparator();
    connect(
        menu->addAction(QStringLiteral("上移")), &QAction::triggered, this, act(&ContentView::moveGroupUp));
    connect(
        menu->addAction(QStringLiteral("下移")), &QAction::triggered, this, act(&ContentView::moveGroupDown));
    return menu;
}

void ContentView::showGroupMenuForCurrent()
{
    const QModelIndex current = m_list->currentIndex();
    if (!current.isValid())
        return;
    const QRect rect = m_list->visualRect(current);
    showGroupMenu(QPoint(rect.left() + 16, rect.center().y()));
}

void ContentView::showGroupMenu(const QPoint &position)
{
    const QModelIndex index = m_list->indexAt(position);
    BookmarkGroup *group = index.isValid() ? m_groups->groupAt(index.row()) : nullptr;
    if (!group)
        return;
    ContextMenu *menu = createGroupMenu(group, this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(m_list->viewport()->mapToGlobal(position));
}

void ContentView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Each time the window is opened, not when it comes back from being minimised.
    if (event->spontaneous())
        return;
    if (m_seeder)
        m_seeder(m_context);
    normalizeGroupSortOrders();
}

bool ContentView::eventFilter(QObject *watched, QEvent *event)
{
    // The desktop's own menu-key event: the menu belongs to the current row, not the pointer's.
    // The type first: the list's viewport() is not to be asked while the list is being destroyed.
    if (event->type() == QEvent::ContextMenu
        && static_cast<QContextMenuEvent *>(event)->reason() == QContextMenuEvent::Keyboard
        && (watched == m_list || watched == m_list->viewport())) {
        showGroupMenuForCurrent();
        return true;
    }
    if (watched == m_list && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
        if ((key->key() == Qt::Key_Menu && modifiers == Qt::NoModifier)
            || (key->key() == Qt::Key_F10 && modifiers == Qt::ShiftModifier)) {
            showGroupMenuForCurrent();
            return true;
        }
        const bool deleteKey = key->key() == Qt::Key_Delete || key->key() == Qt::Key_Backspace;
        if (deleteKey && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            QList<int> rows;
            const QModelIndexList selected = m_list->selectionModel()->selectedRows();
            for (const QModelIndex &index : selected)
                rows << index.row();
            if (!rows.isEmpty()) {
                deleteGroups(rows);
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}
