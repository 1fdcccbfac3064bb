#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"
#include "model/ModelContainer.h"
#include "model/ModelContext.h"
#include "support/TestEnvironment.h"
#include "ui/GroupsMenuBarView.h"
#include "ui/OpenAllAlert.h"
#include "ui/Symbols.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

// The tray menu: what opens, in which order, and after which question.
class TrayTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ModelContainer> m_container;
    std::unique_ptr<GroupsMenuBarView> m_tray;
    QStringList m_opened;

    ModelContext *context() const { return m_container->mainContext(); }

    BookmarkGroup *groupWith(int links)
    {
        auto *group = new BookmarkGroup(QStringLiteral("大组"));
        context()->insert(group);
        // Positions run against creation order, as after a drag.
        for (int i = 0; i < links; ++i)
            (new BookmarkItem(QStringLiteral("https://%1.example").arg(i), group))->setSortOrder(links - i);
        return group;
    }

    QAction *actionFor(const QString &text) const
    {
        m_tray->rebuild();
        for (QAction *action : m_tray->menu()->actions()) {
            if (action->text().startsWith(text))
                return action;
        }
        return nullptr;
    }

    // Pixels of the picture that stand out from a panel of this colour.
    static int visibleOn(const QIcon &icon, const QColor &panel)
    {
        QImage image(22, 22, QImage::Format_ARGB32);
        image.fill(panel);
        QPainter painter(&image);
        icon.paint(&painter, image.rect());
        painter.end();
        int visible = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                const int difference = std::abs(pixel.red() - panel.red())
                    + std::abs(pixel.green() - panel.green()) + std::abs(pixel.blue() - panel.blue());
                if (difference > 120)
                    ++visible;
            }
        }
        return visible;
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QString error;
        m_container = ModelContainer::open(m_dir->filePath(QStringLiteral("store.sqlite")), &error);
        QVERIFY2(m_container, qPrintable(error));
        m_tray = std::make_unique<GroupsMenuBarView>(context());
        m_opened.clear();
        m_tray->setOpener([this](const QString &url) {
            m_opened << url;
            return true;
        });
    }

    void cleanup()
    {
        m_tray.reset();
        m_container.reset();
        m_dir.reset();
    }

    void aGroupOfFifteenOpensAtOnceInListOrder()
    {
        groupWith(15);
        actionFor(QStringLiteral("大组 (15)"))->trigger();
        QVERIFY(!m_tray->openAllAlert());
        QCOMPARE(m_opened.size(), 15);
        QCOMPARE(m_opened.first(), QStringLiteral("https://14.example"));
        QCOMPARE(m_opened.last(), QStringLiteral("https://0.example"));
    }

    void moreThanFifteenAskFirst()
    {
        groupWith(500);
        actionFor(QStringLiteral("大组 (500)"))->trigger();
        OpenAllAlert *alert = m_tray->openAllAlert();
        QVERIFY(alert);
        QVERIFY(m_opened.isEmpty());
        QCOMPARE(alert->text(), QStringLiteral("这将同时打开 500 个网页链接。"));
        QCOMPARE(alert->windowTitle(), QStringLiteral("确认打开全部?"));
        // Escape and 取消 open nothing.
        QTest::keyClick(alert, Qt::Key_Escape);
        QTRY_VERIFY(!m_tray->openAllAlert());
        QVERIFY(m_opened.isEmpty());

        actionFor(QStringLiteral("大组"))->trigger();
        m_tray->openAllAlert()->cancelButton()->click();
        QTRY_VERIFY(!m_tray->openAllAlert());
        QVERIFY(m_opened.isEmpty());

        actionFor(QStringLiteral("大组"))->trigger();
        m_tray->openAllAlert()->openButton()->click();
        QCOMPARE(m_opened.size(), 500);
        QCOMPARE(m_opened.first(), QStringLiteral("https://499.example"));
    }

    void aGroupDeletedWhileAskingOpensNothing()
    {
        BookmarkGroup *group = groupWith(16);
        actionFor(QStringLiteral("大组"))->trigger();
        QVERIFY(m_tray->openAllAlert());
        context()->remove(group);
        m_tray->openAllAlert()->openButton()->click();
        QVERIFY(m_opened.isEmpty());
    }

    void headingIsNoCommand()
    {
        QAction *heading = actionFor(QStringLiteral("Bramble Groups"));
        QVERIFY(heading);
        QVERIFY(!heading->isEnabled());
        // The keyboard skips it as the pointer does.
        m_tray->menu()->popup(QPoint(10, 10));
        QVERIFY(QTest::qWaitForWindowExposed(m_tray->menu()));
        QTest::keyClick(m_tray->menu(), Qt::Key_Down);
        QVERIFY(m_tray->menu()->activeAction() != heading);
        m_tray->menu()->hide();
    }

    void trayIconShowsOnLightAndDarkPanels()
    {
        const QIcon icon = Symbols::trayIcon();
        const int area = 22 * 22;
        QVERIFY2(visibleOn(icon, QColor(0xf6, 0xf5, 0xf4)) > area / 3, "light panel");
        QVERIFY2(visibleOn(icon, QColor(0x24, 0x24, 0x24)) > area / 4, "dark panel");
    }
};

BRAMBLE_TEST_MAIN(TrayTest)
#include "tst_tray.moc"
