#include "Updater.h"

#include "Appcast.h"
#include "UpdateDownloader.h"
#include "UpdateSignature.h"
#include "VersionComparator.h"
#include "platform/Console.h"

#include <QCoreApplication>
#include <QCoroFuture>
#include <QCoroSignal>
#include <QDir>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QSettings>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <cstdio>

namespace {
const QString kDomain = QStringLiteral("BrambleUpdate");
const QString kSkippedVersionKey = QStringLiteral("skippedUpdateVersion");

GenericError error(int code, const QString &description)
{
    return GenericError { kDomain, code, description };
}

enum Code {
    FeedAddress = 1,
    FeedDownload,
    FeedParse,
    Download,
    Cancelled,
    Installation,
    Storage,
    FeedTooLarge
};

UpdaterFailure downloadFailure(const DownloadResult &result, const QString &what)
{
    switch (result.status) {
    case DownloadResult::Status::TooLarge:
        if (what == QLatin1String("feed"))
            return UpdateError::appcastParsingFailed(error(FeedTooLarge,
                QStringLiteral("the update feed is larger than the limit of %1 bytes").arg(result.limit)));
        return UpdateError::signatureVerificationFailed();
    case DownloadResult::Status::RedirectRefused:
        return UpdateError::unauthorizedUpdateSource(result.refusedRedirect);
    case DownloadResult::Status::WriteError:
        return UpdateError::installationFailed(
            error(Storage, QStringLiteral("the download could not be stored: ") + result.error));
    case DownloadResult::Status::Cancelled:
        return error(Cancelled, QStringLiteral("The update download was cancelled."));
    default:
        // Worded so that the failure is recognised as a network problem wherever it is read.
        return UpdateError::networkError(error(what == QLatin1String("feed") ? FeedDownload : Download,
            QStringLiteral("the %1 could not be downloaded (network error: %2)").arg(what, result.error)));
    }
}
} // namespace

Updater::Updater(UpdaterConfiguration configuration, UpdaterDelegate *delegate, QObject *parent)
    : QObject(parent)
    , m_configuration(std::move(configuration))
    , m_delegate(delegate)
{
    if (!m_configuration.now)
        m_configuration.now = [] { return QDateTime::currentDateTimeUtc(); };
    if (!m_configuration.freeSpace)
        m_configuration.freeSpace = &UpdateInstaller::freeSpace;
    m_lastCheckDate = m_configuration.lastCheckDate;
    m_scheduleTimer.setSingleShot(true);
    // One timer, hours apart: exactness costs nothing, and a coarse one may fire minutes early.
    m_scheduleTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_scheduleTimer, &QTimer::timeout, this, &Updater::automaticCheckDue);
}

Updater::~Updater()
{
    if (m_download)
        m_download->cancel();
}

void Updater::start()
{
    if (m_started)
        return;
    m_started = true;
    Q_EMIT canCheckForUpdatesChanged(canCheckForUpdates());
    resetUpdateCycle();
}

void Updater::setAutomaticallyChecksForUpdates(bool enabled)
{
    if (m_automaticallyChecks == enabled)
        return;
    m_automaticallyChecks = enabled;
    if (m_started)
        resetUpdateCycle();
}

void Updater::setAutomaticallyDownloadsUpdates(bool enabled)
{
    m_automaticallyDownloads = enabled;
}

void Updater::resetUpdateCycle()
{
    m_scheduleTimer.stop();
    if (!m_started || !m_automaticallyChecks)
        return;
    m_scheduleTimer.start(delayUntilDue());
}

std::chrono::milliseconds Updater::delayUntilDue() const
{
    using std::chrono::milliseconds;
    const milliseconds soonest = m_configuration.firstCheckDelay;
    const milliseconds interval = std::max(m_configuration.checkInterval, soonest);
    if (!m_lastCheckDate)
        return soonest;
    // A last check dated in the future (the clock was set back) waits one interval at most.
    const milliseconds remaining(
        m_configuration.now().msecsTo(m_lastCheckDate->addMSecs(qint64(interval.count()))));
    return std::clamp(remaining, soonest, interval);
}

std::chrono::milliseconds Updater::automaticCheckDelay() const
{
    return std::chrono::milliseconds(m_scheduleTimer.isActive() ? m_scheduleTimer.remainingTime() : -1);
}

