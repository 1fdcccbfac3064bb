// The cache and the transport against a real HTTP server on 127.0.0.1: batches, put-back, paths,
// immediate sync, the cache file across a real quit (child processes of this executable)
// and the disabled mode.
#include "CairnTestSupport.h"
#include "support/TestEnvironment.h"

#include <Cairn/Clock.h>
#include <Cairn/SignalPostBody.h>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>
#include <QTimer>

using namespace Cairn;

namespace {

QString cacheFilePath()
{
    return SignalCache::defaultFilePath();
}

SignalBatch makeRecords(int count, const QString &prefix = QStringLiteral("r"))
{
    SignalBatch records;
    for (int i = 0; i < count; ++i)
        records.push_back(SignalManager::buildRecord(prefix + QString::number(i),
            { { QStringLiteral("platform"), QStringLiteral("Linux") } }, {},
            { { QStringLiteral("n"), QString::number(i) } }, std::nullopt, std::nullopt,
            QStringLiteral("user"), QStringLiteral("APP"), QString(), QUuid::createUuid(), false));
    return records;
}

void writeCacheFile(const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(cacheFilePath()).absolutePath());
    QFile file(cacheFilePath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

std::vector<int> batchSizes(const FakeTelemetryService &service)
{
    std::vector<int> sizes;
    for (const auto &request : service.requests())
        sizes.push_back(int(request.records().size()));
    return sizes;
}

QStringList typesOf(const nlohmann::json &records)
{
    QStringList types;
    for (const auto &record : records)
        types.append(QString::fromStdString(record.at("type").get<std::string>()));
    return types;
}

QByteArray fileDigest(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

// The child side of the quit tests: CAIRN_CHILD names the scenario, CAIRN_CHILD_URL the service.
int childMain(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QByteArray scenario = qgetenv("CAIRN_CHILD");
    auto config = std::make_shared<TelemetryManagerConfiguration>(
        QStringLiteral("CHILD-APP"), QString(), QUrl(QString::fromUtf8(qgetenv("CAIRN_CHILD_URL"))));
    config->setSessionStartDelay(std::chrono::milliseconds(0));
    config->setSendNewSessionBeganSignal(false);
    config->setLogHandler(LogHandler::standardError(LogLevel::debug));
    if (scenario == "save3") {
        config->setSendInterval(std::chrono::hours(1));
        config->setSessionStatsEnabled(false);
        Cairn::initialize(config);
        for (int i = 0; i < 3; ++i)
            Cairn::signal(QStringLiteral("pending_%1").arg(i));
        // Quit at once, with records perhaps still being built: termination waits for them.
        QTimer::singleShot(0, &app, &QCoreApplication::quit);
    } else if (scenario == "disabled") {
        // What the app does for DO_NOT_TRACK=1.
        config->setAnalyticsDisabled(true);
        config->setSessionStatsEnabled(false);
        config->setSendInterval(std::chrono::milliseconds(100));
        Cairn::initialize(config);
        Cairn::signal(QStringLiteral("app_launched"));
        Cairn::requestImmediateSync();
        QTimer::singleShot(700, &app, &QCoreApplication::quit);
    } else {
        return 2;
    }
    return app.exec();
}

} // namespace

class TestCairnTransport : public QObject
{
    Q_OBJECT

    FakeTelemetryService m_service;

    QProcessEnvironment childEnvironment(const QByteArray &scenario, const QUrl &url)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("CAIRN_CHILD"), QString::fromLatin1(scenario));
        env.insert(QStringLiteral("CAIRN_CHILD_URL"), url.toString());
        return env;
    }

    bool runChild(const QByteArray &scenario, QString *stderrText)
    {
        QProcess child;
        child.setProcessEnvironment(childEnvironment(scenario, m_service.url()));
        child.start(QCoreApplication::applicationFilePath(), {});
        if (!child.waitForFinished(30000))
            return false;
        *stderrText = QString::fromUtf8(child.readAllStandardError());
        return child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
    }

private slots:
    void initTestCase() { QVERIFY(m_service.start()); }

    void init()
    {
        m_service.clear();
        QFile::remove(cacheFilePath());
    }

    void cleanup()
    {
        Cairn::deinitialize();
        Clock::useSystem();
    }

