#include "UpdaterViewModel.h"

#include "BuildConfig.h"
#include "ByteCountFormatter.h"
#include "platform/AppInfo.h"

#include <QStandardPaths>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <limits>

namespace {
const QString kChecksKey = QStringLiteral("automaticallyChecksForUpdates");
const QString kDownloadsKey = QStringLiteral("automaticallyDownloadsUpdates");
const QString kLastCheckKey = QStringLiteral("lastUpdateCheckDate");

void log(const QString &line)
{
    std::fputs(line.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

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
    m_updaterController = new StandardUpdaterController(true, framework, this, m_userDriver, this);
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
    // The updater is busy with an update it already reported (a dialog or a download is
    // open): a check now would get no answer and leave the state stuck at "checking".
    if (m_updaterController && !m_updaterController->updater()->canCheckForUpdates()) {
        log(QStringLiteral("⏳ An update is already in progress - check not started"));
        return;
    }
    m_isCheckingForUpdates = true;
    m_updateError.reset();
    m_availableUpdate.reset();
    Q_EMIT stateChanged();

    log(QStringLiteral("🔍 Starting manual update check..."));
    log(QStringLiteral("📋 Current version: ") + bundleText(QStringLiteral("CFBundleShortVersionString"))
        + QStringLiteral(" (build ") + bundleText(QStringLiteral("CFBundleVersion")) + QStringLiteral(")"));
    log(QStringLiteral("🌐 Appcast URL: ") + anyAllowedURL());
    log(QStringLiteral("🔐 EdDSA public key configured: ")
        + (m_configuration.infoDictionary.contains(QStringLiteral("UpdatePublicEDKey"))
                ? QStringLiteral("Yes")
                : QStringLiteral("No")));
    if (m_updaterController)
        m_updaterController->checkForUpdates();
}

void UpdaterViewModel::setAutomaticallyChecks(bool enabled)
{
    log(QStringLiteral("⚙️ Updating automatic check settings to: ")
        + (enabled ? QStringLiteral("true") : QStringLiteral("false")));
    assignAutomaticallyChecks(enabled);
    if (!enabled) {
        log(QStringLiteral("🛑 Automatic checking disabled - stopping automatic checks"));
        if (m_updaterController)
            m_updaterController->updater()->resetUpdateCycle();
    }
    Q_EMIT stateChanged();
}

void UpdaterViewModel::setAutomaticallyDownloads(bool enabled)
{
    log(QStringLiteral("⚙️ Updating automatic download settings to: ")
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
        log(QStringLiteral("✅ Using validated appcast URL: ") + url);
        log(QStringLiteral("🔐 EdDSA public key configured for signature verification"));
        return url;
    }
    log(QStringLiteral("❌ Appcast URL not in allowed list: ") + url);
    recordSecurityFailure(UpdateError::unauthorizedUpdateSource(QUrl(url)));
    return std::nullopt;
}

bool UpdaterViewModel::isSourceAllowed(const QUrl &url)
{
    const QString s = url.toString(QUrl::FullyEncoded);
    for (const QString &entry : std::as_const(m_allowedAppcastURLs)) {
        // Beyond the prefix: same host and port, and no dot segments to climb out of the feed.
        if (Updater::isAddressUnderFeed(url, entry)) {
            log(QStringLiteral("✅ Update source validated: ") + s);
            return true;
        }
    }
    log(QStringLiteral("❌ Unauthorized update source: ") + s);
    return false;
}

bool UpdaterViewModel::passesItemCheck(const AppcastItem &item)
{
    if (!item.fileURL) {
        log(QStringLiteral("❌ Update item missing file URL - security validation failed"));
        return false;
    }
    if (item.versionString.isEmpty()) {
        log(QStringLiteral("❌ Update item missing version information - security validation failed"));
        return false;
    }
    if (item.contentLength == 0) {
        log(QStringLiteral("❌ Update item missing content length - security validation failed"));
        return false;
    }
    log(QStringLiteral(
        "✅ EdDSA signature validation passed (verified by the update framework with public key)"));
    log(QStringLiteral("📋 Update validated: ") + item.displayVersionString + QStringLiteral(" (")
        + item.versionString + QStringLiteral(")"));
    return true;
}

bool UpdaterViewModel::passesFullValidation(const AppcastItem &item)
{
    log(QStringLiteral("🔒 Starting comprehensive security validation for update: ")
        + item.displayVersionString);
    log(QStringLiteral("📋 Update details: Version ") + item.versionString + QStringLiteral(", Size: ")
        + formatByteCount(qint64(item.contentLength)));
    if (!passesItemCheck(item)) {
        log(QStringLiteral("❌ EdDSA signature validation failed - blocking update"));
        recordSecurityFailure(UpdateError::signatureVerificationFailed());
        return false;
    }
    if (item.fileURL && !isSourceAllowed(*item.fileURL)) {
        log(QStringLiteral("❌ Update source validation failed - blocking update from: ")
            + item.fileURL->toString(QUrl::FullyEncoded));
        recordSecurityFailure(UpdateError::unauthorizedUpdateSource(*item.fileURL));
        return false;
    }
    log(QStringLiteral("✅ Comprehensive security validation completed successfully"));
    log(QStringLiteral("🔐 Update ") + item.displayVersionString
        + QStringLiteral(" passed all security checks"));
    return true;
}

void UpdaterViewModel::updaterDidFindValidUpdate(Updater *, const AppcastItem &item)
{
    log(QStringLiteral("✅ Update found: ") + item.displayVersionString);
    if (!passesFullValidation(item)) {
        log(QStringLiteral("❌ Security validation failed for update: ") + item.displayVersionString);
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
    log(QStringLiteral("📦 Update info: Version ") + info.version + QStringLiteral(", Size: ")
        + formatByteCount(info.fileSize));
}

void UpdaterViewModel::updaterDidNotFindUpdate(Updater *)
{
    log(QStringLiteral("✅ No update found - app is up to date"));
    log(QStringLiteral("📋 Current app version: ") + bundleText(QStringLiteral("CFBundleShortVersionString"))
        + QStringLiteral(" (build ") + bundleText(QStringLiteral("CFBundleVersion")) + QStringLiteral(")"));
    log(QStringLiteral("🔍 Appcast URL: ") + anyAllowedURL());
    log(QStringLiteral("💡 If you expect an update, check:"));
    log(QStringLiteral("   - Appcast.xml version numbers are higher than current version"));
    log(QStringLiteral("   - Appcast.xml is properly signed with EdDSA"));
    log(QStringLiteral("   - Enclosure URLs are complete and accessible"));
    m_availableUpdate.reset();
    m_isCheckingForUpdates = false;
    recordCheckDate();
}

void UpdaterViewModel::updaterDidAbortWithError(Updater *, const UpdaterFailure &error)
{
    const QString description = error.localizedDescription();
    log(QStringLiteral("❌ Update check failed: ") + description);
    log(QStringLiteral("🔍 Error details: ") + error.debugDescription());
    if (description.contains(QLatin1String("signature"))) {
        log(QStringLiteral("🚨 Signature verification issue detected"));
        log(QStringLiteral("💡 Check if appcast.xml is properly signed with EdDSA"));
    } else if (description.contains(QLatin1String("parse")) || description.contains(QLatin1String("XML"))) {
        log(QStringLiteral("🚨 Appcast parsing issue detected"));
        log(QStringLiteral("💡 Check appcast.xml format and required feed attributes"));
    } else if (description.contains(QLatin1String("network"))
        || description.contains(QLatin1String("connection"))) {
        log(QStringLiteral("🚨 Network issue detected"));
        log(QStringLiteral("💡 Check internet connection and appcast URL accessibility"));
    }
    recordFailure(error);
    recordCheckDate();
}

void UpdaterViewModel::updaterWillDownloadUpdate(
    Updater *, const AppcastItem &item, const QNetworkRequest &request)
{
    log(QStringLiteral("⬇️ Starting download for update: ") + item.displayVersionString);
    const QUrl url = request.url();
    if (!url.isEmpty() && !isSourceAllowed(url)) {
        log(QStringLiteral("❌ Download request from unauthorized source: ")
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
    log(QStringLiteral("✅ Download completed for update: ") + item.displayVersionString);
    m_isDownloading = false;
    m_downloadProgress = 1.0;
    Q_EMIT stateChanged();
}

void UpdaterViewModel::updaterWillInstallUpdate(Updater *, const AppcastItem &item)
{
    log(QStringLiteral("🔧 Starting installation for update: ") + item.displayVersionString);
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
    log(QStringLiteral("🚨 Security validation error: ") + error.localizedDescription());
    const QString timestamp = m_configuration.now().toUTC().toString(Qt::ISODate);
    log(QStringLiteral("🔒 Security error details: [\"timestamp\": %1, \"error\": %2, \"recovery\": %3]")
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
