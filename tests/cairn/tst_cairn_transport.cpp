// The transport against a real HTTP server on 127.0.0.1: batches, put-back, back-off, refused
// batches and records, paths, immediate sync, and a client that names no service. Rounds are
// driven by the frozen Cairn clock, so nothing here waits for a real interval.
#include "CairnTestSupport.h"
#include "support/TestEnvironment.h"

#include <Cairn/Clock.h>
#include <Cairn/SignalPostBody.h>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSet>
#include <QTest>

using namespace Cairn;

namespace {

const QDateTime kStart(QDate(2025, 1, 31), QTime(13, 45, 10), Qt::UTC);

SignalBatch makeRecords(
    int count, const QString &prefix = QStringLiteral("r"), const QString &appID = QStringLiteral("APP"))
{
    SignalBatch records;
    for (int i = 0; i < count; ++i)
        records.push_back(SignalManager::buildRecord(prefix + QString::number(i),
            { { QStringLiteral("platform"), QStringLiteral("Linux") } }, {},
            { { QStringLiteral("n"), QString::number(i) } }, std::nullopt, std::nullopt,
            QStringLiteral("user"), appID, QString(), QUuid::createUuid(), false));
    return records;
}

void writeCacheFile(const QString &appID, const SignalBatch &records)
{
    const QString path = SignalCache::filePath(appID);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(encodeCacheFile(records));
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

QStringList typesOf(const std::vector<nlohmann::json> &records)
{
    QStringList types;
    for (const auto &record : records)
        types.append(QString::fromStdString(record.at("type").get<std::string>()));
    return types;
}

SignalManager &signalManager()
{
    return Cairn::installedManager()->signalManager();
}

} // namespace

class TestCairnTransport : public QObject
{
    Q_OBJECT

    FakeTelemetryService m_service;

    // A configuration on the fake service with the real ten-second interval; the clock is
    // frozen, so rounds come only when a test moves it.
    ConfigurationPtr frozenConfiguration(LogCollector *log = nullptr)
    {
        Clock::setFixed(kStart);
        auto config = testConfiguration(m_service.url(), log);
        config->setSendInterval(std::chrono::seconds(10));
        return config;
    }

    // Moves the clock and waits until the sender has looked at it.
    static void advance(qint64 milliseconds)
    {
        Clock::advance(milliseconds);
        signalManager().waitForSender();
    }

private slots:
    void initTestCase() { QVERIFY(m_service.start()); }

    void init() { m_service.clear(); }

    void cleanup()
    {
        m_service.release();
        Cairn::deinitialize();
        Clock::useSystem();
    }

    void emptyStartSendsNothing()
    {
        LogCollector log;
        initializeSettled(testConfiguration(m_service.url(), &log));
        QCOMPARE(log.count(QStringLiteral("DEBUG: Current signal cache count: 0")), 1);
        QCOMPARE(signalManager().requestsStarted(), 0);
        QCOMPARE(m_service.requestCount(), 0);
        QCOMPARE(log.countContaining(QStringLiteral("Sending")), 0);
    }

    void batchesOfAtMostHundredInArrivalOrder()
    {
        LogCollector log;
        initializeSettled(frozenConfiguration(&log));
        for (int i = 0; i < 250; ++i)
            Cairn::signal(QStringLiteral("s%1").arg(i, 3, 10, QLatin1Char('0')));
        QTRY_COMPARE(Cairn::pendingSignalCount(), 250);
        for (int round = 1; round <= 3; ++round) {
            advance(9999);
            QCOMPARE(signalManager().requestsStarted(), round - 1); // not due yet
            advance(1);
            QTRY_COMPARE(m_service.requestCount(), round);
            QTRY_COMPARE(inFlightRecords(), 0);
        }
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
        QCOMPARE(log.count(QStringLiteral("INFO: Sending 100 signals leaving a cache of 150 signals")), 1);
        QCOMPARE(log.count(QStringLiteral("INFO: Sending 50 signals leaving a cache of 0 signals")), 1);
        QCOMPARE(Cairn::pendingSignalCount(), 0);
    }

    void putBackOnFailure_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("logLine");
        QTest::newRow("401") << 401 << QStringLiteral("ERROR: unauthorised");
        QTest::newRow("403") << 403 << QStringLiteral("ERROR: forbidden");
        QTest::newRow("404") << 404 << QStringLiteral("ERROR: invalidStatusCode(statusCode: 404)");
        QTest::newRow("408") << 408 << QStringLiteral("ERROR: invalidStatusCode(statusCode: 408)");
        QTest::newRow("429") << 429 << QStringLiteral("ERROR: invalidStatusCode(statusCode: 429)");
        QTest::newRow("500") << 500 << QStringLiteral("ERROR: invalidStatusCode(statusCode: 500)");
    }

