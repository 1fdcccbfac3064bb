#pragma once

#include "UpdateError.h"
#include "UpdateInfo.h"
#include "framework/Updater.h"

#include <QDateTime>
#include <QFuture>
#include <QObject>
#include <QSet>
#include <QSettings>
#include <QVariantMap>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

struct UpdaterViewModelConfiguration
{
    // The one feed the program accepts; ends in "/" so that archives beneath it pass.
    QString feedURL;
    QByteArray publicKey;
    // "CFBundleShortVersionString", "CFBundleVersion", "UpdatePublicEDKey".
    QVariantMap infoDictionary;
    QString settingsPath;
    InstallTarget installTarget;
    std::chrono::milliseconds firstCheckDelay { std::chrono::seconds(30) };
    std::chrono::milliseconds checkInterval { std::chrono::hours(24) };
    std::function<QDateTime()> now = [] { return QDateTime::currentDateTimeUtc(); };

    // A feed that can exist and a key to check its releases with. Without them this build
    // is updated by its package manager, or not at all: it makes no checks.
    bool hasUpdateService() const;

    // The build's values; BRAMBLE_UPDATE_FEED_URL overrides the feed address.
    static UpdaterViewModelConfiguration standard();
    static QString standardSettingsPath();
};

// The one update controller of the program, shared by every window and menu. Lives on the
// main thread; the updater reports to it through the delegate callbacks.
class UpdaterViewModel : public QObject, public UpdaterDelegate
{
    Q_OBJECT
    Q_PROPERTY(bool canCheckForUpdates READ canCheckForUpdates NOTIFY stateChanged)
    Q_PROPERTY(bool isCheckingForUpdates READ isCheckingForUpdates NOTIFY stateChanged)
    Q_PROPERTY(QDateTime lastUpdateCheckDate READ lastUpdateCheckDateValue NOTIFY stateChanged)
    Q_PROPERTY(QString currentVersion READ currentVersion CONSTANT)
    Q_PROPERTY(double downloadProgress READ downloadProgress NOTIFY stateChanged)
    Q_PROPERTY(bool isDownloading READ isDownloading NOTIFY stateChanged)
    Q_PROPERTY(bool isInstalling READ isInstalling NOTIFY stateChanged)
    Q_PROPERTY(bool automaticallyChecksForUpdates READ automaticallyChecksForUpdates WRITE
            setAutomaticallyChecks NOTIFY stateChanged)
    Q_PROPERTY(bool automaticallyDownloadsUpdates READ automaticallyDownloadsUpdates WRITE
            setAutomaticallyDownloads NOTIFY stateChanged)
    Q_PROPERTY(QString statusText READ statusText NOTIFY stateChanged)
    Q_PROPERTY(bool isUpToDate READ isUpToDate NOTIFY stateChanged)

public:
    explicit UpdaterViewModel(QObject *parent = nullptr);
    explicit UpdaterViewModel(UpdaterViewModelConfiguration configuration, QObject *parent = nullptr);
    ~UpdaterViewModel() override;

    bool canCheckForUpdates() const { return m_canCheckForUpdates; }
    bool isCheckingForUpdates() const { return m_isCheckingForUpdates; }
    const std::optional<QDateTime> &lastUpdateCheckDate() const { return m_lastUpdateCheckDate; }
    QDateTime lastUpdateCheckDateValue() const { return m_lastUpdateCheckDate.value_or(QDateTime()); }
    QString currentVersion() const { return m_currentVersion; }
    const std::optional<UpdateError> &updateError() const { return m_updateError; }
    const std::optional<UpdateInfo> &availableUpdate() const { return m_availableUpdate; }
    double downloadProgress() const { return m_downloadProgress; }
    bool isDownloading() const { return m_isDownloading; }
    bool isInstalling() const { return m_isInstalling; }
    bool automaticallyChecksForUpdates() const { return m_automaticallyChecksForUpdates; }
    bool automaticallyDownloadsUpdates() const { return m_automaticallyDownloadsUpdates; }

    StandardUpdaterController *updaterController() const { return m_updaterController; }
    QSettings *userDefaults() const { return m_userDefaults.get(); }
    QSet<QString> allowedAppcastURLs() const { return m_allowedAppcastURLs; }
    const UpdaterViewModelConfiguration &configuration() const { return m_configuration; }
    // False for a build without an update feed or key: checks are never made.
    bool updatesConfigured() const { return m_configuration.hasUpdateService(); }
    // Set-up puts right what an interrupted install left beside the program, on a worker.
    QFuture<void> startupRecovery() const { return m_startupRecovery; }
    // The dialogs; may be given before or after set-up.
    void setUserDriver(UpdateUserDriver *driver);

    void checkForUpdates();
    void setAutomaticallyChecks(bool enabled);
    void setAutomaticallyDownloads(bool enabled);
    QString statusText() const;
    bool isUpToDate() const;

    // Update framework callbacks.
    std::optional<QString> feedURLStringForUpdater(Updater *updater) override;
    void updaterDidFindValidUpdate(Updater *updater, const AppcastItem &item) override;
    void updaterDidNotFindUpdate(Updater *updater) override;
    void updaterDidAbortWithError(Updater *updater, const UpdaterFailure &error) override;
    void updaterWillDownloadUpdate(
        Updater *updater, const AppcastItem &item, const QNetworkRequest &request) override;
    void updaterDidDownloadUpdate(Updater *updater, const AppcastItem &item) override;
    void updaterWillInstallUpdate(Updater *updater, const AppcastItem &item) override;

Q_SIGNALS:
    // Any observable field changed.
    void stateChanged();
    // The new version is installed: start program with arguments and quit.
    void relaunchRequested(const QString &program, const QStringList &arguments);

private:
    void setUp();
    void loadSettings();
    void assignAutomaticallyChecks(bool enabled);
    void assignAutomaticallyDownloads(bool enabled);
    void recordCheckDate();
    void recordFailure(const UpdaterFailure &error);
    void recordSecurityFailure(const UpdateError &error);
    bool isSourceAllowed(const QUrl &url);
    bool passesItemCheck(const AppcastItem &item);
    bool passesFullValidation(const AppcastItem &item);
    QString bundleText(const QString &key) const;
    QString anyAllowedURL() const;

    UpdaterViewModelConfiguration m_configuration;
    bool m_canCheckForUpdates = false;
    bool m_isCheckingForUpdates = false;
    std::optional<QDateTime> m_lastUpdateCheckDate;
    QString m_currentVersion;
    std::optional<UpdateError> m_updateError;
    std::optional<UpdateInfo> m_availableUpdate;
    double m_downloadProgress = 0.0;
    bool m_isDownloading = false;
    bool m_isInstalling = false;
    bool m_automaticallyChecksForUpdates = false;
    bool m_automaticallyDownloadsUpdates = false;

    StandardUpdaterController *m_updaterController = nullptr;
    std::unique_ptr<QSettings> m_userDefaults;
    QSet<QString> m_allowedAppcastURLs;
    UpdateUserDriver *m_userDriver = nullptr;
    QFuture<void> m_startupRecovery;
};
