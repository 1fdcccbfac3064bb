#include "UpdateTestSupport.h"
#include "update/ByteCountFormatter.h"
#include "update/RelativeDateFormatter.h"
#include "update/UpdaterViewModel.h"

#include <QRegularExpression>
#include <QSettings>

namespace {
UpdaterViewModelConfiguration controllerConfiguration(
    Rig &rig, const QString &settingsName = QStringLiteral("Bramble.conf"))
{
    UpdaterViewModelConfiguration c;
    c.feedURL = rig.feedURL;
    c.publicKey = rig.keys.publicKeyBase64;
    c.infoDictionary = { { QStringLiteral("CFBundleShortVersionString"), QStringLiteral("1.10") },
        { QStringLiteral("CFBundleVersion"), QStringLiteral("10") },
        { QStringLiteral("UpdatePublicEDKey"), QString::fromLatin1(rig.keys.publicKeyBase64) } };
    c.settingsPath = rig.dir.path() + QLatin1Char('/') + settingsName;
    c.installTarget.kind = InstallTarget::Kind::Portable;
    c.installTarget.path = rig.installPath;
    c.installTarget.executable = QStringLiteral("bramble");
    // Far enough away that only the tests that ask for automatic checks see one.
    c.firstCheckDelay = std::chrono::hours(1);
    c.checkInterval = std::chrono::hours(24);
    return c;
}

// Runs the event loop until the controller has set itself up.
bool waitForSetUp(UpdaterViewModel &model)
{
    return QTest::qWaitFor([&] { return model.updaterController() != nullptr; }, 10000);
}

// Runs a manual check until the updater's session is over.
bool checkAndWait(UpdaterViewModel &model)
{
    if (!waitForSetUp(model))
        return false;
    QSignalSpy finished(model.updaterController()->updater(), &Updater::sessionFinished);
    model.checkForUpdates();
    return finished.wait(20000);
}

AppcastItem item(const QString &version, const QString &url, quint64 length)
{
    AppcastItem i;
    i.versionString = version;
    i.displayVersionString = QStringLiteral("1.") + version;
    if (!url.isEmpty())
        i.fileURL = QUrl(url);
    i.contentLength = length;
    return i;
}

QVariant storedValue(const QString &path, const QString &key)
{
    QSettings settings(path, QSettings::IniFormat);
    return settings.value(key);
}
} // namespace

class UpdaterViewModelTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void byteCountsReadLikeTheDesktop();
    void errorTexts();
    void relativeDatesUseTheLargestWholeUnit_data();
    void relativeDatesUseTheLargestWholeUnit();
    void firstLaunchWritesDefaultsAndChangesArePersisted();
    void storedPreferencesAreRead();
    void statusFollowsTheState();
    void noUpdateEndsUpToDate();
    void newerUpdateIsPublished();
    void incompleteItemsAreRefused_data();
    void incompleteItemsAreRefused();
    void fileOutsideTheFeedIsRefusedWithoutCheckDate();
    void downloadAddressOutsideTheFeedIsRefused();
    void tamperedOrMisSizedArchiveLeavesATrail_data();
    void tamperedOrMisSizedArchiveLeavesATrail();
    void frameworkErrorsAreClassified_data();
    void frameworkErrorsAreClassified();
    void twoManualChecksStartOne();
    void fullUpdateInstallsAndAsksForRelaunch();
    void automaticCheckRunsSoonAfterLaunch();
};

