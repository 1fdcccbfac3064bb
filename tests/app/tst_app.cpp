#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"
#include "model/ModelContainer.h"
#include "model/ModelContext.h"
#include "support/TestEnvironment.h"
#include "support/TestGate.h"
#include "support/TestHttpServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QLockFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <cstring>
#include <httplib.h>
#include <memory>
#include <mutex>
#include <poll.h>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>

namespace {

// A home of its own for each launched program.
class Sandbox
{
public:
    Sandbox()
    {
        for (const char *sub : { "data", "config", "cache", "state", "runtime" })
            QDir().mkpath(m_dir.filePath(QLatin1String(sub)));
        QFile::setPermissions(m_dir.filePath(QStringLiteral("runtime")),
            QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    QString storePath() const { return m_dir.filePath(QStringLiteral("data/Bramble/Bramble.sqlite")); }
    QString runtimeDir() const { return m_dir.filePath(QStringLiteral("runtime")); }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), m_dir.path());
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_dir.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), m_dir.filePath(QStringLiteral("cache")));
        env.insert(QStringLiteral("XDG_STATE_HOME"), m_dir.filePath(QStringLiteral("state")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("DO_NOT_TRACK"), QStringLiteral("1"));
        return env;
    }

    std::unique_ptr<QProcess> launch(const QStringList &arguments = {}) const
    {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(environment());
        process->setProgram(program());
        process->setArguments(arguments);
        process->start();
        return process;
    }

    // A command run to its end: exit status (-1 when it crashed or hung), output, errors.
    struct Run
    {
        int status = -1;
        QString out;
        QString err;
    };
    Run run(const QStringList &arguments) const
    {
        auto process = launch(arguments);
        Run result;
        if (!process->waitForFinished(60000)) {
            process->kill();
            process->waitForFinished();
            return result;
        }
        result.status = process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
        result.out = QString::fromUtf8(process->readAllStandardOutput());
        result.err = QString::fromUtf8(process->readAllStandardError());
        return result;
    }

    // Which process holds the library: the first line of its lock file.
    qint64 lockHolder() const
    {
        QFile file(storePath() + QStringLiteral(".lock"));
        if (!file.open(QIODevice::ReadOnly))
            return 0;
        return file.readLine().trimmed().toLongLong();
    }

    // A store with one group, so that no window seeds the example links from the internet.
    void createStore(const QString &groupName = QStringLiteral("mine")) const
    {
        QString error;
        auto container = ModelContainer::open(storePath(), &error);
        QVERIFY2(container, qPrintable(error));
        container->mainContext()->insert(new BookmarkGroup(groupName));
        QVERIFY(container->mainContext()->save());
    }

    static QString program()
    {
        return qEnvironmentVariable("BRAMBLE_TEST_BINARY_DIR") + QStringLiteral("/bin/bramble");
    }

    // The running program listens for later launches once it owns the store.
    bool isListening() const
    {
        const QStringList sockets
            = QDir(runtimeDir()).entryList({ QStringLiteral("bramble-*.socket") }, QDir::System);
        return !sockets.isEmpty();
    }

private:
    QTemporaryDir m_dir;
};

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// Collects what a running process prints, as it prints it.
class Output
{
public:
    explicit Output(QProcess *process)
        : m_process(process)
    { }
    QString out()
    {
        m_out += QString::fromUtf8(m_process->readAllStandardOutput());
        return m_out;
    }
    QString err()
    {
        m_err += QString::fromUtf8(m_process->readAllStandardError());
        return m_err;
    }

private:
    QProcess *m_process;
    QString m_out;
    QString m_err;
};