    // A single record, so that nothing could be split: these statuses put it back.
    void putBackOnFailure()
    {
        QFETCH(int, status);
        QFETCH(QString, logLine);
        m_service.queueStatuses({ status });
        LogCollector log;
        auto config = frozenConfiguration(&log);
        writeCacheFile(config->telemetryAppID(), makeRecords(1));
        Cairn::initialize(config);
        QTRY_COMPARE(log.count(logLine), 1);
        QTRY_COMPARE(Cairn::pendingSignalCount(), 1); // put back
        advance(10000);
        QTRY_COMPARE(m_service.requestCount(), 2);
        QTRY_COMPARE(inFlightRecords(), 0);
        const auto requests = m_service.requests();
        QVERIFY(requests[0].records() == requests[1].records()); // the same record went out again
        QCOMPARE(Cairn::pendingSignalCount(), 0);
        QCOMPARE(log.countContaining(QStringLiteral("Dropped")), 0);
    }

    void backoffDoublesUpToTenMinutes()
    {
        for (int i = 0; i < 9; ++i)
            m_service.queueStatuses({ 503 });
        LogCollector log;
        auto config = frozenConfiguration(&log);
        writeCacheFile(config->telemetryAppID(), makeRecords(3));
        Cairn::initialize(config);
        QTRY_COMPARE(m_service.requestCount(), 1);
        QTRY_COMPARE(Cairn::pendingSignalCount(), 3);
        // After the n-th failure in a row the next attempt waits 10 s * 2^(n-1), at most 600 s.
        const int waits[] = { 10, 20, 40, 80, 160, 320, 600, 600 };
        int attempts = 1;
        for (const int wait : waits) {
            // Immediate sync (itself at most once per ten seconds) does not cut a back-off short.
            if (wait >= 40) {
                const int immediate = signalManager().immediateRounds();
                QVERIFY(Cairn::installedManager()->requestImmediateSync());
                QTRY_COMPARE(signalManager().immediateRounds(), immediate + 1);
            }
            advance(qint64(wait) * 1000 - 1);
            QCOMPARE(signalManager().requestsStarted(), attempts);
            advance(1);
            ++attempts;
            QTRY_COMPARE(m_service.requestCount(), attempts);
            QTRY_COMPARE(Cairn::pendingSignalCount(), 3);
        }
        QCOMPARE(log.count(QStringLiteral("ERROR: invalidStatusCode(statusCode: 503)")), 9);
        // The tenth attempt succeeds, and the interval is back to ten seconds.
        advance(600000);
        QTRY_COMPARE(m_service.requestCount(), attempts + 1);
        QTRY_COMPARE(Cairn::pendingSignalCount() + inFlightRecords(), 0);
        Cairn::signal(QStringLiteral("after"));
        QTRY_COMPARE(Cairn::pendingSignalCount(), 1);
        advance(10000);
        QTRY_COMPARE(m_service.requestCount(), attempts + 2);
        QCOMPARE(typesOf(m_service.requests().back().records()), QStringList { QStringLiteral("after") });
        QCOMPARE(SignalSender::backoff(std::chrono::hours(1), 5),
            std::chrono::milliseconds(std::chrono::hours(1)));
    }

    void clockGoingBackDoesNotStallRounds()
    {
        initializeSettled(frozenConfiguration());
        Cairn::signal(QStringLiteral("later"));
        QTRY_COMPARE(Cairn::pendingSignalCount(), 1);
        // The system clock is set back an hour: the next round still comes ten seconds on.
        Clock::setFixed(kStart.addSecs(-3600));
        signalManager().waitForSender();
        advance(9999);
        QCOMPARE(signalManager().requestsStarted(), 0);
        advance(1);
        QTRY_COMPARE(m_service.requestCount(), 1);
    }

    void refusedBatchIsSplitInHalves_data()
    {
        QTest::addColumn<int>("largest");
        QTest::addColumn<std::vector<int>>("sizes");
        QTest::newRow("halves") << 50 << std::vector<int> { 50, 50, 100 };
        QTest::newRow("quarters") << 30 << std::vector<int> { 25, 25, 25, 25, 50, 50, 100 };
    }

