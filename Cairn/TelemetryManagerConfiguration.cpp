#include "Cairn/TelemetryManagerConfiguration.h"

#include "Cairn/ThreadAnnotations.h"

#include <QCoreApplication>

namespace Cairn {

QUrl defaultApiBaseURL()
{
    return QUrl();
}

TelemetryManagerConfiguration::TelemetryManagerConfiguration(const QString &appID, const QString &salt,
    const QUrl &baseURL, const std::optional<QString> &apiNamespace)
    : m_telemetryAppID(appID)
    , m_apiBaseURL(baseURL.isEmpty() ? defaultApiBaseURL() : baseURL)
    , m_namespace(apiNamespace)
    , m_salt(salt)
    , m_defaultParameters([] { return Parameters(); })
    , m_sessionID(QUuid::createUuid())
    , m_logHandler(LogHandler::standardError())
{
    if (QCoreApplication::instance())
        m_appVersion = QCoreApplication::applicationVersion();
    if (m_appVersion.isEmpty())
        m_appVersion = QStringLiteral("0");
}

#define CAIRN_GETTER(Type, name, member)                                                                     \
    Type TelemetryManagerConfiguration::name() const                                                         \
    {                                                                                                        \
        Sync::ReadLocker locker(&m_lock);                                                                    \
        return member;                                                                                       \
    }
#define CAIRN_SETTER(Type, name, member)                                                                     \
    void TelemetryManagerConfiguration::name(Type value)                                                     \
    {                                                                                                        \
        Sync::WriteLocker locker(&m_lock);                                                                   \
        member = value;                                                                                      \
    }

QString TelemetryManagerConfiguration::telemetryAppID() const
{
    return m_telemetryAppID; // immutable
}

CAIRN_GETTER(QUrl, apiBaseURL, m_apiBaseURL)
CAIRN_SETTER(const QUrl &, setApiBaseURL, m_apiBaseURL)
CAIRN_GETTER(std::optional<QString>, apiNamespace, m_namespace)
CAIRN_SETTER(const std::optional<QString> &, setApiNamespace, m_namespace)
CAIRN_GETTER(QString, salt, m_salt)
CAIRN_SETTER(const QString &, setSalt, m_salt)
CAIRN_GETTER(std::optional<QString>, defaultUser, m_defaultUser)
CAIRN_SETTER(const std::optional<QString> &, setDefaultUser, m_defaultUser)
CAIRN_GETTER(std::optional<QString>, defaultSignalPrefix, m_defaultSignalPrefix)
CAIRN_SETTER(const std::optional<QString> &, setDefaultSignalPrefix, m_defaultSignalPrefix)
CAIRN_GETTER(std::optional<QString>, defaultParameterPrefix, m_defaultParameterPrefix)
CAIRN_SETTER(const std::optional<QString> &, setDefaultParameterPrefix, m_defaultParameterPrefix)
CAIRN_GETTER(std::function<Parameters()>, defaultParameters, m_defaultParameters)
CAIRN_GETTER(bool, sendNewSessionBeganSignal, m_sendNewSessionBeganSignal)
CAIRN_SETTER(bool, setSendNewSessionBeganSignal, m_sendNewSessionBeganSignal)
CAIRN_GETTER(QUuid, sessionID, m_sessionID)
CAIRN_GETTER(bool, testMode, m_testMode.value_or(false))
CAIRN_SETTER(bool, setTestMode, m_testMode)
CAIRN_SETTER(bool, setPreviewMode, m_previewMode)
CAIRN_GETTER(bool, analyticsDisabled, m_analyticsDisabled)
CAIRN_SETTER(bool, setAnalyticsDisabled, m_analyticsDisabled)
CAIRN_GETTER(bool, reservedParameterWarningsEnabled, m_reservedParameterWarningsEnabled)
CAIRN_SETTER(bool, setReservedParameterWarningsEnabled, m_reservedParameterWarningsEnabled)
CAIRN_GETTER(bool, sessionStatsEnabled, m_sessionStatsEnabled)
CAIRN_SETTER(bool, setSessionStatsEnabled, m_sessionStatsEnabled)
CAIRN_GETTER(std::optional<LogHandler>, logHandler, m_logHandler)
CAIRN_SETTER(const std::optional<LogHandler> &, setLogHandler, m_logHandler)
CAIRN_GETTER(std::vector<std::shared_ptr<SignalEnricher>>, metadataEnrichers, m_metadataEnrichers)
CAIRN_SETTER(const std::vector<std::shared_ptr<SignalEnricher>> &, setMetadataEnrichers, m_metadataEnrichers)
CAIRN_GETTER(QString, appVersion, m_appVersion)
CAIRN_SETTER(const QString &, setAppVersion, m_appVersion)
CAIRN_GETTER(QString, buildNumber, m_buildNumber)
CAIRN_SETTER(const QString &, setBuildNumber, m_buildNumber)
CAIRN_GETTER(std::chrono::milliseconds, sendInterval, m_sendInterval)
CAIRN_SETTER(std::chrono::milliseconds, setSendInterval, m_sendInterval)
CAIRN_GETTER(std::chrono::milliseconds, sessionStartDelay, m_sessionStartDelay)
CAIRN_SETTER(std::chrono::milliseconds, setSessionStartDelay, m_sessionStartDelay)
CAIRN_GETTER(std::chrono::milliseconds, cacheWriteInterval, m_cacheWriteInterval)
CAIRN_SETTER(std::chrono::milliseconds, setCacheWriteInterval, m_cacheWriteInterval)
CAIRN_GETTER(std::chrono::milliseconds, terminationGracePeriod, m_terminationGracePeriod)
CAIRN_SETTER(std::chrono::milliseconds, setTerminationGracePeriod, m_terminationGracePeriod)
CAIRN_SETTER(std::function<void()>, setSessionChangedHandler, m_sessionChanged)

bool TelemetryManagerConfiguration::isServiceConfigured() const
{
    const QUrl url = apiBaseURL();
    if (url.isEmpty())
        return false;
    // Such names never resolve (RFC 6761 lets applications know that without asking).
    QString host = url.host().toLower();
    if (host.endsWith(QLatin1Char('.')))
        host.chop(1);
    return host != QLatin1String("invalid") && !host.endsWith(QLatin1String(".invalid"));
}

bool TelemetryManagerConfiguration::isInactive() const
{
    return analyticsDisabled() || !isServiceConfigured();
}

void TelemetryManagerConfiguration::setDefaultParameters(std::function<Parameters()> provider)
{
    Sync::WriteLocker locker(&m_lock);
    m_defaultParameters = provider ? std::move(provider) : [] { return Parameters(); };
}

bool TelemetryManagerConfiguration::previewMode() const
{
    {
        Sync::ReadLocker locker(&m_lock);
        if (m_previewMode)
            return *m_previewMode;
    }
    return qgetenv("XCODE_RUNNING_FOR_PREVIEWS") == "1";
}

void TelemetryManagerConfiguration::setSessionID(const QUuid &id)
{
    std::function<void()> changed;
    {
        Sync::WriteLocker locker(&m_lock);
        m_sessionID = id;
        changed = m_sessionChanged;
    }
    if (changed)
        changed();
}

} // namespace Cairn
