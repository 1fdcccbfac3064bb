#include "app/MainWindow.h"
#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"
#include "model/BookmarkListModel.h"
#include "model/ModelContainer.h"
#include "model/ModelContext.h"
#include "platform/AppSignals.h"
#include "support/TestEnvironment.h"
#include "ui/BookmarkListView.h"
#include "ui/BookmarkRowList.h"
#include "ui/BookmarkRowView.h"
#include "ui/ContentView.h"

#include <QApplication>
#include <QImage>
#include <QListView>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

// The row the keyboard is on is marked with a ring in the list and in the sidebar, drawn
// while that view has the focus, and only on that row.
class FocusMarkTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ModelContainer> m_container;
    std::unique_ptr<MainWindow> m_window;
    BookmarkGroup *m_first = nullptr;

    ModelContext *context() const { return m_container->mainContext(); }
    ContentView *content() const { return m_window->contentView(); }
    QListView *sidebar() const { return content()->sidebarList(); }
    BookmarkListView *pane() const { return qobject_cast<BookmarkListView *>(content()->currentDetail()); }
    QListView *rows() const { return pane()->listView(); }

    static bool near(const QColor &a, const QColor &b)
    {
        constexpr int tolerance = 12;
        return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance
            && std::abs(a.blue() - b.blue()) <= tolerance;
    }

    // The share of the band's columns that hold the colour somewhere: a ring along the edge
    // fills nearly all of them; a row without one, none.
    static double markedShare(const QImage &image, const QRect &band, const QColor &colour)
    {
        int marked = 0;
        for (int x = band.left(); x <= band.right(); ++x) {
            for (int y = band.top(); y <= band.bottom(); ++y) {
                if (near(image.pixelColor(x, y), colour)) {
                    ++marked;
                    break;
                }
            }
        }
        return band.width() > 0 ? double(marked) / band.width() : 0;
    }

    static QImage picture(QListView *view)
    {
        QCoreApplication::processEvents();
        return view->viewport()->grab().toImage();
    }

    // The straight stretch of a link card's top edge, where its ring runs.
    QRect linkEdge(int row) const
    {
        const QRect card = pane()->rowView()->cardRect(rows()->visualRect(pane()->model()->index(row)));
        return QRect(card.left() + 16, card.top(), card.width() - 32, 3);
    }

    double linkMark(int row) const
    {
        const QColor ring = rows()->palette().color(QPalette::Active, QPalette::Highlight);
        return markedShare(picture(rows()), linkEdge(row), ring);
    }

    // The sidebar's ring is darker on the selected row, so that it shows on the highlight.
    double groupMark(int row) const
    {
        const QModelIndex index = sidebar()->model()->index(row, 0);
        QColor ring = sidebar()->palette().color(QPalette::Active, QPalette::Highlight);
        if (sidebar()->selectionModel()->isSelected(index))
            ring = ring.darker(160);
        const QRect rect = sidebar()->visualRect(index);
        return markedShare(
            picture(sidebar()), QRect(rect.left() + 12, rect.top(), rect.width() - 24, 4), ring);
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QString error;
        m_container = ModelContainer::open(m_dir->filePath(QStringLiteral("store.sqlite")), &error);
        QVERIFY2(m_container, qPrintable(error));
        AppSignals::setSender([](const QString &, const AppSignals::Parameters &) {});
        const QStringList names { QStringLiteral("工作"), QStringLiteral("个人"), QStringLiteral("其他") };
        for (int i = 0; i < names.size(); ++i) {
            auto *group = new BookmarkGroup(names.at(i));
            group->setSortOrder(i);
            context()->insert(group);
            if (i == 0)
                m_first = group;
        }
        for (int i = 0; i < 3; ++i) {
            auto *link = new BookmarkItem(QStringLiteral("https://%1.example").arg(i), m_first);
            link->setTitle(QStringLiteral("Link %1").arg(i));
            link->setSortOrder(i);
        }
        m_window = std::make_unique<MainWindow>(context());
        content()->setSeeder([](ModelContext *) {});
        content()->setDetailFactory(
            [](BookmarkGroup *group, ModelContext *context, QWidget *parent) -> QWidget * {
                return new BookmarkListView(group, context, parent);
            });
        m_window->resize(900, 600);
        m_window->show();
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        content()->setSelectedGroup(m_first);
        QVERIFY(pane());
        pane()->model()->sortNow();
    }

    void cleanup()
    {
        m_window.reset();
        AppSignals::setSender({});
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_container.reset();
        m_dir.reset();
    }

    void linkListMarksTheFocusedRow()
    {
        rows()->setFocus(Qt::TabFocusReason);
        rows()->setCurrentIndex(pane()->model()->index(0));
        QTRY_VERIFY(rows()->hasFocus());
        QVERIFY(linkMark(0) > 0.9);
        QCOMPARE(linkMark(1), 0.0);

        // The mark follows the keyboard.
        QTest::keyClick(rows(), Qt::Key_Down);
        QCOMPARE(rows()->currentIndex().row(), 1);
        QCOMPARE(linkMark(0), 0.0);
        QVERIFY(linkMark(1) > 0.9);

        // With the focus elsewhere, the current row is not marked.
        sidebar()->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(sidebar()->hasFocus());
        QCOMPARE(rows()->currentIndex().row(), 1);
        QCOMPARE(linkMark(1), 0.0);
        QCOMPARE(linkMark(0), 0.0);
    }

    void sidebarMarksTheFocusedRow()
    {
        sidebar()->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(sidebar()->hasFocus());
        QCOMPARE(sidebar()->currentIndex().row(), 0);
        QVERIFY(groupMark(0) > 0.9);
        QCOMPARE(groupMark(1), 0.0);
        QCOMPARE(groupMark(2), 0.0);

        QTest::keyClick(sidebar(), Qt::Key_Down);
        QCOMPARE(sidebar()->currentIndex().row(), 1);
        QCOMPARE(groupMark(0), 0.0);
        QVERIFY(groupMark(1) > 0.9);

        QTest::keyClick(sidebar(), Qt::Key_Tab);
        QTRY_VERIFY(!sidebar()->hasFocus());
        QCOMPARE(groupMark(1), 0.0);
        QCOMPARE(groupMark(0), 0.0);
    }
};

BRAMBLE_TEST_MAIN(FocusMarkTest)
#include "tst_focus_mark.moc"