void Updater::automaticCheckDue()
{
    // A session that is running re-plans the schedule when it ends.
    if (!m_automaticallyChecks || m_sessionActive)
        return;
    // Timers fire early, and a clock can move: check only once the last check is old enough.
    if (m_lastCheckDate) {
        const qint64 remaining = m_configuration.now().msecsTo(
            m_lastCheckDate->addMSecs(qint64(m_configuration.checkInterval.count())));
        if (remaining > qint64(m_configuration.firstCheckDelay.count())) {
            resetUpdateCycle();
            return;
        }
    }
    checkForUpdatesInBackground();
}

void Updater::checkForUpdates()
{
    if (!canCheckForUpdates())
        return;
    runSession(true);
}

void Updater::checkForUpdatesInBackground()
{
    if (!canCheckForUpdates())
        return;
    runSession(false);
}

void Updater::setNetworkAccessManager(QNetworkAccessManager *manager)
{
    m_network = manager;
}

QNetworkAccessManager *Updater::network()
{
    if (!m_network)
        m_network = new QNetworkAccessManager(this);
    return m_network;
}

QString Updater::skippedVersion() const
{
    if (m_configuration.settingsPath.isEmpty())
        return QString();
    QSettings settings(m_configuration.settingsPath, QSettings::IniFormat);
    return settings.value(kSkippedVersionKey).toString();
}

void Updater::setSkippedVersion(const QString &version)
{
    if (m_configuration.settingsPath.isEmpty())
        return;
    QSettings settings(m_configuration.settingsPath, QSettings::IniFormat);
    settings.setValue(kSkippedVersionKey, version);
}

void Updater::cancelDownload()
{
    if (m_download)
        m_download->cancel();
}

bool Updater::isAddressUnderFeed(const QUrl &url, const QString &feedURL)
{
    const QUrl feed(feedURL);
    if (!url.isValid() || !feed.isValid() || feedURL.isEmpty())
        return false;
    if (url.host().compare(feed.host(), Qt::CaseInsensitive) != 0 || url.port() != feed.port()
        || url.scheme().compare(feed.scheme(), Qt::CaseInsensitive) != 0 || !url.userInfo().isEmpty())
        return false;
    for (const QString &segment : url.path(QUrl::FullyDecoded).split(QLatin1Char('/'))) {
        if (segment == QLatin1String("..") || segment == QLatin1String("."))
            return false;
    }
    return url.toString(QUrl::FullyEncoded).startsWith(feedURL);
}

void Updater::setSessionActive(bool active)
{
    if (m_sessionActive == active)
        return;
    const bool before = canCheckForUpdates();
    m_sessionActive = active;
    if (before != canCheckForUpdates())
        Q_EMIT canCheckForUpdatesChanged(canCheckForUpdates());
}

void Updater::fail(const UpdaterFailure &failure, bool userVisible)
{
    Console::printLine(QStringLiteral("❌ Update session ended: ") + failure.localizedDescription());
    if (m_delegate)
        m_delegate->updaterDidAbortWithError(this, failure);
    if (userVisible && m_userDriver)
        m_userDriver->showUpdateFailed();
}

