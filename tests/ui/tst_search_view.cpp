#include "app/MainWindow.h"
#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"
#include "model/BookmarkListModel.h"
#include "model/ModelContainer.h"
#include "model/ModelContext.h"
#include "support/TestEnvironment.h"
#include "ui/BookmarkListView.h"
#include "ui/ContentView.h"
#include "ui/ContextMenu.h"
#include "ui/DuplicatePrompt.h"
#include "ui/EditLinkView.h"
#include "ui/GroupsMenuBarView.h"
#include "ui/LinkOpener.h"
#include "ui/SearchField.h"
#include "ui/SearchPane.h"
#include "ui/SearchResultsModel.h"
#include "ui/SearchResultsView.h"

#include <QApplication>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class SearchViewTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ModelContainer> m_container;
    std::unique_ptr<MainWindow> m_window;
    BookmarkGroup *m_work = nullptr;
    BookmarkGroup *m_home = nullptr;
    QList<QUrl> m_opened;

    ModelContext *context() const { return m_container->mainContext(); }
    ContentView *view() const { return m_window->contentView(); }
    SearchPane *pane() const { return view()->searchPane(); }
    SearchResultsModel *results() const { return pane()->results()->model(); }

    BookmarkItem *addLink(BookmarkGroup *group, const QString &url, const QString &title, qint64 createdSecs)
    {
        auto *item = new BookmarkItem(url, group);
        item->setTitle(title);
        item->setSummary(QStringLiteral("summary of ") + title);
        item->setCreatedAt(QDateTime::fromSecsSinceEpoch(createdSecs, Qt::UTC));
        item->setSortOrder(createdSecs);
        context()->insert(item);
        return item;
    }

    QStringList resultTitles() const
    {
        QStringList titles;
        for (int row = 0; row < results()->rowCount(); ++row)
            titles << results()->itemAt(row)->title().value_or(QString());
        return titles;
    }

    void search(const QString &text)
    {
        pane()->field()->setFocus();
        pane()->field()->clear();
        QTest::keyClicks(pane()->field(), text);
        QTRY_VERIFY(results()->isCurrent());
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QString error;
        m_container = ModelContainer::open(m_dir->filePath(QStringLiteral("store.sqlite")), &error);
        QVERIFY2(m_container, qPrintable(error));
        m_work = new BookmarkGroup(QStringLiteral("工作"));
        m_work->setSortOrder(0);
        m_home = new BookmarkGroup(QStringLiteral("Home"));
        m_home->setSortOrder(1);
        context()->insert(m_work);
        context()->insert(m_home);
        addLink(m_work, QStringLiteral("https://127.0.0.1:1/one/"), QStringLiteral("Old cafe"), 1000);
        addLink(m_home, QStringLiteral("https://127.0.0.1:1/two/"), QStringLiteral("New Café"), 2000);
        addLink(m_home, QStringLiteral("https://127.0.0.1:1/three/"), QStringLiteral("Tea"), 3000);
        QVERIFY(context()->save());
        m_window = std::make_unique<MainWindow>(context());
        view()->setSeeder([](ModelContext *) {});
        view()->setDetailFactory(
            [](BookmarkGroup *group, ModelContext *context, QWidget *parent) -> QWidget * {
                return new BookmarkListView(group, context, parent);
            });
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        view()->setSelectedGroup(m_work);
        m_opened.clear();
        LinkOpener::setOpener([this](const QUrl &url) { m_opened << url; });
    }

    void cleanup()
    {
        LinkOpener::setOpener({});
        m_window.reset();
        m_container.reset();
    }

    void typingShowsEveryGroupsMatchesAndEscapeGivesTheListBack()
    {
        QVERIFY(!pane()->isSearching());
        search(QStringLiteral("CAFE"));
        QVERIFY(pane()->isSearching());
        QCOMPARE(resultTitles(), (QStringList { QStringLiteral("New Café"), QStringLiteral("Old cafe") }));
        QCOMPARE(pane()->results()->listView()->currentIndex().row(), 0);
        QTest::keyClick(pane()->field(), Qt::Key_Escape);
        QCOMPARE(pane()->field()->text(), QString());
        QVERIFY(!pane()->isSearching());
        auto *list = qobject_cast<BookmarkListView *>(view()->currentDetail());
        QVERIFY(list);
        QCOMPARE(list->group(), m_work);
    }

    void emptyResultSaysWhatWasNotFound()
    {
        search(QStringLiteral("zebra"));
        QCOMPARE(results()->rowCount(), 0);
        QVERIFY(pane()->results()->emptyLabel()->isVisible());
        QCOMPARE(pane()->results()->emptyLabel()->text(), QStringLiteral("没有找到「zebra」"));
        // Spaces alone are no query: the group's list stays.
        pane()->field()->setText(QStringLiteral("   "));
        QVERIFY(!pane()->isSearching());
    }

    void shortcutsFocusTheField()
    {
        for (const Qt::Key key : { Qt::Key_F, Qt::Key_K }) {
            view()->sidebarList()->setFocus();
            QTRY_VERIFY(view()->sidebarList()->hasFocus());
            QTest::keyClick(m_window.get(), key, Qt::ControlModifier);
            QTRY_VERIFY(pane()->field()->hasFocus());
        }
    }

    void arrowsAndReturnOpen()
    {
        search(QStringLiteral("cafe"));
        QTest::keyClick(pane()->field(), Qt::Key_Return);
        QCOMPARE(m_opened, QList<QUrl> { QUrl(QStringLiteral("https://127.0.0.1:1/two/")) });
        QTest::keyClick(pane()->field(), Qt::Key_Down);
        QTest::keyClick(pane()->field(), Qt::Key_Down);
        QTest::keyClick(pane()->field(), Qt::Key_Return);
        QCOMPARE(m_opened.last(), QUrl(QStringLiteral("https://127.0.0.1:1/one/")));
        QTest::keyClick(pane()->field(), Qt::Key_Up);
        QTest::keyClick(pane()->field(), Qt::Key_Enter);
        QCOMPARE(m_opened.last(), QUrl(QStringLiteral("https://127.0.0.1:1/two/")));
    }

    void resultsFollowTheLibrary()
    {
        search(QStringLiteral("cafe"));
        QCOMPARE(results()->rowCount(), 2);
        addLink(m_work, QStringLiteral("https://127.0.0.1:1/four/"), QStringLiteral("Newest cafe"), 4000);
        QTRY_COMPARE(resultTitles(),
            (QStringList {
                QStringLiteral("Newest cafe"), QStringLiteral("New Café"), QStringLiteral("Old cafe") }));
        BookmarkItem *old = results()->itemAt(2);
        context()->remove(old);
        QCOMPARE(results()->rowCount(), 2);
        results()->itemAt(0)->setTitle(QStringLiteral("renamed"));
        // Its summary still holds the word.
        QTRY_COMPARE(resultTitles(), (QStringList { QStringLiteral("New Café"), QStringLiteral("renamed") }));
    }

    // After a save the texts read before it answer at once; the saved ones follow, and only
    // they make the results current.
    void aSaveIsAnsweredAtOnceThenFromTheSavedTexts()
    {
        search(QStringLiteral("cafe"));
        QList<QPair<bool, QStringList>> answers;
        connect(results(), &SearchResultsModel::resultsReady, this, [&] {
            answers.append({ results()->isCurrent(), resultTitles() });
        });
        addLink(m_work, QStringLiteral("https://127.0.0.1:1/four/"), QStringLiteral("Newest cafe"), 4000);
        QVERIFY(context()->save());
        QTRY_VERIFY(results()->isCurrent());
        QVERIFY(answers.size() >= 2);
        QCOMPARE(answers.first(),
            qMakePair(false, QStringList { QStringLiteral("New Café"), QStringLiteral("Old cafe") }));
        QCOMPARE(answers.last(),
            qMakePair(true,
                QStringList {
                    QStringLiteral("Newest cafe"), QStringLiteral("New Café"), QStringLiteral("Old cafe") }));
    }

    void rowMenuIsTheGroupsAndShowsTheLinkInItsGroup()
    {
        search(QStringLiteral("cafe"));
        BookmarkItem *item = results()->itemAt(0);
        QCOMPARE(item->group(), m_home);
        std::unique_ptr<ContextMenu> menu(pane()->results()->createMenu(item, nullptr));
        QVERIFY(menu);
        QStringList texts;
        QAction *reveal = nullptr;
        QAction *remove = nullptr;
        for (QAction *action : menu->actions()) {
            if (action->isSeparator())
                continue;
            texts << action->text();
            if (action->text() == QStringLiteral("在分组中显示"))
                reveal = action;
            if (action->text() == QStringLiteral("删除"))
                remove = action;
        }
        QVERIFY(texts.contains(QStringLiteral("打开链接")));
        QVERIFY(texts.contains(QStringLiteral("编辑链接")));
        QVERIFY(texts.contains(QStringLiteral("上移")));
        QCOMPARE(texts.last(), QStringLiteral("在分组中显示"));
        reveal->trigger();
        QVERIFY(!pane()->isSearching());
        QCOMPARE(pane()->field()->text(), QString());
        QCOMPARE(view()->selectedGroup(), m_home);
        auto *list = qobject_cast<BookmarkListView *>(view()->currentDetail());
        QVERIFY(list);
        QCOMPARE(list->model()->itemAt(list->listView()->currentIndex().row()), item);

        // The menu's own commands act on the link as in its group's list.
        search(QStringLiteral("old"));
        BookmarkItem *old = results()->itemAt(0);
        menu.reset(pane()->results()->createMenu(old, nullptr));
        for (QAction *action : menu->actions()) {
            if (action->text() == QStringLiteral("删除"))
                remove = action;
        }
        QVERIFY(remove);
        QPointer<BookmarkItem> watched(old);
        remove->trigger();
        QVERIFY(!watched || watched->isDeleted());
        QCOMPARE(results()->rowCount(), 0);
    }

    void addAlertOffersToAddADuplicateAnywayOrShowIt()
    {
        auto *list = qobject_cast<BookmarkListView *>(view()->currentDetail());
        QVERIFY(list);
        const int before = context()->itemCount();
        list->setShowAddLinkSheet(true);
        list->setNewUrlString(QStringLiteral("HTTPS://127.0.0.1:1/two"));
        QVERIFY(!list->addBookmark());
        auto *box = m_window->findChild<QMessageBox *>(QStringLiteral("duplicateAlert"));
        QVERIFY(box);
        QCOMPARE(box->text(), QStringLiteral("已在「Home」中"));
        QCOMPARE(context()->itemCount(), before);
        box->findChild<QPushButton *>(QStringLiteral("addAnyway"))->click();
        QCOMPARE(context()->itemCount(), before + 1);
        QCOMPARE(m_work->bookmarks().size(), 2);

        QTRY_VERIFY(!m_window->findChild<QMessageBox *>(QStringLiteral("duplicateAlert")));
        list->setNewUrlString(QStringLiteral("https://127.0.0.1:1/three#top"));
        QVERIFY(!list->addBookmark());
        box = m_window->findChild<QMessageBox *>(QStringLiteral("duplicateAlert"));
        QVERIFY(box);
        box->findChild<QPushButton *>(QStringLiteral("showExisting"))->click();
        QCOMPARE(context()->itemCount(), before + 1);
        QCOMPARE(view()->selectedGroup(), m_home);
        auto *shown = qobject_cast<BookmarkListView *>(view()->currentDetail());
        QVERIFY(shown);
        QCOMPARE(shown->model()->itemAt(shown->listView()->currentIndex().row())->urlString(),
            QStringLiteral("https://127.0.0.1:1/three/"));
    }

    void editSheetSaysWhereTheAddressIsAlready()
    {
        BookmarkItem *tea = m_home->bookmarks().last();
        QCOMPARE(tea->title(), std::optional<QString>(QStringLiteral("Tea")));
        EditLinkView sheet(tea, m_window.get());
        auto *notice = sheet.findChild<DuplicateNotice *>();
        QVERIFY(notice);
        QVERIFY(notice->isHidden());
        sheet.urlField()->selectAll();
        QTest::keyClicks(sheet.urlField(), QStringLiteral("https://127.0.0.1:1/ONE/#x"));
        QVERIFY(notice->isHidden());
        sheet.urlField()->selectAll();
        QTest::keyClicks(sheet.urlField(), QStringLiteral("HTTPS://127.0.0.1:1/one#x"));
        QVERIFY(!notice->isHidden());
        QCOMPARE(notice->label()->text(), QStringLiteral("已在「工作」中"));
        // Its own address is no duplicate.
        sheet.urlField()->selectAll();
        QTest::keyClicks(sheet.urlField(), QStringLiteral("https://127.0.0.1:1/three/"));
        QVERIFY(notice->isHidden());
    }

    void trayOffersSearch()
    {
        GroupsMenuBarView tray(context());
        QSignalSpy asked(&tray, &GroupsMenuBarView::searchRequested);
        tray.rebuild();
        QAction *item = nullptr;
        for (QAction *action : tray.menu()->actions()) {
            if (action->text() == QStringLiteral("搜索…"))
                item = action;
        }
        QVERIFY(item);
        item->trigger();
        QCOMPARE(asked.count(), 1);
        view()->sidebarList()->setFocus();
        pane()->focusSearch();
        QTRY_VERIFY(pane()->field()->hasFocus());
    }
};

BRAMBLE_TEST_MAIN(SearchViewTest)
#include "tst_search_view.moc"
