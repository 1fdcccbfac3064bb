#include "app/MainWindow.h"
#include "exchange/DataExchange.h"
#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"
#include "model/DataSeeder.h"
#include "model/GroupListModel.h"
#include "model/ModelContainer.h"
#include "model/ModelContext.h"
#include "platform/AppSignals.h"
#include "support/TestEnvironment.h"
#include "ui/ContentView.h"
#include "ui/RefreshStatusView.h"
#include "ui/RowMoveAnimator.h"
#include "ui/Symbols.h"
#include "ui/TextFieldAlert.h"
#include "ui/WelcomeView.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QCoroTask>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <memory>

namespace {

struct SentSignal
{
    QString name;
    AppSignals::Parameters parameters;
};

} // namespace

class ContentViewTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ModelContainer> m_container;
    std::unique_ptr<MainWindow> m_window;
    QList<SentSignal> m_signals;

    ModelContext *context() const { return m_container->mainContext(); }
    ContentView *view() const { return m_window->contentView(); }
    QListView *list() const { return view()->sidebarList(); }

    BookmarkGroup *addStoredGroup(const QString &name, qint64 sortOrder, const QDateTime &createdAt = {})
    {
        auto *group = new BookmarkGroup(name);
        group->setSortOrder(sortOrder);
        if (createdAt.isValid())
            group->setCreatedAt(createdAt);
        context()->insert(group);
        return group;
    }

    void showWindow()
    {
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }

    QStringList sidebarNames() const
    {
        QStringList names;
        for (int row = 0; row < list()->model()->rowCount(); ++row)
            names << list()->model()->index(row, 0).data().toString();
        return names;
    }

    QList<qint64> sortOrders() const
    {
        QList<qint64> result;
        for (const BookmarkGroup *group : view()->groups()->groups())
            result << group->sortOrder();
        return result;
    }

    QStringList signalNames() const
    {
        QStringList names;
        for (const SentSignal &sent : m_signals)
            names << sent.name;
        return names;
    }

    QPoint rowCenter(int row) const { return list()->visualRect(list()->model()->index(row, 0)).center(); }

    void clickRow(int row) { QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, rowCenter(row)); }

    // Opens the row's context menu the way a right click does and returns it.
    QMenu *openRowMenu(int row)
    {
        const QPoint position = rowCenter(row);
        QContextMenuEvent event(
            QContextMenuEvent::Mouse, position, list()->viewport()->mapToGlobal(position));
        QApplication::sendEvent(list()->viewport(), &event);
        return qobject_cast<QMenu *>(QApplication::activePopupWidget());
    }

    void chooseFromRowMenu(int row, const QString &text)
    {
        QMenu *menu = openRowMenu(row);
        QVERIFY(menu);
        QAction *chosen = nullptr;
        for (QAction *action : menu->actions()) {
            if (action->text() == text)
                chosen = action;
        }
        QVERIFY2(chosen, qPrintable(text));
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(chosen).center());
        QTRY_VERIFY(!QApplication::activePopupWidget());
    }

    // Latin text as key presses; anything else the way an input method commits it.
    static void typeText(QLineEdit *field, const QString &text)
    {
        bool latin = true;
        for (QChar c : text)
            latin = latin && c.unicode() < 0x80;
        if (latin) {
            QTest::keyClicks(field, text);
            return;
        }
        QInputMethodEvent event;
        event.setCommitString(text);
        QApplication::sendEvent(field, &event);
    }

    QToolButton *newGroupButton() const
    {
        return qobject_cast<QToolButton *>(view()->toolBar()->widgetForAction(view()->newGroupAction()));
    }

    void createGroupThroughToolbar(const QString &name)
    {
        QToolButton *button = newGroupButton();
        QVERIFY(button);
        QTest::mouseClick(button, Qt::LeftButton);
        TextFieldAlert *alert = view()->addGroupAlert();
        QTRY_VERIFY(alert->isVisible());
        alert->field()->clear();
        QVERIFY(!alert->actionButton()->isEnabled());
        typeText(alert->field(), name);
        QVERIFY(alert->actionButton()->isEnabled());
        QTest::mouseClick(alert->actionButton(), Qt::LeftButton);
        QTRY_VERIFY(!alert->isVisible());
    }

    QString detailText() const
    {
        QWidget *detail = view()->currentDetail();
        if (!detail || detail == view()->welcomeView())
            return QString();
        const QLabel *label = detail->findChild<QLabel *>();
        return label ? label->text() : QString();
    }

