#pragma once

// The public face of the Cairn analytics client. Typical use at start-up:
//
//     auto config = std::make_shared<Cairn::TelemetryManagerConfiguration>(appID, QString(), baseURL);
//     config->setAnalyticsDisabled(doNotTrack);
//     config->setSessionStatsEnabled(!doNotTrack);
//     Cairn::initialize(config);
//     Cairn::signal(QStringLiteral("app_launched"));
//
// Every operation may be called from any thread, returns at once and never fails.

#include "Cairn/Hashing.h"
#include "Cairn/LogHandler.h"
#include "Cairn/TelemetryManagerConfiguration.h"

#include <memory>
#include <optional>

namespace Cairn {

class TelemetryManager;

// Creates a manager from the configuration and installs it, replacing any earlier one. The
// manager loads the cache file, starts its send timer and, sessionStartDelay (0.5 s) later on
// the main thread, begins the first session. Call on the main thread after the
// QCoreApplication / QGuiApplication exists.
void initialize(ConfigurationPtr config);
// Removes the installed manager (tests; hosts that want to stop telemetry altogether).
void deinitialize();

// The operation the application calls: prefixes and checks the name and keys, then records.
void signal(const QString &name, const Parameters &parameters = {},
    std::optional<double> floatValue = std::nullopt,
    const std::optional<QString> &customUserID = std::nullopt);
// The second half of signal: no name prefix and no name checks (the client's own signals).
void recordSignal(const QString &name, const Parameters &parameters = {},
    std::optional<double> floatValue = std::nullopt,
    const std::optional<QString> &customUserID = std::nullopt);

// A fresh session identifier (with a session start and "Cairn.Session.started").
void renewSession();
QString hashedDefaultUserIdentifier();
// Posts pending records 50 ms from now; at most once in ten seconds.
void requestImmediateSync();
void setDefaultUser(const std::optional<QString> &user);

// Keys beginning with "Cairn." stay; every other key gets the prefix (none when absent).
Parameters prefixingKeys(const Parameters &parameters, const std::optional<QString> &prefix);

// The installed manager, or null.
std::shared_ptr<TelemetryManager> installedManager();
// Records waiting in the installed manager's cache (0 without one).
int pendingSignalCount();

} // namespace Cairn
