#include "Cairn/SignalManager.h"

#include "Cairn/ClientDefaults.h"
#include "Cairn/Clock.h"
#include "Cairn/DefaultSignalPayload.h"
#include "Cairn/Dispatcher.h"
#include "Cairn/Hashing.h"
#include "Cairn/SerialQueue.h"
#include "Cairn/TelemetryError.h"
#include "Cairn/ThreadAnnotations.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace Cairn {

namespace {
    const QString kDefaultUserIdentifier = QStringLiteral("defaultUserIdentifier");
}

std::optional<LogHandler> SignalManagerShared::logHandler() const
{
    if (previewMode)
        return std::nullopt;
    return configuration->logHandler();
}

void SignalManagerShared::log(LogLevel level, const QString &message) const
{
    if (const auto handler = logHandler())
        handler->log(level, message);
}

void SignalManagerShared::ensureCacheLoaded()
{
    QMutexLocker locker(&loadMutex);
    if (cacheLoaded || configuration->analyticsDisabled())
        return;
    cacheLoaded = true;
    cache->load();
}

// ---------------------------------------------------------------------------------------------

SignalSender::SignalSender(std::shared_ptr<SignalManagerShared> shared)
    : m_shared(std::move(shared))
{ }

SignalSender::~SignalSender()
{
    Sync::publish(m_shared.get());
}

void SignalSender::start(std::chrono::milliseconds interval)
{
    // One QNetworkAccessManager for this thread, created on it.
    m_network = new QNetworkAccessManager(this);
    m_network->setAutoDeleteReplies(true);
    sendPendingSignals();
    delete m_timer;
    m_timer = new QTimer(this);
    m_timer->setTimerType(Qt::PreciseTimer);
    m_timer->setInterval(interval);
    connect(m_timer, &QTimer::timeout, this, &SignalSender::sendPendingSignals);
    m_timer->start();
}

void SignalSender::sendPendingSignals()
{
    if (m_shared->configuration->analyticsDisabled())
        return; // sends nothing, logs nothing, leaves the cache file alone
    m_shared->ensureCacheLoaded();
    m_shared->log(
        LogLevel::debug, QStringLiteral("Current signal cache count: %1").arg(m_shared->cache->count()));
    SignalBatch batch = m_shared->cache->pop();
    if (batch.empty())
        return;
    m_shared->log(LogLevel::info,
        QStringLiteral("Sending %1 signals leaving a cache of %2 signals")
            .arg(batch.size())
            .arg(m_shared->cache->count()));
    send(std::move(batch));
}

void SignalSender::send(SignalBatch batch)
{
    const ConfigurationPtr &config = m_shared->configuration;
    const std::optional<QString> ns = config->apiNamespace();
    const QString path = (ns && !ns->isEmpty()) ? QStringLiteral("/v2/namespace/") + *ns + QStringLiteral("/")
                                                : QStringLiteral("/v2/");
    const QUrl base = config->apiBaseURL();
    QUrl relative;
    relative.setPath(path);
    const QUrl url = base.resolved(relative).adjusted(QUrl::NormalizePathSegments);
    const bool usable = base.isValid() && !base.isRelative() && !base.host().isEmpty() && url.isValid()
        && (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"));
    if (!usable) {
        m_shared->log(LogLevel::error,
            QStringLiteral("Unable to construct signal API URL for namespace ")
                + (ns ? *ns : QStringLiteral("nil")));
        m_shared->log(LogLevel::error, TelemetryError { TelemetryError::Kind::invalidEndpointUrl, 0 }.text());
        m_shared->cache->push(std::move(batch));
        return;
    }

    QByteArray body;
    try {
        body = encodeWireBatch(batch);
    } catch (...) {
        return; // the batch is dropped, as the Part says
    }
    m_shared->log(LogLevel::debug, QString::fromUtf8(body));

    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setTransferTimeout(60000);
    QNetworkReply *reply = m_network->post(request, body);
    ++m_inFlight;
    auto pending = std::make_shared<SignalBatch>(std::move(batch));
    connect(reply, &QNetworkReply::finished, this, [this, reply, pending] {
        --m_inFlight;
        const QVariant statusAttribute = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        const QNetworkReply::NetworkError error = reply->error();
        // Qt numbers connection, proxy and timeout failures below 200; above are HTTP statuses.
        const bool transportError
            = error != QNetworkReply::NoError && (int(error) < 200 || !statusAttribute.isValid());
        if (transportError) {
            m_shared->log(LogLevel::error, reply->errorString());
            m_shared->cache->push(std::move(*pending));
            return;
        }
        const int status = statusAttribute.isValid() ? statusAttribute.toInt() : 0;
        if (const auto failure = TelemetryError::classify(status)) {
            m_shared->log(LogLevel::error, failure->text());
            m_shared->cache->push(std::move(*pending));
            return;
        }
        const QByteArray data = reply->readAll();
        if (!data.isEmpty())
            m_shared->log(LogLevel::debug, QString::fromUtf8(data));
    });
}

// ---------------------------------------------------------------------------------------------

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
    m_shared->cache = std::make_shared<SignalCache>(m_shared->logHandler());
    if (m_options.throwaway)
        return;

    m_shared->ensureCacheLoaded();

    m_timerThread.setObjectName(QStringLiteral("com.cairn.SignalTimer"));
    m_sender = new SignalSender(m_shared);
    m_sender->moveToThread(&m_timerThread);
    QObject::connect(&m_timerThread, &QThread::finished, m_sender, &QObject::deleteLater);
    m_senderDispatcher = new Dispatcher;
    m_senderDispatcher->moveToThread(&m_timerThread);
    QObject::connect(&m_timerThread, &QThread::finished, m_senderDispatcher, &QObject::deleteLater);
    m_timerThread.start();
    const auto interval = configuration->sendInterval();
    m_senderDispatcher->post([sender = m_sender, interval] { sender->start(interval); });
}

SignalManager::~SignalManager()
{
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
    if (m_clientDefaults && !m_shared->configuration->analyticsDisabled()) {
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
        QTimer::singleShot(delay, sender, [sender] { sender->sendPendingSignals(); });
    });
}

void SignalManager::waitForBuilds()
{
    m_builder->waitForDone();
}

void SignalManager::appWillTerminate()
{
    if (m_shared->configuration->analyticsDisabled())
        return; // writes nothing; a file left by an earlier run stays as it is
    m_shared->log(LogLevel::debug, QStringLiteral("appWillTerminate()"));
    m_builder->waitForDone();
    m_shared->ensureCacheLoaded();
    m_shared->cache->saveCache();
}

} // namespace Cairn
