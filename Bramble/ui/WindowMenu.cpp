#include "ui/WindowMenu.h"

#include "ui/BookmarkListView.h"
#include "ui/ContentView.h"

#include <QAction>
#include <QListView>

WindowMenu::WindowMenu(ContentView *content, QWidget *parent)
    : QMenu(QStringLiteral("书签"), parent)
    , m_content(content)
    , m_addLink(new QAction(QStringLiteral("添加链接…"), this))
    , m_renameGroup(new QAction(QStringLiteral("重命名分组…"), this))
    , m_openAll(new QAction(QStringLiteral("打开全部"), this))
{
    setObjectName(QStringLiteral("windowMenu"));
    m_addLink->setObjectName(QStringLiteral("menuAddLink"));
    m_addLink->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    connect(m_addLink, &QAction::triggered, this, [this] {
        if (BookmarkListView *list = shownList())
            list->addLinkAction()->trigger();
    });
    addAction(m_addLink);

    QAction *newGroup = content->newGroupAction();
    newGroup->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N));
    addAction(newGroup);

    // F2 renames a group only where groups are; in the link list it edits the link.
    m_renameGroup->setObjectName(QStringLiteral("menuRenameGroup"));
    m_renameGroup->setShortcut(QKeySequence(Qt::Key_F2));
    m_renameGroup->setShortcutContext(Qt::WidgetShortcut);
    content->sidebarList()->addAction(m_renameGroup);
    connect(m_renameGroup, &QAction::triggered, this,
        [this] { m_content->beginRename(m_content->selectedGroup()); });
    addAction(m_renameGroup);

    m_openAll->setObjectName(QStringLiteral("menuOpenAll"));
    m_openAll->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
    connect(m_openAll, &QAction::triggered, this, [this] {
        BookmarkListView *list = shownList();
        // As the toolbar button: only for a group with links, and always through its alert.
        if (list && list->openAllAction()->isVisible())
            list->openAllAction()->trigger();
    });
    addAction(m_openAll);

    addSeparator();
    addAction(content->undoAction());

    connect(content, &ContentView::selectedGroupChanged, this, &WindowMenu::follow);
    connect(this, &QMenu::aboutToShow, this, &WindowMenu::follow);
    follow();
}

QAction *WindowMenu::newGroupAction() const
{
    return m_content->newGroupAction();
}

BookmarkListView *WindowMenu::shownList() const
{
    return qobject_cast<BookmarkListView *>(m_content->currentDetail());
}

void WindowMenu::follow()
{
    const bool shown = shownList() != nullptr;
    m_addLink->setEnabled(shown);
    m_openAll->setEnabled(shown);
    m_renameGroup->setEnabled(m_content->selectedGroup() != nullptr);
}
