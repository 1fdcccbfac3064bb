// Session tracking and the retention figures, under a QGuiApplication (offscreen), with
// the clock frozen and moved by hand.
#include "CairnTestSupport.h"
#include "support/TestEnvironment.h"

#include <Cairn/Clock.h>
#include <Cairn/DefaultSignalPayload.h>
#include <Cairn/SessionManager.h>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QTest>

using namespace Cairn;

namespace {
const QUrl kNowhere(QStringLiteral("http://127.0.0.1:9"));
constexpr qint64 kDay = 86400000;

QDateTime noon()
{
    return QDateTime(QDate(2025, 3, 10), QTime(12, 0), Qt::LocalTime).toUTC();
}

QString freshAppID()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

QVariant storedValue(const QString &appID, const QString &key)
{
    QSettings settings(ClientDefaults::filePath(appID), QSettings::IniFormat);
    return settings.value(key);
}

QList<StoredSession> storedSessions(const QString &appID)
{
    return decodeStoredSessions(storedValue(appID, QStringLiteral("recentSessions")).toByteArray())
        .value_or(QList<StoredSession> {});
}

void seed(
    const QString &appID, const QList<StoredSession> &sessions, int deleted = 0, const QStringList &days = {})
{
    QSettings settings(ClientDefaults::filePath(appID), QSettings::IniFormat);
    settings.setValue(QStringLiteral("recentSessions"), encodeStoredSessions(sessions));
    if (deleted)
        settings.setValue(QStringLiteral("deletedSessionsCount"), deleted);
    if (!days.isEmpty())
        settings.setValue(QStringLiteral("distinctDaysUsed"), days);
    settings.sync();
}

SessionManager *sessions()
{
    return Cairn::installedManager()->sessionManager();
}

SignalBatch recordsOfType(const QString &type)
{
    SignalBatch found;
    for (const auto &record : pendingRecords())
        if (record.type == type)
            found.push_back(record);
    return found;
}
} // namespace

class TestCairnSession : public QObject
{
    Q_OBJECT

private slots:
    void init() { Clock::setFixed(noon()); }

    void cleanup()
    {
        if (const auto manager = Cairn::installedManager(); manager && manager->hasSessionManager())
            manager->sessionManager()->waitForPersistence();
        Cairn::deinitialize();
        Clock::useSystem();
    }

    void firstStartReportsNewInstall()
    {
        const QString appID = freshAppID();
        auto config = testConfiguration(kNowhere, nullptr, appID);
        config->setSessionStartDelay(std::chrono::milliseconds(50)); // the real start-up path
        initializeSettled(config);
        QTRY_COMPARE(Cairn::pendingSignalCount(), 2);
        const SignalBatch records = pendingRecords();
        const QString today = QStringLiteral("2025-03-10");
        QCOMPARE(records[0].type, QStringLiteral("Cairn.Acquisition.newInstallDetected"));
        QCOMPARE(records[0].payload.value(QStringLiteral("Cairn.Acquisition.firstSessionDate")), today);
        QCOMPARE(records[1].type, QStringLiteral("Cairn.Session.started"));
        QCOMPARE(records[1].sessionID, config->sessionID().toString(QUuid::WithoutBraces).toUpper());
        sessions()->waitForPersistence();
        QCOMPARE(storedValue(appID, QStringLiteral("firstSessionDate")).toString(), today);
        QVERIFY(sessions()->isDurationTimerActive());

        // Once a session has lasted a second, a new session is no new installation.
        Clock::advance(2000);
        sessions()->updateSessionDuration();
        Cairn::renewSession();
        QTRY_COMPARE(Cairn::pendingSignalCount(), 3);
        QCOMPARE(pendingRecords().back().type, QStringLiteral("Cairn.Session.started"));
        QCOMPARE(recordsOfType(QStringLiteral("Cairn.Acquisition.newInstallDetected")).size(), size_t(1));
    }

    void sessionsUnderASecondAreNotStored()
    {
        const QString appID = freshAppID();
        auto config = testConfiguration(kNowhere, nullptr, appID);
        config->setSendNewSessionBeganSignal(false);
        initializeSettled(config);
        const qint64 start = Clock::nowMSecs();
        Cairn::renewSession();
        Clock::advance(800);
        sessions()->updateSessionDuration();
        QCOMPARE(sessions()->recentSessions().size(), 0);
        // A new session begins: the 0.8 seconds are gone.
        Cairn::renewSession();
        const qint64 secondStart = Clock::nowMSecs();
        QVERIFY(secondStart > start);
        Clock::advance(65700);
        sessions()->updateSessionDuration();
        QCOMPARE(sessions()->recentSessions(), (QList<StoredSession> { { secondStart, 65 } }));
        sessions()->waitForPersistence();
        const QList<StoredSession> stored = storedSessions(appID);
        QCOMPARE(stored.size(), 1);
        QCOMPARE(stored[0].durationInSeconds, 65);
        QCOMPARE(stored[0].startedAtMSecs, secondStart / 1000 * 1000);
    }

