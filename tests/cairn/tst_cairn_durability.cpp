// The cache file across quits and crashes (child processes of this executable), against a real
// HTTP server on 127.0.0.1: records in flight at quit, SIGKILL with pending records, the old
// shared file, a second holder of the file, and the disabled mode.
#include "CairnTestSupport.h"
#include "support/TestEnvironment.h"

#include <Cairn/Clock.h>
#include <Cairn/SignalPostBody.h>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <csignal>

using namespace Cairn;

namespace {

const QString kChildApp = QStringLiteral("CHILD-APP");

SignalBatch makeRecords(int count, const QString &prefix, const QString &appID = kChildApp)
{
    SignalBatch records;
    for (int i = 0; i < count; ++i)
        records.push_back(SignalManager::buildRecord(prefix + QString::number(i), {}, {},
            { { QStringLiteral("n"), QString::number(i) } }, std::nullopt, std::nullopt,
            QStringLiteral("user"), appID, QString(), QUuid::createUuid(), false));
    return records;
}

void writeFile(const QString &path, const SignalBatch &records)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(encodeCacheFile(records));
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The record types in a cache file, sorted; {"<none>"} when it cannot be read.
QStringList typesInFile(const QString &path)
{
    const auto records = decodeCacheFile(readFile(path));
    if (!records)
        return { QStringLiteral("<none>") };
    QStringList types;
    for (const auto &record : *records)
        types.append(record.type);
    types.sort();
    return types;
}

QStringList sortedTypes(const std::vector<nlohmann::json> &records)
{
    QStringList types;
    for (const auto &record : records)
        types.append(QString::fromStdString(record.at("type").get<std::string>()));
    types.sort();
    return types;
}

// The child side: CAIRN_CHILD names the scenario, CAIRN_CHILD_URL the service.
int childMain(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QByteArray scenario = qgetenv("CAIRN_CHILD");
    auto config = std::make_shared<TelemetryManagerConfiguration>(
        kChildApp, QString(), QUrl(QString::fromUtf8(qgetenv("CAIRN_CHILD_URL"))));
    config->setSessionStartDelay(std::chrono::milliseconds(0));
    config->setSendNewSessionBeganSignal(false);
    config->setSessionStatsEnabled(false);
    config->setSendInterval(std::chrono::hours(1));
    config->setLogHandler(LogHandler::standardError(LogLevel::debug));
    // Waits (polling the event loop) until `ready`, then runs `then`.
    const auto when = [&app](std::function<bool()> ready, std::function<void()> then) {
        auto *poll = new QTimer(&app);
        QObject::connect(poll, &QTimer::timeout, &app, [poll, ready, then] {
            if (!ready())
                return;
            poll->stop();
            then();
        });
        poll->start(5);
    };
    const auto sender = [] { return &Cairn::installedManager()->signalManager(); };
    if (scenario == "save3") {
        initializeSettled(config); // the first round is over: these wait for the next start
        for (int i = 0; i < 3; ++i)
            Cairn::signal(QStringLiteral("pending_%1").arg(i));
        // Quit at once, with records perhaps still being built: termination waits for them.
        QTimer::singleShot(0, &app, &QCoreApplication::quit);
    } else if (scenario == "quitInFlight") {
        // The first round takes what the file held; the service does not answer; we quit.
        config->setTerminationGracePeriod(std::chrono::milliseconds(200));
        Cairn::initialize(config);
        when([&] { return sender()->requestsStarted() > 0; },
            [&app] {
                Cairn::signal(QStringLiteral("pending_new"));
                QTimer::singleShot(0, &app, &QCoreApplication::quit);
            });
    } else if (scenario == "crash") {
        // The file is written as records change; the parent kills this process.
        config->setCacheWriteInterval(std::chrono::milliseconds(0));
        Cairn::initialize(config);
        when([&] { return sender()->requestsStarted() > 0 && sender()->cache()->inFlightCount() == 0; },
            [] {
                for (int i = 0; i < 3; ++i)
                    Cairn::signal(QStringLiteral("queued_%1").arg(i));
            });
    } else if (scenario == "disabled") {
        // What the app does for DO_NOT_TRACK.
        config->setAnalyticsDisabled(true);
        config->setSendInterval(std::chrono::milliseconds(100));
        Cairn::initialize(config);
        Cairn::signal(QStringLiteral("app_launched"));
        Cairn::requestImmediateSync();
        QTimer::singleShot(500, &app, &QCoreApplication::quit);
    } else {
        return 2;
    }
    return app.exec();
}

// The child side of the application's end: the exit status says whether the client let go of
// its manager together with the application object (3 when it did not).
int endingChildMain(int argc, char **argv, const QByteArray &scenario)
{
    std::weak_ptr<TelemetryManager> manager;
    {
        QCoreApplication app(argc, argv);
        if (scenario == "jobAtQuit")
            // Runs before the client's own termination handler: the signal's processing is
            // posted only while that handler works.
            QObject::connect(&app, &QCoreApplication::aboutToQuit, [] {
                Cairn::installedManager()->postToMainThread(
                    [] { Cairn::signal(QStringLiteral("posted_at_quit")); });
            });
        auto config = std::make_shared<TelemetryManagerConfiguration>(
            kChildApp, QString(), QUrl(QString::fromUtf8(qgetenv("CAIRN_CHILD_URL"))));
        config->setSessionStartDelay(std::chrono::hours(1));
        config->setSessionStatsEnabled(false);
        config->setSendInterval(std::chrono::hours(1));
        config->setLogHandler(std::nullopt);
        initializeSettled(config);
        manager = Cairn::installedManager();
        QTimer::singleShot(0, &app, &QCoreApplication::quit);
        const int status = app.exec();
        if (status != 0)
            return status;
        if (scenario == "signalAfterQuit")
            Cairn::signal(QStringLiteral("too_late")); // no turn of the event loop comes for it
    }
    return manager.expired() ? 0 : 3;
}

} // namespace

