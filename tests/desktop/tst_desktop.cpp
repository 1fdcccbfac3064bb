#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"
#include "model/ModelContainer.h"
#include "model/ModelContext.h"
#include "platform/LoginItem.h"
#include "support/TestEnvironment.h"
#include "ui/GroupsMenuBarView.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QTemporaryDir>
#include <QtTest>

class DesktopTest : public QObject
{
    Q_OBJECT

    static QStringList texts(QMenu *menu)
    {
        QStringList result;
        for (QAction *action : menu->actions())
            result << (action->isSeparator() ? QStringLiteral("---") : action->text());
        return result;
    }

    static QAction *find(QMenu *menu, const QString &text)
    {
        for (QAction *action : menu->actions()) {
            if (action->text() == text)
                return action;
        }
        return nullptr;
    }

private Q_SLOTS:
    void cleanup()
    {
        QFile::remove(LoginItem::entryPath());
        QDir(QFileInfo(LoginItem::entryPath()).absolutePath()).removeRecursively();
        QFile::remove(QFileInfo(LoginItem::entryPath()).absolutePath());
    }

    void loginItemFollowsItsEntry()
    {
        QVERIFY(LoginItem::entryPath().startsWith(TestEnvironment::root()));
        QVERIFY(!LoginItem::isEnabled());
        QVERIFY(LoginItem::disable()); // already off: nothing to do

        QString error;
        QVERIFY(LoginItem::enable(&error));
        QVERIFY(LoginItem::isEnabled());
        QFile entry(LoginItem::entryPath());
        QVERIFY(entry.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(entry.readAll());
        entry.close();
        QVERIFY(text.startsWith(QStringLiteral("[Desktop Entry]\n")));
        QVERIFY(text.contains(QStringLiteral("Exec=") + QCoreApplication::applicationFilePath()));
        QVERIFY(LoginItem::enable(&error)); // already on

        // A user who hid the entry in their session settings has turned it off.
        QVERIFY(entry.open(QIODevice::WriteOnly | QIODevice::Append));
        entry.write("Hidden=true\n");
        entry.close();
        QVERIFY(!LoginItem::isEnabled());

        QVERIFY(LoginItem::disable(&error));
        QVERIFY(!QFile::exists(LoginItem::entryPath()));
    }

    void appImageIsWhatStarts()
    {
        qputenv("APPIMAGE", "/opt/My Apps/Bramble.AppImage");
        QVERIFY(LoginItem::enable());
        qunsetenv("APPIMAGE");
        QFile entry(LoginItem::entryPath());
        QVERIFY(entry.open(QIODevice::ReadOnly));
        QVERIFY(entry.readAll().contains("Exec=\"/opt/My Apps/Bramble.AppImage\"\n"));
    }

    void refusedWriteIsReported()
    {
        // A file where the autostart folder must be refuses the write even for root.
        const QString folder = QFileInfo(LoginItem::entryPath()).absolutePath();
        QDir().mkpath(QFileInfo(folder).absolutePath());
        QFile blocker(folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QString error;
        QVERIFY(!LoginItem::enable(&error));
        QVERIFY(!error.isEmpty());
        QVERIFY(!LoginItem::isEnabled());
    }

    void trayMenuListsGroupsOldestFirst()
    {
        QTemporaryDir dir;
        QString error;
        auto container = ModelContainer::open(dir.filePath(QStringLiteral("s.sqlite")), &error);
        QVERIFY(container);
        ModelContext *context = container->mainContext();
        GroupsMenuBarView view(context);
        QStringList opened;
        view.setOpener([&](const QString &url) {
            opened << url;
            return true;
        });
        QAction updates(QStringLiteral("Check for Updates..."));
        view.setCheckForUpdatesAction(&updates);

        view.rebuild();
        QCOMPARE(texts(view.menu()), (QStringList{QStringLiteral("Bramble Groups"), QStringLiteral("---"),
                                                  QStringLiteral("暂无分组"), QStringLiteral("---"),
                                                  QStringLiteral("设置"), QStringLiteral("Check for Updates..."),
                                                  QStringLiteral("---"), QStringLiteral("Quit Bramble")}));
        QVERIFY(!find(view.menu(), QStringLiteral("暂无分组"))->isEnabled());
        QCOMPARE(find(view.menu(), QStringLiteral("Quit Bramble"))->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));

        auto *newer = new BookmarkGroup(QStringLiteral("Work"));
        newer->setSortOrder(0);
        auto *older = new BookmarkGroup(QStringLiteral("Empty"));
        older->setCreatedAt(newer->createdAt().addDays(-1));
        older->setSortOrder(1);
        context->insert(newer);
        context->insert(older);
        for (const char *url : {"https://a.example", "not a url", "https://b.example"})
            new BookmarkItem(QString::fromLatin1(url), newer);
        QCoreApplication::processEvents(); // the menu follows the store by itself
        QCOMPARE(texts(view.menu()).mid(2, 2), (QStringList{QStringLiteral("Empty (0)"), QStringLiteral("Work (3)")}));

        find(view.menu(), QStringLiteral("Empty (0)"))->trigger();
        QVERIFY(opened.isEmpty());
        find(view.menu(), QStringLiteral("Work (3)"))->trigger();
        QCOMPARE(opened, (QStringList{QStringLiteral("https://a.example"), QStringLiteral("not a url"),
                                      QStringLiteral("https://b.example")}));

        newer->setName(QStringLiteral("R&D"));
        QCoreApplication::processEvents();
        QVERIFY(find(view.menu(), QStringLiteral("R&&D (3)")));

        QSignalSpy settings(&view, &GroupsMenuBarView::settingsRequested);
        find(view.menu(), QStringLiteral("设置"))->trigger();
        QCOMPARE(settings.count(), 1);
    }
};

BRAMBLE_TEST_MAIN(DesktopTest)
#include "tst_desktop.moc"