    void inactiveTimeIsNotCounted()
    {
        auto config = testConfiguration(kNowhere);
        config->setSendNewSessionBeganSignal(false);
        initializeSettled(config);
        Cairn::renewSession();
        Clock::advance(5000);
        sessions()->handleDidEnterBackgroundNotification();
        QVERIFY(!sessions()->isDurationTimerActive());
        Clock::advance(100000);
        sessions()->handleWillEnterForegroundNotification();
        QVERIFY(sessions()->isDurationTimerActive());
        Clock::advance(3000);
        sessions()->updateSessionDuration();
        const auto list = sessions()->recentSessions();
        QCOMPARE(list.size(), 1);
        QCOMPARE(list[0].durationInSeconds, 8);
    }

    void ninetyDayPruning()
    {
        const QString appID = freshAppID();
        const qint64 now = Clock::nowMSecs();
        seed(appID,
            { { now - 100 * kDay, 10 }, { now - 95 * kDay, 20 }, { now - 90 * kDay, 25 },
                { now - 10 * kDay, 30 }, { now - kDay, 40 } },
            3);
        initializeSettled(testConfiguration(kNowhere, nullptr, appID));
        Cairn::signal(QStringLiteral("opened"));
        QTRY_COMPARE(Cairn::pendingSignalCount(), 1);
        // 100, 95 and exactly 90 days old are gone; the deleted count grew by three.
        QCOMPARE(sessions()->recentSessions().size(), 2);
        sessions()->waitForPersistence();
        QCOMPARE(storedValue(appID, QStringLiteral("deletedSessionsCount")).toInt(), 6);
        const SignalPostBody record = pendingRecords().front();
        QCOMPARE(
            record.payload.value(QStringLiteral("Cairn.Retention.totalSessionsCount")), QStringLiteral("8"));
        QCOMPARE(record.payload.value(QStringLiteral("Cairn.Retention.averageSessionSeconds")),
            QStringLiteral("30"));
        QCOMPARE(record.payload.value(QStringLiteral("Cairn.Retention.previousSessionSeconds")),
            QStringLiteral("30"));
        // The pruned list is written only when a session is stored.
        QCOMPARE(storedSessions(appID).size(), 5);
    }

    void averagesAndPreviousSession()
    {
        const QString appID = freshAppID();
        const qint64 now = Clock::nowMSecs();
        seed(appID, { { now - 3 * kDay, 10 }, { now - 2 * kDay, 20 }, { now - kDay, 31 } });
        initializeSettled(testConfiguration(kNowhere, nullptr, appID));
        QCOMPARE(sessions()->averageSessionSeconds(), 15); // (10 + 20) / 2, the last one left out
        Cairn::signal(QStringLiteral("x"));
        QTRY_COMPARE(Cairn::pendingSignalCount(), 1);
        QCOMPARE(
            pendingRecords().front().payload.value(QStringLiteral("Cairn.Retention.previousSessionSeconds")),
            QStringLiteral("20"));
        Cairn::deinitialize();

        const QString single = freshAppID();
        seed(single, { { now - kDay, 42 } });
        initializeSettled(testConfiguration(kNowhere, nullptr, single));
        QCOMPARE(sessions()->averageSessionSeconds(), 42);
        Cairn::signal(QStringLiteral("x"));
        QTRY_COMPARE(Cairn::pendingSignalCount(), 1);
        const SignalPostBody record = pendingRecords().front();
        QVERIFY(!record.payload.contains(QStringLiteral("Cairn.Retention.previousSessionSeconds")));
        QCOMPARE(record.payload.value(QStringLiteral("Cairn.Retention.averageSessionSeconds")),
            QStringLiteral("42"));
        QCOMPARE(
            record.payload.value(QStringLiteral("Cairn.Retention.totalSessionsCount")), QStringLiteral("1"));
    }

