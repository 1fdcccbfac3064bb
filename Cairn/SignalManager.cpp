#include "Cairn/SignalManager.h"

#include "Cairn/ClientDefaults.h"
#include "Cairn/Clock.h"
#include "Cairn/DefaultSignalPayload.h"
#include "Cairn/Dispatcher.h"
#include "Cairn/Hashing.h"
#include "Cairn/SerialQueue.h"
#include "Cairn/ThreadAnnotations.h"

#include <QCoreApplication>
#include <QTimer>
#include <future>

namespace Cairn {

namespace {
    const QString kDefaultUserIdentifier = QStringLiteral("defaultUserIdentifier");
}

SignalManager::SignalManager(ConfigurationPtr configuration, std::shared_ptr<ClientDefaults> clientDefaults,
    StatisticsProvider statistics, Options options)
    : m_shared(std::make_shared<SignalManagerShared>())
    , m_clientDefaults(std::move(clientDefaults))
    , m_statistics(std::move(statistics))
    , m_options(options)
    , m_builder(std::make_unique<SerialQueue>(QStringLiteral("com.cairn.SignalBuilder")))
{
    m_shared->configuration = configuration;
    m_shared->previewMode = configuration->previewMode();
    if (m_options.throwaway) {
        m_shared->cache = std::make_shared<SignalCache>(m_shared->logHandler(), SignalCache::Options {});
        return;
    }
    const QString appID = configuration->telemetryAppID();
    m_shared->cache = SignalCache::shared(m_shared->logHandler(),
        { SignalCache::filePath(appID), SignalCache::legacyFilePath(), appID,
            configuration->cacheWriteInterval() });

    m_timerThread.setObjectName(QStringLiteral("com.cairn.SignalTimer"));
    m_sender = new SignalSender(m_shared);
    m_sender->moveToThread(&m_timerThread);
    QObject::connect(&m_timerThread, &QThread::finished, m_sender, &QObject::deleteLater);
    m_senderDispatcher = new Dispatcher;
    m_senderDispatcher->moveToThread(&m_timerThread);
    QObject::connect(&m_timerThread, &QThread::finished, m_senderDispatcher, &QObject::deleteLater);
    m_timerThread.start();
    // The cache file is read there too, off the caller's thread.
    const auto interval = configuration->sendInterval();
    m_senderDispatcher->post([sender = m_sender, interval] { sender->start(interval); });
    // Rounds are due by Cairn::Clock: when a test moves it, the sender looks again.
    m_clockObserver = Clock::addObserver([dispatcher = m_senderDispatcher, sender = m_sender] {
        dispatcher->post([sender] { sender->checkSchedule(); });
    });
}

SignalManager::~SignalManager()
{
    if (m_clockObserver)
        Clock::removeObserver(m_clockObserver);
    if (m_timerThread.isRunning()) {
        m_timerThread.quit();
        m_timerThread.wait();
        Sync::receive(m_shared.get()); // the sender's last steps happen before this
    }
    m_builder->waitForDone();
}

QString SignalManager::defaultUserIdentifier()
{
    if (const auto user = m_shared->configuration->defaultUser())
        return *user;
    QMutexLocker locker(&m_userMutex);
    if (m_storedDefaultUser)
        return *m_storedDefaultUser;
    if (m_clientDefaults) {
        const QString stored = m_clientDefaults->value(kDefaultUserIdentifier).toString();
        if (!stored.isEmpty()) {
            m_storedDefaultUser = stored;
            return stored;
        }
    }
    const QString fresh = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    if (m_clientDefaults && !m_shared->configuration->isInactive()) {
        m_clientDefaults->setValue(kDefaultUserIdentifier, fresh);
        m_storedDefaultUser = fresh;
    }
    return fresh;
}

SignalPostBody SignalManager::buildRecord(const QString &name, const Parameters &defaults,
    const std::vector<std::shared_ptr<SignalEnricher>> &enrichers, const Parameters &parameters,
    std::optional<double> floatValue, const std::optional<QString> &customUserID, const QString &defaultUser,
    const QString &appID, const QString &salt, const QUuid &sessionID, bool testMode)
{
    Parameters payload = defaults;
    for (const auto &enricher : enrichers) {
        if (!enricher)
            continue;
        const Parameters extra = enricher->enrich(name, customUserID, floatValue);
        for (auto it = extra.cbegin(); it != extra.cend(); ++it)
            payload.insert(it.key(), it.value());
    }
    for (auto it = parameters.cbegin(); it != parameters.cend(); ++it)
        payload.insert(it.key(), it.value());

    SignalPostBody record;
    record.receivedAt = Clock::now();
    record.appID = appID;
    record.clientUser = sha256Hex(customUserID.value_or(defaultUser), salt);
    record.sessionID = sessionID.toString(QUuid::WithoutBraces).toUpper();
    record.type = name;
    record.floatValue = floatValue;
    record.payload = SignalPayload::fromParameters(payload);
    record.isTestMode = testMode ? QStringLiteral("true") : QStringLiteral("false");
    return record;
}

void SignalManager::processSignal(const QString &name, const Parameters &parameters,
    std::optional<double> floatValue, const std::optional<QString> &customUserID)
{
    const ConfigurationPtr &config = m_shared->configuration;
    // Main thread: the user identifier and the default parameters (screen, palette).
    const QString defaultUser = defaultUserIdentifier();
    DefaultSignalPayload::Inputs inputs;
    inputs.appVersion = config->appVersion();
    inputs.buildNumber = config->buildNumber();
    if (m_statistics)
        inputs.sessions = m_statistics();
    Parameters defaults = DefaultSignalPayload::parameters(inputs);

    // Builder thread: payload, hash, record, push.
    m_builder->async(
        [shared = m_shared, name, defaults = std::move(defaults), parameters, floatValue, customUserID,
            defaultUser, enrichers = config->metadataEnrichers(), appID = config->telemetryAppID(),
            salt = config->salt(), sessionID = config->sessionID(), testMode = config->testMode()] {
            SignalPostBody record = buildRecord(name, defaults, enrichers, parameters, floatValue,
                customUserID, defaultUser, appID, salt, sessionID, testMode);
            const auto handler = shared->logHandler();
            if (handler && handler->isEnabled(LogLevel::debug))
                handler->log(LogLevel::debug, QStringLiteral("Process signal: ") + record.description());
            shared->cache->push(std::move(record));
        });
}

void SignalManager::scheduleSend(std::chrono::milliseconds delay)
{
    if (!m_senderDispatcher)
        return;
    m_senderDispatcher->post([sender = m_sender, delay] {
        QTimer::singleShot(delay, sender, [sender] { sender->sendNowUnlessBackingOff(); });
    });
}

void SignalManager::waitForBuilds()
{
    m_builder->waitForDone();
}

void SignalManager::waitForSender()
{
    if (!m_senderDispatcher)
        return;
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> reached = done->get_future();
    m_senderDispatcher->post([done] { done->set_value(); });
    reached.wait();
}

void SignalManager::appWillTerminate()
{
    if (m_shared->configuration->isInactive())
        return; // writes nothing; a file left by an earlier run stays as it is
    m_shared->log(LogLevel::debug, QStringLiteral("appWillTerminate()"));
    m_builder->waitForDone();
    m_shared->terminating = true;
    m_shared->ensureCacheLoaded();
    const auto &cache = m_shared->cache;
    // A short process (a command-line command) often ends while its first batch is out.
    cache->waitUntilNothingInFlight(m_shared->configuration->terminationGracePeriod());
    cache->putBackAll();
    cache->saveCache();
}

} // namespace Cairn