// Links of a store, "url|title", read without writing to it.
QStringList storedLinks(const QString &path)
{
    QStringList result;
    const QString connection = QStringLiteral("links-%1").arg(reinterpret_cast<quintptr>(&result));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=2000"));
        if (db.open()) {
            QSqlQuery query(db);
            query.exec(QStringLiteral("SELECT urlString, title FROM items ORDER BY id"));
            while (query.next())
                result << query.value(0).toString() + QLatin1Char('|') + query.value(1).toString();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    return result;
}

// Groups of a store, "name:sortOrder", read without writing to it.
QStringList storedGroups(const QString &path)
{
    QStringList result;
    const QString connection = QStringLiteral("peek-%1").arg(reinterpret_cast<quintptr>(&result));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=2000"));
        if (db.open()) {
            QSqlQuery query(db);
            query.exec(QStringLiteral("SELECT name, sortOrder FROM groups ORDER BY sortOrder, id"));
            while (query.next())
                result << QStringLiteral("%1:%2")
                              .arg(query.value(0).toString())
                              .arg(query.value(1).toLongLong());
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    return result;
}

void stop(QProcess *process)
{
    if (process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished(5000);
    }
}

} // namespace

class AppTest : public QObject
{
    Q_OBJECT

    TestHttpServer m_site;
    std::mutex m_gateMutex;
    std::shared_ptr<TestGate> m_gate = std::make_shared<TestGate>();

    std::shared_ptr<TestGate> gate()
    {
        std::lock_guard lock(m_gateMutex);
        return m_gate;
    }

    // An export file of one group whose links are these addresses.
    static void writeImportFile(const QString &path, const QStringList &addresses)
    {
        QByteArray links;
        for (const QString &address : addresses)
            links += QByteArray(links.isEmpty() ? "" : ",") + "{\"urlString\":\"" + address.toUtf8()
                + "\",\"createdAt\":\"2025-01-01T00:00:00Z\"}";
        writeFile(path,
            "{\"groups\":[{\"name\":\"Imported\",\"createdAt\":\"2025-01-01T00:00:00Z\",\"bookmarks\":["
                + links + "]}],\"exportedAt\":\"2025-01-01T00:00:00Z\"}");
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QFileInfo(Sandbox::program()).isExecutable(), qPrintable(Sandbox::program()));
        m_site.server().Get("/page", [](const httplib::Request &, httplib::Response &response) {
            response.set_content("<html><head><title>Test Page</title></head></html>", "text/html");
        });
        m_site.server().Get("/slow/\\d+", [this](const httplib::Request &, httplib::Response &response) {
            gate()->pass();
            response.set_content("<html><head><title>Slow</title></head></html>", "text/html");
        });
        m_site.server().Get("/favicon.ico|/apple-touch-icon.*",
            [](const httplib::Request &, httplib::Response &response) { response.status = 404; });
        QVERIFY(m_site.start());
    }

    void init()
    {
        std::lock_guard lock(m_gateMutex);
        m_gate->open();
        m_gate = std::make_shared<TestGate>();
    }

    void startUpPrintsItsTelemetryLinesFirst()
    {
        Sandbox sandbox;
        sandbox.createStore();
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

    void commandsAreHandedToTheOpenWindow()
    {
        Sandbox sandbox;
        sandbox.createStore();
        auto window = sandbox.launch();
        QTRY_VERIFY_WITH_TIMEOUT(sandbox.isListening(), 30000);

        const QString page = m_site.url(QStringLiteral("/page"));
        const Sandbox::Run added = sandbox.run({ QStringLiteral("add"), page });
        QCOMPARE(added.status, 0);
        QCOMPARE(added.out,
            QStringLiteral("Bramble's window is open; the link was handed to it.\nAdded %1 to mine\n")
                .arg(page));
        // The row is stored at once with its address as title; the window fetches the rest.
        QTRY_COMPARE_WITH_TIMEOUT(
            storedLinks(sandbox.storePath()), QStringList { page + QStringLiteral("|Test Page") }, 30000);

        // Refused by the window, with its reason; nothing changes.
        const Sandbox::Run unknown
            = sandbox.run({ QStringLiteral("add"), page, QStringLiteral("--group"), QStringLiteral("Nope") });
        QCOMPARE(unknown.status, 1);
        QCOMPARE(unknown.err, QStringLiteral("No group is named \"Nope\".\n"));

        const QString file = QFileInfo(sandbox.storePath()).absolutePath() + QStringLiteral("/in.json");
        writeImportFile(file, { page + QStringLiteral("?a"), page + QStringLiteral("?b") });
        const Sandbox::Run imported = sandbox.run({ QStringLiteral("import"), file });
        QCOMPARE(imported.status, 0);
        QCOMPARE(imported.out,
            QStringLiteral(
                "Bramble's window is open; the import was handed to it.\nImported 1 groups and 2 links\n"));
        QTRY_COMPARE_WITH_TIMEOUT(
            storedLinks(sandbox.storePath()).filter(QStringLiteral("|Test Page")).size(), 3, 30000);
        QCOMPARE(window->state(), QProcess::Running);

        ::kill(pid_t(window->processId()), SIGTERM);
        QVERIFY(window->waitForFinished(30000));
        QCOMPARE(window->exitCode(), 0);
        QCOMPARE(storedGroups(sandbox.storePath()).size(), 2);
    }

    void windowTakesTheLibraryFromACommand()
    {
        Sandbox sandbox;
        const QStringList links = { m_site.url(QStringLiteral("/slow/1")),
            m_site.url(QStringLiteral("/slow/2")), m_site.url(QStringLiteral("/slow/3")) };
        const QString file = sandbox.storePath() + QStringLiteral(".json");
        writeImportFile(file, links);
        auto command = sandbox.launch({ QStringLiteral("import"), file });
        Output commandOutput(command.get());
        // Its refresh is on the first link when the window starts.
        QTRY_VERIFY_WITH_TIMEOUT(gate()->waiting() == 1
                && commandOutput.out().contains(QStringLiteral("Imported 1 groups and 3 links\n")),
            30000);

        auto window = sandbox.launch();
        Output windowOutput(window.get());
        QTRY_VERIFY_WITH_TIMEOUT(
            windowOutput.out().contains(QStringLiteral(
                "Waiting for the library: a bramble command is finishing the link it is on.\n")),
            30000);
        QCOMPARE(command->state(), QProcess::Running);

        gate()->open();
        QVERIFY(command->waitForFinished(30000));
        QCOMPARE(command->exitCode(), 0);
        QVERIFY2(commandOutput.out().endsWith(
                     QStringLiteral("Metadata 1/3: %1\nBramble's window took over the library; it "
                                    "fetches the metadata of the 2 links still waiting.\n")
                         .arg(links[0])),
            qPrintable(commandOutput.out()));
        // The window holds the library and fetches what the command left.
        QTRY_COMPARE_WITH_TIMEOUT(sandbox.lockHolder(), window->processId(), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(storedLinks(sandbox.storePath()),
            (QStringList { links[0] + QStringLiteral("|Slow"), links[1] + QStringLiteral("|Slow"),
                links[2] + QStringLiteral("|Slow") }),
            30000);
        QCOMPARE(window->state(), QProcess::Running);
        ::kill(pid_t(window->processId()), SIGTERM);
        QVERIFY(window->waitForFinished(30000));
        QCOMPARE(window->exitCode(), 0);
    }

    void windowWaitsVisiblyForASilentHolder()
    {
        Sandbox sandbox;
        sandbox.createStore();
        // A live process holds the library and answers nothing.
        QLockFile held(sandbox.storePath() + QStringLiteral(".lock"));
        QVERIFY(held.tryLock(0));
        auto window = sandbox.launch();
        Output output(window.get());
        QTRY_VERIFY_WITH_TIMEOUT(
            output.out().contains(QStringLiteral(
                "Waiting for the library: another Bramble process holds it and does not answer.\n")),
            30000);
        QCOMPARE(window->state(), QProcess::Running);
        QVERIFY(!output.out().contains(QStringLiteral("Cairn initialized")));

        held.unlock();
        QTRY_COMPARE_WITH_TIMEOUT(sandbox.lockHolder(), window->processId(), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(
            output.out().contains(QStringLiteral("📊 Cairn signal sent: app_launched")), 30000);
        QCOMPARE(window->state(), QProcess::Running);
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