    void refusedBatchIsSplitInHalves()
    {
        QFETCH(int, largest);
        QFETCH(std::vector<int>, sizes);
        m_service.setResponder(
            [largest](const nlohmann::json &records) { return int(records.size()) > largest ? 413 : 200; });
        LogCollector log;
        auto config = frozenConfiguration(&log);
        writeCacheFile(config->telemetryAppID(), makeRecords(100));
        Cairn::initialize(config);
        QTRY_COMPARE(m_service.accepted().size(), size_t(100));
        QTRY_COMPARE(inFlightRecords(), 0);
        std::vector<int> seen = batchSizes(m_service);
        std::sort(seen.begin(), seen.end());
        QCOMPARE(seen, sizes);
        // Each record once; within each accepted batch the order is kept.
        QStringList accepted = typesOf(m_service.accepted());
        QCOMPARE(QSet<QString>(accepted.begin(), accepted.end()).size(), 100);
        for (const auto &request : m_service.requests()) {
            const QStringList types = typesOf(request.records());
            for (int i = 1; i < types.size(); ++i)
                QCOMPARE(types.at(i).mid(1).toInt(), types.at(i - 1).mid(1).toInt() + 1);
        }
        QCOMPARE(log.count(QStringLiteral("ERROR: payloadTooLarge")), int(sizes.size()) / 2);
        QCOMPARE(Cairn::pendingSignalCount(), 0);
        QCOMPARE(signalManager().requestsStarted(), int(sizes.size())); // no retries after
    }

    void refusedRecordIsDroppedAndTheRestDelivered()
    {
        m_service.setResponder([](const nlohmann::json &records) {
            for (const auto &record : records) {
                if (record.at("type") == "bad")
                    return 400;
            }
            return 200;
        });
        LogCollector log;
        auto config = frozenConfiguration(&log);
        SignalBatch records = makeRecords(9);
        records.insert(records.begin() + 6, makeRecords(1, QStringLiteral("bad")).front());
        records[6].type = QStringLiteral("bad");
        writeCacheFile(config->telemetryAppID(), records);
        Cairn::initialize(config);
        QTRY_COMPARE(m_service.accepted().size(), size_t(9));
        QTRY_COMPARE(inFlightRecords(), 0);
        QTRY_COMPARE(
            log.count(QStringLiteral(
                "ERROR: Dropped signal 'bad' that the service refused: invalidStatusCode(statusCode: 400)")),
            1);
        QStringList accepted = typesOf(m_service.accepted());
        accepted.sort();
        QCOMPARE(accepted, (QStringList { "r0", "r1", "r2", "r3", "r4", "r5", "r6", "r7", "r8" }));
        QCOMPARE(Cairn::pendingSignalCount(), 0);
        // Nothing is left to retry, and the queue goes on.
        Cairn::signal(QStringLiteral("next"));
        QTRY_COMPARE(Cairn::pendingSignalCount(), 1);
        const int before = m_service.requestCount();
        advance(10000);
        QTRY_COMPARE(m_service.requestCount(), before + 1);
        QCOMPARE(typesOf(m_service.requests().back().records()), QStringList { QStringLiteral("next") });
    }

    void putBackGoesBehindNewerRecords()
    {
        m_service.hold();
        auto config = frozenConfiguration();
        writeCacheFile(config->telemetryAppID(), makeRecords(2, QStringLiteral("old")));
        Cairn::initialize(config);
        QTRY_COMPARE(m_service.requestCount(), 1);
        // While the failing batch is in flight, a new record arrives.
        Cairn::signal(QStringLiteral("new"));
        QTRY_COMPARE(Cairn::pendingSignalCount(), 1);
        m_service.release();
        QTRY_COMPARE(Cairn::pendingSignalCount(), 3);
        advance(10000);
        QTRY_COMPARE(m_service.requestCount(), 2);
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
        LogCollector log;
        auto config = frozenConfiguration(&log);
        config->setApiBaseURL(closed);
        writeCacheFile(config->telemetryAppID(), makeRecords(5));
        Cairn::initialize(config);
        QTRY_COMPARE(log.countContaining(QStringLiteral("Connection refused")), 1);
        QTRY_COMPARE(Cairn::pendingSignalCount(), 5);
        advance(10000);
        QTRY_COMPARE(log.countContaining(QStringLiteral("Connection refused")), 2);
        QTRY_COMPARE(Cairn::pendingSignalCount(), 5);
        // Pointing the shared configuration at a working service delivers them, after the
        // back-off of the second failure.
        config->setApiBaseURL(m_service.url());
        advance(19999);
        QCOMPARE(m_service.requestCount(), 0);
        advance(1);
        QTRY_COMPARE(m_service.requestCount(), 1);
        QCOMPARE(m_service.requests()[0].records().size(), size_t(5));
        QCOMPARE(typesOf(m_service.requests()[0].records()).first(), QStringLiteral("r0"));
    }

