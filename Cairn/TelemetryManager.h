#pragma once

#include "Cairn/TelemetryManagerConfiguration.h"

#include <QMutex>
#include <QReadWriteLock>
#include <functional>
#include <memory>

namespace Cairn {

class ClientDefaults;
class Dispatcher;
class SessionManager;
class SignalManager;

// The installed client. Owns the signal manager, the client's private settings
// suite and (from first use) the session manager. Configuration reads are shared, writes
// exclusive (the configuration's own lock); the two timestamps have a lock of their own.
class TelemetryManager : public std::enable_shared_from_this<TelemetryManager>
{
public:
    // `throwaway`: a manager for one call, made when a signal arrives before initialize. It
    // reads and writes no file and starts no thread.
    static std::shared_ptr<TelemetryManager> create(ConfigurationPtr configuration, bool throwaway = false);
    ~TelemetryManager();
    TelemetryManager(const TelemetryManager &) = delete;
    TelemetryManager &operator=(const TelemetryManager &) = delete;

    ConfigurationPtr configuration() const { return m_configuration; }
    SignalManager &signalManager() { return *m_signalManager; }
    // Null for a throwaway manager.
    std::shared_ptr<ClientDefaults> clientDefaults() const { return m_clientDefaults; }
    // Created on first use, on (and owned by) the main thread.
    SessionManager *sessionManager();
    bool hasSessionManager() const;

    // Runs `job` on the main thread at its next event-loop turn (at once without a
    // QCoreApplication).
    void postToMainThread(std::function<void()> job);

    void renewSession();
    QString defaultUserIdentifier();
    QString hashedDefaultUserIdentifier();
    // At most once in ten seconds (by Clock); returns whether a send was scheduled.
    bool requestImmediateSync();
    void willEnterForeground();
    void didEnterBackground();

    static constexpr qint64 immediateSyncIntervalMSecs = 10000;
    static constexpr qint64 sessionRenewalAfterBackgroundMSecs = 300000;

private:
    explicit TelemetryManager(ConfigurationPtr configuration);
    void sessionDidChange();

    ConfigurationPtr m_configuration;
    Dispatcher *m_mainDispatcher = nullptr;
    std::shared_ptr<ClientDefaults> m_clientDefaults;
    std::unique_ptr<SignalManager> m_signalManager;

    mutable QMutex m_sessionMutex;
    SessionManager *m_sessionManager = nullptr;

    mutable QReadWriteLock m_lock;
    qint64 m_lastTimeImmediateSyncRequested;
    qint64 m_lastDateAppEnteredBackground;
};

} // namespace Cairn