void UpdaterViewModelTest::byteCountsReadLikeTheDesktop()
{
    QCOMPARE(formatByteCount(0), QStringLiteral("Zero KB"));
    QCOMPARE(formatByteCount(1), QStringLiteral("1 byte"));
    QCOMPARE(formatByteCount(999), QStringLiteral("999 bytes"));
    QCOMPARE(formatByteCount(1500), QStringLiteral("2 KB"));
    QCOMPARE(formatByteCount(999'600), QStringLiteral("1 MB"));
    QCOMPARE(formatByteCount(2'500'000), QStringLiteral("2.5 MB"));
    QCOMPARE(formatByteCount(1'234'567'890), QStringLiteral("1.23 GB"));
}

void UpdaterViewModelTest::relativeDatesUseTheLargestWholeUnit_data()
{
    QTest::addColumn<qint64>("secondsAgo");
    QTest::addColumn<QString>("expected");
    QTest::newRow("now") << qint64(0) << "now";
    QTest::newRow("1 second") << qint64(1) << "1 second ago";
    QTest::newRow("59 seconds") << qint64(59) << "59 seconds ago";
    QTest::newRow("1 minute") << qint64(60) << "1 minute ago";
    QTest::newRow("119 seconds") << qint64(119) << "1 minute ago";
    QTest::newRow("2 hours") << qint64(2 * 3600 + 59 * 60) << "2 hours ago";
    QTest::newRow("23 hours") << qint64(23 * 3600 + 3599) << "23 hours ago";
    QTest::newRow("1 day") << qint64(86400) << "1 day ago";
    QTest::newRow("6 days") << qint64(6 * 86400 + 86399) << "6 days ago";
    QTest::newRow("1 week") << qint64(7 * 86400) << "1 week ago";
    QTest::newRow("4 weeks") << qint64(29 * 86400) << "4 weeks ago";
    QTest::newRow("2 months") << qint64(62 * 86400) << "2 months ago";
    QTest::newRow("1 year") << qint64(366 * 86400) << "1 year ago";
    QTest::newRow("3 years") << qint64(3 * 366 * 86400) << "3 years ago";
    QTest::newRow("future") << qint64(-3 * 3600) << "in 3 hours";
}

void UpdaterViewModelTest::relativeDatesUseTheLargestWholeUnit()
{
    QFETCH(qint64, secondsAgo);
    QFETCH(QString, expected);
    const QDateTime now(QDate(2026, 12, 8), QTime(15, 30), Qt::UTC);
    QCOMPARE(formatRelativeDate(now.addSecs(-secondsAgo), now), expected);
    // The same instant in another zone reads the same.
    QCOMPARE(formatRelativeDate(now.addSecs(-secondsAgo).toOffsetFromUtc(5 * 3600), now), expected);
}

void UpdaterViewModelTest::errorTexts()
{
    const GenericError underlying { QStringLiteral("X"), 1, QStringLiteral("boom") };
    QCOMPARE(
        UpdateError::networkError(underlying).localizedDescription(), QStringLiteral("Network error: boom"));
    QCOMPARE(UpdateError::unauthorizedUpdateSource(QUrl(QStringLiteral("https://a.example/x y")))
                 .localizedDescription(),
        QStringLiteral("Update from unauthorized source: https://a.example/x%20y"));
    QCOMPARE(UpdateError::insufficientDiskSpace(2'500'000, 1500).localizedDescription(),
        QStringLiteral("Insufficient disk space. Required: 2.5 MB, Available: 2 KB"));
    QCOMPARE(UpdateError::installationFailed(underlying).recoverySuggestion(),
        QStringLiteral("Restart the application and try again. If the problem persists, contact support."));
    QCOMPARE(UpdateError::securityValidationFailed(QStringLiteral("bad")).localizedDescription(),
        QStringLiteral("Security validation failed: bad"));
    QCOMPARE(UpdateError::codeSignatureVerificationFailed().localizedDescription(),
        QStringLiteral("Apple code signature verification failed"));
}

void UpdaterViewModelTest::firstLaunchWritesDefaultsAndChangesArePersisted()
{
    Rig rig;
    QVERIFY(rig.server);
    const UpdaterViewModelConfiguration c = controllerConfiguration(rig);
    UpdaterViewModel model(c);
    QVERIFY(model.automaticallyChecksForUpdates());
    QVERIFY(!model.automaticallyDownloadsUpdates());
    QVERIFY(!model.lastUpdateCheckDate());
    QCOMPARE(model.currentVersion(), QStringLiteral("1.10"));
    // Written at once, before any change.
    QCOMPARE(storedValue(c.settingsPath, QStringLiteral("automaticallyChecksForUpdates")).toString(),
        QStringLiteral("true"));
    QCOMPARE(storedValue(c.settingsPath, QStringLiteral("automaticallyDownloadsUpdates")).toString(),
        QStringLiteral("false"));
    QVERIFY(!model.canCheckForUpdates());
    QVERIFY(waitForSetUp(model));
    QVERIFY(model.canCheckForUpdates());
    Updater *updater = model.updaterController()->updater();
    QVERIFY(updater->automaticallyChecksForUpdates());
    QVERIFY(updater->automaticCheckScheduled());

    ConsoleCapture console;
    model.setAutomaticallyChecks(false);
    model.setAutomaticallyDownloads(true);
    model.setAutomaticallyChecks(true);
    const QStringList lines = console.lines();
    QCOMPARE(lines,
        QStringList({ "⚙️ Updating automatic check settings to: false",
            "🛑 Automatic checking disabled - stopping automatic checks",
            "⚙️ Updating automatic download settings to: true",
            "⚙️ Updating automatic check settings to: true" }));
    QVERIFY(updater->automaticallyDownloadsUpdates());
    QCOMPARE(storedValue(c.settingsPath, QStringLiteral("automaticallyDownloadsUpdates")).toString(),
        QStringLiteral("true"));
    model.setAutomaticallyChecks(false);
    QVERIFY(!updater->automaticCheckScheduled());
    QVERIFY(!updater->automaticallyChecksForUpdates());
    QCOMPARE(storedValue(c.settingsPath, QStringLiteral("automaticallyChecksForUpdates")).toString(),
        QStringLiteral("false"));
}

void UpdaterViewModelTest::storedPreferencesAreRead()
{
    Rig rig;
    const UpdaterViewModelConfiguration c = controllerConfiguration(rig, QStringLiteral("stored.conf"));
    // As another process would have left it: INI text, with a value of the wrong type.
    writeFile(c.settingsPath,
        "[General]\nautomaticallyChecksForUpdates=false\nautomaticallyDownloadsUpdates=maybe\n"
        "lastUpdateCheckDate=@DateTime(garbage)\n");
    UpdaterViewModel model(c);
    QVERIFY(!model.automaticallyChecksForUpdates());
    QVERIFY(!model.automaticallyDownloadsUpdates());
    QVERIFY(!model.lastUpdateCheckDate());

    const QDateTime when(QDate(2026, 3, 4), QTime(5, 6, 7), Qt::UTC);
    {
        QSettings settings(rig.dir.path() + QStringLiteral("/dated.conf"), QSettings::IniFormat);
        settings.setValue(QStringLiteral("lastUpdateCheckDate"), when);
    }
    UpdaterViewModelConfiguration dated = controllerConfiguration(rig, QStringLiteral("dated.conf"));
    dated.infoDictionary.remove(QStringLiteral("CFBundleShortVersionString"));
    dated.infoDictionary.insert(QStringLiteral("CFBundleVersion"), 42);
    UpdaterViewModel second(dated);
    QCOMPARE(second.lastUpdateCheckDate(), std::optional<QDateTime>(when));
    QCOMPARE(second.currentVersion(), QStringLiteral("Unknown"));
    QVERIFY(second.automaticallyChecksForUpdates());
    ConsoleCapture console;
    second.checkForUpdates();
    const QStringList lines = console.lines();
    QVERIFY(lines.contains(QStringLiteral("📋 Current version: Unknown (build Unknown)")));
}

void UpdaterViewModelTest::statusFollowsTheState()
{
    Rig rig;
    QVERIFY(rig.server);
    rig.setFeed({});
    UpdaterViewModel model(controllerConfiguration(rig));
    QCOMPARE(model.statusText(), QStringLiteral("Ready to check for updates"));
    QVERIFY(!model.isUpToDate());

    ConsoleCapture console;
    model.checkForUpdates(); // before set-up: nothing has answered yet
    QCOMPARE(model.statusText(), QStringLiteral("Checking for updates..."));
    QVERIFY(!model.isUpToDate());
    const AppcastItem update
        = item(QStringLiteral("11"), rig.feedURL + QStringLiteral("B.tar.gz"), 2'500'000);
    model.updaterDidFindValidUpdate(nullptr, update);
    QCOMPARE(model.statusText(), QStringLiteral("Update available: 1.11"));
    QVERIFY(!model.isUpToDate());
    model.updaterWillDownloadUpdate(nullptr, update, QNetworkRequest(*update.fileURL));
    QCOMPARE(model.statusText(), QStringLiteral("Downloading update..."));
    QCOMPARE(model.downloadProgress(), 0.0);
    model.updaterDidDownloadUpdate(nullptr, update);
    QCOMPARE(model.downloadProgress(), 1.0);
    QVERIFY(!model.isDownloading());
    model.updaterWillInstallUpdate(nullptr, update);
    QCOMPARE(model.statusText(), QStringLiteral("Installing update..."));
    model.updaterDidAbortWithError(
        nullptr, GenericError { QStringLiteral("X"), 1, QStringLiteral("disk gone") });
    // Errors win over the available update.
    QVERIFY(model.availableUpdate());
    QCOMPARE(model.statusText(), QStringLiteral("Unknown error: disk gone"));
    QVERIFY(!model.isInstalling());
    QVERIFY(!model.isUpToDate());
    model.updaterDidNotFindUpdate(nullptr);
    QCOMPARE(model.statusText(), QStringLiteral("Unknown error: disk gone"));
    console.lines();

    Rig other;
    UpdaterViewModel fresh(controllerConfiguration(other));
    fresh.updaterDidNotFindUpdate(nullptr);
    QVERIFY(fresh.isUpToDate());
    QCOMPARE(fresh.statusText(), QStringLiteral("Bramble is up to date"));
}

void UpdaterViewModelTest::noUpdateEndsUpToDate()
{
    Rig rig;
    QVERIFY(rig.server);
    rig.setFeed({ rig.publish(QStringLiteral("10"), newRelease(), QStringLiteral("B-10.tar.gz")) });
    const UpdaterViewModelConfiguration c = controllerConfiguration(rig);
    QDateTime clock(QDate(2026, 5, 1), QTime(8, 0), Qt::UTC);
    UpdaterViewModelConfiguration timed = c;
    timed.now = [&clock] { return clock; };
    UpdaterViewModel model(timed);
    ConsoleCapture console;
    QVERIFY(checkAndWait(model));
    const QStringList lines = console.lines();
    QCOMPARE(lines.mid(0, 6),
        QStringList({ "🔍 Starting manual update check...", "📋 Current version: 1.10 (build 10)",
            "🌐 Appcast URL: " + rig.feedURL, "🔐 EdDSA public key configured: Yes",
            "✅ Using validated appcast URL: " + rig.feedURL,
            "🔐 EdDSA public key configured for signature verification" }));
    QVERIFY(lines.contains(QStringLiteral("✅ No update found - app is up to date")));
    QVERIFY(lines.contains(QStringLiteral("📋 Current app version: 1.10 (build 10)")));
    QVERIFY(lines.contains(QStringLiteral("   - Enclosure URLs are complete and accessible")));
    QVERIFY(model.isUpToDate());
    QCOMPARE(model.statusText(), QStringLiteral("Bramble is up to date"));
    QCOMPARE(model.lastUpdateCheckDate(), std::optional<QDateTime>(clock));
    QCOMPARE(storedValue(c.settingsPath, QStringLiteral("lastUpdateCheckDate")).toDateTime(), clock);
}

void UpdaterViewModelTest::newerUpdateIsPublished()
{
    Rig rig;
    QVERIFY(rig.server);
    FeedEntry entry = rig.publish(QStringLiteral("11"), newRelease(), QStringLiteral("B-11.tar.gz"));
    entry.pubDate = QStringLiteral("Wed, 02 Dec 2026 12:00:00 +0000");
    entry.description = QStringLiteral("<p>Faster sidebar</p>");
    FeedEntry undated = rig.publish(QStringLiteral("10.5"), newRelease(), QStringLiteral("B-10.5.tar.gz"));
    rig.setFeed({ undated, entry });
    UpdaterViewModel model(controllerConfiguration(rig));
    rig.driver.answer = UpdateUserDriver::Choice::Later;
    model.setUserDriver(&rig.driver);
    ConsoleCapture console;
    QVERIFY(checkAndWait(model));
    const QStringList lines = console.lines();
    QVERIFY(model.availableUpdate());
    const UpdateInfo &info = *model.availableUpdate();
    QCOMPARE(info.version, QStringLiteral("1.11"));
    QCOMPARE(info.buildNumber, QStringLiteral("11"));
    QCOMPARE(info.releaseDate, QDateTime(QDate(2026, 12, 2), QTime(12, 0), Qt::UTC));
    QCOMPARE(info.releaseNotes, QStringLiteral("<p>Faster sidebar</p>"));
    QCOMPARE(info.downloadURL, std::optional<QUrl>(QUrl(entry.url)));
    QCOMPARE(info.fileSize, entry.length);
    QVERIFY(!info.isDeltaUpdate);
    QCOMPARE(model.statusText(), QStringLiteral("Update available: 1.11"));
    QVERIFY(!model.isCheckingForUpdates());
    QVERIFY(model.lastUpdateCheckDate());
    QVERIFY(lines.contains(QStringLiteral("🔐 Update 1.11 passed all security checks")));
    QVERIFY(lines.contains(QStringLiteral("✅ Update source validated: ") + entry.url));
    QVERIFY(lines.contains(
        QStringLiteral("📦 Update info: Version 1.11, Size: ") + formatByteCount(entry.length)));
    QCOMPARE(rig.driver.shown, QStringList({ "found 1.11" }));
    QVERIFY(rig.installationUntouched());

    // Without a date or notes: now and empty.
    const QDateTime now(QDate(2026, 6, 1), QTime(0, 0), Qt::UTC);
    UpdaterViewModelConfiguration c = controllerConfiguration(rig, QStringLiteral("other.conf"));
    c.now = [now] { return now; };
    UpdaterViewModel bare(c);
    AppcastItem plain = item(QStringLiteral("12"), rig.feedURL + QStringLiteral("B-12.tar.gz"), 10);
    plain.deltaUpdates = QMap<QString, AppcastEnclosure> { { QStringLiteral("11"), AppcastEnclosure() } };
    ConsoleCapture quiet;
    bare.updaterDidFindValidUpdate(nullptr, plain);
    quiet.lines();
    QVERIFY(bare.availableUpdate());
    QCOMPARE(bare.availableUpdate()->releaseDate, now);
    QCOMPARE(bare.availableUpdate()->releaseNotes, QString());
    QVERIFY(bare.availableUpdate()->isDeltaUpdate);
}

void UpdaterViewModelTest::incompleteItemsAreRefused_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<bool>("withURL");
    QTest::addColumn<quint64>("length");
    QTest::addColumn<QString>("line");
    QTest::newRow("no file URL") << "11" << false << quint64(10)
                                 << "❌ Update item missing file URL - security validation failed";
    QTest::newRow("empty version")
        << "" << true << quint64(10)
        << "❌ Update item missing version information - security validation failed";
    QTest::newRow("zero length") << "11" << true << quint64(0)
                                 << "❌ Update item missing content length - security validation failed";
}

void UpdaterViewModelTest::incompleteItemsAreRefused()
{
    QFETCH(QString, version);
    QFETCH(bool, withURL);
    QFETCH(quint64, length);
    QFETCH(QString, line);
    Rig rig;
    UpdaterViewModel model(controllerConfiguration(rig));
    const AppcastItem bad
        = item(version, withURL ? rig.feedURL + QStringLiteral("B.tar.gz") : QString(), length);
    ConsoleCapture console;
    model.updaterDidFindValidUpdate(nullptr, bad);
    const QStringList lines = console.lines();
    const qsizetype at = lines.indexOf(line);
    QVERIFY2(at > 0, qPrintable(lines.join(QLatin1Char('\n'))));
    QCOMPARE(lines.value(at + 1), QStringLiteral("❌ EdDSA signature validation failed - blocking update"));
    QCOMPARE(lines.value(at + 2),
        QStringLiteral("🚨 Security validation error: Update signature verification failed"));
    QVERIFY(lines.value(at + 3).startsWith(QStringLiteral("🔒 Security error details: [")));
    QCOMPARE(lines.value(at + 4),
        QStringLiteral("❌ Security validation failed for update: ") + bad.displayVersionString);
    QVERIFY(model.updateError());
    QCOMPARE(model.updateError()->kind(), UpdateError::Kind::signatureVerificationFailed);
    QVERIFY(!model.availableUpdate());
    QVERIFY(!model.lastUpdateCheckDate());
}

void UpdaterViewModelTest::fileOutsideTheFeedIsRefusedWithoutCheckDate()
{
    Rig rig;
    QVERIFY(rig.server);
    FeedEntry entry = rig.publish(QStringLiteral("11"), newRelease(), QStringLiteral("B-11.tar.gz"));
    entry.url = rig.server->url(QStringLiteral("/downloads/B-11.tar.gz"));
    rig.setFeed({ entry });
    const QDateTime fixed(QDate(2026, 1, 31), QTime(9, 5), Qt::UTC);
    UpdaterViewModelConfiguration c = controllerConfiguration(rig);
    c.now = [fixed] { return fixed; };
    UpdaterViewModel model(c);
    model.setUserDriver(&rig.driver);
    ConsoleCapture console;
    QVERIFY(checkAndWait(model));
    const QStringList lines = console.lines();
    QVERIFY(lines.contains(QStringLiteral("❌ Unauthorized update source: ") + entry.url));
    QVERIFY(lines.contains(
        QStringLiteral("❌ Update source validation failed - blocking update from: ") + entry.url));
    const QString details
        = QStringLiteral("🔒 Security error details: [\"timestamp\": \"2026-01-31T09:05:00Z\", "
                         "\"error\": \"Update from unauthorized source: %1\", \"recovery\": "
                         "\"Updates are only allowed from the configured update server. Contact "
                         "support if this persists.\"]")
              .arg(entry.url);
    QVERIFY2(lines.contains(details), qPrintable(lines.join(QLatin1Char('\n'))));
    QVERIFY(model.updateError());
    QCOMPARE(model.updateError()->kind(), UpdateError::Kind::unauthorizedUpdateSource);
    QCOMPARE(model.updateError()->url(), QUrl(entry.url));
    QVERIFY(!model.availableUpdate());
    QVERIFY(!model.lastUpdateCheckDate());
    QVERIFY(!model.isCheckingForUpdates());
    QCOMPARE(rig.site->log(), QStringList({ "/feed/" }));
    QCOMPARE(rig.driver.shown, QStringList({ "failed" }));
    QVERIFY(rig.installationUntouched());
}

void UpdaterViewModelTest::downloadAddressOutsideTheFeedIsRefused()
{
    Rig rig;
    UpdaterViewModel model(controllerConfiguration(rig));
    const AppcastItem update = item(QStringLiteral("11"), rig.feedURL + QStringLiteral("B.tar.gz"), 10);
    ConsoleCapture console;
    model.updaterDidFindValidUpdate(nullptr, update);
    const QUrl outside(QStringLiteral("https://mirror.example/feed/B.tar.gz"));
    model.updaterWillDownloadUpdate(nullptr, update, QNetworkRequest(outside));
    // A look-alike inside the prefix text that climbs out of it.
    const QUrl climbing(rig.feedURL + QStringLiteral("../elsewhere/B.tar.gz"));
    const QStringList lines = console.lines();
    QVERIFY(
        lines.contains(QStringLiteral("❌ Download request from unauthorized source: ") + outside.toString()));
    QCOMPARE(model.updateError()->kind(), UpdateError::Kind::unauthorizedUpdateSource);
    QCOMPARE(model.updateError()->url(), outside);
    QVERIFY(!model.isDownloading());
    QVERIFY(!model.availableUpdate());
    QCOMPARE(model.downloadProgress(), 0.0);

    UpdaterViewModel second(controllerConfiguration(rig, QStringLiteral("second.conf")));
    ConsoleCapture quiet;
    second.updaterWillDownloadUpdate(nullptr, update, QNetworkRequest(climbing));
    quiet.lines();
    QVERIFY(second.updateError());
    QVERIFY(!second.isDownloading());
}

void UpdaterViewModelTest::tamperedOrMisSizedArchiveLeavesATrail_data()
{
    QTest::addColumn<bool>("tamper");
    QTest::newRow("tampered archive") << true;
    QTest::newRow("wrong length") << false;
}

void UpdaterViewModelTest::tamperedOrMisSizedArchiveLeavesATrail()
{
    QFETCH(bool, tamper);
    Rig rig;
    QVERIFY(rig.server);
    const QByteArray archive = newRelease();
    FeedEntry entry = rig.publish(QStringLiteral("11"), archive, QStringLiteral("B-11.tar.gz"));
    if (tamper) {
        QByteArray bad = archive;
        bad[10] = char(bad[10] ^ 0x20);
        rig.site->put(QStringLiteral("/feed/B-11.tar.gz"), bad);
    } else {
        // Announced shorter than it is: more arrives than the signature was made for.
        entry.length -= 100;
    }
    rig.setFeed({ entry });
    UpdaterViewModel model(controllerConfiguration(rig));
    model.setUserDriver(&rig.driver);
    QSignalSpy relaunch(&model, &UpdaterViewModel::relaunchRequested);
    ConsoleCapture console;
    QVERIFY(checkAndWait(model));
    const QStringList lines = console.lines();
    const QStringList trail = { "⬇️ Starting download for update: 1.11",
        "❌ Update check failed: Update signature verification failed",
        "🔍 Error details: UpdateError.signatureVerificationFailed", "🚨 Signature verification issue detected",
        "💡 Check if appcast.xml is properly signed with EdDSA" };
    qsizetype from = 0;
    for (const QString &expected : trail) {
        from = lines.indexOf(expected, from);
        QVERIFY2(from >= 0, qPrintable(expected + QStringLiteral("\n---\n") + lines.join(QLatin1Char('\n'))));
    }
    QVERIFY(!lines.contains(QStringLiteral("🔧 Starting installation for update: 1.11")));
    QCOMPARE(model.updateError()->kind(), UpdateError::Kind::signatureVerificationFailed);
    QVERIFY(!model.isDownloading());
    QVERIFY(!model.isInstalling());
    QCOMPARE(model.statusText(), QStringLiteral("Update signature verification failed"));
    QVERIFY(rig.installationUntouched());
    QCOMPARE(relaunch.count(), 0);
}

void UpdaterViewModelTest::frameworkErrorsAreClassified_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("issue");
    QTest::newRow("signature") << "bad signature on item"
                               << "🚨 Signature verification issue detected";
    QTest::newRow("parse") << "could not parse feed"
                           << "🚨 Appcast parsing issue detected";
    QTest::newRow("XML") << "XML is broken"
                         << "🚨 Appcast parsing issue detected";
    QTest::newRow("network") << "a network failure"
                             << "🚨 Network issue detected";
    QTest::newRow("connection") << "the connection was reset"
                                << "🚨 Network issue detected";
    QTest::newRow("network and signature") << "network dropped during signature fetch"
                                           << "🚨 Signature verification issue detected";
    QTest::newRow("capitalised") << "NETWORK DOWN, SIGNATURE UNKNOWN"
                                 << "";
}

void UpdaterViewModelTest::frameworkErrorsAreClassified()
{
    QFETCH(QString, description);
    QFETCH(QString, issue);
    Rig rig;
    UpdaterViewModel model(controllerConfiguration(rig));
    ConsoleCapture console;
    model.updaterDidAbortWithError(nullptr, GenericError { QStringLiteral("Framework"), 7, description });
    const QStringList lines = console.lines();
    QCOMPARE(lines.value(0), QStringLiteral("❌ Update check failed: ") + description);
    QVERIFY(lines.value(1).startsWith(QStringLiteral("🔍 Error details: ")));
    QVERIFY(lines.value(1).contains(description));
    if (issue.isEmpty()) {
        QCOMPARE(lines.size(), 2);
    } else {
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines.value(2), issue);
    }
    QVERIFY(model.updateError());
    QCOMPARE(model.updateError()->kind(), UpdateError::Kind::unknownError);
    QCOMPARE(model.updateError()->localizedDescription(), QStringLiteral("Unknown error: ") + description);
    QVERIFY(model.lastUpdateCheckDate());

    // An UpdateError is recorded as itself.
    ConsoleCapture again;
    model.updaterDidAbortWithError(
        nullptr, UpdateError::networkError(GenericError { {}, 0, QStringLiteral("x") }));
    again.lines();
    QCOMPARE(model.updateError()->kind(), UpdateError::Kind::networkError);
}

void UpdaterViewModelTest::twoManualChecksStartOne()
{
    Rig rig;
    QVERIFY(rig.server);
    rig.setFeed({});
    UpdaterViewModel model(controllerConfiguration(rig));
    ConsoleCapture console;
    model.checkForUpdates();
    model.checkForUpdates();
    QVERIFY(QTest::qWaitFor([&] { return !model.isCheckingForUpdates(); }, 20000));
    model.checkForUpdates(); // now a new one may start
    QVERIFY(QTest::qWaitFor([&] { return !model.isCheckingForUpdates(); }, 20000));
    const QStringList lines = console.lines();
    QCOMPARE(lines.count(QStringLiteral("🔍 Starting manual update check...")), 2);
    QCOMPARE(rig.site->log(), QStringList({ "/feed/", "/feed/" }));
    QVERIFY(model.isUpToDate());
}

void UpdaterViewModelTest::fullUpdateInstallsAndAsksForRelaunch()
{
    Rig rig;
    QVERIFY(rig.server);
    rig.setFeed({ rig.publish(QStringLiteral("11"), newRelease("eleven"), QStringLiteral("B-11.tar.gz")) });
    UpdaterViewModel model(controllerConfiguration(rig));
    model.setUserDriver(&rig.driver);
    QSignalSpy relaunch(&model, &UpdaterViewModel::relaunchRequested);
    ConsoleCapture console;
    QVERIFY(checkAndWait(model));
    const QStringList lines = console.lines();
    QCOMPARE(relaunch.count(), 1);
    QCOMPARE(relaunch.at(0).at(0).toString(), rig.installPath + QStringLiteral("/bramble"));
    QCOMPARE(readFile(rig.installPath + QStringLiteral("/bramble")), QByteArray("eleven"));
    QVERIFY(lines.contains(QStringLiteral("✅ Download completed for update: 1.11")));
    QVERIFY(lines.contains(QStringLiteral("🔧 Starting installation for update: 1.11")));
    QVERIFY(model.isInstalling());
    QCOMPARE(model.downloadProgress(), 1.0);
    QVERIFY(!model.updateError());
    QCOMPARE(model.statusText(), QStringLiteral("Installing update..."));
}

void UpdaterViewModelTest::automaticCheckRunsSoonAfterLaunch()
{
    Rig rig;
    QVERIFY(rig.server);
    rig.setFeed({});
    UpdaterViewModelConfiguration c = controllerConfiguration(rig);
    c.firstCheckDelay = std::chrono::milliseconds(1);
    ConsoleCapture console;
    UpdaterViewModel model(c);
    QVERIFY(QTest::qWaitFor([&] { return model.lastUpdateCheckDate().has_value(); }, 20000));
    const QStringList lines = console.lines();
    QVERIFY(!lines.contains(QStringLiteral("🔍 Starting manual update check...")));
    QVERIFY(lines.contains(QStringLiteral("✅ No update found - app is up to date")));
    QVERIFY(model.isUpToDate());

    // Switched off, no check comes.
    Rig quiet;
    quiet.setFeed({});
    UpdaterViewModelConfiguration off = controllerConfiguration(quiet);
    off.firstCheckDelay = std::chrono::milliseconds(1);
    writeFile(off.settingsPath, "[General]\nautomaticallyChecksForUpdates=false\n");
    UpdaterViewModel idle(off);
    QVERIFY(waitForSetUp(idle));
    QVERIFY(!idle.updaterController()->updater()->automaticCheckScheduled());
}

#include "tst_update_controller.moc"
REGISTER_TEST_SUITE(UpdaterViewModelTest)
