// What the tests of the real program share: a home of its own for each launch, and reading
// a store without writing to it.
#pragma once

#include "model/BookmarkGroup.h"
#include "model/ModelContainer.h"
#include "model/ModelContext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace AppTesting {

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

    // Analytics on, reporting to service (a loopback address): without a service the program
    // records and prints no signal at all.
    void reportTo(const QString &service) { m_analyticsService = service; }

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
        if (!m_analyticsService.isEmpty()) {
            env.remove(QStringLiteral("DO_NOT_TRACK"));
            env.insert(QStringLiteral("BRAMBLE_TELEMETRY_URL"), m_analyticsService);
        }
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
    QString m_analyticsService;
};

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline void writeFile(const QString &path, const QByteArray &bytes)
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
inline QStringList storedLinks(const QString &path)
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
inline QStringList storedGroups(const QString &path)
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

inline void stop(QProcess *process)
{
    if (process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished(5000);
    }
}

} // namespace AppTesting
