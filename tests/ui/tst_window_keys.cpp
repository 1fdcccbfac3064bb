#include "app/MainWindow.h"
#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"
#include "model/BookmarkListModel.h"
#include "model/DeletionUndo.h"
#include "model/GroupListModel.h"
#include "model/ModelContainer.h"
#include "model/ModelContext.h"
#include "platform/AppSignals.h"
#include "support/TestEnvironment.h"
#include "support/TestImages.h"
#include "ui/BookmarkListView.h"
#include "ui/BookmarkRowView.h"
#include "ui/ContentView.h"
#include "ui/EditLinkView.h"
#include "ui/LinkOpener.h"
#include "ui/SearchField.h"
#include "ui/SearchPane.h"
#include "ui/TextFieldAlert.h"
#include "ui/UndoNotice.h"
#include "ui/WindowMenu.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <memory>

// The window driven from the keyboard, as a user without a mouse does it.
class WindowKeysTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ModelContainer> m_container;
    std::unique_ptr<MainWindow> m_window;
    QStringList m_signals;
    QList<QUrl> m_opened;

    ModelContext *context() const { return m_container->mainContext(); }
    ContentView *view() const { return m_window->contentView(); }
    QListView *sidebar() const { return view()->sidebarList(); }
    BookmarkListView *pane() const { return qobject_cast<BookmarkListView *>(view()->currentDetail()); }

    BookmarkGroup *addGroup(const QString &name, qint64 sortOrder)
    {
        auto *group = new BookmarkGroup(name);
        group->setSortOrder(sortOrder);
        context()->insert(group);
        return group;
    }

    BookmarkItem *addLink(BookmarkGroup *group, const QString &url, qint64 sortOrder)
    {
        auto *link = new BookmarkItem(url, group);
        link->setSortOrder(sortOrder);
        return link;
    }

    void showWindow()
    {
        m_window->show();
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    }

    // The links of a group as the list orders them: "url|title|summary|sortOrder|icon bytes".
    static QStringList describe(const BookmarkGroup *group)
    {
        QStringList lines;
        for (const BookmarkItem *link : BookmarkListModel::ordered(group)) {
            lines << QStringLiteral("%1|%2|%3|%4|%5|%6")
                         .arg(link->urlString(), link->title().value_or(QStringLiteral("<none>")),
                             link->summary().value_or(QStringLiteral("<none>")))
                         .arg(link->sortOrder())
                         .arg(QString::fromLatin1(link->iconData().value_or("<none>").toBase64()))
                         .arg(link->createdAt().toString(Qt::ISODateWithMs));
        }
        return lines;
    }

    BookmarkGroup *groupNamed(const QString &name) const
    {
        for (BookmarkGroup *group : context()->groups()) {
            if (group->name() == name)
                return group;
        }
        return nullptr;
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QString error;
        m_container = ModelContainer::open(m_dir->filePath(QStringLiteral("store.sqlite")), &error);
        QVERIFY2(m_container, qPrintable(error));
        m_window = std::make_unique<MainWindow>(context());
        view()->setSeeder([](ModelContext *) {});
        view()->setDetailFactory(
            [](BookmarkGroup *group, ModelContext *context, QWidget *parent) -> QWidget * {
                return new BookmarkListView(group, context, parent);
            });
        m_signals.clear();
        m_opened.clear();
        AppSignals::setSender(
            [this](const QString &name, const AppSignals::Parameters &) { m_signals << name; });
        LinkOpener::setOpener([this](const QUrl &url) { m_opened << url; });
    }

    void cleanup()
    {
        m_window.reset();
        AppSignals::setSender({});
        LinkOpener::setOpener({});
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_container.reset();
        m_dir.reset();
    }

    void deleteKeyThenCtrlZBringsBackTheGroupWithEverything()
    {
        BookmarkGroup *first = addGroup(QStringLiteral("个人"), 0);
        BookmarkGroup *work = addGroup(QStringLiteral("工作"), 1);
        addGroup(QStringLiteral("其他"), 2);
        BookmarkItem *a = addLink(work, QStringLiteral("https://a.example"), 3);
        a->setTitle(QStringLiteral("A 站"));
        a->setSummary(QStringLiteral("第一个"));
        a->setIconData(imageBytes(16, 16, "PNG", Qt::red));
        BookmarkItem *b = addLink(work, QStringLiteral("https://b.example"), 1);
        b->setSummary(QString(0, QChar()));
        addLink(work, QStringLiteral("https://c.example"), 2)->setIconData(imageBytes(8, 8, "PNG", Qt::blue));
        addLink(first, QStringLiteral("https://other.example"), 0);
        QVERIFY(context()->save());
        const QDateTime created = work->createdAt();
        // The icons must come back even when they were only on disk, never read.
        const QStringList before = describe(work);
        showWindow();
        view()->setSelectedGroup(work);
        sidebar()->setFocus();

        QTest::keyClick(sidebar(), Qt::Key_Delete);
        QVERIFY(!groupNamed(QStringLiteral("工作")));
        QCOMPARE(m_signals.count(QStringLiteral("group_deleted")), 1);
        QCOMPARE(context()->itemCount(), 1);
        UndoNotice *notice = view()->undoNotice();
        QVERIFY(notice->isVisible());
        QCOMPARE(notice->messageLabel()->text(), QStringLiteral("已删除「工作」"));
        QCOMPARE(notice->undoButton()->text(), QStringLiteral("撤销"));
        QCOMPARE(notice->timer()->interval(), 8000);
        QVERIFY(notice->timer()->isActive());

        QTest::keyClick(m_window.get(), Qt::Key_Z, Qt::ControlModifier);
        BookmarkGroup *back = groupNamed(QStringLiteral("工作"));
        QVERIFY(back);
        QCOMPARE(back->sortOrder(), 1);
        QCOMPARE(back->createdAt(), created);
        QCOMPARE(describe(back), before);
        QCOMPARE(view()->selectedGroup(), back);
        QVERIFY(!notice->isVisible());
        QVERIFY(!DeletionUndo::of(context())->canUndo());

        // What came back reaches the file as the rest does.
        QVERIFY(context()->save());
        const QString path = m_dir->filePath(QStringLiteral("store.sqlite"));
        m_window.reset();
        m_container.reset();
        QString error;
        m_container = ModelContainer::open(path, &error);
        QVERIFY2(m_container, qPrintable(error));
        QCOMPARE(describe(groupNamed(QStringLiteral("工作"))), before);
        QCOMPARE(m_container->mainContext()->groupCount(), 3);
    }

    void aDeletedLinkComesBackInItsPlace()
    {
        BookmarkGroup *work = addGroup(QStringLiteral("工作"), 0);
        for (int i = 0; i < 4; ++i)
            addLink(work, QStringLiteral("https://%1.example").arg(i), i);
        BookmarkItem *third = BookmarkListModel::ordered(work).at(2);
        third->setTitle(QStringLiteral("第三个"));
        third->setIconData(imageBytes());
        context()->setRefreshMode(third, ModelContext::RefreshMode::FillMissing);
        const QStringList before = describe(work);
        showWindow();
        view()->setSelectedGroup(work);
        QVERIFY(pane());

        pane()->deleteBookmark(third);
        QCOMPARE(m_signals, QStringList { QStringLiteral("link_deleted") });
        QCOMPARE(work->bookmarks().size(), 3);
        QCOMPARE(view()->undoNotice()->messageLabel()->text(), QStringLiteral("已删除「第三个」"));
        QCOMPARE(context()->refreshQueueSize(), 0);

        view()->undoNotice()->undoButton()->click();
        QCOMPARE(describe(work), before);
        QCOMPARE(context()->refreshQueueSize(), 1);
        QCOMPARE(view()->selectedGroup(), work);
        pane()->model()->sortNow();
        QCOMPARE(pane()->model()->itemAt(2)->title(), std::optional<QString>(QStringLiteral("第三个")));
    }

    void theOfferEndsWithTheNoticeOrTheNextDeletion()
    {
        BookmarkGroup *work = addGroup(QStringLiteral("工作"), 0);
        BookmarkGroup *home = addGroup(QStringLiteral("家"), 1);
        BookmarkItem *link = addLink(home, QStringLiteral("https://x.example"), 0);
        showWindow();

        // A link without a title is named by its address.
        DeletionUndo::of(context())->deleteLink(link);
        QCOMPARE(view()->undoNotice()->messageLabel()->text(), QStringLiteral("已删除「https://x.example」"));
        // Only the last deletion can be undone.
        view()->deleteGroup(work);
        QCOMPARE(view()->undoNotice()->messageLabel()->text(), QStringLiteral("已删除「工作」"));
        view()->undoAction()->trigger();
        QVERIFY(groupNamed(QStringLiteral("工作")));
        QVERIFY(home->bookmarks().isEmpty());
        QVERIFY(!view()->undoAction()->isEnabled());

        view()->deleteGroup(home);
        QVERIFY(view()->undoAction()->isEnabled());
        view()->undoNotice()->expire();
        QVERIFY(!view()->undoNotice()->isVisible());
        QVERIFY(!view()->undoAction()->isEnabled());
        QTest::keyClick(m_window.get(), Qt::Key_Z, Qt::ControlModifier);
        QVERIFY(!groupNamed(QStringLiteral("家")));

        // A link whose group went meanwhile has nowhere to go back to.
        BookmarkGroup *work2 = groupNamed(QStringLiteral("工作"));
        BookmarkItem *orphan = addLink(work2, QStringLiteral("https://y.example"), 0);
        DeletionUndo::of(context())->deleteLink(orphan);
        context()->remove(work2);
        QCOMPARE(DeletionUndo::of(context())->undo().group, nullptr);
        QCOMPARE(context()->itemCount(), 0);
        QVERIFY(!view()->undoNotice()->isVisible());
    }

    void listKeysTakeTheMenuItemsRoads()
    {
        BookmarkGroup *work = addGroup(QStringLiteral("工作"), 0);
        BookmarkItem *a = addLink(work, QStringLiteral("https://a.example"), 0);
        a->setTitle(QStringLiteral("A 站"));
        BookmarkItem *b = addLink(work, QStringLiteral("https://b.example/x"), 1);
        BookmarkItem *c = addLink(work, QStringLiteral("javascript:alert(1)"), 2);
        showWindow();
        view()->setSelectedGroup(work);
        BookmarkRowList *rows = pane()->listView();
        rows->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(rows->hasFocus());
        // Focus lands on a row, so the keys have something to act on.
        QCOMPARE(rows->currentIndex().row(), 0);

        QTest::keyClick(rows, Qt::Key_Return);
        QCOMPARE(m_opened, QList<QUrl> { QUrl(QStringLiteral("https://a.example")) });
        QCOMPARE(m_signals, QStringList { QStringLiteral("link_opened") });
        QTest::keyClick(rows, Qt::Key_Down);
        QCOMPARE(rows->currentIndex().row(), 1);
        QTest::keyClick(rows, Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(m_opened.last(), QUrl(QStringLiteral("https://b.example/x")));

        // Ctrl+C copies the address as it is stored.
        QGuiApplication::clipboard()->clear();
        QTest::keyClick(rows, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("https://b.example/x"));

        // F2 and Ctrl+E edit the current link.
        QTest::keyClick(rows, Qt::Key_F2);
        QVERIFY(pane()->editLinkView());
        QCOMPARE(pane()->editingBookmark(), b);
        pane()->editLinkView()->reject();
        QTRY_VERIFY(!pane()->editLinkView());
        QTest::keyClick(rows, Qt::Key_Up);
        QTest::keyClick(rows, Qt::Key_E, Qt::ControlModifier);
        QCOMPARE(pane()->editingBookmark(), a);
        pane()->editLinkView()->reject();
        QTRY_VERIFY(!pane()->editLinkView());

        // Right steps onto the share button, then the edit button; Enter presses it.
        QTest::keyClick(rows, Qt::Key_Right);
        QCOMPARE(pane()->rowView()->keyboardButton(), BookmarkRowView::Button::share);
        QTest::keyClick(rows, Qt::Key_Right);
        QCOMPARE(pane()->rowView()->keyboardButton(), BookmarkRowView::Button::edit);
        QTest::keyClick(rows, Qt::Key_Right);
        QCOMPARE(pane()->rowView()->keyboardButton(), BookmarkRowView::Button::edit);
        QTest::keyClick(rows, Qt::Key_Return);
        QCOMPARE(pane()->editingBookmark(), a);
        pane()->editLinkView()->reject();
        QTRY_VERIFY(!pane()->editLinkView());
        QTest::keyClick(rows, Qt::Key_Left);
        QCOMPARE(pane()->rowView()->keyboardButton(), BookmarkRowView::Button::share);
        QTest::keyClick(rows, Qt::Key_Return);
        auto *share = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        QVERIFY(share);
        share->close();
        // Another row starts on the row itself again.
        QTest::keyClick(rows, Qt::Key_Down);
        QCOMPARE(pane()->rowView()->keyboardButton(), BookmarkRowView::Button::none);

        // The Menu key and Shift+F10 open the current row's menu.
        for (const auto &[key, modifiers] :
            { std::pair { Qt::Key_Menu, Qt::NoModifier }, std::pair { Qt::Key_F10, Qt::ShiftModifier } }) {
            QTest::keyClick(rows, key, modifiers);
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            QVERIFY(menu);
            QCOMPARE(menu->objectName(), QStringLiteral("bookmarkMenu"));
            QCOMPARE(menu->actions().first()->text(), QStringLiteral("打开链接"));
            menu->close();
            QTRY_VERIFY(!QApplication::activePopupWidget());
        }

        // Delete deletes as the menu item does, and Ctrl+Z puts it back.
        QTest::keyClick(rows, Qt::Key_Delete);
        QVERIFY(b->isDeleted());
        // The next link takes the deleted one's place under the keyboard.
        QCOMPARE(pane()->model()->itemAt(rows->currentIndex().row()), c);
        QCOMPARE(m_signals.count(QStringLiteral("link_deleted")), 1);
        QCOMPARE(work->bookmarks().size(), 2);
        QTest::keyClick(rows, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(work->bookmarks().size(), 3);
        pane()->model()->sortNow();
        QCOMPARE(pane()->model()->itemAt(1)->urlString(), QStringLiteral("https://b.example/x"));

        // A link that is no web address is not handed to the desktop.
        rows->setCurrentIndex(pane()->model()->index(pane()->model()->rowOf(c)));
        const qsizetype opened = m_opened.size();
        QTest::keyClick(rows, Qt::Key_Return);
        QCOMPARE(m_opened.size(), opened);
        auto *refused = pane()->findChild<QMessageBox *>(QStringLiteral("cannotOpenAlert"));
        QVERIFY(refused);
        refused->close();
    }

    void sidebarKeys()
    {
        BookmarkGroup *first = addGroup(QStringLiteral("个人"), 0);
        BookmarkGroup *second = addGroup(QStringLiteral("工作"), 1);
        showWindow();
        view()->setSelectedGroup(first);
        sidebar()->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(sidebar()->hasFocus());
        QTest::keyClick(sidebar(), Qt::Key_Down);
        QCOMPARE(view()->selectedGroup(), second);
        QTest::keyClick(sidebar(), Qt::Key_Up);
        QCOMPARE(view()->selectedGroup(), first);

        // F2 in the sidebar renames the selected group.
        QTest::keyClick(sidebar(), Qt::Key_F2);
        QVERIFY(view()->showRenameGroupAlert());
        QCOMPARE(view()->groupToRename(), first);
        view()->renameGroupAlert()->reject();
        QVERIFY(!view()->showRenameGroupAlert());

        for (const auto &[key, modifiers] :
            { std::pair { Qt::Key_Menu, Qt::NoModifier }, std::pair { Qt::Key_F10, Qt::ShiftModifier } }) {
            QTest::keyClick(sidebar(), key, modifiers);
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            QVERIFY(menu);
            QCOMPARE(menu->objectName(), QStringLiteral("groupMenu"));
            menu->close();
            QTRY_VERIFY(!QApplication::activePopupWidget());
        }

        // F2 in the link list edits the link, not the group.
        addLink(first, QStringLiteral("https://a.example"), 0);
        pane()->listView()->setFocus();
        QTRY_VERIFY(pane()->listView()->hasFocus());
        QTest::keyClick(pane()->listView(), Qt::Key_F2);
        QVERIFY(!view()->showRenameGroupAlert());
        QVERIFY(pane()->editLinkView());
        pane()->editLinkView()->reject();
    }

    void tabGoesFromSidebarThroughTheButtonsToTheList()
    {
        BookmarkGroup *work = addGroup(QStringLiteral("工作"), 0);
        addLink(work, QStringLiteral("https://a.example"), 0);
        showWindow();
        view()->setSelectedGroup(work);
        sidebar()->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(sidebar()->hasFocus());
        QToolBar *main = view()->toolBar();
        const QList<QWidget *> expected { main->widgetForAction(view()->newGroupAction()),
            view()->searchPane()->field(), pane()->toolBar()->widgetForAction(pane()->openAllAction()),
            pane()->toolBar()->widgetForAction(pane()->addLinkAction()), pane()->listView() };
        for (QWidget *next : expected) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), sidebar());
        // A focused tool button works with Space like any button.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        QVERIFY(view()->showAddGroupAlert());
        view()->addGroupAlert()->reject();
    }

    void menuShortcutsAreShownAndWork()
    {
        BookmarkGroup *work = addGroup(QStringLiteral("工作"), 0);
        for (int i = 0; i < 3; ++i)
            addLink(work, QStringLiteral("https://%1.example").arg(i), i);
        showWindow();
        WindowMenu *menu = m_window->windowMenu();
        QVERIFY(menu);
        QCOMPARE(menu->addLinkAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+N")));
        QCOMPARE(menu->newGroupAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+N")));
        QCOMPARE(menu->renameGroupAction()->shortcut(), QKeySequence(QStringLiteral("F2")));
        QCOMPARE(menu->openAllAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+O")));
        QVERIFY(menu->actions().contains(menu->addLinkAction()));
        QVERIFY(menu->actions().contains(menu->newGroupAction()));
        QVERIFY(menu->actions().contains(view()->undoAction()));

        // Nothing shown: no group to add to, and nothing opens.
        QVERIFY(!menu->addLinkAction()->isEnabled());
        QTest::keyClick(m_window.get(), Qt::Key_N, Qt::ControlModifier);
        QVERIFY(!QApplication::activeModalWidget());

        view()->setSelectedGroup(work);
        sidebar()->setFocus();
        QTest::keyClick(sidebar(), Qt::Key_N, Qt::ControlModifier);
        QVERIFY(pane()->showAddLinkSheet());
        pane()->addLinkAlert()->reject();
        QVERIFY(!pane()->showAddLinkSheet());

        QTest::keyClick(sidebar(), Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(view()->showAddGroupAlert());
        view()->addGroupAlert()->reject();

        QTest::keyClick(sidebar(), Qt::Key_O, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(pane()->showOpenAllAlert());
        QVERIFY(m_opened.isEmpty());
        QCOMPARE(pane()->openAllAlert()->text(), QStringLiteral("这将同时打开 3 个网页链接。"));
        pane()->openAllAlert()->reject();
    }

    void rowsAndControlsHaveNamesForScreenReaders()
    {
        BookmarkGroup *work = addGroup(QStringLiteral("工作"), 0);
        addLink(work, QStringLiteral("https://a.example"), 0)->setTitle(QStringLiteral("A 站"));
        addLink(work, QStringLiteral("https://b.example"), 1);
        showWindow();
        view()->setSelectedGroup(work);
        pane()->model()->sortNow();
        QCOMPARE(pane()->model()->index(0).data(Qt::AccessibleTextRole).toString(),
            QStringLiteral("A 站, https://a.example"));
        QCOMPARE(pane()->model()->index(1).data(Qt::AccessibleTextRole).toString(),
            QStringLiteral("https://b.example"));
        QAccessibleInterface *list = QAccessible::queryAccessibleInterface(pane()->listView());
        QVERIFY(list);
        QCOMPARE(list->text(QAccessible::Name), QStringLiteral("链接"));
        QStringList rowNames;
        for (int i = 0; i < list->childCount(); ++i)
            rowNames << list->child(i)->text(QAccessible::Name);
        QVERIFY2(
            rowNames.contains(QStringLiteral("A 站, https://a.example")), qPrintable(rowNames.join('|')));
        QAccessibleInterface *groups = QAccessible::queryAccessibleInterface(sidebar());
        QCOMPARE(groups->text(QAccessible::Name), QStringLiteral("分组"));
        for (QToolBar *bar : { view()->toolBar(), pane()->toolBar() }) {
            for (QAction *action : bar->actions()) {
                QWidget *button = bar->widgetForAction(action);
                if (!button || !qobject_cast<QToolButton *>(button))
                    continue;
                QAccessibleInterface *control = QAccessible::queryAccessibleInterface(button);
                QVERIFY2(!control->text(QAccessible::Name).isEmpty(), qPrintable(action->objectName()));
            }
        }
    }
};

BRAMBLE_TEST_MAIN(WindowKeysTest)
#include "tst_window_keys.moc"