    void emptyStartSendsNothing()
    {
        LogCollector log;
        Cairn::initialize(testConfiguration(m_service.url(), &log));
        QTRY_VERIFY(log.count(QStringLiteral("DEBUG: Current signal cache count: 0")) == 1);
        QTest::qWait(100);
        QCOMPARE(m_service.requestCount(), 0);
        QCOMPARE(log.countContaining(QStringLiteral("Sending")), 0);
    }

    void batchesOfAtMostHundredInArrivalOrder()
    {
        LogCollector log;
        auto config = testConfiguration(m_service.url(), &log);
        config->setSendInterval(std::chrono::milliseconds(800));
        Cairn::initialize(config);
        // The timer's first, immediate round finds the cache empty; the next is 800 ms later.
        QTRY_COMPARE(log.count(QStringLiteral("DEBUG: Current signal cache count: 0")), 1);
        for (int i = 0; i < 250; ++i)
            Cairn::signal(QStringLiteral("s%1").arg(i, 3, 10, QLatin1Char('0')));
        QTRY_COMPARE_WITH_TIMEOUT(m_service.requestCount(), 3, 10000);
        QCOMPARE(batchSizes(m_service), (std::vector<int> { 100, 100, 50 }));
        QStringList all;
        for (const auto &request : m_service.requests()) {
            QCOMPARE(request.path, std::string("/v2/"));
            QCOMPARE(request.contentType, std::string("application/json"));
            all += typesOf(request.records());
        }
        QCOMPARE(all.size(), 250);
        for (int i = 0; i < 250; ++i)
            QCOMPARE(all.at(i), QStringLiteral("s%1").arg(i, 3, 10, QLatin1Char('0')));
        QCOMPARE(Cairn::pendingSignalCount(), 0);
    }

    void loadedCacheDrainsAtEachFiring()
    {
        writeCacheFile(encodeCacheFile(makeRecords(250)));
        LogCollector log;
        auto config = testConfiguration(m_service.url(), &log);
        config->setSendInterval(std::chrono::milliseconds(300));
        Cairn::initialize(config);
        // Loaded at creation, the file consumed.
        QCOMPARE(log.count(QStringLiteral("INFO: Loading Telemetry cache from: ")
                     + QUrl::fromLocalFile(cacheFilePath()).toString()),
            1);
        QCOMPARE(log.count(QStringLiteral("INFO: Loaded 250 signals")), 1);
        QVERIFY(!QFile::exists(cacheFilePath()));
        QTRY_COMPARE_WITH_TIMEOUT(m_service.requestCount(), 3, 10000);
        QCOMPARE(batchSizes(m_service), (std::vector<int> { 100, 100, 50 }));
        QCOMPARE(log.count(QStringLiteral("INFO: Sending 100 signals leaving a cache of 150 signals")), 1);
        QCOMPARE(log.count(QStringLiteral("INFO: Sending 100 signals leaving a cache of 50 signals")), 1);
        QCOMPARE(log.count(QStringLiteral("INFO: Sending 50 signals leaving a cache of 0 signals")), 1);
        QCOMPARE(typesOf(m_service.requests().back().records()).last(), QStringLiteral("r249"));
    }

