#include "Cairn/TelemetryManager.h"

#include "Cairn/Cairn.h"
#include "Cairn/ClientDefaults.h"
#include "Cairn/Clock.h"
#include "Cairn/Dispatcher.h"
#include "Cairn/Hashing.h"
#include "Cairn/SessionManager.h"
#include "Cairn/SignalManager.h"
#include "Cairn/ThreadAnnotations.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <limits>

namespace Cairn {

TelemetryManager::TelemetryManager(ConfigurationPtr configuration)
    : m_configuration(std::move(configuration))
    , m_lastTimeImmediateSyncRequested(std::numeric_limits<qint64>::min() / 2)
    , m_lastDateAppEnteredBackground(std::numeric_limits<qint64>::min() / 2)
{ }

std::shared_ptr<TelemetryManager> TelemetryManager::create(ConfigurationPtr configuration, bool throwaway)
{
    std::shared_ptr<TelemetryManager> manager(new TelemetryManager(std::move(configuration)));
    if (auto *app = QCoreApplication::instance()) {
        manager->m_mainDispatcher = new Dispatcher;
        if (manager->m_mainDispatcher->thread() != app->thread())
            manager->m_mainDispatcher->moveToThread(app->thread());
    }
    if (!throwaway)
        manager->m_clientDefaults
            = std::make_shared<ClientDefaults>(manager->m_configuration->telemetryAppID());
    std::weak_ptr<TelemetryManager> weak = manager;
    SignalManager::StatisticsProvider statistics = [weak]() -> std::optional<SessionManager::Statistics> {
        const auto self = weak.lock();
        if (!self || !self->m_clientDefaults)
            return std::nullopt;
        return self->sessionManager()->statistics();
    };
    manager->m_signalManager = std::make_unique<SignalManager>(manager->m_configuration,
        manager->m_clientDefaults, statistics, SignalManager::Options { throwaway });
    if (throwaway)
        return manager;

    // Termination: signals posted to the main thread but not yet processed are built first,
    // then the cache is written.
    if (manager->m_mainDispatcher) {
        QObject::connect(
            QCoreApplication::instance(), &QCoreApplication::aboutToQuit, manager->m_mainDispatcher,
            [weak] {
                if (const auto self = weak.lock()) {
                    self->m_mainDispatcher->runPending();
                    self->m_signalManager->appWillTerminate();
                }
            },
            Qt::DirectConnection);
    }
    manager->m_configuration->setSessionChangedHandler([weak] {
        if (const auto self = weak.lock())
            self->sessionDidChange();
    });
    if (auto *app = QCoreApplication::instance()) {
        const auto delay = manager->m_configuration->sessionStartDelay();
        const auto start = [weak, delay, app] {
            QTimer::singleShot(delay, app, [weak] {
                if (const auto self = weak.lock())
                    self->renewSession();
            });
        };
        if (QThread::currentThread() == app->thread())
            start();
        else
            manager->postToMainThread(start);
    }
    return manager;
}

TelemetryManager::~TelemetryManager()
{
    if (m_mainDispatcher)
        m_mainDispatcher->deleteLater(); // this may run inside one of its jobs
    m_configuration->setSessionChangedHandler({});
    m_signalManager.reset();
    QMutexLocker locker(&m_sessionMutex);
    if (m_sessionManager) {
        m_sessionManager->waitForPersistence();
        if (QThread::currentThread() == m_sessionManager->thread())
            delete m_sessionManager;
        else
            m_sessionManager->deleteLater();
        m_sessionManager = nullptr;
    }
}

void TelemetryManager::postToMainThread(std::function<void()> job)
{
    if (m_mainDispatcher)
        m_mainDispatcher->post(std::move(job));
    else
        job();
}

SessionManager *TelemetryManager::sessionManager()
{
    QMutexLocker locker(&m_sessionMutex);
    if (!m_sessionManager) {
        m_sessionManager = new SessionManager(m_clientDefaults,
            [](const QString &name, const Parameters &parameters) { Cairn::recordSignal(name, parameters); });
        auto *app = QCoreApplication::instance();
        if (app && m_sessionManager->thread() != app->thread())
            m_sessionManager->moveToThread(app->thread());
    }
    return m_sessionManager;
}

bool TelemetryManager::hasSessionManager() const
{
    QMutexLocker locker(&m_sessionMutex);
    return m_sessionManager != nullptr;
}

void TelemetryManager::renewSession()
{
    m_configuration->setSessionID(QUuid::createUuid());
}

void TelemetryManager::sessionDidChange()
{
    // Disabled analytics write nothing, session history included.
    if (m_configuration->sessionStatsEnabled() && !m_configuration->isInactive() && m_clientDefaults)
        sessionManager()->beginSession();
    if (m_configuration->sendNewSessionBeganSignal())
        Cairn::recordSignal(QStringLiteral("Cairn.Session.started"));
}

QString TelemetryManager::defaultUserIdentifier()
{
    return m_signalManager->defaultUserIdentifier();
}

QString TelemetryManager::hashedDefaultUserIdentifier()
{
    return sha256Hex(defaultUserIdentifier(), m_configuration->salt());
}

bool TelemetryManager::requestImmediateSync()
{
    const qint64 now = Clock::nowMSecs();
    {
        Sync::WriteLocker locker(&m_lock);
        // A clock set back since the last request does not block the next for that long.
        const qint64 since = now - m_lastTimeImmediateSyncRequested;
        if (since >= 0 && since <= immediateSyncIntervalMSecs)
            return false;
        m_lastTimeImmediateSyncRequested = now;
    }
    m_signalManager->scheduleSend(std::chrono::milliseconds(50));
    return true;
}

void TelemetryManager::willEnterForeground()
{
    qint64 lastBackground;
    {
        Sync::ReadLocker locker(&m_lock);
        lastBackground = m_lastDateAppEnteredBackground;
    }
    if (lastBackground + sessionRenewalAfterBackgroundMSecs < Clock::nowMSecs())
        renewSession();
}

void TelemetryManager::didEnterBackground()
{
    Sync::WriteLocker locker(&m_lock);
    m_lastDateAppEnteredBackground = Clock::nowMSecs();
}

} // namespace Cairn
