// The real program started as the window: its start-up, its store and how it quits.
#include "AppSandbox.h"
#include "model/BookmarkItem.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QTimer>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>

using namespace AppTesting;

class AppTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QFileInfo(Sandbox::program()).isExecutable(), qPrintable(Sandbox::program()));
    }

    void startUpPrintsItsTelemetryLinesFirst()
    {
        Sandbox sandbox;
        sandbox.createStore();
        // Nothing listens there; the lines are printed all the same.
        sandbox.reportTo(QStringLiteral("http://127.0.0.1:9"));
        auto window = sandbox.launch();
        Output output(window.get());
        const QString expected
            = QStringLiteral("✅ Cairn initialized with App ID: 5C1A7E02-8B3D-4F6A-9E21-D4B7C0F3A915\n"
                             "📊 Cairn signal sent: app_launched\n");
        QTRY_VERIFY_WITH_TIMEOUT(output.out().size() >= expected.size(), 30000);
        QVERIFY2(output.out().startsWith(expected), qPrintable(output.out()));
        ::kill(pid_t(window->processId()), SIGTERM);
        QVERIFY(window->waitForFinished(30000));
        QCOMPARE(window->exitCode(), 0);
    }

    void refusedStoreIsLeftUntouched_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QByteArray text;
        for (int i = 0; i < 300; ++i)
            text += "these are my notes, not a database\n";
        QTest::newRow("text file") << text;
        QByteArray fakeHeader("SQLite format 3", 16);
        fakeHeader += QByteArray(4096, '\x5a');
        QTest::newRow("damaged database") << fakeHeader;
    }

    void refusedStoreIsLeftUntouched()
    {
        QFETCH(QByteArray, contents);
        Sandbox sandbox;
        writeFile(sandbox.storePath(), contents);

        auto process = sandbox.launch();
        QVERIFY(process->waitForFinished(30000));
        QCOMPARE(process->exitStatus(), QProcess::NormalExit);
        QVERIFY(process->exitCode() != 0);
        const QString errors = QString::fromUtf8(process->readAllStandardError());
        QVERIFY2(errors.startsWith(QStringLiteral("Could not create ModelContainer: ")), qPrintable(errors));
        QVERIFY(errors.trimmed().size() > QStringLiteral("Could not create ModelContainer:").size());
        QCOMPARE(readFile(sandbox.storePath()), contents);
        // Nothing next to it either: no journal, no lock left behind.
        QCOMPARE(QDir(QFileInfo(sandbox.storePath()).absolutePath()).entryList(QDir::Files | QDir::Hidden),
            QStringList { QStringLiteral("Bramble.sqlite") });
    }

    void newerStoreIsLeftUntouched()
    {
        Sandbox sandbox;
        {
            QString error;
            auto container = ModelContainer::open(sandbox.storePath(), &error);
            QVERIFY2(container, qPrintable(error));
            container->mainContext()->insert(new BookmarkGroup(QStringLiteral("from the future")));
            QVERIFY(container->mainContext()->save());
        }
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bump"));
            db.setDatabaseName(sandbox.storePath());
            QVERIFY(db.open());
            QSqlQuery query(db);
            QVERIFY(query.exec(
                QStringLiteral("UPDATE metadata SET value = '2.0.0' WHERE key = 'schemaVersion'")));
            QVERIFY(query.exec(QStringLiteral("PRAGMA journal_mode = DELETE")));
            query.finish();
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("bump"));
        const QByteArray before = readFile(sandbox.storePath());
        QVERIFY(!before.isEmpty());

        auto process = sandbox.launch();
        QVERIFY(process->waitForFinished(30000));
        QCOMPARE(process->exitStatus(), QProcess::NormalExit);
        QVERIFY(process->exitCode() != 0);
        const QString errors = QString::fromUtf8(process->readAllStandardError());
        QVERIFY2(errors.startsWith(QStringLiteral("Could not create ModelContainer: ")), qPrintable(errors));
        QCOMPARE(readFile(sandbox.storePath()), before);
    }

    void terminationSignalsQuitLikeTheQuitCommand_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGHUP") << SIGHUP;
    }

    void terminationSignalsQuitLikeTheQuitCommand()
    {
        QFETCH(int, signalNumber);
        Sandbox sandbox;
        {
            // Every position 0: the program numbers them by creation date when its window shows.
            QString error;
            auto container = ModelContainer::open(sandbox.storePath(), &error);
            QVERIFY2(container, qPrintable(error));
            ModelContext *context = container->mainContext();
            const QDateTime now = QDateTime::currentDateTimeUtc();
            const QStringList names
                = { QStringLiteral("second"), QStringLiteral("first"), QStringLiteral("third") };
            const int ages[] = { 20, 30, 10 };
            for (int i = 0; i < 3; ++i) {
                auto *group = new BookmarkGroup(names.at(i));
                group->setSortOrder(0);
                group->setCreatedAt(now.addSecs(-ages[i]));
                context->insert(group);
                auto *item = new BookmarkItem(QStringLiteral("https://example.com/%1").arg(i), group);
                item->setTitle(QStringLiteral(""));
                context->insert(item);
            }
            QVERIFY(context->save());
        }

        auto process = sandbox.launch();
        Output output(process.get());
        QVERIFY(process->waitForStarted());
        const QStringList numbered
            = { QStringLiteral("first:0"), QStringLiteral("second:1"), QStringLiteral("third:2") };
        QTRY_COMPARE_WITH_TIMEOUT(storedGroups(sandbox.storePath()), numbered, 30000);
        QVERIFY(sandbox.isListening());

        // A change the window has not been able to save when the signal comes: another program
        // holds the store, so only the save at quitting can keep it.
        QSqlDatabase holder = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
        holder.setDatabaseName(sandbox.storePath());
        QVERIFY(holder.open());
        QVERIFY(QSqlQuery(holder).exec(QStringLiteral("BEGIN IMMEDIATE")));
        const QString pending = QStringLiteral("http://127.0.0.1:9/typed-before-the-signal");
        QCOMPARE(
            sandbox
                .run({ QStringLiteral("add"), pending, QStringLiteral("--group"), QStringLiteral("first") })
                .status,
            0);
        QTRY_VERIFY_WITH_TIMEOUT(output.err().contains(QStringLiteral("Could not save changes: ")), 30000);
        QCOMPARE(storedLinks(sandbox.storePath()).size(), 3);

        ::kill(pid_t(process->processId()), signalNumber);
        // The other program lets go a moment later, while the window quits.
        QTimer::singleShot(300, this, [&holder] { QSqlQuery(holder).exec(QStringLiteral("ROLLBACK")); });
        QTRY_VERIFY_WITH_TIMEOUT(process->state() == QProcess::NotRunning, 30000);
        holder.close();
        holder = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("holder"));
        QCOMPARE(process->exitStatus(), QProcess::NormalExit);
        QCOMPARE(process->exitCode(), 0);
        // An orderly quit releases the lock and the socket.
        QVERIFY(!QFile::exists(sandbox.storePath() + QStringLiteral(".lock")));
        QVERIFY(!sandbox.isListening());

        QString error;
        auto container = ModelContainer::open(sandbox.storePath(), &error);
        QVERIFY2(container, qPrintable(error));
        QCOMPARE(container->mainContext()->groupCount(), 3);
        QCOMPARE(container->mainContext()->itemCount(), 4);
        QCOMPARE(container->mainContext()->items().last()->urlString(), pending);
        QCOMPARE(container->mainContext()->items().last()->group()->name(), QStringLiteral("first"));
        QCOMPARE(storedGroups(sandbox.storePath()), numbered);
    }

    void terminationDuringStartUpQuitsCleanly()
    {
        // The signal comes the moment the lock file appears, before any window is shown.
        for (int round = 0; round < 5; ++round) {
            Sandbox sandbox;
            sandbox.createStore();
            const QString folder = QFileInfo(sandbox.storePath()).absolutePath();
            const int watch = ::inotify_init1(IN_CLOEXEC);
            QVERIFY(watch >= 0);
            QVERIFY(::inotify_add_watch(watch, folder.toLocal8Bit().constData(), IN_CREATE) >= 0);
            auto process = sandbox.launch();
            QVERIFY(process->waitForStarted());
            const pid_t pid = pid_t(process->processId());
            std::thread signaller([watch, pid] {
                alignas(inotify_event) char buffer[4096];
                for (;;) {
                    pollfd ready { watch, POLLIN, 0 };
                    if (::poll(&ready, 1, 30000) <= 0)
                        return;
                    const ssize_t length = ::read(watch, buffer, sizeof buffer);
                    for (ssize_t at = 0; at < length;) {
                        const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
                        if (event->len && std::strcmp(event->name, "Bramble.sqlite.lock") == 0) {
                            ::kill(pid, SIGTERM);
                            return;
                        }
                        at += ssize_t(sizeof(inotify_event) + event->len);
                    }
                }
            });
            const bool finished = process->waitForFinished(30000);
            signaller.join();
            ::close(watch);
            QVERIFY(finished);
            QCOMPARE(process->exitStatus(), QProcess::NormalExit);
            QCOMPARE(process->exitCode(), 0);
            QVERIFY(!QFile::exists(sandbox.storePath() + QStringLiteral(".lock")));
            QVERIFY(!sandbox.isListening());
            QCOMPARE(storedGroups(sandbox.storePath()).size(), 1);
        }
    }

    void secondLaunchHandsOverAndExits()
    {
        Sandbox sandbox;
        {
            QString error;
            auto container = ModelContainer::open(sandbox.storePath(), &error);
            QVERIFY2(container, qPrintable(error));
            container->mainContext()->insert(new BookmarkGroup(QStringLiteral("mine")));
            QVERIFY(container->mainContext()->save());
        }
        auto first = sandbox.launch();
        QTRY_VERIFY_WITH_TIMEOUT(sandbox.isListening(), 30000);

        auto second = sandbox.launch();
        QVERIFY(second->waitForFinished(30000));
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->exitCode(), 0);
        QVERIFY(second->readAllStandardOutput().contains("already running"));
        QCOMPARE(first->state(), QProcess::Running);

        ::kill(pid_t(first->processId()), SIGTERM);
        QVERIFY(first->waitForFinished(30000));
        QCOMPARE(first->exitCode(), 0);
        QCOMPARE(storedGroups(sandbox.storePath()).size(), 1);
    }

    void lockOfAVanishedProcessIsTakenOver()
    {
        Sandbox sandbox;
        {
            QString error;
            auto container = ModelContainer::open(sandbox.storePath(), &error);
            QVERIFY2(container, qPrintable(error));
            container->mainContext()->insert(new BookmarkGroup(QStringLiteral("mine")));
            QVERIFY(container->mainContext()->save());
        }
        auto crashed = sandbox.launch();
        QTRY_VERIFY_WITH_TIMEOUT(sandbox.isListening(), 30000);
        ::kill(pid_t(crashed->processId()), SIGKILL);
        QVERIFY(crashed->waitForFinished(30000));
        QVERIFY(QFile::exists(sandbox.storePath() + QStringLiteral(".lock")));

        auto next = sandbox.launch();
        QVERIFY(next->waitForStarted());
        const QByteArray pid = QByteArray::number(next->processId());
        QTRY_VERIFY_WITH_TIMEOUT(
            readFile(sandbox.storePath() + QStringLiteral(".lock")).startsWith(pid + '\n'), 30000);
        QCOMPARE(next->state(), QProcess::Running);
        ::kill(pid_t(next->processId()), SIGTERM);
        QVERIFY(next->waitForFinished(30000));
        QCOMPARE(next->exitStatus(), QProcess::NormalExit);
        QCOMPARE(next->exitCode(), 0);
        stop(crashed.get());
    }
};

BRAMBLE_TEST_CORE_MAIN(AppTest)
#include "tst_app.moc"
