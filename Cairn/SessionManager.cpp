#include "Cairn/SessionManager.h"

#include "Cairn/ClientDefaults.h"
#include "Cairn/Clock.h"
#include "Cairn/Dispatcher.h"
#include "Cairn/SerialQueue.h"
#include "Cairn/ThreadAnnotations.h"

#include <QGuiApplication>
#include <QThread>
#include <limits>
#include <nlohmann/json.hpp>

namespace Cairn {

namespace {
    const QString kRecentSessions = QStringLiteral("recentSessions");
    const QString kDeletedSessionsCount = QStringLiteral("deletedSessionsCount");
    const QString kFirstSessionDate = QStringLiteral("firstSessionDate");
    const QString kDistinctDaysUsed = QStringLiteral("distinctDaysUsed");
} // namespace

QByteArray encodeStoredSessions(const QList<StoredSession> &sessions)
{
    nlohmann::ordered_json array = nlohmann::ordered_json::array();
    for (const auto &session : sessions) {
        // Seconds since 1970, fraction truncated toward zero.
        array.push_back({ { "st", session.startedAtMSecs / 1000 }, { "dn", session.durationInSeconds } });
    }
    const std::string text = array.dump();
    return QByteArray(text.data(), qsizetype(text.size()));
}

std::optional<QList<StoredSession>> decodeStoredSessions(const QByteArray &bytes)
{
    const auto json = nlohmann::json::parse(bytes.constBegin(), bytes.constEnd(), nullptr, false);
    if (json.is_discarded() || !json.is_array())
        return std::nullopt;
    QList<StoredSession> sessions;
    for (const auto &item : json) {
        if (!item.is_object())
            return std::nullopt;
        const auto st = item.find("st");
        const auto dn = item.find("dn");
        if (st == item.end() || dn == item.end() || !st->is_number() || !dn->is_number_integer())
            return std::nullopt;
        sessions.append(StoredSession { qint64(st->get<double>()) * 1000, dn->get<int>() });
    }
    return sessions;
}

QString SessionManager::fullDate(const QDateTime &moment)
{
    return moment.toLocalTime().date().toString(Qt::ISODate);
}

SessionManager::SessionManager(std::shared_ptr<ClientDefaults> defaults, SignalSender sender, QObject *parent)
    : QObject(parent)
    , m_defaults(std::move(defaults))
    , m_sender(std::move(sender))
    , m_persistenceQueue(
          std::make_unique<SerialQueue>(QStringLiteral("com.cairn.sessionmanager.persistence")))
    , m_sessionDurationUpdater(this)
    , m_dispatcher(new Dispatcher(this))
    , m_currentSessionStartedAtMSecs(std::numeric_limits<qint64>::min())
{
    m_sessionDurationUpdater.setInterval(1000);
    connect(&m_sessionDurationUpdater, &QTimer::timeout, this, &SessionManager::updateSessionDuration);

    if (m_defaults) {
        const QVariant firstDate = m_defaults->value(kFirstSessionDate);
        if (firstDate.isValid() && !firstDate.toString().isEmpty())
            m_firstSessionDate = firstDate.toString();
        m_distinctDaysUsed = m_defaults->value(kDistinctDaysUsed).toStringList();
        m_deletedSessionsCount = m_defaults->value(kDeletedSessionsCount).toInt();

        const QVariant stored = m_defaults->value(kRecentSessions);
        const auto decoded = stored.isValid() ? decodeStoredSessions(stored.toByteArray()) : std::nullopt;
        if (decoded) {
            const qint64 cutoff = Clock::nowMSecs() - retentionWindowSeconds * 1000;
            int dropped = 0;
            for (const auto &session : *decoded) {
                if (session.startedAtMSecs > cutoff)
                    m_recentSessions.append(session);
                else
                    ++dropped;
            }
            m_deletedSessionsCount += dropped;
            persist(kDeletedSessionsCount, m_deletedSessionsCount);
        }
    }
    recordDistinctDay();

    if (auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        connect(app, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
            const bool active = state == Qt::ApplicationActive;
            if (active == m_active)
                return;
            m_active = active;
            if (active)
                handleWillEnterForegroundNotification();
            else
                handleDidEnterBackgroundNotification();
        });
    }
}

SessionManager::~SessionManager()
{
    m_persistenceQueue->waitForDone();
}