    void putBackOnFailure_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("logLine");
        QTest::newRow("401") << 401 << QStringLiteral("ERROR: unauthorised");
        QTest::newRow("403") << 403 << QStringLiteral("ERROR: forbidden");
        QTest::newRow("413") << 413 << QStringLiteral("ERROR: payloadTooLarge");
        QTest::newRow("500") << 500 << QStringLiteral("ERROR: invalidStatusCode(statusCode: 500)");
    }

    void putBackOnFailure()
    {
        QFETCH(int, status);
        QFETCH(QString, logLine);
        m_service.queueStatuses({ status });
        writeCacheFile(encodeCacheFile(makeRecords(3)));
        LogCollector log;
        auto config = testConfiguration(m_service.url(), &log);
        config->setSendInterval(std::chrono::milliseconds(300));
        Cairn::initialize(config);
        QTRY_COMPARE_WITH_TIMEOUT(m_service.requestCount(), 2, 5000);
        QCOMPARE(log.count(logLine), 1);
        const auto requests = m_service.requests();
        QVERIFY(requests[0].records() == requests[1].records()); // the same records went out again
        QCOMPARE(requests[0].records().size(), size_t(3));
        QTest::qWait(400);
        QCOMPARE(m_service.requestCount(), 2); // accepted the second time: nothing left
        QCOMPARE(Cairn::pendingSignalCount(), 0);
    }

    void putBackGoesBehindNewerRecords()
    {
        m_service.queueStatuses({ 500 });
        m_service.setResponseDelay(std::chrono::milliseconds(400));
        writeCacheFile(encodeCacheFile(makeRecords(2, QStringLiteral("old"))));
        auto config = testConfiguration(m_service.url());
        config->setSendInterval(std::chrono::milliseconds(800));
        Cairn::initialize(config);
        QTRY_COMPARE(m_service.requestCount(), 1);
        // While the failing batch is in flight, a new record arrives.
        Cairn::signal(QStringLiteral("new"));
        QTRY_COMPARE(Cairn::pendingSignalCount(), 1);
        m_service.setResponseDelay(std::chrono::milliseconds(0));
        QTRY_COMPARE_WITH_TIMEOUT(m_service.requestCount(), 2, 5000);
        QCOMPARE(typesOf(m_service.requests()[1].records()),
            (QStringList { QStringLiteral("new"), QStringLiteral("old0"), QStringLiteral("old1") }));
    }

    void putBackOnTransportError()
    {
        // A port nobody listens on: bind a server, note its port, stop it.
        QUrl closed;
        {
            TestHttpServer gone;
            QVERIFY(gone.start());
            closed = QUrl(gone.url());
        }
        writeCacheFile(encodeCacheFile(makeRecords(5)));
        LogCollector log;
        auto config = testConfiguration(closed, &log);
        config->setSendInterval(std::chrono::milliseconds(200));
        Cairn::initialize(config);
        QTRY_VERIFY_WITH_TIMEOUT(log.countContaining(QStringLiteral("Connection refused")) >= 2, 5000);
        QTRY_COMPARE(Cairn::pendingSignalCount(), 5);
        // Pointing the shared configuration at a working service delivers them.
        config->setApiBaseURL(m_service.url());
        QTRY_COMPARE_WITH_TIMEOUT(m_service.requestCount(), 1, 5000);
        QCOMPARE(m_service.requests()[0].records().size(), size_t(5));
        QCOMPARE(typesOf(m_service.requests()[0].records()).first(), QStringLiteral("r0"));
    }

    void invalidEndpointPutsBack()
    {
        writeCacheFile(encodeCacheFile(makeRecords(2)));
        LogCollector log;
        auto config = testConfiguration(QUrl(QStringLiteral("not a url at all")), &log);
        config->setApiNamespace(QStringLiteral("space"));
        config->setSendInterval(std::chrono::milliseconds(200));
        Cairn::initialize(config);
        QTRY_VERIFY(
            log.count(QStringLiteral("ERROR: Unable to construct signal API URL for namespace space")) >= 2);
        QCOMPARE(Cairn::pendingSignalCount(), 2);
    }

    void namespacePath_data()
    {
        QTest::addColumn<bool>("hasSpace");
        QTest::addColumn<QString>("space");
        QTest::addColumn<QString>("path");
        QTest::newRow("none") << false << QString() << QStringLiteral("/v2/");
        QTest::newRow("empty") << true << QString() << QStringLiteral("/v2/");
        QTest::newRow("named") << true << QStringLiteral("bramble-team")
                               << QStringLiteral("/v2/namespace/bramble-team/");
    }

    void namespacePath()
    {
        QFETCH(bool, hasSpace);
        QFETCH(QString, space);
        QFETCH(QString, path);
        writeCacheFile(encodeCacheFile(makeRecords(1)));
        auto config = testConfiguration(m_service.url());
        config->setApiNamespace(hasSpace ? std::optional<QString>(space) : std::nullopt);
        Cairn::initialize(config);
        QTRY_COMPARE(m_service.requestCount(), 1);
        QCOMPARE(QString::fromStdString(m_service.requests()[0].path), path);
    }

    void immediateSyncAtMostOnceInTenSeconds()
    {
        Clock::setFixed(QDateTime(QDate(2025, 1, 31), QTime(13, 45, 10), Qt::UTC));
        Cairn::initialize(testConfiguration(m_service.url())); // the timer waits an hour
        Cairn::signal(QStringLiteral("a"));
        QTRY_COMPARE(Cairn::pendingSignalCount(), 1);
        Cairn::requestImmediateSync();
        QTRY_COMPARE(m_service.requestCount(), 1);
        QCOMPARE(Cairn::pendingSignalCount(), 0);
        Cairn::signal(QStringLiteral("b"));
        QTRY_COMPARE(Cairn::pendingSignalCount(), 1);
        Clock::advance(9000);
        Cairn::requestImmediateSync(); // within ten seconds: ignored
        QTest::qWait(300);
        QCOMPARE(m_service.requestCount(), 1);
        Clock::advance(1500);
        Cairn::requestImmediateSync();
        QTRY_COMPARE(m_service.requestCount(), 2);
        QCOMPARE(typesOf(m_service.requests()[0].records()), QStringList { QStringLiteral("a") });
        QCOMPARE(typesOf(m_service.requests()[1].records()), QStringList { QStringLiteral("b") });
        // The wire date comes from the same clock.
        QCOMPARE(QString::fromStdString(m_service.requests()[0].records()[0].at("receivedAt")),
            QStringLiteral("2025-01-31T13:45:10+0000"));
    }

    void garbageCacheFileIsDropped()
    {
        writeCacheFile("this is not json {[");
        LogCollector log;
        Cairn::initialize(testConfiguration(m_service.url(), &log));
        QCOMPARE(Cairn::pendingSignalCount(), 0);
        QVERIFY(!QFile::exists(cacheFilePath()));
        QCOMPARE(log.count(QStringLiteral("INFO: Loaded 0 signals")), 1);
        QTest::qWait(100);
        QCOMPARE(m_service.requestCount(), 0);
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
        QVERIFY(QFile::exists(cacheFilePath()));
        QCOMPARE(m_service.requestCount(), 0);

        // Next start: loaded, the file consumed, the records sent.
        LogCollector log;
        Cairn::initialize(testConfiguration(m_service.url(), &log));
        QCOMPARE(log.count(QStringLiteral("INFO: Loaded 3 signals")), 1);
        QVERIFY(!QFile::exists(cacheFilePath()));
        QTRY_COMPARE(m_service.requestCount(), 1);
        const auto records = m_service.requests()[0].records();
        QCOMPARE(typesOf(records),
            (QStringList {
                QStringLiteral("pending_0"), QStringLiteral("pending_1"), QStringLiteral("pending_2") }));
        QCOMPARE(QString::fromStdString(records[0].at("appID")), QStringLiteral("CHILD-APP"));
    }

    void disabledSendsAndWritesNothing()
    {
        // An earlier run left two records; a run with analytics disabled must leave them be.
        writeCacheFile(encodeCacheFile(makeRecords(2)));
        const QByteArray before = fileDigest(cacheFilePath());
        const QString defaults = ClientDefaults::filePath(QStringLiteral("CHILD-APP"));
        QFile::remove(defaults);
        QString childLog;
        QVERIFY(runChild("disabled", &childLog));
        QCOMPARE(childLog, QString()); // nothing logged
        QCOMPARE(m_service.requestCount(), 0);
        QCOMPARE(fileDigest(cacheFilePath()), before);
        QVERIFY(!QFile::exists(defaults));
    }

    void disabledInProcessLeavesFileAlone()
    {
        writeCacheFile(encodeCacheFile(makeRecords(4)));
        const QByteArray before = fileDigest(cacheFilePath());
        auto config = testConfiguration(m_service.url());
        config->setAnalyticsDisabled(true);
        config->setSessionStatsEnabled(false);
        config->setSendInterval(std::chrono::milliseconds(100));
        Cairn::initialize(config);
        Cairn::requestImmediateSync();
        QTest::qWait(400);
        QCOMPARE(m_service.requestCount(), 0);
        QCOMPARE(fileDigest(cacheFilePath()), before);
        Cairn::installedManager()->signalManager().appWillTerminate();
        QCOMPARE(fileDigest(cacheFilePath()), before);
        // Enabled again later: the old records are loaded and sent then.
        config->setAnalyticsDisabled(false);
        QTRY_COMPARE(m_service.requestCount(), 1);
        QCOMPARE(m_service.requests()[0].records().size(), size_t(4));
        QVERIFY(!QFile::exists(cacheFilePath()));
    }
};

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet("CAIRN_CHILD"))
        return childMain(argc, argv); // the environment was isolated by the parent
    TestEnvironment::isolate();
    QCoreApplication app(argc, argv);
    TestCairnTransport tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_cairn_transport.moc"
