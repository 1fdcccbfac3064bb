#include "Telemetry.h"

#include "BuildConfig.h"
#include "Cairn/Cairn.h"
#include "platform/AppSignals.h"
#include "platform/Console.h"

#include <QCoreApplication>
#include <memory>

QUrl Telemetry::serviceURL()
{
    const QString override = qEnvironmentVariable("BRAMBLE_TELEMETRY_URL");
    return QUrl(override.isEmpty() ? QString::fromUtf8(BuildConfig::telemetryUrl) : override);
}

bool Telemetry::doNotTrack()
{
    return qEnvironmentVariable("DO_NOT_TRACK") == QStringLiteral("1");
}

void Telemetry::start()
{
    const QString id = QString::fromLatin1(appID);
    auto config = std::make_shared<Cairn::TelemetryManagerConfiguration>(id, QString(), serviceURL());
    config->setAppVersion(QString::fromUtf8(BuildConfig::shortVersion));
    config->setBuildNumber(QString::fromUtf8(BuildConfig::buildNumber));
    if (doNotTrack()) {
        config->setAnalyticsDisabled(true);
        config->setSessionStatsEnabled(false);
    }
    Cairn::initialize(config);
    Console::printLine(QStringLiteral("✅ Cairn initialized with App ID: ") + id);
    AppSignals::setSender([](const QString &name, const AppSignals::Parameters &parameters) {
        Cairn::signal(name, parameters);
    });
}

void Telemetry::sendLaunched()
{
    Cairn::signal(QStringLiteral("app_launched"));
    Console::printLine(QStringLiteral("📊 Cairn signal sent: app_launched"));
}