QCoro::Task<> Updater::runSession(bool userInitiated)
{
    QPointer<Updater> self(this);
    setSessionActive(true);
    m_scheduleTimer.stop();
    const auto finish = [self] {
        if (!self)
            return;
        self->m_download.reset();
        self->setSessionActive(false);
        self->resetUpdateCycle();
        Q_EMIT self->sessionFinished();
    };

    std::optional<QString> delegated = m_delegate ? m_delegate->feedURLStringForUpdater(this) : std::nullopt;
    const QString feedURL = delegated.value_or(m_configuration.feedURL);
    const QUrl feed(feedURL);
    if (!isPermittedUpdateTransport(feed)) {
        m_lastCheckDate = m_configuration.now();
        fail(UpdateError::unauthorizedUpdateSource(feed), userInitiated);
        finish();
        co_return;
    }

    DownloadOptions feedOptions;
    feedOptions.stallTimeout = m_configuration.networkStallTimeout;
    feedOptions.maxBytes = m_configuration.maxFeedSize;
    // The feed is held to the archive's rule: a redirect stays beneath the feed's address.
    feedOptions.redirectAllowed
        = [feedURL](const QUrl &target) { return isAddressUnderFeed(target, feedURL); };
    // Tasks are created in statements of their own: g++ 12 destroys temporaries of a
    // co_await full-expression twice.
    auto fetchTask = downloadUpdateFile(network(), feed, feedOptions);
    const DownloadResult fetched = co_await fetchTask;
    if (!self)
        co_return;
    m_lastCheckDate = m_configuration.now();
    if (!fetched.ok()) {
        fail(downloadFailure(fetched, QStringLiteral("feed")), userInitiated);
        finish();
        co_return;
    }
    const AppcastParseResult parsed = parseAppcast(fetched.body);
    // Without a Content-Length a cut transfer can look complete (Qt ends a chunked reply
    // when the connection closes); a document that stops short is then the sign of it.
    if (!parsed.error.isEmpty() && parsed.endedEarly && fetched.announced < 0) {
        DownloadResult cut = fetched;
        cut.status = DownloadResult::Status::NetworkError;
        cut.error = QStringLiteral("the feed ended early, the transfer was cut (%1)").arg(parsed.error);
        fail(downloadFailure(cut, QStringLiteral("feed")), userInitiated);
        finish();
        co_return;
    }
    if (!parsed.error.isEmpty()) {
        fail(UpdateError::appcastParsingFailed(
                 error(FeedParse, QStringLiteral("the update feed could not be parsed: ") + parsed.error)),
            userInitiated);
        finish();
        co_return;
    }

    const QString skipped = userInitiated ? QString() : skippedVersion();
    const AppcastItem::ArchiveKind wanted = m_configuration.installTarget.archiveKind();
    const AppcastItem *best = nullptr;
    for (const AppcastItem &item : parsed.items) {
        if (item.archiveKind() != AppcastItem::ArchiveKind::Unknown && item.archiveKind() != wanted)
            continue;
        if (compareVersions(item.versionString, m_configuration.currentBuildVersion) <= 0)
            continue;
        if (!skipped.isEmpty() && item.versionString == skipped)
            continue;
        if (!best || compareVersions(item.versionString, best->versionString) > 0)
            best = &item;
    }
    if (!best) {
        Console::printLine(QStringLiteral("📭 No update newer than build ")
            + m_configuration.currentBuildVersion + QStringLiteral(" in ") + feedURL);
        if (m_delegate)
            m_delegate->updaterDidNotFindUpdate(this);
        if (userInitiated && m_userDriver)
            m_userDriver->showUpToDate();
        finish();
        co_return;
    }
    const AppcastItem item = *best;
    // Without a well-formed signature the download could never be trusted: refuse it now.
    if (!UpdateSignature::isWellFormedSignature(item.edSignature)) {
        Console::printLine(QStringLiteral("❌ Update ") + item.displayVersionString
            + QStringLiteral(" carries no valid signature; nothing will be downloaded"));
        fail(UpdateError::signatureVerificationFailed(), userInitiated);
        finish();
        co_return;
    }
    if (m_delegate)
        m_delegate->updaterDidFindValidUpdate(this, item);
    if (!self)
        co_return;
    // The delegate has judged the item and recorded any refusal; the same rules stop us here.
    if (!item.fileURL || item.contentLength == 0 || item.versionString.isEmpty()
        || !isAddressUnderFeed(*item.fileURL, feedURL)) {
        Console::printLine(
            QStringLiteral("🛑 Update refused, nothing will be downloaded: ") + item.displayVersionString);
        if (userInitiated && m_userDriver)
            m_userDriver->showUpdateFailed();
        finish();
        co_return;
    }

    const bool downloadFirst = !userInitiated && m_automaticallyDownloads;
    if (downloadFirst) {
        auto downloadTask = downloadAndInstall(item, feedURL, false, false);
        const bool ok = co_await downloadTask;
        if (!self)
            co_return;
        if (!ok) {
            finish();
            co_return;
        }
    }

    if (!m_userDriver) {
        Console::printLine(QStringLiteral("📦 Update ") + item.displayVersionString
            + QStringLiteral(" is waiting for the user"));
        finish();
        co_return;
    }
    m_userDriver->showUpdateFound(item, [self](UpdateUserDriver::Choice choice) {
        if (self)
            Q_EMIT self->userChoiceMade(int(choice));
    });
    auto choiceSignal = qCoro(this, &Updater::userChoiceMade);
    const std::optional<int> choice = co_await choiceSignal;
    if (!self)
        co_return;
    switch (UpdateUserDriver::Choice(choice.value_or(int(UpdateUserDriver::Choice::Later)))) {
    case UpdateUserDriver::Choice::Later:
        UpdateInstaller::removeStagingFolder(m_configuration.installTarget);
        break;
    case UpdateUserDriver::Choice::SkipThisVersion:
        setSkippedVersion(item.versionString);
        UpdateInstaller::removeStagingFolder(m_configuration.installTarget);
        break;
    case UpdateUserDriver::Choice::Install: {
        auto installTask = downloadAndInstall(item, feedURL, true, true);
        co_await installTask;
    } break;
    }
    finish();
}