void SessionManager::persist(const QString &key, const QVariant &value)
{
    if (!m_defaults)
        return;
    m_persistenceQueue->async([defaults = m_defaults, key, value] { defaults->setValue(key, value); });
}

void SessionManager::recordDistinctDay()
{
    const QString today = fullDate(Clock::now());
    QMutexLocker locker(&m_mutex);
    if (!m_distinctDaysUsed.isEmpty() && m_distinctDaysUsed.last() == today)
        return;
    m_distinctDaysUsed.append(today);
    persist(kDistinctDaysUsed, m_distinctDaysUsed);
}

void SessionManager::beginSession()
{
    if (QThread::currentThread() != thread()) {
        m_dispatcher->post([this] { beginSession(); });
        return;
    }
    stopDurationTimer();
    bool newInstall = false;
    QString today;
    {
        QMutexLocker locker(&m_mutex);
        if (m_recentSessions.isEmpty()) {
            newInstall = true;
            today = fullDate(Clock::now());
            m_firstSessionDate = today;
            persist(kFirstSessionDate, today);
        }
        m_currentSessionStartedAtMSecs = Clock::nowMSecs();
        m_currentSessionDuration = 0.0;
    }
    if (newInstall && m_sender)
        m_sender(QStringLiteral("Cairn.Acquisition.newInstallDetected"),
            Parameters { { QStringLiteral("Cairn.Acquisition.firstSessionDate"), today } });
    updateSessionDuration();
    startDurationTimer();
}

void SessionManager::updateSessionDuration()
{
    const qint64 now = Clock::nowMSecs();
    QMutexLocker locker(&m_mutex);
    if (m_sessionDurationLastUpdatedAtMSecs)
        m_currentSessionDuration += double(now - *m_sessionDurationLastUpdatedAtMSecs) / 1000.0;
    m_sessionDurationLastUpdatedAtMSecs = now;
    storeCurrentSessionLocked();
}

void SessionManager::storeCurrentSessionLocked()
{
    if (m_currentSessionDuration < 1.0)
        return;
    const int seconds = int(m_currentSessionDuration);
    bool found = false;
    for (auto it = m_recentSessions.rbegin(); it != m_recentSessions.rend(); ++it) {
        if (it->startedAtMSecs == m_currentSessionStartedAtMSecs) {
            it->durationInSeconds = seconds;
            found = true;
            break;
        }
    }
    if (!found)
        m_recentSessions.append(StoredSession { m_currentSessionStartedAtMSecs, seconds });
    persist(kRecentSessions, encodeStoredSessions(m_recentSessions));
}

void SessionManager::stopDurationTimer()
{
    m_sessionDurationUpdater.stop();
    QMutexLocker locker(&m_mutex);
    m_sessionDurationLastUpdatedAtMSecs.reset();
}

void SessionManager::startDurationTimer()
{
    m_sessionDurationUpdater.start();
}

void SessionManager::handleDidEnterBackgroundNotification()
{
    updateSessionDuration();
    stopDurationTimer();
}

void SessionManager::handleWillEnterForegroundNotification()
{
    updateSessionDuration();
    startDurationTimer();
}

bool SessionManager::isDurationTimerActive() const
{
    return m_sessionDurationUpdater.isActive();
}

void SessionManager::waitForPersistence()
{
    m_persistenceQueue->waitForDone();
}

SessionManager::Statistics SessionManager::statistics() const
{
    QMutexLocker locker(&m_mutex);
    Statistics stats;
    stats.recentSessions = m_recentSessions;
    stats.firstSessionDate = m_firstSessionDate;
    stats.distinctDaysUsed = m_distinctDaysUsed;
    stats.deletedSessionsCount = m_deletedSessionsCount;
    if (m_recentSessions.isEmpty()) {
        stats.averageSessionSeconds = -1;
    } else if (m_recentSessions.size() == 1) {
        stats.averageSessionSeconds = m_recentSessions.first().durationInSeconds;
    } else {
        qint64 sum = 0;
        for (qsizetype i = 0; i + 1 < m_recentSessions.size(); ++i)
            sum += m_recentSessions.at(i).durationInSeconds;
        stats.averageSessionSeconds = int(sum / (m_recentSessions.size() - 1));
    }
    return stats;
}

QList<StoredSession> SessionManager::recentSessions() const
{
    QMutexLocker locker(&m_mutex);
    return m_recentSessions;
}

int SessionManager::averageSessionSeconds() const
{
    return statistics().averageSessionSeconds;
}

} // namespace Cairn
