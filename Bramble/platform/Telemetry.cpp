#include "Telemetry.h"

#include "BuildConfig.h"
#include "Cairn/Cairn.h"
#include "Cairn/TelemetryManager.h"
#include "platform/AppSignals.h"
#include "platform/Console.h"

#include <QCoreApplication>
#include <memory>

QUrl Telemetry::serviceURL()
{
    const QString override = qEnvironmentVariable("BRAMBLE_TELEMETRY_URL").trimmed();
    return QUrl(override.isEmpty() ? QString::fromUtf8(BuildConfig::telemetryUrl).trimmed() : override);
}

bool Telemetry::doNotTrack()
{
    const QString value = qEnvironmentVariable("DO_NOT_TRACK").trimmed();
    return !value.isEmpty() && value != QLatin1String("0")
        && value.compare(QLatin1String("false"), Qt::CaseInsensitive) != 0;
}

bool Telemetry::isActive()
{
    const auto manager = Cairn::installedManager();
    return manager && !manager->configuration()->isInactive();
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
    const bool hasService = config->isServiceConfigured();
    Cairn::initialize(config);
    if (hasService)
        Console::printLine(QStringLiteral("✅ Cairn initialized with App ID: ") + id);
    else
        Console::printLine(QStringLiteral("📋 Cairn analytics off: this build names no analytics service"));
    AppSignals::setSender([](const QString &name, const AppSignals::Parameters &parameters) {
        Cairn::signal(name, parameters);
    });
}

void Telemetry::sendLaunched()
{
    Cairn::signal(QStringLiteral("app_launched"));
    if (isActive())
        Console::printLine(QStringLiteral("📊 Cairn signal sent: app_launched"));
}
