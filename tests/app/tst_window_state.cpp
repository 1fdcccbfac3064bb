#include "AppSandbox.h"
#include "app/MainWindow.h"
#include "model/BookmarkGroup.h"
#include "model/ModelContainer.h"
#include "model/ModelContext.h"
#include "support/TestEnvironment.h"
#include "ui/ContentView.h"
#include "ui/WelcomeView.h"
#include "ui/WindowState.h"

#include <QApplication>
#include <QMainWindow>
#include <QSettings>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <memory>

using namespace AppTesting;

// What the window remembers, in one process and across real launches of the program.
class WindowStateTest : public QObject
{
    Q_OBJECT

private:
    static QString configPath(const Sandbox &sandbox)
    {
        QString path = sandbox.storePath();
        return path.replace(
            QStringLiteral("/data/Bramble/Bramble.sqlite"), QStringLiteral("/config/Bramble/Bramble.conf"));
    }

    // The size a saved geometry gives a window.
    static QSize restoredSize(const QByteArray &geometry)
    {
        QMainWindow window;
        window.restoreGeometry(geometry);
        return window.size();
    }

    // Runs the program until its window has numbered the groups (so it is shown), then stops it
    // the way the session does at logout.
    static void launchAndQuit(const Sandbox &sandbox, const QStringList &numbered)
    {
        auto process = sandbox.launch();
        QVERIFY(process->waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(storedGroups(sandbox.storePath()), numbered, 60000);
        ::kill(pid_t(process->processId()), SIGTERM);
        QVERIFY(process->waitForFinished(30000));
        QVERIFY2(process->exitStatus() == QProcess::NormalExit && process->exitCode() == 0,
            qPrintable(QStringLiteral("status %1, code %2: %3%4")
                           .arg(int(process->exitStatus()))
                           .arg(process->exitCode())
                           .arg(QString::fromUtf8(process->readAllStandardOutput()),
                               QString::fromUtf8(process->readAllStandardError()))));
    }

    // All positions 0 again, so the window's numbering shows that it is up.
    static void zeroPositions(
        const QString &storePath, const QString &removeGroup = QString(), const QString &addGroup = QString())
    {
        QString error;
        auto container = ModelContainer::open(storePath, &error);
        QVERIFY2(container, qPrintable(error));
        for (BookmarkGroup *group : container->mainContext()->groups()) {
            if (group->name() == removeGroup)
                container->mainContext()->remove(group);
            else
                group->setSortOrder(0);
        }
        if (!addGroup.isEmpty()) {
            auto *added = new BookmarkGroup(addGroup);
            added->setSortOrder(0);
            container->mainContext()->insert(added);
        }
        QVERIFY(container->mainContext()->save());
    }

private Q_SLOTS:
    void titleFollowsTheShownGroup()
    {
        QTemporaryDir dir;
        QString error;
        auto container = ModelContainer::open(dir.filePath(QStringLiteral("s.sqlite")), &error);
        QVERIFY2(container, qPrintable(error));
        auto *work = new BookmarkGroup(QStringLiteral("工作"));
        container->mainContext()->insert(work);
        MainWindow window(container->mainContext());
        window.contentView()->setSeeder([](ModelContext *) {});
        QCOMPARE(window.windowTitle(), QStringLiteral("Bramble"));
        window.contentView()->setSelectedGroup(work);
        QCOMPARE(window.windowTitle(), QStringLiteral("工作 — Bramble"));
        work->setName(QStringLiteral("家"));
        QCOMPARE(window.windowTitle(), QStringLiteral("家 — Bramble"));
        window.contentView()->deleteGroup(work);
        QCOMPARE(window.windowTitle(), QStringLiteral("Bramble"));
    }

    void stateSurvivesTwoRealLaunches()
    {
        Sandbox sandbox;
        {
            QString error;
            auto container = ModelContainer::open(sandbox.storePath(), &error);
            QVERIFY2(container, qPrintable(error));
            container->mainContext()->insert(new BookmarkGroup(QStringLiteral("个人")));
            container->mainContext()->insert(new BookmarkGroup(QStringLiteral("工作")));
            QVERIFY(container->mainContext()->save());
            QCOMPARE(container->mainContext()->groups().last()->name(), QStringLiteral("工作"));
        }
        zeroPositions(sandbox.storePath());

        // What an earlier session left: a larger window, a wider sidebar, 工作 shown.
        const QString conf = configPath(sandbox);
        QByteArray geometry;
        {
            QMainWindow shape;
            shape.resize(1040, 710);
            geometry = shape.saveGeometry();
            QDir().mkpath(QFileInfo(conf).absolutePath());
            QSettings settings(conf, QSettings::IniFormat);
            settings.setValue(WindowState::geometryKey, geometry);
            settings.setValue(WindowState::sidebarWidthKey, 231);
            settings.setValue(WindowState::selectedGroupKey, 2);
        }

        // The first launch restores all of it, so it has the same to save when it quits.
        launchAndQuit(sandbox, { QStringLiteral("个人:0"), QStringLiteral("工作:1") });
        {
            QSettings settings(conf, QSettings::IniFormat);
            QCOMPARE(restoredSize(settings.value(WindowState::geometryKey).toByteArray()), QSize(1040, 710));
            QCOMPARE(settings.value(WindowState::sidebarWidthKey).toInt(), 231);
            QCOMPARE(settings.value(WindowState::selectedGroupKey).toLongLong(), 2);
        }

        // The group is gone by the next launch: the welcome screen, and nothing remembered.
        zeroPositions(sandbox.storePath(), QStringLiteral("工作"), QStringLiteral("新"));
        launchAndQuit(sandbox, { QStringLiteral("个人:0"), QStringLiteral("新:1") });
        {
            QSettings settings(conf, QSettings::IniFormat);
            QVERIFY(!settings.contains(WindowState::selectedGroupKey));
            QCOMPARE(restoredSize(settings.value(WindowState::geometryKey).toByteArray()), QSize(1040, 710));
            QCOMPARE(settings.value(WindowState::sidebarWidthKey).toInt(), 231);
        }
    }

    void savedWhenTheWindowClosesAndRestoredInAnotherWindow()
    {
        QTemporaryDir dir;
        QString error;
        auto container = ModelContainer::open(dir.filePath(QStringLiteral("s.sqlite")), &error);
        QVERIFY2(container, qPrintable(error));
        container->mainContext()->insert(new BookmarkGroup(QStringLiteral("个人")));
        auto *work = new BookmarkGroup(QStringLiteral("工作"));
        work->setSortOrder(1);
        container->mainContext()->insert(work);
        const QString conf = dir.filePath(QStringLiteral("Bramble.conf"));
        {
            MainWindow window(container->mainContext());
            window.contentView()->setSeeder([](ModelContext *) {});
            new WindowState(&window, window.contentView(), conf);
            // Nothing remembered yet: the welcome screen.
            QVERIFY(qobject_cast<WelcomeView *>(window.contentView()->currentDetail()));
            window.resize(980, 640);
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            window.contentView()->splitter()->setSizes({ 244, 700 });
            window.contentView()->setSelectedGroup(work);
            window.close();
        }
        MainWindow again(container->mainContext());
        again.contentView()->setSeeder([](ModelContext *) {});
        new WindowState(&again, again.contentView(), conf);
        QCOMPARE(again.contentView()->selectedGroup(), work);
        QCOMPARE(again.size(), QSize(980, 640));
        again.show();
        QVERIFY(QTest::qWaitForWindowExposed(&again));
        QCOMPARE(again.contentView()->splitter()->sizes().first(), 244);
    }
};

BRAMBLE_TEST_MAIN(WindowStateTest)
#include "tst_window_state.moc"