    void invalidEndpointPutsBack()
    {
        LogCollector log;
        auto config = frozenConfiguration(&log);
        config->setApiBaseURL(QUrl(QStringLiteral("not a url at all")));
        config->setApiNamespace(QStringLiteral("space"));
        writeCacheFile(config->telemetryAppID(), makeRecords(2));
        initializeSettled(config);
        advance(10000);
        QCOMPARE(
            log.count(QStringLiteral("ERROR: Unable to construct signal API URL for namespace space")), 2);
        QCOMPARE(log.count(QStringLiteral("ERROR: invalidEndpointUrl")), 2);
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
        auto config = testConfiguration(m_service.url());
        writeCacheFile(config->telemetryAppID(), makeRecords(1));
        config->setApiNamespace(hasSpace ? std::optional<QString>(space) : std::nullopt);
        Cairn::initialize(config);
        QTRY_COMPARE(m_service.requestCount(), 1);
        QCOMPARE(QString::fromStdString(m_service.requests()[0].path), path);
    }

    void immediateSyncAtMostOnceInTenSeconds()
    {
        // The sender's own first round is over before the first signal: only immediate syncs
        // can send here (the timer waits an hour).
        Clock::setFixed(kStart);
        initializeSettled(testConfiguration(m_service.url()));
        Cairn::signal(QStringLiteral("a"));
        QTRY_COMPARE(Cairn::pendingSignalCount(), 1);
        Cairn::requestImmediateSync();
        QTRY_COMPARE(m_service.requestCount(), 1);
        QTRY_COMPARE(inFlightRecords(), 0);
        Cairn::signal(QStringLiteral("b"));
        QTRY_COMPARE(Cairn::pendingSignalCount(), 1);
        Clock::advance(9000);
        QVERIFY(!Cairn::installedManager()->requestImmediateSync()); // within ten seconds: ignored
        Clock::advance(1500);
        QVERIFY(Cairn::installedManager()->requestImmediateSync());
        QTRY_COMPARE(m_service.requestCount(), 2);
        QCOMPARE(typesOf(m_service.requests()[0].records()), QStringList { QStringLiteral("a") });
        QCOMPARE(typesOf(m_service.requests()[1].records()), QStringList { QStringLiteral("b") });
        // A clock set back does not silence it for as long.
        Clock::advance(-3600000);
        QVERIFY(Cairn::installedManager()->requestImmediateSync());
        // The wire date comes from the same clock.
        QCOMPARE(QString::fromStdString(m_service.requests()[0].records()[0].at("receivedAt")),
            QStringLiteral("2025-01-31T13:45:10+0000"));
    }

    void noServiceRecordsNothing_data()
    {
        QTest::addColumn<QUrl>("base");
        QTest::newRow("none") << QUrl();
        QTest::newRow("reserved domain") << QUrl(QStringLiteral("https://ingest.bramble.invalid"));
        QTest::newRow("reserved domain, absolute")
            << QUrl(QStringLiteral("https://INGEST.Bramble.Invalid.:443/"));
    }

    void noServiceRecordsNothing()
    {
        QFETCH(QUrl, base);
        LogCollector log;
        auto config = testConfiguration(base, &log);
        config->setSendInterval(std::chrono::milliseconds(20));
        config->setSessionStartDelay(std::chrono::milliseconds(0));
        QVERIFY(!config->isServiceConfigured());
        QVERIFY(config->isInactive());
        // A file an earlier build left stays as it is.
        writeCacheFile(config->telemetryAppID(), makeRecords(2));
        const QString file = SignalCache::filePath(config->telemetryAppID());
        const QByteArray before = [&] {
            QFile f(file);
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        }();
        initializeSettled(config);
        Cairn::signal(QStringLiteral("link_added"));
        Cairn::requestImmediateSync();
        QTest::qWait(150);
        Cairn::installedManager()->signalManager().appWillTerminate();
        QCOMPARE(Cairn::pendingSignalCount(), 0);
        QCOMPARE(signalManager().requestsStarted(), 0);
        QCOMPARE(log.lines(), QStringList());
        QVERIFY(!QFile::exists(Cairn::installedManager()->clientDefaults()->filePath()));
        QVERIFY(!QFile::exists(file + QStringLiteral(".lock")));
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), before);
        QFile::remove(file);
    }
};

int main(int argc, char **argv)
{
    TestEnvironment::isolate();
    QCoreApplication app(argc, argv);
    TestCairnTransport tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_cairn_transport.moc"
