#pragma once

#include "Cairn/TelemetryManagerConfiguration.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

namespace Cairn {

class ClientDefaults;
class Dispatcher;
class SerialQueue;

// One stored session: start (whole seconds since 1970 on disk) and whole-second duration.
struct StoredSession
{
    qint64 startedAtMSecs = 0;
    int durationInSeconds = 0;

    friend bool operator==(const StoredSession &, const StoredSession &) = default;
};

// Keeps the local history of usage sessions and its retention figures. Lives on the
// main thread (its one-second timer and the activity handlers run there); its state is
// guarded by a mutex so that the figures can be read from any thread. All writes to
// clientDefaults go through the serial persistence queue, in submission order.
class SessionManager : public QObject
{
    Q_OBJECT
public:
    // Sends the client's own signals ("Cairn.Acquisition.newInstallDetected").
    using SignalSender = std::function<void(const QString &name, const Parameters &parameters)>;

    static constexpr qint64 retentionWindowSeconds = 7776000; // 90 days

    // `defaults` may be null: then nothing is read or written.
    SessionManager(std::shared_ptr<ClientDefaults> defaults, SignalSender sender, QObject *parent = nullptr);
    ~SessionManager() override;

    struct Statistics
    {
        QList<StoredSession> recentSessions;
        int averageSessionSeconds = -1;
        std::optional<QString> firstSessionDate;
        QStringList distinctDaysUsed;
        int deletedSessionsCount = 0;
    };
    Statistics statistics() const;
    QList<StoredSession> recentSessions() const;
    int averageSessionSeconds() const;

    // Called when a new session identifier is set. Off the manager's thread it is forwarded
    // there.
    void beginSession();
    // The one-second timer's target: adds the time since the last update and stores the
    // current session once it has lasted a second.
    void updateSessionDuration();
    void handleDidEnterBackgroundNotification();
    void handleWillEnterForegroundNotification();

    bool isDurationTimerActive() const;
    // Blocks until every write submitted so far is on disk (tests, termination).
    void waitForPersistence();

    // Full date (yyyy-MM-dd) of a moment in the current time zone.
    static QString fullDate(const QDateTime &moment);

private:
    void recordDistinctDay();
    void storeCurrentSessionLocked();
    void stopDurationTimer();
    void startDurationTimer();
    void persist(const QString &key, const QVariant &value);

    std::shared_ptr<ClientDefaults> m_defaults;
    SignalSender m_sender;
    std::unique_ptr<SerialQueue> m_persistenceQueue;
    QTimer m_sessionDurationUpdater;
    Dispatcher *m_dispatcher;

    mutable QMutex m_mutex;
    QList<StoredSession> m_recentSessions;
    qint64 m_currentSessionStartedAtMSecs;
    double m_currentSessionDuration = 0.0;
    std::optional<qint64> m_sessionDurationLastUpdatedAtMSecs;
    std::optional<QString> m_firstSessionDate;
    QStringList m_distinctDaysUsed;
    int m_deletedSessionsCount = 0;
    bool m_active = true;
};

QByteArray encodeStoredSessions(const QList<StoredSession> &sessions);
std::optional<QList<StoredSession>> decodeStoredSessions(const QByteArray &bytes);

} // namespace Cairn
