#include "model/BookmarkGroup.h"
#include "model/BookmarkItem.h"
#include "model/ModelContainer.h"
#include "model/ModelContext.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <memory>

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

    std::unique_ptr<QProcess> launch() const
    {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(environment());
        process->setProgram(program());
        process->start();
        return process;
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

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QFileInfo(Sandbox::program()).isExecutable(), qPrintable(Sandbox::program()));
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
        QVERIFY(process->waitForStarted());
        const QStringList numbered
            = { QStringLiteral("first:0"), QStringLiteral("second:1"), QStringLiteral("third:2") };
        QTRY_COMPARE_WITH_TIMEOUT(storedGroups(sandbox.storePath()), numbered, 30000);
        QVERIFY(sandbox.isListening());

        ::kill(pid_t(process->processId()), signalNumber);
        QVERIFY(process->waitForFinished(30000));
        QCOMPARE(process->exitStatus(), QProcess::NormalExit);
        QCOMPARE(process->exitCode(), 0);
        // An orderly quit releases the lock and the socket.
        QVERIFY(!QFile::exists(sandbox.storePath() + QStringLiteral(".lock")));
        QVERIFY(!sandbox.isListening());

        QString error;
        auto container = ModelContainer::open(sandbox.storePath(), &error);
        QVERIFY2(container, qPrintable(error));
        QCOMPARE(container->mainContext()->groupCount(), 3);
        QCOMPARE(container->mainContext()->itemCount(), 3);
        for (BookmarkItem *item : container->mainContext()->items())
            QCOMPARE(item->title(), std::optional<QString>(QStringLiteral("")));
        QCOMPARE(storedGroups(sandbox.storePath()), numbered);
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
