#include "UpdaterViewModel.h"

#include "BuildConfig.h"
#include "ByteCountFormatter.h"
#include "framework/UpdateInstaller.h"
#include "framework/UpdateSignature.h"
#include "framework/UpdateTransport.h"
#include "platform/AppInfo.h"
#include "platform/Console.h"

#include <QStandardPaths>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <cstdio>
#include <limits>

namespace {
const QString kChecksKey = QStringLiteral("automaticallyChecksForUpdates");
const QString kDownloadsKey = QStringLiteral("automaticallyDownloadsUpdates");
const QString kLastCheckKey = QStringLiteral("lastUpdateCheckDate");

// INI files give booleans back as text after a restart.
std::optional<bool> storedBool(const QVariant &value)
{
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString();
        if (text == QLatin1String("true"))
            return true;
        if (text == QLatin1String("false"))
            return false;
    }
    return std::nullopt;
}

QString quoted(const QString &text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
        .replace(QLatin1Char('"'), QLatin1String("\\\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}
} // namespace

bool UpdaterViewModelConfiguration::hasUpdateService() const
{
    const QUrl feed(feedURL);
    // .invalid never resolves (RFC 2606): it marks a build made without a feed.
    const QString host = feed.host().toLower();
    return !feedURL.isEmpty() && isPermittedUpdateTransport(feed) && host != QLatin1String("invalid")
        && !host.endsWith(QLatin1String(".invalid")) && UpdateSignature::isValidPublicKey(publicKey);
}

UpdaterViewModelConfiguration UpdaterViewModelConfiguration::standard()
{
    UpdaterViewModelConfiguration configuration;
    const QString overridden = qEnvironmentVariable("BRAMBLE_UPDATE_FEED_URL");
    configuration.feedURL = overridden.isEmpty() ? QString::fromUtf8(BuildConfig::updateFeedUrl) : overridden;
    configuration.publicKey = QByteArray(BuildConfig::updatePublicKey).trimmed();
    configuration.infoDictionary = AppInfo::infoDictionary();
    configuration.settingsPath = standardSettingsPath();
    configuration.installTarget = InstallTarget::detect();
    return configuration;
}

QString UpdaterViewModelConfiguration::standardSettingsPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/Bramble/Bramble.conf");
}

UpdaterViewModel::UpdaterViewModel(QObject *parent)
    : UpdaterViewModel(UpdaterViewModelConfiguration::standard(), parent)
{ }

UpdaterViewModel::UpdaterViewModel(UpdaterViewModelConfiguration configuration, QObject *parent)
    : QObject(parent)
    , m_configuration(std::move(configuration))
{
    if (!m_configuration.now)
        m_configuration.now = [] { return QDateTime::currentDateTimeUtc(); };
    m_userDefaults = std::make_unique<QSettings>(m_configuration.settingsPath, QSettings::IniFormat);
    if (!m_configuration.feedURL.isEmpty())
        m_allowedAppcastURLs.insert(m_configuration.feedURL);
    m_currentVersion = bundleText(QStringLiteral("CFBundleShortVersionString"));
    loadSettings();
    QTimer::singleShot(0, this, &UpdaterViewModel::setUp);
}

UpdaterViewModel::~UpdaterViewModel()
{
    m_startupRecovery.waitForFinished();
    // The controller calls back into this object; it must go first.
    delete m_updaterController;
    m_updaterController = nullptr;
}

QString UpdaterViewModel::bundleText(const QString &key) const
{
    return AppInfo::text(m_configuration.infoDictionary, key);
}

QString UpdaterViewModel::anyAllowedURL() const
{
    return m_allowedAppcastURLs.isEmpty() ? QStringLiteral("Unknown") : *m_allowedAppcastURLs.cbegin();
}

void UpdaterViewModel::loadSettings()
{
    assignAutomaticallyChecks(storedBool(m_userDefaults->value(kChecksKey)).value_or(true));
    assignAutomaticallyDownloads(storedBool(m_userDefaults->value(kDownloadsKey)).value_or(false));
    const QVariant date = m_userDefaults->value(kLastCheckKey);
    if (date.typeId() == QMetaType::QDateTime && date.toDateTime().isValid())
        m_lastUpdateCheckDate = date.toDateTime();
    Q_EMIT stateChanged();
}

void UpdaterViewModel::setUp()
{
    if (m_updaterController)
        return;
    UpdaterConfiguration framework;
    framework.feedURL = m_configuration.feedURL;
    framework.publicKey = m_configuration.publicKey;
    framework.currentBuildVersion = bundleText(QStringLiteral("CFBundleVersion"));
    framework.installTarget = m_configuration.installTarget;
    framework.settingsPath = m_configuration.settingsPath;
    framework.firstCheckDelay = m_configuration.firstCheckDelay;
    framework.checkInterval = m_configuration.checkInterval;
    framework.lastCheckDate = m_lastUpdateCheckDate;
    framework.now = m_configuration.now;
    // Without a feed the updater never starts: no checks, and nothing to check with.
    const bool configured = updatesConfigured();
    if (configured) {
        const InstallTarget target = m_configuration.installTarget;
        m_startupRecovery
            = QtConcurrent::run([target] { UpdateInstaller::recoverInterruptedInstall(target, true); });
    } else {
        Console::printLine(QStringLiteral("🚫 No update feed or key in this build - no update checks"));
    }
    m_updaterController = new StandardUpdaterController(configured, framework, this, m_userDriver, this);
    Updater *updater = m_updaterController->updater();
    updater->setAutomaticallyChecksForUpdates(m_automaticallyChecksForUpdates);
    updater->setAutomaticallyDownloadsUpdates(m_automaticallyDownloadsUpdates);
    connect(updater, &Updater::canCheckForUpdatesChanged, this, [this](bool canCheck) {
        if (m_canCheckForUpdates != canCheck) {
            m_canCheckForUpdates = canCheck;
            Q_EMIT stateChanged();
        }
    });
    connect(updater, &Updater::relaunchRequested, this, &UpdaterViewModel::relaunchRequested);
    m_canCheckForUpdates = updater->canCheckForUpdates();
    Q_EMIT stateChanged();
    // A check asked for before the updater existed would otherwise never end.
    if (m_isCheckingForUpdates)
        m_updaterController->checkForUpdates();
}

void UpdaterViewModel::setUserDriver(UpdateUserDriver *driver)
{
    m_userDriver = driver;
    if (m_updaterController)
        m_updaterController->updater()->setUserDriver(driver);
}

void UpdaterViewModel::checkForUpdates()
{
    if (m_isCheckingForUpdates)
        return;
    if (!updatesConfigured()) {
        Console::printLine(
            QStringLiteral("🚫 This build has no update feed - update it through its package manager"));
        return;
    }
    // The updater is busy with an update it already reported (a dialog or a download is
    // open): a check now would get no answer and leave the state stuck at "checking".
    if (m_updaterController && !m_updaterController->updater()->canCheckForUpdates()) {
        Console::printLine(QStringLiteral("⏳ An update is already in progress - check not started"));
        return;
    }
    m_isCheckingForUpdates = true;
    m_updateError.reset();
    m_availableUpdate.reset();
    Q_EMIT stateChanged();

    Console::printLine(QStringLiteral("🔍 Starting manual update check..."));
    Console::printLine(QStringLiteral("📋 Current version: ")
        + bundleText(QStringLiteral("CFBundleShortVersionString")) + QStringLiteral(" (build ")
        + bundleText(QStringLiteral("CFBundleVersion")) + QStringLiteral(")"));
    Console::printLine(QStringLiteral("🌐 Appcast URL: ") + anyAllowedURL());
    Console::printLine(QStringLiteral("🔐 EdDSA public key configured: ")
        + (m_configuration.infoDictionary.contains(QStringLiteral("UpdatePublicEDKey"))
                ? QStringLiteral("Yes")
                : QStringLiteral("No")));
    if (m_updaterController)
        m_updaterController->checkForUpdates();
}

void UpdaterViewModel::setAutomaticallyChecks(bool enabled)
{
    Console::printLine(QStringLiteral("⚙️ Updating automatic check settings to: ")
        + (enabled ? QStringLiteral("true") : QStringLiteral("false")));
    assignAutomaticallyChecks(enabled);
    if (!enabled) {
        Console::printLine(QStringLiteral("🛑 Automatic checking disabled - stopping automatic checks"));
        if (m_updaterController)
            m_updaterController->updater()->resetUpdateCycle();
    }
    Q_EMIT stateChanged();
}

void UpdaterViewModel::setAutomaticallyDownloads(bool enabled)
{
    Console::printLine(QStringLiteral("⚙️ Updating automatic download settings to: ")
        + (enabled ? QStringLiteral("true") : QStringLiteral("false")));
    assignAutomaticallyDownloads(enabled);
    Q_EMIT stateChanged();
}

void UpdaterViewModel::assignAutomaticallyChecks(bool enabled)
{
    m_automaticallyChecksForUpdates = enabled;
    if (m_updaterController)
        m_updaterController->updater()->setAutomaticallyChecksForUpdates(enabled);
    m_userDefaults->setValue(kChecksKey, enabled);
    m_userDefaults->sync();
}

void UpdaterViewModel::assignAutomaticallyDownloads(bool enabled)
{
    m_automaticallyDownloadsUpdates = enabled;
    if (m_updaterController)
        m_updaterController->updater()->setAutomaticallyDownloadsUpdates(enabled);
    m_userDefaults->setValue(kDownloadsKey, enabled);
    m_userDefaults->sync();
}

void UpdaterViewModel::recordCheckDate()
{
    const QDateTime now = m_configuration.now();
    m_lastUpdateCheckDate = now;
    m_userDefaults->setValue(kLastCheckKey, now);
    m_userDefaults->sync();
    Q_EMIT stateChanged();
}

bool UpdaterViewModel::isUpToDate() const
{
    return !m_isCheckingForUpdates && !m_availableUpdate && !m_updateError
        && m_lastUpdateCheckDate.has_value();
}

QString UpdaterViewModel::statusText() const
{
    if (m_isCheckingForUpdates)
        return QStringLiteral("Checking for updates...");
    if (m_isDownloading)
        return QStringLiteral("Downloading update...");
    if (m_isInstalling)
        return QStringLiteral("Installing update...");
    if (m_updateError)
        return m_updateError->localizedDescription();
    if (m_availableUpdate)
        return QStringLiteral("Update available: ") + m_availableUpdate->version;
    if (isUpToDate())
        return QStringLiteral("Bramble is up to date");
    return QStringLiteral("Ready to check for updates");
}

std::optional<QString> UpdaterViewModel::feedURLStringForUpdater(Updater *)
{
    const QString url = m_configuration.feedURL;
    if (m_allowedAppcastURLs.contains(url)) {
        Console::printLine(QStringLiteral("✅ Using validated appcast URL: ") + url);
        Console::printLine(QStringLiteral("🔐 EdDSA public key configured for signature verification"));
        return url;
    }
    Console::printLine(QStringLiteral("❌ Appcast URL not in allowed list: ") + url);
    recordSecurityFailure(UpdateError::unauthorizedUpdateSource(QUrl(url)));
    return std::nullopt;
}

bool UpdaterViewModel::isSourceAllowed(const QUrl &url)
{
    const QString s = url.toString(QUrl::FullyEncoded);
    for (const QString &entry : std::as_const(m_allowedAppcastURLs)) {
        // Beyond the prefix: same host and port, and no dot segments to climb out of the feed.
        if (Updater::isAddressUnderFeed(url, entry)) {
            Console::printLine(QStringLiteral("✅ Update source validated: ") + s);
            return true;
        }
    }
    Console::printLine(QStringLiteral("❌ Unauthorized update source: ") + s);
    return false;
}

bool UpdaterViewModel::passesItemCheck(const AppcastItem &item)
{
    if (!item.fileURL) {
        Console::printLine(QStringLiteral("❌ Update item missing file URL - security validation failed"));
        return false;
    }
    if (item.versionString.isEmpty()) {
        Console::printLine(
            QStringLiteral("❌ Update item missing version information - security validation failed"));
        return false;
    }
    if (item.contentLength == 0) {
        Console::printLine(
            QStringLiteral("❌ Update item missing content length - security validation failed"));
        return false;
    }
    Console::printLine(QStringLiteral(
        "✅ EdDSA signature validation passed (verified by the update framework with public key)"));
    Console::printLine(QStringLiteral("📋 Update validated: ") + item.displayVersionString
        + QStringLiteral(" (") + item.versionString + QStringLiteral(")"));
    return true;
}

bool UpdaterViewModel::passesFullValidation(const AppcastItem &item)
{
    Console::printLine(QStringLiteral("🔒 Starting comprehensive security validation for update: ")
        + item.displayVersionString);
    Console::printLine(QStringLiteral("📋 Update details: Version ") + item.versionString
        + QStringLiteral(", Size: ") + formatByteCount(qint64(item.contentLength)));
    if (!passesItemCheck(item)) {
        Console::printLine(QStringLiteral("❌ EdDSA signature validation failed - blocking update"));
        recordSecurityFailure(UpdateError::signatureVerificationFailed());
        return false;
    }
    if (item.fileURL && !isSourceAllowed(*item.fileURL)) {
        Console::printLine(QStringLiteral("❌ Update source validation failed - blocking update from: ")
            + item.fileURL->toString(QUrl::FullyEncoded));
        recordSecurityFailure(UpdateError::unauthorizedUpdateSource(*item.fileURL));
        return false;
    }
    Console::printLine(QStringLiteral("✅ Comprehensive security validation completed successfully"));
    Console::printLine(QStringLiteral("🔐 Update ") + item.displayVersionString
        + QStringLiteral(" passed all security checks"));
    return true;
}

void UpdaterViewModel::updaterDidFindValidUpdate(Updater *, const AppcastItem &item)
{
    Console::printLine(QStringLiteral("✅ Update found: ") + item.displayVersionString);
    if (!passesFullValidation(item)) {
        Console::printLine(
            QStringLiteral("❌ Security validation failed for update: ") + item.displayVersionString);
        return;
    }
    UpdateInfo info;
    info.version = item.displayVersionString;
    info.buildNumber = item.versionString;
    info.releaseDate = item.date.value_or(m_configuration.now());
    info.releaseNotes = item.itemDescription.value_or(QString());
    info.downloadURL = item.fileURL;
    info.fileSize
        = qint64(std::min<quint64>(item.contentLength, quint64(std::numeric_limits<qint64>::max())));
    info.isDeltaUpdate = item.deltaUpdates && !item.deltaUpdates->isEmpty();
    m_availableUpdate = info;
    m_isCheckingForUpdates = false;
    recordCheckDate();
    Console::printLine(QStringLiteral("📦 Update info: Version ") + info.version + QStringLiteral(", Size: ")
        + formatByteCount(info.fileSize));
}

void UpdaterViewModel::updaterDidNotFindUpdate(Updater *)
{
    Console::printLine(QStringLiteral("✅ No update found - app is up to date"));
    Console::printLine(QStringLiteral("📋 Current app version: ")
        + bundleText(QStringLiteral("CFBundleShortVersionString")) + QStringLiteral(" (build ")
        + bundleText(QStringLiteral("CFBundleVersion")) + QStringLiteral(")"));
    Console::printLine(QStringLiteral("🔍 Appcast URL: ") + anyAllowedURL());
    Console::printLine(QStringLiteral("💡 If you expect an update, check:"));
    Console::printLine(QStringLiteral("   - Appcast.xml version numbers are higher than current version"));
    Console::printLine(QStringLiteral("   - Appcast.xml is properly signed with EdDSA"));
    Console::printLine(QStringLiteral("   - Enclosure URLs are complete and accessible"));
    m_availableUpdate.reset();
    m_isCheckingForUpdates = false;
    recordCheckDate();
}

void UpdaterViewModel::updaterDidAbortWithError(Updater *, const UpdaterFailure &error)
{
    const QString description = error.localizedDescription();
    Console::printLine(QStringLiteral("❌ Update check failed: ") + description);
    Console::printLine(QStringLiteral("🔍 Error details: ") + error.debugDescription());
    if (description.contains(QLatin1String("signature"))) {
        Console::printLine(QStringLiteral("🚨 Signature verification issue detected"));
        Console::printLine(QStringLiteral("💡 Check if appcast.xml is properly signed with EdDSA"));
    } else if (description.contains(QLatin1String("parse")) || description.contains(QLatin1String("XML"))) {
        Console::printLine(QStringLiteral("🚨 Appcast parsing issue detected"));
        Console::printLine(QStringLiteral("💡 Check appcast.xml format and required feed attributes"));
    } else if (description.contains(QLatin1String("network"))
        || description.contains(QLatin1String("connection"))) {
        Console::printLine(QStringLiteral("🚨 Network issue detected"));
        Console::printLine(QStringLiteral("💡 Check internet connection and appcast URL accessibility"));
    }
    recordFailure(error);
    recordCheckDate();
}

void UpdaterViewModel::updaterWillDownloadUpdate(
    Updater *, const AppcastItem &item, const QNetworkRequest &request)
{
    Console::printLine(QStringLiteral("⬇️ Starting download for update: ") + item.displayVersionString);
    const QUrl url = request.url();
    if (!url.isEmpty() && !isSourceAllowed(url)) {
        Console::printLine(QStringLiteral("❌ Download request from unauthorized source: ")
            + url.toString(QUrl::FullyEncoded));
        recordSecurityFailure(UpdateError::unauthorizedUpdateSource(url));
        return;
    }
    m_isDownloading = true;
    m_downloadProgress = 0.0;
    m_isCheckingForUpdates = false;
    Q_EMIT stateChanged();
}

void UpdaterViewModel::updaterDidDownloadUpdate(Updater *, const AppcastItem &item)
{
    Console::printLine(QStringLiteral("✅ Download completed for update: ") + item.displayVersionString);
    m_isDownloading = false;
    m_downloadProgress = 1.0;
    Q_EMIT stateChanged();
}

void UpdaterViewModel::updaterWillInstallUpdate(Updater *, const AppcastItem &item)
{
    Console::printLine(QStringLiteral("🔧 Starting installation for update: ") + item.displayVersionString);
    m_isInstalling = true;
    m_isDownloading = false;
    Q_EMIT stateChanged();
}

void UpdaterViewModel::recordFailure(const UpdaterFailure &error)
{
    if (const UpdateError *updateError = error.updateError())
        m_updateError = *updateError;
    else
        m_updateError = UpdateError::unknownError(*error.genericError());
    m_isCheckingForUpdates = false;
    m_isDownloading = false;
    m_isInstalling = false;
    Q_EMIT stateChanged();
}

void UpdaterViewModel::recordSecurityFailure(const UpdateError &error)
{
    Console::printLine(QStringLiteral("🚨 Security validation error: ") + error.localizedDescription());
    const QString timestamp = m_configuration.now().toUTC().toString(Qt::ISODate);
    Console::printLine(
        QStringLiteral("🔒 Security error details: [\"timestamp\": %1, \"error\": %2, \"recovery\": %3]")
            .arg(
                quoted(timestamp), quoted(error.localizedDescription()), quoted(error.recoverySuggestion())));
    m_updateError = error;
    m_isCheckingForUpdates = false;
    m_isDownloading = false;
    m_isInstalling = false;
    m_availableUpdate.reset();
    m_downloadProgress = 0.0;
    Q_EMIT stateChanged();
}
