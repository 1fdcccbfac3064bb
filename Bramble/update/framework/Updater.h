#pragma once

#include "../UpdateError.h"
#include "AppcastItem.h"
#include "UpdateInstaller.h"

#include <QCoroTask>
#include <QDateTime>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QNetworkAccessManager;
class DownloadHandle;
class Updater;

// What the updater reports, always on the main thread, in this order within one update:
// found, download starting, download done, install starting.
class UpdaterDelegate
{
public:
    virtual ~UpdaterDelegate() = default;
    // The feed to read; none falls back to the updater's configured feed.
    virtual std::optional<QString> feedURLStringForUpdater(Updater *updater) = 0;
    virtual void updaterDidFindValidUpdate(Updater *updater, const AppcastItem &item) = 0;
    virtual void updaterDidNotFindUpdate(Updater *updater) = 0;
    virtual void updaterDidAbortWithError(Updater *updater, const UpdaterFailure &error) = 0;
    virtual void updaterWillDownloadUpdate(
        Updater *updater, const AppcastItem &item, const QNetworkRequest &request)
        = 0;
    virtual void updaterDidDownloadUpdate(Updater *updater, const AppcastItem &item) = 0;
    virtual void updaterWillInstallUpdate(Updater *updater, const AppcastItem &item) = 0;
};

// The dialogs: the updater asks, the driver shows and answers through the callbacks.
class UpdateUserDriver
{
public:
    enum class Choice { Install, Later, SkipThisVersion };
    virtual ~UpdateUserDriver() = default;
    virtual void showUpdateFound(const AppcastItem &item, std::function<void(Choice)> reply) = 0;
    virtual void showDownloadStarted(std::function<void()> cancel) = 0;
    virtual void showDownloadProgress(qint64 received, qint64 expected) = 0;
    virtual void showInstalling() = 0;
    virtual void showUpToDate() = 0;
    // A check or update the user is watching failed; the reason has reached the delegate.
    virtual void showUpdateFailed() = 0;
    virtual void dismiss() = 0;
};

struct UpdaterConfiguration
{
    // Used when the delegate names no feed.
    QString feedURL;
    // Base64 Ed25519 key every download must be signed with.
    QByteArray publicKey;
    QString currentBuildVersion;
    InstallTarget installTarget;
    // Holds the skipped version.
    QString settingsPath;
    // An automatic check comes when the last check is checkInterval old, and never sooner
    // than firstCheckDelay after launch or after the schedule changed.
    std::chrono::milliseconds firstCheckDelay { std::chrono::seconds(30) };
    std::chrono::milliseconds checkInterval { std::chrono::hours(24) };
    std::optional<QDateTime> lastCheckDate;
    std::function<QDateTime()> now = [] { return QDateTime::currentDateTimeUtc(); };
    std::chrono::milliseconds networkStallTimeout { std::chrono::seconds(60) };
    // The feed document may not be larger than this.
    qint64 maxFeedSize = 4 * 1024 * 1024;
    // Bytes free in a folder; the default asks the file system.
    std::function<std::optional<qint64>(const QString &folder)> freeSpace;
};

// Reads the feed, picks the newest newer release, downloads and verifies it, installs it
// and asks for a relaunch. At most one session (check, download, install) runs at a time.
class Updater : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool canCheckForUpdates READ canCheckForUpdates NOTIFY canCheckForUpdatesChanged)
    Q_PROPERTY(bool automaticallyChecksForUpdates READ automaticallyChecksForUpdates WRITE
            setAutomaticallyChecksForUpdates)
    Q_PROPERTY(bool automaticallyDownloadsUpdates READ automaticallyDownloadsUpdates WRITE
            setAutomaticallyDownloadsUpdates)

public:
    Updater(UpdaterConfiguration configuration, UpdaterDelegate *delegate, QObject *parent = nullptr);
    ~Updater() override;

    // Begins the automatic schedule.
    void start();
    bool isStarted() const { return m_started; }

    bool canCheckForUpdates() const { return m_started && !m_sessionActive; }
    bool sessionInProgress() const { return m_sessionActive; }

    bool automaticallyChecksForUpdates() const { return m_automaticallyChecks; }
    void setAutomaticallyChecksForUpdates(bool enabled);
    bool automaticallyDownloadsUpdates() const { return m_automaticallyDownloads; }
    void setAutomaticallyDownloadsUpdates(bool enabled);
    // Re-plans the automatic checks from the current preference.
    void resetUpdateCycle();
    bool automaticCheckScheduled() const { return m_scheduleTimer.isActive(); }
    // How long until the planned automatic check; negative when none is planned.
    std::chrono::milliseconds automaticCheckDelay() const;
    std::optional<QDateTime> lastCheckDate() const { return m_lastCheckDate; }

    // A check the user asked for: shows its outcome and ignores a skipped version.
    void checkForUpdates();
    void checkForUpdatesInBackground();

    void setUserDriver(UpdateUserDriver *driver) { m_userDriver = driver; }
    void setNetworkAccessManager(QNetworkAccessManager *manager);
    const UpdaterConfiguration &configuration() const { return m_configuration; }

    QString skippedVersion() const;
    void cancelDownload();

    // Source rule shared with the delegate's own check: same host, and the address begins
    // with the feed address, with no dot segments to climb out of it.
    static bool isAddressUnderFeed(const QUrl &url, const QString &feedURL);

Q_SIGNALS:
    void canCheckForUpdatesChanged(bool canCheck);
    void downloadProgressChanged(qint64 received, qint64 expected);
    // The new version is in place; the receiver starts it and quits.
    void relaunchRequested(const QString &program, const QStringList &arguments);
    void sessionFinished();
    void userChoiceMade(int choice);

private:
    QCoro::Task<> runSession(bool userInitiated);
    QCoro::Task<bool> downloadAndInstall(
        AppcastItem item, QString feedURL, bool userInitiated, bool installNow);
    void setSessionActive(bool active);
    void fail(const UpdaterFailure &failure, bool userVisible);
    std::chrono::milliseconds delayUntilDue() const;
    void automaticCheckDue();
    void setSkippedVersion(const QString &version);
    QNetworkAccessManager *network();

    UpdaterConfiguration m_configuration;
    UpdaterDelegate *m_delegate = nullptr;
    UpdateUserDriver *m_userDriver = nullptr;
    QNetworkAccessManager *m_network = nullptr;
    QTimer m_scheduleTimer;
    std::shared_ptr<DownloadHandle> m_download;
    bool m_started = false;
    bool m_sessionActive = false;
    bool m_automaticallyChecks = false;
    bool m_automaticallyDownloads = false;
    std::optional<QDateTime> m_lastCheckDate;
};

// The framework's controller: owns the updater and starts it.
class StandardUpdaterController : public QObject
{
    Q_OBJECT

public:
    StandardUpdaterController(bool startingUpdater, UpdaterConfiguration configuration,
        UpdaterDelegate *delegate, UpdateUserDriver *userDriver = nullptr, QObject *parent = nullptr);

    Updater *updater() const { return m_updater; }
    void startUpdater();
    void checkForUpdates();

private:
    Updater *m_updater = nullptr;
};
