#pragma once

#include "Cairn/SessionManager.h"
#include "Cairn/SignalCache.h"
#include "Cairn/TelemetryManagerConfiguration.h"

#include <QMutex>
#include <QObject>
#include <QThread>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QNetworkAccessManager;
class QTimer;

namespace Cairn {

class ClientDefaults;
class Dispatcher;
class SerialQueue;

// State shared by the signal manager (main thread), its sender (timer thread) and the
// record-building jobs. Each part guards itself: the configuration and the cache have their
// own locks, the load flag its mutex.
struct SignalManagerShared
{
    ConfigurationPtr configuration;
    std::shared_ptr<SignalCache> cache;
    bool previewMode = false;

    // The configuration's log handler, or none in preview mode.
    std::optional<LogHandler> logHandler() const;
    void log(LogLevel level, const QString &message) const;
    // Loads the cache file once (never while analytics are disabled, so that a file left by
    // an earlier run stays untouched).
    void ensureCacheLoaded();

    QMutex loadMutex;
    bool cacheLoaded = false;
};

// Lives on the "com.cairn.SignalTimer" thread: owns the 10-second timer and that thread's
// QNetworkAccessManager, pops batches and posts them.
class SignalSender : public QObject
{
    Q_OBJECT
public:
    explicit SignalSender(std::shared_ptr<SignalManagerShared> shared);
    ~SignalSender() override;

    // On the timer thread: sends once at once, then every `interval`.
    void start(std::chrono::milliseconds interval);
    void sendPendingSignals();
    // Number of POSTs whose reply has not arrived yet.
    int requestsInFlight() const { return m_inFlight; }

private:
    void send(SignalBatch batch);

    std::shared_ptr<SignalManagerShared> m_shared;
    QNetworkAccessManager *m_network = nullptr;
    QTimer *m_timer = nullptr;
    int m_inFlight = 0;
};

// Turns accepted signals into records, keeps them in the cache, posts them in
// batches, writes the cache at termination and owns the default user identifier.
class SignalManager
{
public:
    using StatisticsProvider = std::function<std::optional<SessionManager::Statistics>()>;

    struct Options
    {
        // A manager made for one call (signal before initialize): touches no file, starts no
        // timer, observes no termination.
        bool throwaway = false;
    };

    SignalManager(ConfigurationPtr configuration, std::shared_ptr<ClientDefaults> clientDefaults,
        StatisticsProvider statistics, Options options);
    ~SignalManager();
    SignalManager(const SignalManager &) = delete;
    SignalManager &operator=(const SignalManager &) = delete;

    // Called on the main thread: computes the default user identifier and the default
    // parameters there, then builds the record on the builder thread and pushes it.
    void processSignal(const QString &name, const Parameters &parameters, std::optional<double> floatValue,
        const std::optional<QString> &customUserID);
    QString defaultUserIdentifier();
    // Runs sendPendingSignals on the timer thread after `delay`.
    void scheduleSend(std::chrono::milliseconds delay);
    // Termination: waits for records being built, then writes the cache file.
    void appWillTerminate();

    std::shared_ptr<SignalCache> cache() const { return m_shared->cache; }
    // Blocks until every record submitted so far has been built and pushed.
    void waitForBuilds();

    // Builds one record; pure apart from reading the clock. Exposed for tests and benchmarks.
    static SignalPostBody buildRecord(const QString &name, const Parameters &defaults,
        const std::vector<std::shared_ptr<SignalEnricher>> &enrichers, const Parameters &parameters,
        std::optional<double> floatValue, const std::optional<QString> &customUserID,
        const QString &defaultUser, const QString &appID, const QString &salt, const QUuid &sessionID,
        bool testMode);

private:
    std::shared_ptr<SignalManagerShared> m_shared;
    std::shared_ptr<ClientDefaults> m_clientDefaults;
    StatisticsProvider m_statistics;
    Options m_options;
    std::unique_ptr<SerialQueue> m_builder;
    QThread m_timerThread;
    SignalSender *m_sender = nullptr;
    Dispatcher *m_senderDispatcher = nullptr; // lives on the timer thread
    QMutex m_userMutex;
    std::optional<QString> m_storedDefaultUser;
};

} // namespace Cairn
