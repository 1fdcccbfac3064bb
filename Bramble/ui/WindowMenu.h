#pragma once

#include <QMenu>

class BookmarkListView;
class ContentView;

// The window's "书签" menu: the commands of the sidebar and the shown group with their
// shortcuts next to them — 添加链接 (Ctrl+N), 新建分组 (Ctrl+Shift+N), 重命名分组 (F2 while the
// sidebar has the focus), 打开全部 (Ctrl+Shift+O) and 撤销删除 (Ctrl+Z).
class WindowMenu : public QMenu
{
    Q_OBJECT

public:
    explicit WindowMenu(ContentView *content, QWidget *parent = nullptr);

    QAction *addLinkAction() const { return m_addLink; }
    QAction *newGroupAction() const;
    QAction *renameGroupAction() const { return m_renameGroup; }
    QAction *openAllAction() const { return m_openAll; }

private:
    // The shown group's pane, when a group is shown.
    BookmarkListView *shownList() const;
    void follow();

    ContentView *m_content;
    QAction *m_addLink;
    QAction *m_renameGroup;
    QAction *m_openAll;
};
