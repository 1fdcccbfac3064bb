#pragma once

#include "Cairn/LogHandler.h"

#include <QMap>
#include <QReadWriteLock>
#include <QString>
#include <QUrl>
#include <QUuid>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace Cairn {

// Signal parameters and payloads: text to text.
using Parameters = QMap<QString, QString>;

// Consulted for every record; runs on the record-building thread.
class SignalEnricher
{
public:
    virtual ~SignalEnricher() = default;
    virtual Parameters enrich(const QString &signalType, const std::optional<QString> &customUserID,
        std::optional<double> floatValue) const = 0;
};

// The service's default origin: none. A host that names no service (or one under the reserved
// domain "invalid", which never resolves) gets a client that records and sends nothing.
QUrl defaultApiBaseURL();

// The client's configuration. A reference type: the manager, its signal manager and
// the host share one instance (std::shared_ptr), and a change made by any of them is seen by
// all at the next signal. Every accessor is safe from any thread: reads take a shared lock,
// writes an exclusive one.
class TelemetryManagerConfiguration
{
public:
    explicit TelemetryManagerConfiguration(const QString &appID, const QString &salt = QString(),
        const QUrl &baseURL = QUrl(), const std::optional<QString> &apiNamespace = std::nullopt);
    TelemetryManagerConfiguration(const TelemetryManagerConfiguration &) = delete;
    TelemetryManagerConfiguration &operator=(const TelemetryManagerConfiguration &) = delete;

    QString telemetryAppID() const;

    QUrl apiBaseURL() const;
    void setApiBaseURL(const QUrl &url);
    // False while the base address is empty or lies under "invalid." (RFC 6761).
    bool isServiceConfigured() const;

    // The service namespace (`namespace` is a keyword in C++).
    std::optional<QString> apiNamespace() const;
    void setApiNamespace(const std::optional<QString> &value);

    QString salt() const;
    void setSalt(const QString &salt);

    std::optional<QString> defaultUser() const;
    void setDefaultUser(const std::optional<QString> &user);

    std::optional<QString> defaultSignalPrefix() const;
    void setDefaultSignalPrefix(const std::optional<QString> &prefix);

    std::optional<QString> defaultParameterPrefix() const;
    void setDefaultParameterPrefix(const std::optional<QString> &prefix);

    // Evaluated at every signal; its entries go under the signal's own.
    std::function<Parameters()> defaultParameters() const;
    void setDefaultParameters(std::function<Parameters()> provider);

    bool sendNewSessionBeganSignal() const;
    void setSendNewSessionBeganSignal(bool value);

    // Setting it starts a new session: the session manager begins one when
    // sessionStatsEnabled (and analytics are not disabled), and "Cairn.Session.started" is
    // recorded when sendNewSessionBeganSignal.
    QUuid sessionID() const;
    void setSessionID(const QUuid &id);

    // Unset reads as false.
    bool testMode() const;
    void setTestMode(bool value);

    // Preview mode: unset reads as true exactly when the environment variable
    // XCODE_RUNNING_FOR_PREVIEWS equals "1". When true nothing is recorded.
    bool previewMode() const;
    void setPreviewMode(bool value);

    // When true, every signal is dropped, nothing is sent (not even records left in the cache
    // file by an earlier run, which stays untouched) and nothing is written.
    bool analyticsDisabled() const;
    void setAnalyticsDisabled(bool value);
    // Analytics disabled, or no service configured: either way the client records, sends,
    // writes and logs nothing.
    bool isInactive() const;

    bool reservedParameterWarningsEnabled() const;
    void setReservedParameterWarningsEnabled(bool value);

    bool sessionStatsEnabled() const;
    void setSessionStatsEnabled(bool value);

    // Default: level info, one line per message on standard error.
    std::optional<LogHandler> logHandler() const;
    void setLogHandler(const std::optional<LogHandler> &handler);

    std::vector<std::shared_ptr<SignalEnricher>> metadataEnrichers() const;
    void setMetadataEnrichers(const std::vector<std::shared_ptr<SignalEnricher>> &enrichers);

    // "appVersion" / "Cairn.AppInfo.version": default QCoreApplication::applicationVersion(),
    // "0" when empty.
    QString appVersion() const;
    void setAppVersion(const QString &version);
    // "buildNumber" / "Cairn.AppInfo.buildNumber": default "0".
    QString buildNumber() const;
    void setBuildNumber(const QString &buildNumber);

    // How often pending records are posted (10 seconds). Read when the manager is created.
    std::chrono::milliseconds sendInterval() const;
    void setSendInterval(std::chrono::milliseconds interval);
    // Delay between initialisation and the first session (0.5 seconds).
    std::chrono::milliseconds sessionStartDelay() const;
    void setSessionStartDelay(std::chrono::milliseconds delay);
    // Pending records are written to the cache file as they change, at most once per this
    // interval (3 seconds). Read when the manager is created.
    std::chrono::milliseconds cacheWriteInterval() const;
    void setCacheWriteInterval(std::chrono::milliseconds interval);
    // How long termination waits for the replies of batches in flight before it puts them
    // back into the cache (1 second).
    std::chrono::milliseconds terminationGracePeriod() const;
    void setTerminationGracePeriod(std::chrono::milliseconds period);

    // Installed by the manager: runs after every sessionID change, outside the lock.
    void setSessionChangedHandler(std::function<void()> handler);

private:
    mutable QReadWriteLock m_lock;
    const QString m_telemetryAppID;
    QUrl m_apiBaseURL;
    std::optional<QString> m_namespace;
    QString m_salt;
    std::optional<QString> m_defaultUser;
    std::optional<QString> m_defaultSignalPrefix;
    std::optional<QString> m_defaultParameterPrefix;
    std::function<Parameters()> m_defaultParameters;
    bool m_sendNewSessionBeganSignal = true;
    QUuid m_sessionID;
    std::optional<bool> m_testMode;
    std::optional<bool> m_previewMode;
    bool m_analyticsDisabled = false;
    bool m_reservedParameterWarningsEnabled = true;
    bool m_sessionStatsEnabled = true;
    std::optional<LogHandler> m_logHandler;
    std::vector<std::shared_ptr<SignalEnricher>> m_metadataEnrichers;
    QString m_appVersion;
    QString m_buildNumber = QStringLiteral("0");
    std::chrono::milliseconds m_sendInterval { 10000 };
    std::chrono::milliseconds m_sessionStartDelay { 500 };
    std::chrono::milliseconds m_cacheWriteInterval { 3000 };
    std::chrono::milliseconds m_terminationGracePeriod { 1000 };
    std::function<void()> m_sessionChanged;
};

using ConfigurationPtr = std::shared_ptr<TelemetryManagerConfiguration>;

} // namespace Cairn