QCoro::Task<bool> Updater::downloadAndInstall(
    AppcastItem item, QString feedURL, bool userVisible, bool installNow)
{
    QPointer<Updater> self(this);
    const InstallTarget target = m_configuration.installTarget;
    const QString staging = UpdateInstaller::stagingFolder(target);
    const QString archivePath = staging + QStringLiteral("/download");
    const bool alreadyDownloaded = QFileInfo(archivePath).size() == qint64(item.contentLength)
        && QFileInfo::exists(staging + QStringLiteral("/verified"));

    // Refuse before downloading what could never be installed. Checking walks the program's
    // folder, and a left-over interrupted install is put right first: both off this thread.
    QFuture<QString> checking = QtConcurrent::run([target] {
        UpdateInstaller::recoverInterruptedInstall(target, false);
        return UpdateInstaller::checkInstallable(target);
    });
    const QString installProblem = co_await checking;
    if (!self)
        co_return false;
    if (!installProblem.isEmpty()) {
        fail(UpdateError::installationFailed(error(Installation, installProblem)), userVisible);
        co_return false;
    }

    if (!alreadyDownloaded) {
        const std::optional<qint64> available
            = m_configuration.freeSpace(QFileInfo(target.path).absolutePath());
        if (available && *available < qint64(item.contentLength)) {
            fail(UpdateError::insufficientDiskSpace(qint64(item.contentLength), *available), userVisible);
            co_return false;
        }
        const QString stagingProblem = UpdateInstaller::prepareStagingFolder(target);
        if (!stagingProblem.isEmpty()) {
            fail(UpdateError::installationFailed(error(Storage, stagingProblem)), userVisible);
            co_return false;
        }

        QNetworkRequest request(*item.fileURL);
        if (m_delegate)
            m_delegate->updaterWillDownloadUpdate(this, item, request);
        if (!self)
            co_return false;
        if (!isAddressUnderFeed(request.url(), feedURL)) {
            Console::printLine(QStringLiteral("🛑 Download refused from: ") + request.url().toString());
            UpdateInstaller::removeStagingFolder(target);
            if (userVisible && m_userDriver)
                m_userDriver->showUpdateFailed();
            co_return false;
        }

        m_download = std::make_shared<DownloadHandle>();
        if (userVisible && m_userDriver) {
            m_userDriver->showDownloadStarted([self] {
                if (self)
                    self->cancelDownload();
            });
        }
        DownloadOptions options;
        options.destinationPath = archivePath;
        // One byte more than announced is enough to know the length is wrong.
        options.maxBytes = qint64(item.contentLength) + 1;
        options.stallTimeout = m_configuration.networkStallTimeout;
        options.redirectAllowed
            = [feedURL](const QUrl &target) { return isAddressUnderFeed(target, feedURL); };
        const qint64 expected = qint64(item.contentLength);
        options.progress = [self, userVisible, expected](qint64 received, qint64) {
            if (!self)
                return;
            Q_EMIT self->downloadProgressChanged(received, expected);
            if (userVisible && self->m_userDriver)
                self->m_userDriver->showDownloadProgress(received, expected);
        };
        auto transferTask = downloadUpdateFile(network(), request.url(), options, m_download);
        const DownloadResult downloaded = co_await transferTask;
        if (!self)
            co_return false;
        m_download.reset();
        if (downloaded.status == DownloadResult::Status::Cancelled) {
            UpdateInstaller::removeStagingFolder(target);
            fail(downloadFailure(downloaded, QStringLiteral("update")), false);
            if (m_userDriver)
                m_userDriver->dismiss();
            co_return false;
        }
        if (downloaded.ok() && downloaded.received < expected) {
            UpdateInstaller::removeStagingFolder(target);
            DownloadResult cut = downloaded;
            cut.status = DownloadResult::Status::NetworkError;
            cut.error = QStringLiteral("the transfer ended after %1 of %2 bytes")
                            .arg(downloaded.received)
                            .arg(expected);
            fail(downloadFailure(cut, QStringLiteral("update")), userVisible);
            co_return false;
        }
        if (downloaded.status == DownloadResult::Status::TooLarge
            || (downloaded.ok() && downloaded.received > expected)) {
            Console::printLine(
                QStringLiteral("❌ The download does not have the announced length of %1 bytes; its signature "
                               "cannot be trusted")
                    .arg(expected));
            UpdateInstaller::removeStagingFolder(target);
            fail(UpdateError::signatureVerificationFailed(), userVisible);
            co_return false;
        }
        if (!downloaded.ok()) {
            UpdateInstaller::removeStagingFolder(target);
            fail(downloadFailure(downloaded, QStringLiteral("update")), userVisible);
            co_return false;
        }

        const QByteArray signature = item.edSignature;
        const QByteArray key = m_configuration.publicKey;
        QFuture<QString> verifying = QtConcurrent::run([archivePath, signature, key] {
            return UpdateSignature::verifyFile(archivePath, signature, key);
        });
        const QString verifyError = co_await verifying;
        if (!self)
            co_return false;
        if (!verifyError.isEmpty()) {
            Console::printLine(QStringLiteral("❌ Signature check failed: ") + verifyError);
            UpdateInstaller::removeStagingFolder(target);
            fail(UpdateError::signatureVerificationFailed(), userVisible);
            co_return false;
        }
        QFile marker(staging + QStringLiteral("/verified"));
        if (marker.open(QIODevice::WriteOnly))
            marker.close();
        if (m_delegate)
            m_delegate->updaterDidDownloadUpdate(this, item);
        if (!self)
            co_return false;
    }
    if (!installNow)
        co_return true;

    // Check the bytes again: the staged file may have sat on disk since it was verified.
    const QByteArray signature = item.edSignature;
    const QByteArray key = m_configuration.publicKey;
    const bool portable = target.kind == InstallTarget::Kind::Portable;
    if (m_delegate)
        m_delegate->updaterWillInstallUpdate(this, item);
    if (!self)
        co_return false;
    if (userVisible && m_userDriver)
        m_userDriver->showInstalling();
    const qint64 expected = qint64(item.contentLength);
    QFuture<QString> installing = QtConcurrent::run([=]() -> QString {
        if (QFileInfo(archivePath).size() != expected)
            return QStringLiteral("signature check failed: the staged download changed");
        if (const QString e = UpdateSignature::verifyFile(archivePath, signature, key); !e.isEmpty())
            return QStringLiteral("signature check failed: ") + e;
        QString staged = archivePath;
        if (portable) {
            // What an interrupted extraction left is ours and of no use: start afresh.
            staged = staging + QStringLiteral("/extracted");
            QDir(staged).removeRecursively();
            const auto r = UpdateArchive::extract(
                archivePath, staged, QString::fromLatin1(UpdateInstaller::kReleaseFolder));
            if (!r.ok())
                return r.error;
        }
        return UpdateInstaller::install(target, staged).error;
    });
    const QString installError = co_await installing;
    if (!self)
        co_return false;
    UpdateInstaller::removeStagingFolder(target);
    if (!installError.isEmpty()) {
        if (installError.startsWith(QLatin1String("signature check failed")))
            fail(UpdateError::signatureVerificationFailed(), userVisible);
        else
            fail(UpdateError::installationFailed(error(Installation, installError)), userVisible);
        co_return false;
    }
    Console::printLine(QStringLiteral("✅ Update ") + item.displayVersionString
        + QStringLiteral(" installed in ") + target.path);
    if (m_userDriver)
        m_userDriver->dismiss();
    QStringList arguments = QCoreApplication::arguments();
    if (!arguments.isEmpty())
        arguments.removeFirst();
    Q_EMIT relaunchRequested(target.relaunchProgram(), arguments);
    co_return true;
}

StandardUpdaterController::StandardUpdaterController(bool startingUpdater, UpdaterConfiguration configuration,
    UpdaterDelegate *delegate, UpdateUserDriver *userDriver, QObject *parent)
    : QObject(parent)
    , m_updater(new Updater(std::move(configuration), delegate, this))
{
    m_updater->setUserDriver(userDriver);
    if (startingUpdater)
        startUpdater();
}

void StandardUpdaterController::startUpdater()
{
    m_updater->start();
}

void StandardUpdaterController::checkForUpdates()
{
    m_updater->checkForUpdates();
}
