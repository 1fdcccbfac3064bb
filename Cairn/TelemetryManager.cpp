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
#include <algorithm>
#include <iterator>
#include <limits>
#include <mutex>
#include <set>

namespace Cairn {

namespace {
    // Every manager's main-thread dispatcher, for the application's end. Never destroyed: a
    // manager may still go during static destruction.
    struct MainDispatchers
    {
        std::mutex mutex;
        std::set<Dispatcher *> live;
    };
    MainDispatchers &mainDispatchers()
    {
        static auto *instance = new MainDispatchers;
        return *instance;
    }

    // Called by ~QCoreApplication, while Qt still works: no main-thread turn comes after this.
    // The jobs still waiting for one each hold their manager, and the installed manager would
    // otherwise go only during static destruction, too late to delete its dispatcher; both
    // would be lost for good. Records were saved at aboutToQuit.
    void releaseWithApplication()
    {
        const std::shared_ptr<TelemetryManager> installed = installedManager();
        deinitialize();
        std::deque<std::function<void()>> abandoned;
        {
            auto &dispatchers = mainDispatchers();
            std::lock_guard<std::mutex> lock(dispatchers.mutex);
            for (Dispatcher *dispatcher : dispatchers.live) {
                auto jobs = dispatcher->takePending();
                std::move(jobs.begin(), jobs.end(), std::back_inserter(abandoned));
            }
        }
        // Outside the lock: dropping a job may end a manager, which unregisters its dispatcher.
        abandoned.clear();
    }
} // namespace

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
        {
            auto &dispatchers = mainDispatchers();
            std::lock_guard<std::mutex> lock(dispatchers.mutex);
            dispatchers.live.insert(manager->m_mainDispatcher);
        }
        // Once per application object: its destructor clears the list after calling it.
        qRemovePostRoutine(&releaseWithApplication);
        qAddPostRoutine(&releaseWithApplication);
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

    // Termination: signals posted to the main thread but not yet processed are built first
    // (with any their processing posts: no later turn comes for them), then the cache is written.
    if (manager->m_mainDispatcher) {
        QObject::connect(
            QCoreApplication::instance(), &QCoreApplication::aboutToQuit, manager->m_mainDispatcher,
            [weak] {
                if (const auto self = weak.lock()) {
                    self->m_mainDispatcher->drain();
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
    if (m_mainDispatcher) {
        {
            auto &dispatchers = mainDispatchers();
            std::lock_guard<std::mutex> lock(dispatchers.mutex);
            dispatchers.live.erase(m_mainDispatcher);
        }
        // Inside one of its jobs (which held the last reference) or on another thread it goes at
        // its thread's next turn; otherwise now, which works also once no turn will come.
        if (m_mainDispatcher->thread() == QThread::currentThread() && !m_mainDispatcher->isRunningJobs())
            delete m_mainDispatcher;
        else
            m_mainDispatcher->deleteLater();
    }
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