    void distinctDays()
    {
        const QString appID = freshAppID();
        seed(appID, {}, 0, { QStringLiteral("2025-01-20") }); // more than 30 days ago
        const auto start = [&] {
            initializeSettled(testConfiguration(kNowhere, nullptr, appID));
            sessions()->waitForPersistence();
        };
        start();
        QCOMPARE(storedValue(appID, QStringLiteral("distinctDaysUsed")).toStringList(),
            (QStringList { QStringLiteral("2025-01-20"), QStringLiteral("2025-03-10") }));
        Cairn::deinitialize();
        start(); // the same day again: no new entry
        QCOMPARE(storedValue(appID, QStringLiteral("distinctDaysUsed")).toStringList().size(), 2);
        Cairn::deinitialize();
        Clock::advance(kDay);
        start();
        QCOMPARE(storedValue(appID, QStringLiteral("distinctDaysUsed")).toStringList(),
            (QStringList {
                QStringLiteral("2025-01-20"), QStringLiteral("2025-03-10"), QStringLiteral("2025-03-11") }));
        Cairn::signal(QStringLiteral("x"));
        QTRY_COMPARE(Cairn::pendingSignalCount(), 1);
        const SignalPostBody record = pendingRecords().front();
        QCOMPARE(
            record.payload.value(QStringLiteral("Cairn.Retention.distinctDaysUsed")), QStringLiteral("3"));
        QCOMPARE(record.payload.value(QStringLiteral("Cairn.Retention.distinctDaysUsedLastMonth")),
            QStringLiteral("2"));
        // No session stored yet, so no first-session date either: today stands in.
        QCOMPARE(record.payload.value(QStringLiteral("Cairn.Acquisition.firstSessionDate")),
            QStringLiteral("2025-03-11"));
    }

    void unreadableHistoryCountsAsEmpty()
    {
        const QString appID = freshAppID();
        {
            QSettings settings(ClientDefaults::filePath(appID), QSettings::IniFormat);
            settings.setValue(QStringLiteral("recentSessions"), QByteArray("not json"));
            settings.setValue(QStringLiteral("deletedSessionsCount"), 2);
            settings.sync();
        }
        auto config = testConfiguration(kNowhere, nullptr, appID);
        initializeSettled(config);
        QCOMPARE(sessions()->recentSessions().size(), 0);
        Cairn::renewSession();
        QTRY_COMPARE(recordsOfType(QStringLiteral("Cairn.Acquisition.newInstallDetected")).size(), size_t(1));
        sessions()->waitForPersistence();
        QCOMPARE(storedValue(appID, QStringLiteral("deletedSessionsCount")).toInt(), 2);
    }

    void renewalAfterFiveMinutesInBackground()
    {
        auto config = testConfiguration(kNowhere);
        config->setSendNewSessionBeganSignal(false);
        initializeSettled(config);
        const auto manager = Cairn::installedManager();
        const QUuid first = config->sessionID();
        manager->didEnterBackground();
        Clock::advance(200000);
        manager->willEnterForeground();
        QCOMPARE(config->sessionID(), first);
        manager->didEnterBackground();
        Clock::advance(301000);
        manager->willEnterForeground();
        QVERIFY(config->sessionID() != first);
    }

    void screenFiguresFromPrimaryScreen()
    {
        QVERIFY(QGuiApplication::primaryScreen());
        DefaultSignalPayload::Inputs inputs;
        const Parameters p = DefaultSignalPayload::parameters(inputs);
        const QRect frame = QGuiApplication::primaryScreen()->geometry();
        QCOMPARE(p.value(QStringLiteral("Cairn.Device.screenResolutionWidth")),
            QString::number(frame.width()) + QStringLiteral(".0"));
        QCOMPARE(p.value(QStringLiteral("Cairn.Device.screenResolutionHeight")),
            QString::number(frame.height()) + QStringLiteral(".0"));
        QCOMPARE(p.value(QStringLiteral("Cairn.Device.screenScaleFactor")),
            DefaultSignalPayload::doubleText(QGuiApplication::primaryScreen()->devicePixelRatio()));
        const QString scheme = p.value(QStringLiteral("Cairn.UserPreference.colorScheme"));
        QVERIFY(scheme == QStringLiteral("Light") || scheme == QStringLiteral("Dark"));
        QCOMPARE(
            p.value(QStringLiteral("Cairn.UserPreference.layoutDirection")), QStringLiteral("leftToRight"));
    }

    void disabledStoresNoSessions()
    {
        const QString appID = freshAppID();
        auto config = testConfiguration(kNowhere, nullptr, appID);
        config->setAnalyticsDisabled(true);
        config->setSessionStatsEnabled(false);
        config->setSessionStartDelay(std::chrono::milliseconds(10));
        initializeSettled(config);
        Cairn::signal(QStringLiteral("app_launched"));
        Cairn::renewSession();
        Cairn::hashedDefaultUserIdentifier();
        QTest::qWait(200);
        QVERIFY(!Cairn::installedManager()->hasSessionManager());
        QCOMPARE(Cairn::pendingSignalCount(), 0);
        QVERIFY(!QFile::exists(ClientDefaults::filePath(appID)));
    }
};

BRAMBLE_TEST_GUI_MAIN(TestCairnSession)
#include "tst_cairn_session.moc"
