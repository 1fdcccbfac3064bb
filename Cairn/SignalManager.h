#pragma once

#include "Cairn/SessionManager.h"
#include "Cairn/SignalCache.h"
#include "Cairn/SignalSender.h"
#include "Cairn/TelemetryManagerConfiguration.h"

#include <QMutex>
#include <QThread>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace Cairn {

class ClientDefaults;
class Dispatcher;
class SerialQueue;

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
    // Runs a round on the timer thread after `delay` (real time), unless backing off.
    void scheduleSend(std::chrono::milliseconds delay);
    // Termination: waits for records being built and, a short while, for the replies of
    // batches in flight; puts back what is unanswered; writes the cache file. No round starts
    // afterwards.
    void appWillTerminate();

    std::shared_ptr<SignalCache> cache() const { return m_shared->cache; }
    // Blocks until every record submitted so far has been built and pushed.
    void waitForBuilds();
    // Blocks until the timer thread has handled everything posted to it so far (tests).
    void waitForSender();
    // POSTs started so far, and immediate-sync rounds that came due (tests).
    int requestsStarted() const { return m_shared->requestsStarted; }
    int immediateRounds() const { return m_shared->immediateRounds; }

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
    int m_clockObserver = 0;
    QMutex m_userMutex;
    std::optional<QString> m_storedDefaultUser;
};

} // namespace Cairn
