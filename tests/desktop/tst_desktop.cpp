#include "BuildConfig.h"
#include "app/BrambleApp.h"
#include "app/MainWindow.h"
#include "exchange/DataExchange.h"
#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"
#include "model/DataSeeder.h"
#include "model/ModelContainer.h"
#include "model/ModelContext.h"
#include "platform/LoginItem.h"
#include "support/TestEnvironment.h"
#include "support/TestHttpServer.h"
#include "ui/BookmarkListView.h"
#include "ui/ContentView.h"
#include "ui/GroupsMenuBarView.h"
#include "ui/SettingsView.h"
#include "update/UpdaterViewModel.h"
#include "update/framework/UpdateSignature.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QSystemTrayIcon>
#include <QTabWidget>
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

    static QMessageBox *cannotOpenAlert()
    {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (widget->objectName() == QStringLiteral("cannotOpenAlert") && widget->isVisible())
                return qobject_cast<QMessageBox *>(widget);
        }
        return nullptr;
    }

private Q_SLOTS:
    void initTestCase()
    {
        // A window over an empty store seeds the example links; their pages are no concern
        // here, and their names must never reach a resolver.
        DataSeeder::setFetchFunction(
            [](const QString &) -> QCoro::Task<LinkMetadata> { co_return LinkMetadata {}; });
    }

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
            return url.startsWith(QStringLiteral("https://"));
        });
        QAction updates(QStringLiteral("Check for Updates..."));
        view.setCheckForUpdatesAction(&updates);

        view.rebuild();
        QCOMPARE(texts(view.menu()),
            (QStringList { QStringLiteral("Bramble Groups"), QStringLiteral("---"),
                QStringLiteral("暂无分组"), QStringLiteral("---"), QStringLiteral("显示 Bramble"),
                QStringLiteral("搜索…"), QStringLiteral("设置"), QStringLiteral("Check for Updates..."),
                QStringLiteral("---"), QStringLiteral("Quit Bramble") }));
        QVERIFY(!find(view.menu(), QStringLiteral("暂无分组"))->isEnabled());
        QCOMPARE(find(view.menu(), QStringLiteral("Quit Bramble"))->shortcut(),
            QKeySequence(Qt::CTRL | Qt::Key_Q));

        auto *newer = new BookmarkGroup(QStringLiteral("Work"));
        newer->setSortOrder(0);
        auto *older = new BookmarkGroup(QStringLiteral("Empty"));
        older->setCreatedAt(newer->createdAt().addDays(-1));
        older->setSortOrder(1);
        context->insert(newer);
        context->insert(older);
        for (const char *url : { "https://a.example", "not a url", "https://b.example" })
            new BookmarkItem(QString::fromLatin1(url), newer);
        QCoreApplication::processEvents(); // the menu follows the store by itself
        QCOMPARE(texts(view.menu()).mid(2, 2),
            (QStringList { QStringLiteral("Empty (0)"), QStringLiteral("Work (3)") }));

        find(view.menu(), QStringLiteral("Empty (0)"))->trigger();
        QVERIFY(opened.isEmpty());
        QVERIFY(!cannotOpenAlert());
        find(view.menu(), QStringLiteral("Work (3)"))->trigger();
        QCOMPARE(opened,
            (QStringList { QStringLiteral("https://a.example"), QStringLiteral("not a url"),
                QStringLiteral("https://b.example") }));
        // The tray has no window, so the alert stands on its own and names what was skipped.
        QMessageBox *alert = cannotOpenAlert();
        QVERIFY(alert);
        QCOMPARE(alert->informativeText(), QStringLiteral("not a url"));
        alert->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

        newer->setName(QStringLiteral("R&D"));
        QCoreApplication::processEvents();
        QVERIFY(find(view.menu(), QStringLiteral("R&&D (3)")));

        QSignalSpy settings(&view, &GroupsMenuBarView::settingsRequested);
        find(view.menu(), QStringLiteral("设置"))->trigger();
        QCOMPARE(settings.count(), 1);
    }

    void settingsSwitchShowsTheRealState()
    {
        QTemporaryDir dir;
        QString error;
        auto container = ModelContainer::open(dir.filePath(QStringLiteral("s.sqlite")), &error);
        QVERIFY(container);
        DataExchange exchange(container->mainContext());

        QVERIFY(LoginItem::enable());
        {
            SettingsView view(container->mainContext(), &exchange);
            QCOMPARE(view.size(), QSize(320, 330));
            QCOMPARE(view.tabs()->count(), 1);
            QCOMPARE(view.tabs()->tabText(0), QStringLiteral("General"));
            view.show();
            QVERIFY(view.launchAtLogin());
            QVERIFY(view.launchAtLoginSwitch()->isChecked());
            view.launchAtLoginSwitch()->click();
            QVERIFY(!LoginItem::isEnabled());
            QVERIFY(!view.launchAtLogin());
        }

        // A refused registration prints its line and flips the switch back.
        const QString folder = QFileInfo(LoginItem::entryPath()).absolutePath();
        QDir(folder).removeRecursively();
        QFile blocker(folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        SettingsView view(container->mainContext(), &exchange);
        view.show();
        QVERIFY(!view.launchAtLoginSwitch()->isChecked());
        view.launchAtLoginSwitch()->click();
        QVERIFY(!view.launchAtLoginSwitch()->isChecked());
        QVERIFY(!view.launchAtLogin());
    }

    void settingsImportShowsProgressAndResult()
    {
        QTemporaryDir dir;
        QString error;
        auto container = ModelContainer::open(dir.filePath(QStringLiteral("s.sqlite")), &error);
        QVERIFY(container);
        ModelContext *context = container->mainContext();
        DataExchange exchange(context);
        exchange.setSignalHook([](const QString &, const QMap<QString, QString> &) {});
        exchange.setFetchFunction([](QString) -> QCoro::Task<LinkMetadata> { co_return LinkMetadata {}; });
        auto *group = new BookmarkGroup(QStringLiteral("组"));
        context->insert(group);
        new BookmarkItem(QStringLiteral("https://a.example"), group);

        SettingsView view(context, &exchange);
        view.show();
        const QString file = dir.filePath(QStringLiteral("backup.json"));
        QSignalSpy exported(&view, &SettingsView::exportFinished);
        view.exportTo(file);
        QVERIFY(exported.wait(5000));
        QVERIFY(exported.first().first().toBool());

        QSignalSpy imported(&view, &SettingsView::importFinished);
        QStringList texts;
        bool coveredWhileImporting = true;
        connect(&exchange, &DataExchange::importProgressChanged, &view, [&] {
            texts << view.progressText()->text();
            coveredWhileImporting = coveredWhileImporting && view.isImporting()
                && view.progressSheet()->isVisible() && !view.importButton()->isEnabled();
        });
        view.importFrom(file);
        QVERIFY(imported.count() == 1 || imported.wait(5000));
        QCOMPARE(texts, (QStringList { QStringLiteral("50%"), QStringLiteral("100%") }));
        QVERIFY(coveredWhileImporting);
        QVERIFY(imported.first().first().toBool());
        QVERIFY(!view.progressSheet()->isVisible());
        QCOMPARE(view.progressText()->text(), QStringLiteral("100%"));
        QCOMPARE(context->groupCount(), 2);
        QVERIFY(view.resultAlert());
        QCOMPARE(view.resultAlert()->text(), QStringLiteral("Import Successful"));

        // A file that is not an export shows the decoder's message.
        QFile bad(dir.filePath(QStringLiteral("bad.json")));
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("{\"groups\": 5}");
        bad.close();
        imported.clear();
        view.importFrom(bad.fileName());
        QVERIFY(imported.count() == 1 || imported.wait(5000));
        QVERIFY(!imported.first().first().toBool());
        QCOMPARE(view.resultAlert()->text(), QStringLiteral("Import Failed"));
        QVERIFY(view.importError().has_value());
        QCOMPARE(view.resultAlert()->informativeText(), *view.importError());
        // The decoder's message quotes the file: it is shown as text.
        const auto *informative
            = view.resultAlert()->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel"));
        QVERIFY(informative);
        QCOMPARE(informative->textFormat(), Qt::PlainText);
        QCOMPARE(context->groupCount(), 2);
    }

    void namesAndTitlesArePlainText()
    {
        QTemporaryDir dir;
        // Drawn as rich text, the name would load this picture and stand 300 pixels tall.
        const QString picture = dir.filePath(QStringLiteral("local.png"));
        QImage image(300, 300, QImage::Format_RGB32);
        image.fill(Qt::red);
        QVERIFY(image.save(picture));
        const QString name
            = QStringLiteral("<h1><font color=red>BIG</font></h1><img src=\"%1\">").arg(picture);
        QString error;
        auto container = ModelContainer::open(dir.filePath(QStringLiteral("s.sqlite")), &error);
        QVERIFY(container);
        auto *group = new BookmarkGroup(name);
        container->mainContext()->insert(group);
        auto *link = new BookmarkItem(QStringLiteral("mailto:<b>x</b>@example.com"), group);
        link->setTitle(name);
        container->mainContext()->insert(link);
        BrambleApp app(std::move(container));
        MainWindow *window = app.mainWindow();
        window->show();
        window->contentView()->setSelectedGroup(group);
        auto *list = qobject_cast<BookmarkListView *>(window->contentView()->currentDetail());
        QVERIFY(list);
        list->openBookmark(link, true);

        QList<QLabel *> labels = window->findChildren<QLabel *>();
        for (QWidget *top : QApplication::topLevelWidgets())
            labels += top->findChildren<QLabel *>();
        int showingName = 0;
        for (QLabel *label : std::as_const(labels)) {
            if (!label->text().contains(QStringLiteral("<h1>"))
                && !label->text().contains(QStringLiteral("<b>")))
                continue;
            ++showingName;
            QVERIFY2(label->textFormat() == Qt::PlainText, qPrintable(label->objectName()));
            QVERIFY2(label->sizeHint().height() < 100, qPrintable(label->objectName()));
        }
        // The pane's title and the alert about the mailto: link.
        QVERIFY(showingName >= 2);
        QMessageBox *alert = cannotOpenAlert();
        QVERIFY(alert);
        alert->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        // The tray menu shows the name as it is ("&" aside).
        app.groupsMenu()->rebuild();
        QVERIFY(find(app.groupsMenu()->menu(), name + QStringLiteral(" (1)")));
    }

    void trayOutlivesTheWindow()
    {
        QTemporaryDir dir;
        QString error;
        auto container = ModelContainer::open(dir.filePath(QStringLiteral("s.sqlite")), &error);
        QVERIFY(container);
        container->mainContext()->insert(new BookmarkGroup(QStringLiteral("Work")));
        {
            // Without a tray, closing the window quits as before.
            BrambleApp app(std::move(container));
            app.groupsMenu()->setTrayAvailability([] { return false; });
            app.showMainWindow();
            app.showTrayMenu();
            QVERIFY(!app.groupsMenu()->isInTray());
            QVERIFY(QGuiApplication::quitOnLastWindowClosed());
            container = ModelContainer::open(dir.filePath(QStringLiteral("t.sqlite")), &error);
        }
        BrambleApp app(std::move(container));
        app.groupsMenu()->setTrayAvailability([] { return true; });
        MainWindow *window = app.mainWindow();
        app.showMainWindow();
        app.showTrayMenu();
        QVERIFY(app.groupsMenu()->isInTray());
        QVERIFY(!QGuiApplication::quitOnLastWindowClosed());

        // Closed, the window is gone but Bramble is not; the tray brings it back.
        QVERIFY(window->close());
        QVERIFY(!window->isVisible());
        QAction *show = find(app.groupsMenu()->menu(), QStringLiteral("显示 Bramble"));
        QVERIFY(show);
        show->trigger();
        QVERIFY(window->isVisible());
        QCOMPARE(app.mainWindow(), window);

        // A left click on the icon opens the menu.
        QVERIFY(!app.groupsMenu()->menu()->isVisible());
        Q_EMIT app.groupsMenu()->trayIcon()->activated(QSystemTrayIcon::Trigger);
        QTRY_VERIFY(app.groupsMenu()->menu()->isVisible());
        app.groupsMenu()->menu()->hide();
        QGuiApplication::setQuitOnLastWindowClosed(true);
    }

    void applicationIsWiredTogether()
    {
        QTemporaryDir dir;
        QString error;
        auto container = ModelContainer::open(dir.filePath(QStringLiteral("s.sqlite")), &error);
        QVERIFY(container);
        auto *group = new BookmarkGroup(QStringLiteral("Work"));
        container->mainContext()->insert(group);
        BrambleApp app(std::move(container));
        MainWindow *window = app.mainWindow();

        QStringList menu;
        for (QAction *action : window->applicationMenu()->actions()) {
            if (!action->isSeparator())
                menu << action->text();
        }
        QCOMPARE(menu,
            (QStringList { QStringLiteral("About Bramble"), QStringLiteral("Check for Updates..."),
                QStringLiteral("Settings…"), QStringLiteral("Quit Bramble") }));
        QVERIFY(find(app.groupsMenu()->menu(), QStringLiteral("Check for Updates...")));

        // One settings window, with both tabs, reached from the menu and from the tray.
        find(window->applicationMenu(), QStringLiteral("Settings…"))->trigger();
        QVERIFY(app.settingsView());
        QCOMPARE(app.settingsView()->tabs()->count(), 2);
        QCOMPARE(app.settingsView()->tabs()->tabText(1), QStringLiteral("Updates"));
        SettingsView *settings = app.settingsView();
        find(app.groupsMenu()->menu(), QStringLiteral("设置"))->trigger();
        QCOMPARE(app.settingsView(), settings);

        // The detail column of a chosen group is its bookmark list.
        window->contentView()->setSelectedGroup(group);
        QVERIFY(qobject_cast<BookmarkListView *>(window->contentView()->currentDetail()));
    }

    void checkForUpdatesNeedsAFeed_data()
    {
        QTest::addColumn<bool>("withFeed");
        QTest::newRow("no feed") << false;
        QTest::newRow("loopback feed") << true;
    }

    void checkForUpdatesNeedsAFeed()
    {
        QFETCH(bool, withFeed);
        // The key is the build's own: a build without one can have no feed.
        if (withFeed
            && !UpdateSignature::isValidPublicKey(QByteArray(BuildConfig::updatePublicKey).trimmed()))
            QSKIP("This build has no update key");
        // Never asked: the first check is due long after the test.
        TestHttpServer feed;
        QVERIFY(feed.start());
        const QByteArray before = qgetenv("BRAMBLE_UPDATE_FEED_URL");
        const auto restore = qScopeGuard([before] { qputenv("BRAMBLE_UPDATE_FEED_URL", before); });
        // A .invalid host is how a build made without a feed says so.
        qputenv("BRAMBLE_UPDATE_FEED_URL",
            withFeed ? feed.url(QStringLiteral("/updates/")).toUtf8()
                     : "https://updates.bramble.invalid/linux/");

        QTemporaryDir dir;
        QString error;
        auto container = ModelContainer::open(dir.filePath(QStringLiteral("s.sqlite")), &error);
        QVERIFY2(container, qPrintable(error));
        container->mainContext()->insert(new BookmarkGroup(QStringLiteral("Work")));
        BrambleApp app(std::move(container));
        QAction *check = find(app.mainWindow()->applicationMenu(), QStringLiteral("Check for Updates..."));
        QAction *trayCheck = find(app.groupsMenu()->menu(), QStringLiteral("Check for Updates..."));
        QVERIFY(check && trayCheck);
        UpdaterViewModel *updater = app.updaterViewModel();
        QCOMPARE(updater->updatesConfigured(), withFeed);
        QTRY_VERIFY(updater->updaterController());
        if (withFeed) {
            QTRY_VERIFY(check->isEnabled());
            QVERIFY(trayCheck->isEnabled());
        } else {
            QVERIFY(!check->isEnabled());
            QVERIFY(!trayCheck->isEnabled());
        }
    }
};

BRAMBLE_TEST_MAIN(DesktopTest)
#include "tst_desktop.moc"