class TestCairnDurability : public QObject
{
    Q_OBJECT

    FakeTelemetryService m_service;
    const QString m_childFile = SignalCache::filePath(kChildApp);

    void startChild(QProcess &child, const QByteArray &scenario)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("CAIRN_CHILD"), QString::fromLatin1(scenario));
        env.insert(QStringLiteral("CAIRN_CHILD_URL"), m_service.url().toString());
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {});
    }

    bool runChild(const QByteArray &scenario, QString *stderrText)
    {
        QProcess child;
        startChild(child, scenario);
        if (!child.waitForFinished(30000))
            return false;
        *stderrText = QString::fromUtf8(child.readAllStandardError());
        return child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
    }

    // The next start of the child's app, in this process, on a service that accepts.
    void deliverAsTheChildApp(LogCollector *log = nullptr)
    {
        m_service.clear();
        Cairn::initialize(testConfiguration(m_service.url(), log, kChildApp));
    }

private slots:
    void initTestCase() { QVERIFY(m_service.start()); }

    void init()
    {
        m_service.clear();
        QFile::remove(m_childFile);
        QFile::remove(SignalCache::legacyFilePath());
    }

    void cleanup()
    {
        m_service.release();
        Cairn::deinitialize();
        Clock::useSystem();
    }

    void garbageCacheFileIsDropped()
    {
        QDir().mkpath(QFileInfo(m_childFile).absolutePath());
        QFile file(m_childFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("this is not json {[");
        file.close();
        LogCollector log;
        initializeSettled(testConfiguration(m_service.url(), &log, kChildApp));
        QCOMPARE(Cairn::pendingSignalCount(), 0);
        QVERIFY(!QFile::exists(m_childFile));
        QCOMPARE(log.count(QStringLiteral("INFO: Loaded 0 signals")), 1);
        QCOMPARE(log.count(QStringLiteral("ERROR: Telemetry cache file is unreadable; it was removed")), 1);
        QCOMPARE(m_service.requestCount(), 0);
    }

    void oversizedCacheFileIsNotRead()
    {
        QDir().mkpath(QFileInfo(m_childFile).absolutePath());
        QFile file(m_childFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(SignalCache::maximumFileSize + 1)); // sparse: nothing to write
        file.close();
        LogCollector log;
        initializeSettled(testConfiguration(m_service.url(), &log, kChildApp));
        QCOMPARE(
            log.count(QStringLiteral("ERROR: Telemetry cache file is larger than 128 MB; it was removed")),
            1);
        QVERIFY(!QFile::exists(m_childFile));
        QCOMPARE(Cairn::pendingSignalCount(), 0);
    }

    void cacheSavedAtQuitAndConsumedAtNextStart()
    {
        // First run: three signals, then a real quit (aboutToQuit) in a child process.
        QString childLog;
        QVERIFY(runChild("save3", &childLog));
        QVERIFY2(
            childLog.contains(QStringLiteral("[Cairn: DEBUG] appWillTerminate()")), qPrintable(childLog));
        QVERIFY2(
            childLog.contains(QStringLiteral("[Cairn: INFO] Saved Telemetry cache ")), qPrintable(childLog));
        QVERIFY2(childLog.contains(QStringLiteral(" bytes of 3 signals")), qPrintable(childLog));
        QCOMPARE(m_service.requestCount(), 0);
        QCOMPARE(typesInFile(m_childFile),
            (QStringList {
                QStringLiteral("pending_0"), QStringLiteral("pending_1"), QStringLiteral("pending_2") }));

        // Next start: loaded and sent; the file keeps them until the service has accepted them.
        LogCollector log;
        deliverAsTheChildApp(&log);
        QTRY_COMPARE(log.count(QStringLiteral("INFO: Loaded 3 signals")), 1);
        QTRY_COMPARE(m_service.accepted().size(), size_t(3));
        const auto records = m_service.requests()[0].records();
        QCOMPARE(QString::fromStdString(records[0].at("type")), QStringLiteral("pending_0"));
        QCOMPARE(QString::fromStdString(records[0].at("appID")), kChildApp);
        QTRY_COMPARE(inFlightRecords(), 0);
        Cairn::installedManager()->signalManager().cache()->waitForFileWrites();
        QCOMPARE(typesInFile(m_childFile), QStringList());
    }

    void recordsInFlightAtQuitArePutBack()
    {
        writeFile(m_childFile, makeRecords(3, QStringLiteral("old")));
        m_service.hold();
        QString childLog;
        QVERIFY(runChild("quitInFlight", &childLog));
        m_service.release();
        QVERIFY2(childLog.contains(QStringLiteral(" bytes of 4 signals")), qPrintable(childLog));
        QCOMPARE(typesInFile(m_childFile),
            (QStringList { QStringLiteral("old0"), QStringLiteral("old1"), QStringLiteral("old2"),
                QStringLiteral("pending_new") }));

        deliverAsTheChildApp();
        QTRY_COMPARE(m_service.accepted().size(), size_t(4));
        QTRY_COMPARE(inFlightRecords(), 0);
        QCOMPARE(sortedTypes(m_service.accepted()),
            (QStringList { QStringLiteral("old0"), QStringLiteral("old1"), QStringLiteral("old2"),
                QStringLiteral("pending_new") }));
    }

    void replacedManagerKeepsItsBatchInFlight()
    {
        writeFile(m_childFile, makeRecords(2, QStringLiteral("out")));
        m_service.hold();
        deliverAsTheChildApp();
        m_service.hold();
        QTRY_COMPARE(m_service.requestCount(), 1);
        // Gone before its reply: the batch goes back into the (shared) cache and file.
        Cairn::deinitialize();
        QCOMPARE(typesInFile(m_childFile), (QStringList { "out0", "out1" }));
        m_service.release();
        deliverAsTheChildApp();
        QTRY_COMPARE(m_service.accepted().size(), size_t(2));
    }

    // Managers replaced at any point of a round: whatever the service did not accept is in the
    // file afterwards (delivered twice at worst, never lost).
    void teardownAtAnyMomentLosesNothing()
    {
        for (int i = 0; i < 20; ++i) {
            m_service.clear();
            if (i % 2)
                m_service.hold();
            Clock::setFixed(QDateTime(QDate(2025, 5, 1), QTime(12, 0), Qt::UTC));
            writeFile(m_childFile, makeRecords(3, QStringLiteral("t")));
            Cairn::initialize(testConfiguration(m_service.url(), nullptr, kChildApp));
            // Queued perhaps before the file is even read.
            Cairn::installedManager()->signalManager().cache()->push(makeRecords(1, QStringLiteral("p")));
            Clock::advance(3600000);
            Cairn::requestImmediateSync();
            if (i % 3 == 0)
                QTest::qWait(5);
            m_service.release();
            Cairn::deinitialize();
            QStringList kept = typesInFile(m_childFile) + sortedTypes(m_service.accepted());
            kept.removeDuplicates();
            kept.sort();
            QCOMPARE(kept, (QStringList { "p0", "t0", "t1", "t2" }));
        }
    }

    void crashLosesNothingQueued_data()
    {
        QTest::addColumn<int>("firstStatus");
        QTest::addColumn<QStringList>("leftInFile");
        const QStringList queued = { "queued_0", "queued_1", "queued_2" };
        // Accepted records leave the file; refused ones stay, with those queued after them.
        QTest::newRow("carried records accepted") << 200 << queued;
        QTest::newRow("carried records refused") << 500 << (QStringList { "carried0", "carried1" } + queued);
    }

    void crashLosesNothingQueued()
    {
        QFETCH(int, firstStatus);
        QFETCH(QStringList, leftInFile);
        writeFile(m_childFile, makeRecords(2, QStringLiteral("carried")));
        m_service.queueStatuses({ firstStatus });
        QProcess child;
        startChild(child, "crash");
        QVERIFY(child.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(typesInFile(m_childFile), leftInFile, 20000);
        ::kill(pid_t(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished(10000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);

        // A fresh start delivers every record exactly once: the carried ones either went
        // before the crash or now, never twice.
        const std::vector<nlohmann::json> before = m_service.accepted();
        deliverAsTheChildApp();
        QTRY_COMPARE(m_service.accepted().size(), size_t(leftInFile.size()));
        QTRY_COMPARE(inFlightRecords(), 0);
        std::vector<nlohmann::json> all = before;
        for (const auto &record : m_service.accepted())
            all.push_back(record);
        QCOMPARE(
            sortedTypes(all), (QStringList { "carried0", "carried1", "queued_0", "queued_1", "queued_2" }));
        Cairn::installedManager()->signalManager().cache()->waitForFileWrites();
        QCOMPARE(typesInFile(m_childFile), QStringList());
    }

    void legacyCacheFileIsMovedOnce()
    {
        // The old shared file holds records of this app and of another one.
        SignalBatch legacy = makeRecords(2, QStringLiteral("mine"));
        legacy.push_back(makeRecords(1, QStringLiteral("theirs"), QStringLiteral("OTHER-APP")).front());
        writeFile(SignalCache::legacyFilePath(), legacy);
        QVERIFY(m_childFile.contains(QStringLiteral("/cairn/com.cairn.")));
        QVERIFY(
            m_childFile.startsWith(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)));

        LogCollector log;
        deliverAsTheChildApp(&log);
        QTRY_COMPARE(m_service.accepted().size(), size_t(2));
        QCOMPARE(sortedTypes(m_service.accepted()), (QStringList { "mine0", "mine1" }));
        QCOMPARE(log.count(QStringLiteral("INFO: Moved 2 signals from %1 to %2")
                               .arg(SignalCache::legacyFilePath(), m_childFile)),
            1);
        // The other app's record stays where that app will look for it.
        QCOMPARE(typesInFile(SignalCache::legacyFilePath()), QStringList { "theirs0" });
        Cairn::deinitialize();

        // Once only: the next start finds nothing of its own there.
        LogCollector again;
        deliverAsTheChildApp(&again);
        Cairn::installedManager()->signalManager().waitForSender();
        QCOMPARE(again.countContaining(QStringLiteral("Moved")), 0);
        QCOMPARE(typesInFile(SignalCache::legacyFilePath()), QStringList { "theirs0" });
        Cairn::deinitialize();

        // The other app takes its own, and the old file is gone.
        m_service.clear();
        Cairn::initialize(testConfiguration(m_service.url(), nullptr, QStringLiteral("OTHER-APP")));
        QTRY_COMPARE(m_service.accepted().size(), size_t(1));
        QCOMPARE(sortedTypes(m_service.accepted()), QStringList { "theirs0" });
        QVERIFY(!QFile::exists(SignalCache::legacyFilePath()));
    }

    void secondHolderKeepsAwayFromTheFile()
    {
        const QString path = QDir::temp().filePath(
            QStringLiteral("cairn-held-%1").arg(QUuid::createUuid().toString(QUuid::Id128)));
        LogCollector firstLog;
        LogCollector secondLog;
        auto first = std::make_unique<SignalCache>(firstLog.handler(), path);
        first->load();
        first->push(makeRecords(2, QStringLiteral("first")));
        QVERIFY(first->saveCache());

        SignalCache second(secondLog.handler(), path);
        second.load();
        QCOMPARE(secondLog.count(QStringLiteral(
                     "INFO: Telemetry cache is in use by another process; signals are kept in memory")),
            1);
        QCOMPARE(second.count(), 0); // not sent twice
        second.push(makeRecords(1, QStringLiteral("second")));
        QVERIFY(!second.saveCache());
        QCOMPARE(secondLog.count(QStringLiteral("ERROR: Error saving Telemetry cache")), 1);
        QCOMPARE(typesInFile(path), (QStringList { "first0", "first1" }));

        // Once the first holder is gone, the second takes the file over, with what it held.
        first.reset();
        QVERIFY(second.saveCache());
        QCOMPARE(typesInFile(path), (QStringList { "first0", "first1", "second0" }));
        QCOMPARE(second.count(), 3);
        QFile::remove(path);
    }

    void disabledSendsAndWritesNothing()
    {
        // An earlier run left two records; a run with analytics disabled must leave them be.
        writeFile(m_childFile, makeRecords(2, QStringLiteral("r")));
        const QByteArray before = readFile(m_childFile);
        const QString defaults = ClientDefaults::filePath(kChildApp);
        QFile::remove(defaults);
        QString childLog;
        QVERIFY(runChild("disabled", &childLog));
        QCOMPARE(childLog, QString()); // nothing logged
        QCOMPARE(m_service.requestCount(), 0);
        QCOMPARE(readFile(m_childFile), before);
        QVERIFY(!QFile::exists(defaults));
        QVERIFY(!QFile::exists(m_childFile + QStringLiteral(".lock")));
    }

    // The command line's leak: processing posted by a job at quit was never run, and held the
    // manager (and with it its dispatcher, configuration and cache) past the end of the process.
    void applicationEndReleasesTheClient()
    {
        QString childLog;
        QVERIFY2(runChild("jobAtQuit", &childLog), qPrintable(childLog));
        QCOMPARE(typesInFile(m_childFile), QStringList { QStringLiteral("posted_at_quit") });
        QFile::remove(m_childFile);
        QVERIFY2(runChild("signalAfterQuit", &childLog), qPrintable(childLog));
    }

    void disabledInProcessLeavesFileAlone()
    {
        writeFile(m_childFile, makeRecords(4, QStringLiteral("r")));
        const QByteArray before = readFile(m_childFile);
        auto config = testConfiguration(m_service.url(), nullptr, kChildApp);
        config->setAnalyticsDisabled(true);
        config->setSessionStatsEnabled(false);
        config->setSendInterval(std::chrono::milliseconds(100));
        Cairn::initialize(config);
        Cairn::requestImmediateSync();
        QTest::qWait(300);
        QCOMPARE(m_service.requestCount(), 0);
        QCOMPARE(readFile(m_childFile), before);
        Cairn::installedManager()->signalManager().appWillTerminate();
        QCOMPARE(readFile(m_childFile), before);
        // Enabled again later: the old records are loaded and sent then.
        config->setAnalyticsDisabled(false);
        QTRY_COMPARE(m_service.requestCount(), 1);
        QCOMPARE(m_service.requests()[0].records().size(), size_t(4));
    }
};

int main(int argc, char **argv)
{
    const QByteArray child = qgetenv("CAIRN_CHILD");
    if (child == "jobAtQuit" || child == "signalAfterQuit")
        return endingChildMain(argc, argv, child);
    if (!child.isEmpty())
        return childMain(argc, argv); // the environment was isolated by the parent
    TestEnvironment::isolate();
    QCoreApplication app(argc, argv);
    TestCairnDurability tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_cairn_durability.moc"
