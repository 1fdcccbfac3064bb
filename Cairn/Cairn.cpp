#include "Cairn/Cairn.h"

#include "Cairn/SignalCache.h"
#include "Cairn/SignalManager.h"
#include "Cairn/TelemetryManager.h"
#include "Cairn/ThreadAnnotations.h"

#include <QCoreApplication>
#include <QReadWriteLock>
#include <QSet>

namespace Cairn {

namespace {

    // TelemetryManagerStorage: the installed manager, read shared, installed exclusively.
    struct TelemetryManagerStorage
    {
        QReadWriteLock lock;
        std::shared_ptr<TelemetryManager> manager;
    };

    TelemetryManagerStorage &storage()
    {
        static TelemetryManagerStorage instance;
        return instance;
    }

    const QSet<QString> &reservedNamesLowercased()
    {
        static const QSet<QString> names = [] {
            QSet<QString> set;
            for (const char *name :
                { "type", "clientUser", "appID", "sessionID", "floatValue", "newSessionBegan", "platform",
                    "systemVersion", "majorSystemVersion", "majorMinorSystemVersion", "appVersion",
                    "buildNumber", "isSimulator", "isDebug", "isTestFlight", "isAppStore", "modelName",
                    "architecture", "operatingSystem", "targetEnvironment", "locale", "region", "appLanguage",
                    "preferredLanguage", "telemetryClientVersion" })
                set.insert(QString::fromLatin1(name).toLower());
            return set;
        }();
        return names;
    }

    void install(std::shared_ptr<TelemetryManager> manager)
    {
        std::shared_ptr<TelemetryManager> previous;
        {
            Sync::WriteLocker locker(&storage().lock);
            previous = std::move(storage().manager);
            storage().manager = std::move(manager);
        }
        // `previous` is released here, outside the lock.
    }

    // The installed manager; in previews one built from an empty identifier and installed;
    // otherwise a throwaway for this call.
    std::shared_ptr<TelemetryManager> findManager()
    {
        {
            Sync::ReadLocker locker(&storage().lock);
            if (storage().manager)
                return storage().manager;
        }
        auto config = std::make_shared<TelemetryManagerConfiguration>(QString());
        if (qgetenv("XCODE_RUNNING_FOR_PREVIEWS") == "1") {
            auto manager = TelemetryManager::create(config);
            Sync::WriteLocker locker(&storage().lock);
            if (!storage().manager)
                storage().manager = manager;
            return storage().manager;
        }
        return TelemetryManager::create(config, true);
    }

    void logError(const ConfigurationPtr &config, const QString &message)
    {
        if (const auto handler = config->logHandler())
            handler->log(LogLevel::error, message);
    }

    void warnAboutKey(const ConfigurationPtr &config, const QString &key)
    {
        const QString lower = key.toLower();
        if (lower.startsWith(QLatin1String("cairn.")))
            logError(config,
                QStringLiteral("Sending parameter with reserved key prefix 'Cairn.' will cause unexpected "
                               "behavior. Please use another prefix instead."));
        else if (reservedNamesLowercased().contains(lower))
            logError(config,
                QStringLiteral("Sending parameter with reserved key '") + key
                    + QStringLiteral("' will cause unexpected behavior. Please use another key instead."));
    }

} // namespace

void initialize(ConfigurationPtr config)
{
    if (!config)
        return;
    install(TelemetryManager::create(std::move(config)));
}

void deinitialize()
{
    install(nullptr);
}

std::shared_ptr<TelemetryManager> installedManager()
{
    Sync::ReadLocker locker(&storage().lock);
    return storage().manager;
}

int pendingSignalCount()
{
    const auto manager = installedManager();
    return manager ? manager->signalManager().cache()->count() : 0;
}

Parameters prefixingKeys(const Parameters &parameters, const std::optional<QString> &prefix)
{
    if (!prefix || prefix->isEmpty())
        return parameters;
    Parameters result;
    for (auto it = parameters.cbegin(); it != parameters.cend(); ++it) {
        if (it.key().startsWith(QLatin1String("Cairn.")))
            result.insert(it.key(), it.value());
        else
            result.insert(*prefix + it.key(), it.value());
    }
    return result;
}

void signal(const QString &name, const Parameters &parameters, std::optional<double> floatValue,
    const std::optional<QString> &customUserID)
{
    const auto manager = findManager();
    const ConfigurationPtr config = manager->configuration();
    if (config->previewMode() || config->isInactive())
        return;
    const QString combinedName = config->defaultSignalPrefix().value_or(QString()) + name;
    const Parameters prefixed = prefixingKeys(parameters, config->defaultParameterPrefix());
    if (config->reservedParameterWarningsEnabled()) {
        const QString lower = combinedName.toLower();
        if (lower.startsWith(QLatin1String("cairn.")))
            logError(config,
                QStringLiteral("Sending signal with reserved prefix 'Cairn.' will cause unexpected behavior. "
                               "Please use another prefix instead."));
        else if (reservedNamesLowercased().contains(lower))
            logError(config,
                QStringLiteral("Sending signal with reserved name '") + combinedName
                    + QStringLiteral("' will cause unexpected behavior. Please use another name instead."));
        for (auto it = prefixed.cbegin(); it != prefixed.cend(); ++it)
            warnAboutKey(config, it.key());
    }
    recordSignal(combinedName, prefixed, floatValue, customUserID);
}

void recordSignal(const QString &name, const Parameters &parameters, std::optional<double> floatValue,
    const std::optional<QString> &customUserID)
{
    auto manager = findManager();
    const ConfigurationPtr config = manager->configuration();
    if (config->previewMode() || config->isInactive())
        return;
    const Parameters defaults
        = prefixingKeys(config->defaultParameters()(), config->defaultParameterPrefix());
    Parameters combined = defaults;
    for (auto it = parameters.cbegin(); it != parameters.cend(); ++it)
        combined.insert(it.key(), it.value());
    for (auto it = defaults.cbegin(); it != defaults.cend(); ++it)
        warnAboutKey(config, it.key());

    // Record building starts on the main thread: the default parameters read display state.
    auto process = [manager, name, combined = std::move(combined), floatValue, customUserID] {
        manager->signalManager().processSignal(name, combined, floatValue, customUserID);
    };
    manager->postToMainThread(std::move(process));
}

void renewSession()
{
    if (const auto manager = installedManager())
        manager->renewSession();
}

QString hashedDefaultUserIdentifier()
{
    return findManager()->hashedDefaultUserIdentifier();
}

void requestImmediateSync()
{
    if (const auto manager = installedManager())
        manager->requestImmediateSync();
}

void setDefaultUser(const std::optional<QString> &user)
{
    if (const auto manager = installedManager())
        manager->configuration()->setDefaultUser(user);
}

} // namespace Cairn
