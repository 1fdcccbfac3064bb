#include "app/MainWindow.h"
#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"
#include "model/BookmarkListModel.h"
#include "model/LinkMover.h"
#include "model/ModelContainer.h"
#include "model/ModelContext.h"
#include "support/TestEnvironment.h"
#include "ui/BookmarkListView.h"
#include "ui/BookmarkRowView.h"
#include "ui/ContentView.h"
#include "ui/ContextMenu.h"
#include "ui/DragAutoScroller.h"
#include "ui/DropState.h"
#include "ui/TextFieldAlert.h"

#include <QAction>
#include <QApplication>
#include <QDragEnterEvent>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

// Long lists: dragging in them and onto the groups of the sidebar, and finding an added row.
class DragTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ModelContainer> m_container;
    std::unique_ptr<MainWindow> m_window;

    ModelContext *context() const { return m_container->mainContext(); }
    ContentView *view() const { return m_window->contentView(); }
    BookmarkListView *pane() const { return qobject_cast<BookmarkListView *>(view()->currentDetail()); }

    BookmarkGroup *addGroup(const QString &name, qint64 sortOrder, int links)
    {
        auto *group = new BookmarkGroup(name);
        group->setSortOrder(sortOrder);
        context()->insert(group);
        for (int i = 0; i < links; ++i)
            (new BookmarkItem(QStringLiteral("https://%1.%2.example").arg(i).arg(sortOrder), group))
                ->setSortOrder(i);
        return group;
    }

    void showWindow()
    {
        m_window->resize(900, 600);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }

    static QStringList urls(const BookmarkGroup *group)
    {
        QStringList result;
        for (const BookmarkItem *link : BookmarkListModel::ordered(group))
            result << link->urlString();
        return result;
    }

    // A drag of the link over the sidebar's row of group, as the platform delivers it.
    bool dropOnSidebar(QMimeData *data, int row, bool release, BookmarkGroup **highlighted = nullptr)
    {
        QListView *sidebar = view()->sidebarList();
        const QPoint point = sidebar->visualRect(sidebar->model()->index(row, 0)).center();
        const Qt::DropActions actions = Qt::MoveAction | Qt::CopyAction;
        QDragEnterEvent enter(point, actions, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(sidebar->viewport(), &enter);
        QDragMoveEvent move(point, actions, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(sidebar->viewport(), &move);
        if (highlighted)
            *highlighted = view()->dropGroup();
        if (!release) {
            QDragLeaveEvent leave;
            QApplication::sendEvent(sidebar->viewport(), &leave);
            return move.isAccepted();
        }
        QDropEvent drop(point, actions, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(sidebar->viewport(), &drop);
        return drop.isAccepted();
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
    }

    void cleanup()
    {
        m_window.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_container.reset();
        m_dir.reset();
    }

    void dragNearEitherEdgeScrollsALongList()
    {
        BookmarkGroup *big = addGroup(QStringLiteral("大组"), 0, 500);
        showWindow();
        view()->setSelectedGroup(big);
        BookmarkRowList *rows = pane()->listView();
        pane()->model()->sortNow();
        QScrollBar *bar = rows->verticalScrollBar();
        QCOMPARE(bar->value(), 0);
        QMimeData *data = pane()->beginDrag(pane()->model()->itemAt(0));
        const Qt::DropActions actions = Qt::MoveAction | Qt::CopyAction;
        QWidget *viewport = rows->viewport();
        const QPoint nearBottom(viewport->width() / 2, viewport->height() - 3);
        QDragEnterEvent enter(
            QPoint(viewport->width() / 2, 80), actions, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &enter);
        QDragMoveEvent down(nearBottom, actions, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &down);
        DragAutoScroller *scroller = rows->autoScroller();
        QVERIFY(scroller->isScrolling());
        for (int i = 0; i < 50; ++i)
            QVERIFY(scroller->step());
        const int scrolled = bar->value();
        QVERIFY2(scrolled > 50 * 10, qPrintable(QString::number(scrolled)));
        // The row under the resting pointer is the target now, far below the first screen.
        BookmarkItem *target = pane()->dropState()->targetItem();
        QVERIFY(target);
        QVERIFY(pane()->model()->rowOf(target) > 10);

        // Away from the edges it stops; at the top it goes back up.
        QDragMoveEvent middle(QPoint(viewport->width() / 2, viewport->height() / 2), actions, data,
            Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &middle);
        QVERIFY(!scroller->isScrolling());
        QDragMoveEvent up(QPoint(viewport->width() / 2, 2), actions, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &up);
        QVERIFY(scroller->isScrolling());
        QVERIFY(scroller->step());
        QVERIFY(bar->value() < scrolled);

        // Dropped there, the first link lands deep in the list.
        QDropEvent drop(nearBottom, actions, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &drop);
        QVERIFY(!scroller->isScrolling());
        delete data;
        pane()->endDrag();
    }

    void anAddedLinkIsScrolledToAndCurrent()
    {
        BookmarkGroup *big = addGroup(QStringLiteral("大组"), 0, 200);
        showWindow();
        view()->setSelectedGroup(big);
        BookmarkRowList *rows = pane()->listView();
        pane()->model()->sortNow();
        QCOMPARE(rows->verticalScrollBar()->value(), 0);
        pane()->addLinkAction()->trigger();
        TextFieldAlert *alert = pane()->addLinkAlert();
        // Loopback, where nothing listens: the fetch ends at once.
        QTest::keyClicks(alert->field(), QStringLiteral("127.0.0.1:9/new"));
        QTest::keyClick(alert->field(), Qt::Key_Return);
        QVERIFY(!pane()->showAddLinkSheet());
        const int row = rows->currentIndex().row();
        QCOMPARE(row, 200);
        QCOMPARE(pane()->model()->itemAt(row)->urlString(), QStringLiteral("https://127.0.0.1:9/new"));
        QVERIFY(rows->verticalScrollBar()->value() > 0);
        QVERIFY(rows->viewport()->rect().contains(rows->visualRect(rows->currentIndex())));
        QTRY_VERIFY(rows->hasFocus());
    }

    void dragImageIsSmallTranslucentAndBesideThePointer()
    {
        BookmarkGroup *group = addGroup(QStringLiteral("工作"), 0, 3);
        showWindow();
        view()->setSelectedGroup(group);
        pane()->model()->sortNow();
        BookmarkRowList *rows = pane()->listView();
        QPoint hotSpot;
        const QPixmap image = rows->dragPixmap(pane()->model()->itemAt(1), &hotSpot);
        QVERIFY(!image.isNull());
        const QSize logical = image.deviceIndependentSize().toSize();
        QVERIFY(logical.width() < rows->viewport()->width());
        QVERIFY(logical.height() < BookmarkRowView::rowHeight);
        // The pointer is above and left of the picture, not on it.
        QVERIFY(hotSpot.x() < 0 && hotSpot.y() < 0);
        const QImage pixels = image.toImage();
        int opaque = 0;
        int translucent = 0;
        for (int y = 0; y < pixels.height(); ++y) {
            for (int x = 0; x < pixels.width(); ++x) {
                const int alpha = pixels.pixelColor(x, y).alpha();
                if (alpha == 255)
                    ++opaque;
                else if (alpha > 0)
                    ++translucent;
            }
        }
        QCOMPARE(opaque, 0);
        QVERIFY(translucent > pixels.width() * pixels.height() / 2);
    }

    void dropOnASidebarGroupMovesTheLinkToItsEnd()
    {
        BookmarkGroup *home = addGroup(QStringLiteral("家"), 0, 3);
        BookmarkGroup *work = addGroup(QStringLiteral("工作"), 1, 2);
        (new BookmarkItem(QStringLiteral("https://last.example"), work))->setSortOrder(40);
        QVERIFY(context()->save());
        showWindow();
        view()->setSelectedGroup(home);
        pane()->model()->sortNow();
        BookmarkItem *moving = pane()->model()->itemAt(1);
        const QString url = moving->urlString();
        std::unique_ptr<QMimeData> data(pane()->beginDrag(moving));

        // Over its own group nothing would happen, and nothing lights up.
        BookmarkGroup *highlighted = nullptr;
        QVERIFY(!dropOnSidebar(data.get(), 0, false, &highlighted));
        QCOMPARE(highlighted, nullptr);
        // Over another group, that group lights up until the drag leaves.
        QVERIFY(dropOnSidebar(data.get(), 1, false, &highlighted));
        QCOMPARE(highlighted, work);
        QCOMPARE(view()->dropGroup(), nullptr);

        QVERIFY(dropOnSidebar(data.get(), 1, true));
        pane()->endDrag();
        QCOMPARE(view()->dropGroup(), nullptr);
        QCOMPARE(moving->group(), work);
        QCOMPARE(urls(work).last(), url);
        QCOMPARE(moving->sortOrder(), 41);
        QCOMPARE(home->bookmarks().size(), 2);
        pane()->model()->sortNow();
        QCOMPARE(pane()->model()->rowCount(), 2);
        QVERIFY(!context()->hasChanges());

        // Plain text from another program is no link of ours.
        QMimeData text;
        text.setText(QStringLiteral("https://elsewhere.example"));
        QVERIFY(!dropOnSidebar(&text, 1, true));
        QCOMPARE(work->bookmarks().size(), 4);
    }

    void rowMenuMovesToTheOtherGroups()
    {
        BookmarkGroup *home = addGroup(QStringLiteral("家"), 0, 2);
        BookmarkGroup *work = addGroup(QStringLiteral("工作"), 1, 1);
        addGroup(QStringLiteral("空"), 2, 0);
        showWindow();
        view()->setSelectedGroup(home);
        pane()->model()->sortNow();
        BookmarkItem *link = pane()->model()->itemAt(0);
        std::unique_ptr<ContextMenu> menu(pane()->createBookmarkMenu(link, nullptr));
        QMenu *moveTo = menu->findChild<QMenu *>(QStringLiteral("moveToGroupMenu"));
        QVERIFY(moveTo);
        QCOMPARE(moveTo->title(), QStringLiteral("移动到分组"));
        QStringList names;
        for (QAction *action : moveTo->actions())
            names << action->text();
        QCOMPARE(names, QStringList({ QStringLiteral("工作"), QStringLiteral("空") }));
        moveTo->actions().first()->trigger();
        QCOMPARE(link->group(), work);
        QCOMPARE(link->sortOrder(), 1);
        QCOMPARE(urls(work).last(), link->urlString());

        // The one group there is: nowhere to move to.
        QVERIFY(!LinkMover::moveToGroup(context(), link, work));
        QVERIFY(!LinkMover::moveToGroup(context(), nullptr, work));
        view()->setSelectedGroup(work);
        context()->remove(home);
        for (BookmarkGroup *group : context()->groups()) {
            if (group != work)
                context()->remove(group);
        }
        std::unique_ptr<ContextMenu> lonely(pane()->createBookmarkMenu(link, nullptr));
        QVERIFY(!lonely->findChild<QMenu *>(QStringLiteral("moveToGroupMenu"))->isEnabled());
    }
};

BRAMBLE_TEST_MAIN(DragTest)
#include "tst_drag.moc"