private Q_SLOTS:
    void refreshLineCountsWithSeparatorsAndHidesWhenIdle()
    {
        QCOMPARE(RefreshStatusView::text(3210), QStringLiteral("正在更新 3,210 个链接的信息…"));
        QCOMPARE(RefreshStatusView::text(7), QStringLiteral("正在更新 7 个链接的信息…"));
        QTemporaryDir dir;
        QString error;
        auto store = ModelContainer::open(dir.filePath(QStringLiteral("s.sqlite")), &error);
        QVERIFY2(store, qPrintable(error));
        DataExchange exchange(store->mainContext());
        RefreshStatusView line(&exchange);
        QVERIFY(line.isHidden());
    }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QString error;
        m_container = ModelContainer::open(m_dir->filePath(QStringLiteral("store.sqlite")), &error);
        QVERIFY2(m_container, qPrintable(error));
        m_window = std::make_unique<MainWindow>(context());
        // Seeding fetches from the internet; these tests start from the stores they build.
        view()->setSeeder([](ModelContext *) {});
        m_signals.clear();
        AppSignals::setSender([this](const QString &name, const AppSignals::Parameters &parameters) {
            m_signals.append({ name, parameters });
        });
    }

    void cleanup()
    {
        AppSignals::setSender({});
        m_window.reset();
        m_container.reset();
        m_dir.reset();
    }

    void windowLayout()
    {
        showWindow();
        QCOMPARE(m_window->minimumSize(), QSize(600, 300));
        QWidget *sidebar = view()->findChild<QWidget *>(QStringLiteral("sidebar"));
        QVERIFY(sidebar);
        QCOMPARE(sidebar->minimumWidth(), 200);
        QCOMPARE(sidebar->maximumWidth(), 250);
        QVERIFY(sidebar->findChild<QLabel *>(QStringLiteral("sidebarSection")));
        QCOMPARE(sidebar->findChild<QLabel *>(QStringLiteral("sidebarSection"))->text(),
            QStringLiteral("我的书签"));
        QCOMPARE(list()->selectionMode(), QAbstractItemView::SingleSelection);
        QCOMPARE(view()->newGroupAction()->text(), QStringLiteral("新建分组"));
        QCOMPARE(view()->newGroupAction()->toolTip(), QStringLiteral("创建一个新的书签分组"));
        QVERIFY(!view()->newGroupAction()->icon().isNull());
        QVERIFY(newGroupButton() && newGroupButton()->isVisible());

        // The application menu: About first, Quit last with Ctrl+Q, and room right after About.
        QMenu *menu = m_window->applicationMenu();
        QCOMPARE(menu->actions().first()->text(), QStringLiteral("About Bramble"));
        QCOMPARE(menu->actions().last()->text(), QStringLiteral("Quit Bramble"));
        QCOMPARE(m_window->quitAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
        auto *check = new QAction(QStringLiteral("Check for Updates..."), m_window.get());
        m_window->addAfterAbout(check);
        QCOMPARE(menu->actions().at(1), check);
        QSignalSpy quit(m_window.get(), &MainWindow::quitRequested);
        m_window->quitAction()->trigger();
        QCOMPARE(quit.count(), 1);
    }

    void startsWithWelcomeScreenEvenWithGroups()
    {
        addStoredGroup(QStringLiteral("A"), 10);
        showWindow();
        QCOMPARE(view()->selectedGroup(), nullptr);
        QCOMPARE(view()->currentDetail(), view()->welcomeView());
        QCOMPARE(view()->welcomeView()->findChild<QLabel *>(QStringLiteral("welcomeTitle"))->text(),
            QStringLiteral("欢迎使用 Bramble"));
        QCOMPARE(view()->welcomeView()->findChild<QLabel *>(QStringLiteral("welcomeMessage"))->text(),
            QStringLiteral("请在侧边栏选择或创建一个分组"));
        QVERIFY(
            !view()->welcomeView()->findChild<QLabel *>(QStringLiteral("welcomeSymbol"))->pixmap().isNull());

        clickRow(0);
        QCOMPARE(view()->selectedGroup()->name(), QStringLiteral("A"));
        QCOMPARE(detailText(), QStringLiteral("A"));
    }

    void newGroupInEmptyStoreGetsPositionZero()
    {
        showWindow();
        createGroupThroughToolbar(QStringLiteral("工作"));
        QCOMPARE(sidebarNames(), QStringList { QStringLiteral("工作") });
        BookmarkGroup *group = view()->groups()->groupAt(0);
        QCOMPARE(group->sortOrder(), 0);
        QCOMPARE(view()->selectedGroup(), group);
        QCOMPARE(list()->selectionModel()->selectedRows().size(), 1);
        QCOMPARE(list()->selectionModel()->selectedRows().first().row(), 0);
        QCOMPARE(detailText(), QStringLiteral("工作"));
        QCOMPARE(signalNames(), QStringList { QStringLiteral("group_created") });
        QCOMPARE(m_signals.first().parameters.value(QStringLiteral("groupCount")), QStringLiteral("1"));
    }

    void newGroupGoesToTheEndAndIsSelected()
    {
        addStoredGroup(QStringLiteral("A"), 7);
        addStoredGroup(QStringLiteral("B"), 3);
        addStoredGroup(QStringLiteral("C"), 12);
        showWindow();
        clickRow(0);
        QCOMPARE(view()->selectedGroup()->name(), QStringLiteral("B"));

        createGroupThroughToolbar(QStringLiteral("  spaced  "));
        QCOMPARE(sidebarNames(),
            (QStringList { QStringLiteral("B"), QStringLiteral("A"), QStringLiteral("C"),
                QStringLiteral("  spaced  ") }));
        BookmarkGroup *created = view()->groups()->groupAt(3);
        QCOMPARE(created->sortOrder(), 13);
        QCOMPARE(view()->selectedGroup(), created);
        QCOMPARE(list()->selectionModel()->selectedRows().first().row(), 3);
        QCOMPARE(m_signals.last().parameters.value(QStringLiteral("groupCount")), QStringLiteral("4"));

        // The next alert opens with the name typed last; cancelling creates nothing.
        QTest::mouseClick(newGroupButton(), Qt::LeftButton);
        TextFieldAlert *alert = view()->addGroupAlert();
        QTRY_VERIFY(alert->isVisible());
        QCOMPARE(alert->field()->text(), QStringLiteral("  spaced  "));
        QCOMPARE(alert->field()->placeholderText(), QStringLiteral("分组名称"));
        QTest::mouseClick(alert->cancelButton(), Qt::LeftButton);
        QTRY_VERIFY(!alert->isVisible());
        QVERIFY(!view()->showAddGroupAlert());
        QCOMPARE(view()->groups()->rowCount(), 4);
    }

    void emptyNameCannotBeCreated()
    {
        showWindow();
        QTest::mouseClick(newGroupButton(), Qt::LeftButton);
        TextFieldAlert *alert = view()->addGroupAlert();
        QTRY_VERIFY(alert->isVisible());
        QVERIFY(!alert->actionButton()->isEnabled());
        // Enter on the disabled default button does nothing.
        QTest::keyClick(alert->field(), Qt::Key_Return);
        QVERIFY(alert->isVisible());
        QCOMPARE(view()->groups()->rowCount(), 0);
        QTest::keyClick(alert->field(), Qt::Key_Escape);
        QTRY_VERIFY(!alert->isVisible());
        QVERIFY(m_signals.isEmpty());
    }

    void renameThroughContextMenu()
    {
        BookmarkGroup *group = addStoredGroup(QStringLiteral("Old"), 5);
        showWindow();
        clickRow(0);

        QMenu *menu = openRowMenu(0);
        QVERIFY(menu);
        QStringList texts;
        for (QAction *action : menu->actions())
            texts << (action->isSeparator() ? QStringLiteral("|") : action->text());
        QCOMPARE(texts,
            (QStringList { QStringLiteral("重命名"), QStringLiteral("刷新信息"), QStringLiteral("删除"),
                QStringLiteral("|"), QStringLiteral("上移"), QStringLiteral("下移") }));
        for (QAction *action : menu->actions())
            QVERIFY(action->isEnabled());
        menu->close();

        chooseFromRowMenu(0, QStringLiteral("重命名"));
        TextFieldAlert *alert = view()->renameGroupAlert();
        QTRY_VERIFY(alert->isVisible());
        QCOMPARE(alert->field()->text(), QStringLiteral("Old"));
        QCOMPARE(alert->field()->placeholderText(), QStringLiteral("新名称"));
        QCOMPARE(alert->actionButton()->text(), QStringLiteral("保存"));
        alert->field()->clear();
        QVERIFY(!alert->actionButton()->isEnabled());
        QTest::keyClicks(alert->field(), QStringLiteral("New"));
        QTest::mouseClick(alert->actionButton(), Qt::LeftButton);
        QTRY_VERIFY(!alert->isVisible());

        QCOMPARE(group->name(), QStringLiteral("New"));
        QCOMPARE(sidebarNames(), QStringList { QStringLiteral("New") });
        QCOMPARE(detailText(), QStringLiteral("New"));
        QCOMPARE(signalNames(), QStringList { QStringLiteral("group_renamed") });

        // Saving the unchanged name still counts as a rename.
        chooseFromRowMenu(0, QStringLiteral("重命名"));
        QTRY_VERIFY(alert->isVisible());
        QCOMPARE(alert->field()->text(), QStringLiteral("New"));
        QTest::keyClick(alert->field(), Qt::Key_Return);
        QTRY_VERIFY(!alert->isVisible());
        QCOMPARE(group->name(), QStringLiteral("New"));
        QCOMPARE(signalNames(),
            (QStringList { QStringLiteral("group_renamed"), QStringLiteral("group_renamed") }));

        // Cancelling leaves the name alone and sends nothing.
        chooseFromRowMenu(0, QStringLiteral("重命名"));
        QTRY_VERIFY(alert->isVisible());
        QTest::keyClicks(alert->field(), QStringLiteral("XYZ"));
        QTest::mouseClick(alert->cancelButton(), Qt::LeftButton);
        QTRY_VERIFY(!alert->isVisible());
        QCOMPARE(group->name(), QStringLiteral("New"));
        QCOMPARE(m_signals.size(), 2);
    }

    void deletingTheSelectedGroupShowsWelcome()
    {
        BookmarkGroup *a = addStoredGroup(QStringLiteral("A"), 1);
        auto *item = new BookmarkItem(QStringLiteral("https://example.com"), a);
        context()->insert(item);
        addStoredGroup(QStringLiteral("B"), 2);
        showWindow();
        clickRow(0);
        QCOMPARE(view()->selectedGroup(), a);
        QPointer<BookmarkItem> link(item);

        chooseFromRowMenu(0, QStringLiteral("删除"));
        QCOMPARE(view()->selectedGroup(), nullptr);
        QCOMPARE(view()->currentDetail(), view()->welcomeView());
        QVERIFY(list()->selectionModel()->selectedRows().isEmpty());
        QCOMPARE(sidebarNames(), QStringList { QStringLiteral("B") });
        QCOMPARE(signalNames(), QStringList { QStringLiteral("group_deleted") });
        QVERIFY(!link || link->isDeleted());
        QCOMPARE(context()->itemCount(), 0);
    }

    void deletingAnotherGroupKeepsTheSelection()
    {
        addStoredGroup(QStringLiteral("A"), 1);
        BookmarkGroup *b = addStoredGroup(QStringLiteral("B"), 2);
        addStoredGroup(QStringLiteral("C"), 3);
        showWindow();
        clickRow(1);
        QCOMPARE(view()->selectedGroup(), b);
        QPointer<QWidget> detail = view()->currentDetail();

        chooseFromRowMenu(0, QStringLiteral("删除"));
        QCOMPARE(sidebarNames(), (QStringList { QStringLiteral("B"), QStringLiteral("C") }));
        QCOMPARE(view()->selectedGroup(), b);
        QCOMPARE(list()->selectionModel()->selectedRows().first().row(), 0);
        // The detail is the same one, not rebuilt.
        QCOMPARE(view()->currentDetail(), detail.data());
        QCOMPARE(detailText(), QStringLiteral("B"));
    }

    void deleteKeyDeletesTheSelectedRow()
    {
        addStoredGroup(QStringLiteral("A"), 1);
        addStoredGroup(QStringLiteral("B"), 2);
        showWindow();
        clickRow(1);
        list()->setFocus();
        QTest::keyClick(list(), Qt::Key_Delete);
        QCOMPARE(sidebarNames(), QStringList { QStringLiteral("A") });
        QCOMPARE(view()->selectedGroup(), nullptr);
        QCOMPARE(view()->currentDetail(), view()->welcomeView());
        QCOMPARE(signalNames(), QStringList { QStringLiteral("group_deleted") });

        // Without a selection the key does nothing.
        QTest::keyClick(list(), Qt::Key_Delete);
        QCOMPARE(sidebarNames(), QStringList { QStringLiteral("A") });
    }

    void deleteGroupsUsesTheRowsAsListedWhenCalled()
    {
        for (int i = 0; i < 5; ++i)
            addStoredGroup(QStringLiteral("G%1").arg(i), i + 1);
        showWindow();
        view()->deleteGroups({ 3, 0, 2 });
        QCOMPARE(sidebarNames(), (QStringList { QStringLiteral("G1"), QStringLiteral("G4") }));
        QCOMPARE(m_signals.size(), 3);
    }

    void movesAtBothEndsChangeNothing()
    {
        addStoredGroup(QStringLiteral("A"), 1);
        addStoredGroup(QStringLiteral("B"), 2);
        addStoredGroup(QStringLiteral("C"), 3);
        showWindow();

        chooseFromRowMenu(0, QStringLiteral("上移"));
        chooseFromRowMenu(2, QStringLiteral("下移"));
        QCOMPARE(
            sidebarNames(), (QStringList { QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C") }));
        QCOMPARE(sortOrders(), (QList<qint64> { 1, 2, 3 }));

        chooseFromRowMenu(2, QStringLiteral("上移"));
        QCOMPARE(
            sidebarNames(), (QStringList { QStringLiteral("A"), QStringLiteral("C"), QStringLiteral("B") }));
        QCOMPARE(sortOrders(), (QList<qint64> { 1, 2, 3 }));
        chooseFromRowMenu(0, QStringLiteral("下移"));
        QCOMPARE(
            sidebarNames(), (QStringList { QStringLiteral("C"), QStringLiteral("A"), QStringLiteral("B") }));
        QVERIFY(m_signals.isEmpty());
    }

    void moveKeepsTheSelectionAndAnimates()
    {
        addStoredGroup(QStringLiteral("A"), 1);
        BookmarkGroup *b = addStoredGroup(QStringLiteral("B"), 2);
        showWindow();
        clickRow(1);
        auto *animator = list()->findChild<RowMoveAnimator *>();
        QVERIFY(animator);

        chooseFromRowMenu(1, QStringLiteral("上移"));
        QCOMPARE(sidebarNames(), (QStringList { QStringLiteral("B"), QStringLiteral("A") }));
        QCOMPARE(view()->selectedGroup(), b);
        QCOMPARE(list()->selectionModel()->selectedRows().first().row(), 0);
        // Right after the move each row is still drawn where it was and then slides home.
        QVERIFY(animator->isRunning());
        const qreal pitch = 30;
        QVERIFY(animator->offset(list()->model()->index(0, 0), pitch) > 0);
        QVERIFY(animator->offset(list()->model()->index(1, 0), pitch) < 0);
        QTRY_VERIFY_WITH_TIMEOUT(!animator->isRunning(), 3000);
        QCOMPARE(animator->offset(list()->model()->index(0, 0), pitch), 0.0);
    }

    void equalPositionsMoveOnlyTheChosenGroup()
    {
        // An import gives all its groups one position.
        const qint64 imported = 1700000000;
        addStoredGroup(QStringLiteral("Mine"), 3);
        addStoredGroup(QStringLiteral("A"), imported);
        addStoredGroup(QStringLiteral("B"), imported);
        addStoredGroup(QStringLiteral("C"), imported);
        addStoredGroup(QStringLiteral("Later"), imported + 50);
        showWindow();
        QCOMPARE(sidebarNames(),
            (QStringList { QStringLiteral("Mine"), QStringLiteral("A"), QStringLiteral("B"),
                QStringLiteral("C"), QStringLiteral("Later") }));

        // One move, one place, nobody else moves; the shown order is numbered from 0.
        chooseFromRowMenu(3, QStringLiteral("上移"));
        QCOMPARE(sidebarNames(),
            (QStringList { QStringLiteral("Mine"), QStringLiteral("A"), QStringLiteral("C"),
                QStringLiteral("B"), QStringLiteral("Later") }));
        QCOMPARE(sortOrders(), (QList<qint64> { 0, 1, 2, 3, 4 }));

        // Downwards alike: the first of the tied groups passes only the second.
        for (BookmarkGroup *group : context()->groups()) {
            if (group->name() != QStringLiteral("Mine"))
                group->setSortOrder(imported);
        }
        QCOMPARE(sidebarNames(),
            (QStringList { QStringLiteral("Mine"), QStringLiteral("A"), QStringLiteral("B"),
                QStringLiteral("C"), QStringLiteral("Later") }));
        chooseFromRowMenu(1, QStringLiteral("下移"));
        QCOMPARE(sidebarNames(),
            (QStringList { QStringLiteral("Mine"), QStringLiteral("B"), QStringLiteral("A"),
                QStringLiteral("C"), QStringLiteral("Later") }));

        // Where positions differ they are simply exchanged.
        chooseFromRowMenu(4, QStringLiteral("上移"));
        QCOMPARE(sidebarNames().mid(3), (QStringList { QStringLiteral("Later"), QStringLiteral("C") }));
        QCOMPARE(sortOrders(), (QList<qint64> { 0, 1, 2, 3, 4 }));
    }

    void normalizationNumbersAllZeroPositionsByCreationDate()
    {
        const QDateTime base = QDateTime::currentDateTimeUtc();
        BookmarkGroup *newest = addStoredGroup(QStringLiteral("newest"), 0, base.addSecs(30));
        BookmarkGroup *oldest = addStoredGroup(QStringLiteral("oldest"), 0, base.addSecs(-30));
        BookmarkGroup *middle = addStoredGroup(QStringLiteral("middle"), 0, base);
        QVERIFY(context()->save());
        showWindow();
        QCOMPARE(oldest->sortOrder(), 0);
        QCOMPARE(middle->sortOrder(), 1);
        QCOMPARE(newest->sortOrder(), 2);
        QCOMPARE(sidebarNames(),
            (QStringList { QStringLiteral("oldest"), QStringLiteral("middle"), QStringLiteral("newest") }));
        // Saved at once, not left to a later save.
        QVERIFY(!context()->hasChanges());
    }

    void normalizationLeavesAnyNonZeroPositionAlone()
    {
        const QDateTime base = QDateTime::currentDateTimeUtc();
        BookmarkGroup *a = addStoredGroup(QStringLiteral("a"), 0, base.addSecs(30));
        BookmarkGroup *b = addStoredGroup(QStringLiteral("b"), 0, base.addSecs(-30));
        BookmarkGroup *c = addStoredGroup(QStringLiteral("c"), 4, base);
        showWindow();
        QCOMPARE(a->sortOrder(), 0);
        QCOMPARE(b->sortOrder(), 0);
        QCOMPARE(c->sortOrder(), 4);
    }

    void seederRunsBeforeNormalizationEachTimeTheWindowIsShown()
    {
        int calls = 0;
        view()->setSeeder([&calls](ModelContext *context) {
            ++calls;
            if (context->groupCount() == 0) {
                auto *group = new BookmarkGroup(QStringLiteral("默认分组"));
                group->setSortOrder(0);
                context->insert(group);
            }
        });
        showWindow();
        QCOMPARE(calls, 1);
        QCOMPARE(sidebarNames(), QStringList { QStringLiteral("默认分组") });
        QCOMPARE(view()->groups()->groupAt(0)->sortOrder(), 0);
        QCOMPARE(view()->currentDetail(), view()->welcomeView());
        m_window->hide();
        m_window->show();
        QCOMPARE(calls, 2);
        QCOMPARE(view()->groups()->rowCount(), 1);
    }

    void emptyStoreIsSeededWhenTheWindowShows()
    {
        // The window as the program builds it, with its own seeder; fetches are answered here.
        int fetches = 0;
        DataSeeder::setFetchFunction([&fetches](const QString &) -> QCoro::Task<LinkMetadata> {
            ++fetches;
            co_return LinkMetadata {};
        });
        m_window = std::make_unique<MainWindow>(context());
        showWindow();
        QCOMPARE(sidebarNames(), QStringList { QStringLiteral("默认分组") });
        BookmarkGroup *group = view()->groups()->groupAt(0);
        QCOMPARE(group->sortOrder(), 0);
        QCOMPARE(group->bookmarks().size(), 2);
        QCOMPARE(view()->selectedGroup(), nullptr);
        QCOMPARE(view()->currentDetail(), view()->welcomeView());
        QTRY_COMPARE(DataSeeder::runningMetadataTasks(), 0);
        QCOMPARE(fetches, 2);
        QVERIFY(m_signals.isEmpty());

        // A store that has groups is left alone.
        m_window->hide();
        m_window->show();
        QCOMPARE(view()->groups()->rowCount(), 1);
        DataSeeder::setFetchFunction({});
    }

    void groupDeletedElsewhereLeavesNoSelection()
    {
        BookmarkGroup *a = addStoredGroup(QStringLiteral("A"), 1);
        showWindow();
        clickRow(0);
        QCOMPARE(view()->selectedGroup(), a);
        context()->remove(a);
        QCOMPARE(view()->selectedGroup(), nullptr);
        QCOMPARE(view()->currentDetail(), view()->welcomeView());
    }

    void failingSavesAreShownUnderTheList()
    {
        showWindow();
        QLabel *line = m_window->saveProblemLabel();
        QVERIFY(!line->isVisible());
        QVERIFY(!m_window->statusBar()->isVisible());
        context()->setRetryDelays(std::chrono::milliseconds(5), std::chrono::milliseconds(20));

        const QString path = m_dir->filePath(QStringLiteral("store.sqlite"));
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
        other.setDatabaseName(path);
        QVERIFY(other.open());
        QVERIFY(QSqlQuery(other).exec(QStringLiteral("BEGIN IMMEDIATE")));
        addStoredGroup(QStringLiteral("new"), 1);
        QTRY_VERIFY_WITH_TIMEOUT(line->isVisible(), 5000);
        QVERIFY2(line->text().contains(QStringLiteral("locked")), qPrintable(line->text()));
        // A passing notice does not hide it.
        m_window->showNotice(QStringLiteral("notice"));
        QVERIFY(line->isVisible());

        QVERIFY(QSqlQuery(other).exec(QStringLiteral("ROLLBACK")));
        QTRY_VERIFY_WITH_TIMEOUT(!line->isVisible(), 5000);
        QVERIFY(!context()->hasChanges());
        other.close();
        other = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("holder"));
    }

    void everySymbolIsDrawn()
    {
        const QStringList used = { QStringLiteral("folder"), QStringLiteral("folder.badge.plus"),
            QStringLiteral("macwindow.on.rectangle"), QStringLiteral("link"),
            QStringLiteral("link.badge.plus"), QStringLiteral("globe"),
            QStringLiteral("arrow.up.right.square"), QStringLiteral("square.and.arrow.up"),
            QStringLiteral("square.and.pencil"), QStringLiteral("gear"), QStringLiteral("arrow.down.circle"),
            QStringLiteral("arrow.down.circle.fill"), QStringLiteral("checkmark.circle.fill"),
            QStringLiteral("exclamationmark.triangle.fill"), QStringLiteral("plus"), QStringLiteral("trash"),
            QStringLiteral("pencil") };
        const QStringList shipped = Symbols::names();
        for (const QString &name : used) {
            QVERIFY2(shipped.contains(name), qPrintable(name));
            const QImage image = Symbols::pixmap(name, QSize(32, 32), Qt::red).toImage();
            int painted = 0;
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x) {
                    const QColor pixel = image.pixelColor(x, y);
                    if (pixel.alpha() > 128) {
                        ++painted;
                        // Drawn in the colour asked for (white only for cut-out details).
                        QVERIFY2(pixel.red() > 200, qPrintable(name));
                    }
                }
            }
            QVERIFY2(painted > 20, qPrintable(name));
            QVERIFY(!Symbols::icon(name).pixmap(16, 16).isNull());
        }
        QVERIFY(Symbols::icon(QStringLiteral("no.such.symbol")).isNull());
        QVERIFY(!Symbols::applicationIcon().isNull());
    }
};

BRAMBLE_TEST_MAIN(ContentViewTest)
#include "tst_contentview.moc"
