#include "UpdateTestSupport.h"
#include "support/TestEnvironment.h"
#include "support/TestHttpServer.h"
#include "update/framework/Appcast.h"
#include "update/framework/UpdateArchive.h"
#include "update/framework/UpdateInstaller.h"
#include "update/framework/UpdateRelaunch.h"
#include "update/framework/UpdateSignature.h"
#include "update/framework/Updater.h"
#include "update/framework/VersionComparator.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <httplib.h>
#include <map>
#include <mutex>

class UpdateTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void versionsCompareComponentByComponent_data();
    void versionsCompareComponentByComponent();
    void feedIsRead();
    void brokenFeedIsAnError();
    void signaturesVerifyOnlyWithTheRightKeyAndBytes();
    void addressesUnderTheFeed();
    void archiveEntriesMayNotEscape_data();
    void archiveEntriesMayNotEscape();

    void noUpdateIsReported();
    void newestNewerUpdateIsInstalledAndRelaunchRequested();
    void skippedVersionIsIgnoredOnlyByAutomaticChecks();
    void tamperedOrMisSizedDownloadIsRefused_data();
    void tamperedOrMisSizedDownloadIsRefused();
    void fileOutsideTheFeedIsNeverDownloaded();
    void redirectOutsideTheFeedIsRefused();
    void escapingArchiveInstallsNothing();
    void unwritableInstallationIsRefused();
    void appImageIsReplacedWithItsPermissions();
    void insecureFeedIsNotContacted();
    void automaticChecksFollowTheSchedule();
    void replacementKnowsWhichProcessToWaitFor();
    void cancelledDownloadInstallsNothing();
    void automaticDownloadHappensBeforeTheQuestion();
    void tooLittleDiskSpaceIsReportedBeforeDownloading();
};

void UpdateTest::versionsCompareComponentByComponent_data()
{
    QTest::addColumn<QString>("left");
    QTest::addColumn<QString>("right");
    QTest::addColumn<int>("expected");
    QTest::newRow("1.10 > 1.9") << "1.10"
                                << "1.9" << 1;
    QTest::newRow("1.5.1 > 1.5") << "1.5.1"
                                 << "1.5" << 1;
    QTest::newRow("1.5 == 1.5.0") << "1.5"
                                  << "1.5.0" << 0;
    QTest::newRow("2 > 1.99.99") << "2"
                                 << "1.99.99" << 1;
    QTest::newRow("2.0b1 < 2.0") << "2.0b1"
                                 << "2.0" << -1;
    QTest::newRow("2.0b2 > 2.0b1") << "2.0b2"
                                   << "2.0b1" << 1;
    QTest::newRow("empty < 1") << ""
                               << "1" << -1;
    QTest::newRow("100 > 99") << "100"
                              << "99" << 1;
}

void UpdateTest::versionsCompareComponentByComponent()
{
    QFETCH(QString, left);
    QFETCH(QString, right);
    QFETCH(int, expected);
    QCOMPARE(compareVersions(left, right), expected);
    QCOMPARE(compareVersions(right, left), -expected);
}

void UpdateTest::feedIsRead()
{
    const QByteArray xml = QByteArray("<?xml version=\"1.0\"?><rss version=\"2.0\" xmlns:b=\"")
        + kBrambleUpdateNamespace
        + "\"><channel><title>x</title>"
          "<item><title>One</title><pubDate>Tue, 01 Dec 2026 10:00:00 +0100</pubDate>"
          "<description>Fixes &amp; more</description><b:version>42</b:version>"
          "<b:shortVersionString>1.4</b:shortVersionString>"
          "<enclosure url=\"https://u.example/feed/a.tar.gz\" length=\"1234\" type=\"application/gzip\" "
          "b:edSignature=\"c2ln\"/>"
          "<b:deltas><enclosure url=\"https://u.example/feed/d.delta\" length=\"9\" "
          "b:deltaFrom=\"41\"/></b:deltas>"
          "</item>"
          "<item><b:version>43</b:version><enclosure length=\"0\"/></item>"
          "<item><b:version>44</b:version><version>99</version>"
          "<enclosure url=\"https://u.example/feed/Bramble.AppImage\" length=\"-5\"/></item>"
          "</channel></rss>";
    const AppcastParseResult result = parseAppcast(xml);
    QVERIFY2(result.error.isEmpty(), qPrintable(result.error));
    QCOMPARE(result.items.size(), 3);
    const AppcastItem &first = result.items.at(0);
    QCOMPARE(first.versionString, QStringLiteral("42"));
    QCOMPARE(first.displayVersionString, QStringLiteral("1.4"));
    QCOMPARE(first.contentLength, 1234u);
    QCOMPARE(first.fileURL, std::optional<QUrl>(QUrl(QStringLiteral("https://u.example/feed/a.tar.gz"))));
    QCOMPARE(first.edSignature, QByteArray("c2ln"));
    QCOMPARE(first.itemDescription, std::optional<QString>(QStringLiteral("Fixes & more")));
    QCOMPARE(first.date, std::optional<QDateTime>(QDateTime(QDate(2026, 12, 1), QTime(9, 0), Qt::UTC)));
    QVERIFY(first.deltaUpdates && first.deltaUpdates->contains(QStringLiteral("41")));
    QCOMPARE(first.archiveKind(), AppcastItem::ArchiveKind::Portable);

    const AppcastItem &second = result.items.at(1);
    QVERIFY(!second.fileURL);
    QCOMPARE(second.contentLength, 0u);
    QCOMPARE(second.displayVersionString, QStringLiteral("43"));
    QVERIFY(!second.date && !second.itemDescription && !second.deltaUpdates);

    // An un-namespaced <version> is not ours; a negative length reads as none.
    const AppcastItem &third = result.items.at(2);
    QCOMPARE(third.versionString, QStringLiteral("44"));
    QCOMPARE(third.contentLength, 0u);
    QCOMPARE(third.archiveKind(), AppcastItem::ArchiveKind::AppImage);
}

void UpdateTest::brokenFeedIsAnError()
{
    QVERIFY(!parseAppcast("<rss><channel><item></channel></rss>").error.isEmpty());
    QVERIFY(!parseAppcast("<rss><channel><item></channel></rss>").endedEarly);
    // Stopped in the middle, as a cut transfer leaves it.
    QVERIFY(parseAppcast("<rss version=\"2.0\"><channel><item><title>Bram").endedEarly);
    QVERIFY(!parseAppcast("<html><body/></html>").error.isEmpty());
    QVERIFY(!parseAppcast("").error.isEmpty());
    QVERIFY(parseAppcast("<rss version=\"2.0\"><channel/></rss>").error.isEmpty());
}

void UpdateTest::signaturesVerifyOnlyWithTheRightKeyAndBytes()
{
    const auto keys = UpdateSignature::generateKeyPair();
    const auto other = UpdateSignature::generateKeyPair();
    const QByteArray data = "archive bytes";
    const QByteArray signature = UpdateSignature::sign(data, keys.secretKeyBase64);
    QVERIFY(!signature.isEmpty());
    QVERIFY(UpdateSignature::verify(data, signature, keys.publicKeyBase64));
    QVERIFY(!UpdateSignature::verify(data, signature, other.publicKeyBase64));
    QVERIFY(!UpdateSignature::verify("archive byteZ", signature, keys.publicKeyBase64));
    QVERIFY(!UpdateSignature::verify(data, "not base64!", keys.publicKeyBase64));
    QVERIFY(!UpdateSignature::verify(data, signature, QByteArray()));
    QVERIFY(UpdateSignature::sign(data, "short").isEmpty());
}

void UpdateTest::addressesUnderTheFeed()
{
    const QString feed = QStringLiteral("https://updates.example/linux/");
    QVERIFY(
        Updater::isAddressUnderFeed(QUrl(QStringLiteral("https://updates.example/linux/B-2.tar.gz")), feed));
    QVERIFY(Updater::isAddressUnderFeed(QUrl(feed), feed));
    QVERIFY(
        !Updater::isAddressUnderFeed(QUrl(QStringLiteral("https://updates.example/other/B.tar.gz")), feed));
    QVERIFY(!Updater::isAddressUnderFeed(
        QUrl(QStringLiteral("https://updates.example/linux/../x.tar.gz")), feed));
    QVERIFY(
        !Updater::isAddressUnderFeed(QUrl(QStringLiteral("https://updates.example/linux/%2e%2e/x")), feed));
    QVERIFY(
        !Updater::isAddressUnderFeed(QUrl(QStringLiteral("http://updates.example/linux/B.tar.gz")), feed));
    // Without the trailing slash a look-alike host would pass a plain prefix test.
    QVERIFY(!Updater::isAddressUnderFeed(
        QUrl(QStringLiteral("https://updates.example.evil/x")), QStringLiteral("https://updates.example")));
}

void UpdateTest::archiveEntriesMayNotEscape_data()
{
    QTest::addColumn<QList<ArchiveEntry>>("entries");
    QTest::newRow("parent") << QList<ArchiveEntry> { { QStringLiteral("ok.txt"), "x" },
        { QStringLiteral("../escaped.txt"), "x" } };
    QTest::newRow("nested parent") << QList<ArchiveEntry> { { QStringLiteral("a/../../escaped.txt"), "x" } };
    QTest::newRow("absolute") << QList<ArchiveEntry> { { QStringLiteral("/tmp/escaped.txt"), "x" } };
    QTest::newRow("link out") << QList<ArchiveEntry> { { QStringLiteral("out"), {}, 0777,
        QStringLiteral("..") } };
    QTest::newRow("absolute link") << QList<ArchiveEntry> { { QStringLiteral("out"), {}, 0777,
        QStringLiteral("/etc") } };
    QTest::newRow("write through link")
        << QList<ArchiveEntry> { { QStringLiteral("in"), {}, 0777, QStringLiteral(".") },
               { QStringLiteral("in/escaped.txt"), "x" } };
}

void UpdateTest::archiveEntriesMayNotEscape()
{
    QFETCH(QList<ArchiveEntry>, entries);
    QTemporaryDir dir;
    const QString archive = dir.path() + QStringLiteral("/a.tar.gz");
    writeFile(archive, makeTarGz(entries));
    const QString destination = dir.path() + QStringLiteral("/staging/out");
    const auto result = UpdateArchive::extract(archive, destination);
    QVERIFY(!result.ok());
    QVERIFY(!QFileInfo::exists(dir.path() + QStringLiteral("/staging/escaped.txt")));
    QVERIFY(!QFileInfo::exists(QStringLiteral("/tmp/escaped.txt")));

    // A sound archive with a link inside its own folder extracts with its modes.
    const QString good = dir.path() + QStringLiteral("/good.tar.gz");
    writeFile(good,
        makeTarGz({ { QStringLiteral("./bin/tool"), "#!", 0755 }, { QStringLiteral("lib/x.so"), "so", 0644 },
            { QStringLiteral("bin/lib"), {}, 0777, QStringLiteral("../lib") } }));
    const QString goodOut = dir.path() + QStringLiteral("/good");
    const auto ok = UpdateArchive::extract(good, goodOut);
    QVERIFY2(ok.ok(), qPrintable(ok.error));
    QVERIFY(QFileInfo(goodOut + QStringLiteral("/bin/tool")).isExecutable());
    QCOMPARE(readFile(goodOut + QStringLiteral("/bin/lib/x.so")), QByteArray("so"));
}

void UpdateTest::noUpdateIsReported()
{
    Rig rig;
    QVERIFY(rig.server);
    rig.setFeed({ rig.publish(QStringLiteral("10"), newRelease(), QStringLiteral("same.tar.gz")),
        rig.publish(QStringLiteral("9"), newRelease(), QStringLiteral("old.tar.gz")) });
    rig.makeUpdater();
    QVERIFY(rig.check());
    QCOMPARE(rig.delegate.calls, QStringList({ "feed", "none" }));
    QCOMPARE(rig.driver.shown, QStringList({ "up to date" }));
    QVERIFY(rig.installationUntouched());
    QVERIFY(rig.updater->canCheckForUpdates());
}

void UpdateTest::newestNewerUpdateIsInstalledAndRelaunchRequested()
{
    Rig rig;
    QVERIFY(rig.server);
    rig.setFeed({ rig.publish(QStringLiteral("11"), newRelease("eleven"), QStringLiteral("B-11.tar.gz")),
        rig.publish(QStringLiteral("12"), newRelease("twelve"), QStringLiteral("B-12.tar.gz")),
        rig.publish(QStringLiteral("9"), newRelease("nine"), QStringLiteral("B-9.tar.gz")) });
    rig.makeUpdater();
    QSignalSpy relaunch(rig.updater.get(), &Updater::relaunchRequested);
    QSignalSpy canCheck(rig.updater.get(), &Updater::canCheckForUpdatesChanged);
    QVERIFY(rig.check());

    QCOMPARE(rig.delegate.calls, QStringList({ "feed", "found 12", "download", "downloaded", "install" }));
    QCOMPARE(rig.driver.shown, QStringList({ "found 1.12", "progress", "installing", "dismiss" }));
    QCOMPARE(rig.driver.lastProgress, qint64(newRelease("twelve").size()));
    QCOMPARE(readFile(rig.installPath + QStringLiteral("/bramble")), QByteArray("twelve"));
    QCOMPARE(readFile(rig.installPath + QStringLiteral("/data.txt")), QByteArray("new data"));
    QCOMPARE(readFile(rig.installPath + QStringLiteral("/lib/libextra.so")), QByteArray("library"));
    QVERIFY(QFileInfo(rig.installPath + QStringLiteral("/bramble")).isExecutable());
    // No backup or staging copies are left beside the installation.
    QCOMPARE(QDir(rig.dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList({ "Bramble" }));
    QCOMPARE(relaunch.count(), 1);
    QCOMPARE(relaunch.at(0).at(0).toString(), rig.installPath + QStringLiteral("/bramble"));
    // Busy during the session, free again after it.
    QCOMPARE(canCheck.count(), 2);
    QVERIFY(rig.updater->canCheckForUpdates());
}

void UpdateTest::skippedVersionIsIgnoredOnlyByAutomaticChecks()
{
    Rig rig;
    QVERIFY(rig.server);
    rig.setFeed({ rig.publish(QStringLiteral("11"), newRelease(), QStringLiteral("B-11.tar.gz")) });
    rig.makeUpdater();
    rig.driver.answer = UpdateUserDriver::Choice::SkipThisVersion;
    QVERIFY(rig.check(false));
    QCOMPARE(rig.updater->skippedVersion(), QStringLiteral("11"));
    QVERIFY(rig.installationUntouched());

    rig.delegate.calls.clear();
    QVERIFY(rig.check(false));
    QCOMPARE(rig.delegate.calls, QStringList({ "feed", "none" }));

    rig.delegate.calls.clear();
    rig.driver.answer = UpdateUserDriver::Choice::Later;
    QVERIFY(rig.check(true));
    QCOMPARE(rig.delegate.calls, QStringList({ "feed", "found 11" }));
    QVERIFY(rig.installationUntouched());

    // A newer release than the skipped one is offered again.
    rig.setFeed({ rig.publish(QStringLiteral("11"), newRelease(), QStringLiteral("B-11.tar.gz")),
        rig.publish(QStringLiteral("12"), newRelease(), QStringLiteral("B-12.tar.gz")) });
    rig.delegate.calls.clear();
    QVERIFY(rig.check(false));
    QCOMPARE(rig.delegate.calls, QStringList({ "feed", "found 12" }));
}

void UpdateTest::tamperedOrMisSizedDownloadIsRefused_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<int>("kind");
    const QStringList downloaded = { "feed", "found 11", "download", "failed" };
    const int signature = int(UpdateError::Kind::signatureVerificationFailed);
    QTest::newRow("tampered") << "tampered" << downloaded << signature;
    QTest::newRow("longer than announced") << "longer" << downloaded << signature;
    // The server sent less than the feed announced: the transfer was cut, not forged.
    QTest::newRow("shorter than announced")
        << "shorter" << downloaded << int(UpdateError::Kind::networkError);
    QTest::newRow("signed with another key") << "key" << downloaded << signature;
    // Nothing is downloaded for an item that could never verify.
    QTest::newRow("unsigned") << "unsigned" << QStringList({ "feed", "failed" }) << signature;
    QTest::newRow("malformed signature") << "malformed" << QStringList({ "feed", "failed" }) << signature;
    QTest::newRow("truncated signature") << "truncated" << QStringList({ "feed", "failed" }) << signature;
}

void UpdateTest::tamperedOrMisSizedDownloadIsRefused()
{
    QFETCH(QString, fault);
    QFETCH(QStringList, calls);
    QFETCH(int, kind);
    Rig rig;
    QVERIFY(rig.server);
    const QByteArray archive = newRelease();
    FeedEntry entry = rig.publish(QStringLiteral("11"), archive, QStringLiteral("B-11.tar.gz"));
    if (fault == QLatin1String("tampered")) {
        QByteArray bad = archive;
        bad[bad.size() / 2] = char(bad[bad.size() / 2] ^ 0x01);
        rig.site->put(QStringLiteral("/feed/B-11.tar.gz"), bad);
    } else if (fault == QLatin1String("longer")) {
        entry.length -= 1;
    } else if (fault == QLatin1String("shorter")) {
        entry.length += 1;
    } else if (fault == QLatin1String("key")) {
        entry.signature = UpdateSignature::sign(archive, UpdateSignature::generateKeyPair().secretKeyBase64);
    } else if (fault == QLatin1String("malformed")) {
        entry.signature = "not*base64";
    } else if (fault == QLatin1String("truncated")) {
        entry.signature = entry.signature.left(40);
    } else {
        entry.signature.clear();
    }
    rig.setFeed({ entry });
    rig.makeUpdater();
    QSignalSpy relaunch(rig.updater.get(), &Updater::relaunchRequested);
    QVERIFY(rig.check());
    QCOMPARE(rig.delegate.calls, calls);
    QVERIFY(rig.delegate.failure && rig.delegate.failure->updateError());
    QCOMPARE(int(rig.delegate.failure->updateError()->kind()), kind);
    if (!calls.contains(QLatin1String("download")))
        QCOMPARE(rig.site->log(), QStringList({ "/feed/" }));
    QVERIFY(rig.installationUntouched());
    QCOMPARE(relaunch.count(), 0);
    QVERIFY(rig.driver.shown.contains(QLatin1String("failed")));
}

void UpdateTest::fileOutsideTheFeedIsNeverDownloaded()
{
    Rig rig;
    QVERIFY(rig.server);
    FeedEntry entry = rig.publish(QStringLiteral("11"), newRelease(), QStringLiteral("B-11.tar.gz"));
    entry.url = rig.server->url(QStringLiteral("/elsewhere/B-11.tar.gz"));
    rig.site->put(QStringLiteral("/elsewhere/B-11.tar.gz"), newRelease());
    rig.setFeed({ entry });
    rig.makeUpdater();
    QVERIFY(rig.check());
    QCOMPARE(rig.delegate.calls, QStringList({ "feed", "found 11" }));
    QCOMPARE(rig.site->log(), QStringList({ "/feed/" }));
    QVERIFY(rig.installationUntouched());
}

void UpdateTest::redirectOutsideTheFeedIsRefused()
{
    Rig rig;
    QVERIFY(rig.server);
    const QByteArray archive = newRelease();
    rig.setFeed({ rig.publish(QStringLiteral("11"), archive, QStringLiteral("B-11.tar.gz")) });
    rig.site->put(QStringLiteral("/elsewhere/B-11.tar.gz"), archive);
    {
        std::lock_guard lock(rig.site->mutex);
        rig.site->redirects["/feed/B-11.tar.gz"]
            = rig.server->url(QStringLiteral("/elsewhere/B-11.tar.gz")).toStdString();
    }
    rig.makeUpdater();
    QVERIFY(rig.check());
    QCOMPARE(rig.delegate.calls, QStringList({ "feed", "found 11", "download", "failed" }));
    QCOMPARE(rig.delegate.failure->updateError()->kind(), UpdateError::Kind::unauthorizedUpdateSource);
    QVERIFY(!rig.site->log().contains(QLatin1String("/elsewhere/B-11.tar.gz")));
    QVERIFY(rig.installationUntouched());
}

void UpdateTest::escapingArchiveInstallsNothing()
{
    Rig rig;
    QVERIFY(rig.server);
    const QByteArray archive = makeTarGz({ { QStringLiteral("Bramble/bramble"), "evil", 0755 },
        { QStringLiteral("Bramble/../../planted.txt"), "planted" } });
    rig.setFeed({ rig.publish(QStringLiteral("11"), archive, QStringLiteral("B-11.tar.gz")) });
    rig.makeUpdater();
    QSignalSpy relaunch(rig.updater.get(), &Updater::relaunchRequested);
    QVERIFY(rig.check());
    QCOMPARE(rig.delegate.calls,
        QStringList({ "feed", "found 11", "download", "downloaded", "install", "failed" }));
    QCOMPARE(rig.delegate.failure->updateError()->kind(), UpdateError::Kind::installationFailed);
    QVERIFY(rig.installationUntouched());
    QVERIFY(!QFileInfo::exists(rig.dir.path() + QStringLiteral("/planted.txt")));
    QVERIFY(!QFileInfo::exists(QFileInfo(rig.dir.path()).absolutePath() + QStringLiteral("/planted.txt")));
    QCOMPARE(relaunch.count(), 0);
}

void UpdateTest::unwritableInstallationIsRefused()
{
    Rig rig;
    QVERIFY(rig.server);
    rig.setFeed({ rig.publish(QStringLiteral("11"), newRelease(), QStringLiteral("B-11.tar.gz")) });
    UpdaterConfiguration c = rig.configuration();
    c.installTarget.path = QStringLiteral("/usr/lib/bramble");
    rig.makeUpdater(c);
    QVERIFY(rig.check());
    QCOMPARE(rig.delegate.calls, QStringList({ "feed", "found 11", "failed" }));
    const UpdateError *error = rig.delegate.failure->updateError();
    QVERIFY(error);
    QCOMPARE(error->kind(), UpdateError::Kind::installationFailed);
    QVERIFY(error->localizedDescription().contains(QLatin1String("package manager")));
    QVERIFY(!rig.site->log().contains(QLatin1String("/feed/B-11.tar.gz")));

    // A folder we may not write to is refused the same way.
    QFile::setPermissions(rig.dir.path(), QFile::ReadOwner | QFile::ExeOwner);
    const bool readOnly = !QFileInfo(rig.dir.path()).isWritable(); // root ignores permissions
    if (readOnly) {
        rig.makeUpdater();
        rig.delegate.calls.clear();
        QVERIFY(rig.check());
        QCOMPARE(rig.delegate.calls, QStringList({ "feed", "found 11", "failed" }));
        QVERIFY(rig.delegate.failure->localizedDescription().contains(QLatin1String("package manager")));
    }
    QFile::setPermissions(rig.dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void UpdateTest::appImageIsReplacedWithItsPermissions()
{
    Rig rig;
    QVERIFY(rig.server);
    const QString appImage = rig.dir.path() + QStringLiteral("/Bramble-x86_64.AppImage");
    writeFile(appImage, "old image", kExecutable);
    const QByteArray image = "new image bytes";
    FeedEntry portable = rig.publish(QStringLiteral("13"), newRelease(), QStringLiteral("B-13.tar.gz"));
    FeedEntry entry = rig.publish(QStringLiteral("12"), image, QStringLiteral("Bramble-12.AppImage"));
    entry.type = QStringLiteral("application/vnd.appimage");
    rig.setFeed({ portable, entry });
    UpdaterConfiguration c = rig.configuration();
    c.installTarget.kind = InstallTarget::Kind::AppImage;
    c.installTarget.path = appImage;
    rig.makeUpdater(c);
    QSignalSpy relaunch(rig.updater.get(), &Updater::relaunchRequested);
    QVERIFY(rig.check());
    // The newer portable release is not for an AppImage installation.
    QCOMPARE(rig.delegate.calls, QStringList({ "feed", "found 12", "download", "downloaded", "install" }));
    QCOMPARE(readFile(appImage), image);
    QCOMPARE(QFileInfo(appImage).permissions() & kExecutable, kExecutable);
    QCOMPARE(relaunch.count(), 1);
    QCOMPARE(relaunch.at(0).at(0).toString(), appImage);
}

void UpdateTest::insecureFeedIsNotContacted()
{
    Rig rig;
    QVERIFY(rig.server);
    rig.delegate.feed = QStringLiteral("http://updates.bramble.invalid/feed/");
    rig.makeUpdater();
    QVERIFY(rig.check());
    QCOMPARE(rig.delegate.calls, QStringList({ "feed", "failed" }));
    QCOMPARE(rig.delegate.failure->updateError()->kind(), UpdateError::Kind::unauthorizedUpdateSource);
    QVERIFY(rig.site->log().isEmpty());
}

void UpdateTest::automaticChecksFollowTheSchedule()
{
    Rig rig;
    QVERIFY(rig.server);
    rig.setFeed({});
    rig.makeUpdater();
    QSignalSpy finished(rig.updater.get(), &Updater::sessionFinished);
    QVERIFY(!rig.updater->automaticCheckScheduled());
    rig.updater->setAutomaticallyChecksForUpdates(true);
    QVERIFY(rig.updater->automaticCheckScheduled());
    QTRY_VERIFY_WITH_TIMEOUT(finished.count() >= 3, 20000);
    QVERIFY(rig.driver.shown.isEmpty()); // background checks stay quiet when nothing is found
    rig.updater->setAutomaticallyChecksForUpdates(false);
    QVERIFY(!rig.updater->automaticCheckScheduled());
}

void UpdateTest::replacementKnowsWhichProcessToWaitFor()
{
    // A harmless stand-in for the new version: it records the process it replaces.
    QTemporaryDir dir;
    const QString out = dir.path() + QStringLiteral("/pid");
    QVERIFY(UpdateRelaunch::startReplacement(QStringLiteral("/bin/sh"),
        { QStringLiteral("-c"), QStringLiteral("echo $BRAMBLE_REPLACES_PID > ") + out }));
    QTRY_VERIFY_WITH_TIMEOUT(readFile(out).trimmed().size() > 0, 20000);
    QCOMPARE(readFile(out).trimmed(), QByteArray::number(QCoreApplication::applicationPid()));

    // Waiting for a process that has already gone returns at once and forgets the variable.
    QProcess gone;
    gone.start(QStringLiteral("/bin/true"));
    QVERIFY(gone.waitForFinished());
    qputenv("BRAMBLE_REPLACES_PID", QByteArray::number(gone.processId() ? gone.processId() : 999999999));
    UpdateRelaunch::waitForReplacedProcess(60000);
    QVERIFY(!qEnvironmentVariableIsSet("BRAMBLE_REPLACES_PID"));
}

void UpdateTest::cancelledDownloadInstallsNothing()
{
    Rig rig;
    QVERIFY(rig.server);
    rig.setFeed({ rig.publish(QStringLiteral("11"), newRelease(), QStringLiteral("B-11.tar.gz")) });
    rig.makeUpdater();
    rig.driver.cancelDownload = true;
    QSignalSpy relaunch(rig.updater.get(), &Updater::relaunchRequested);
    QVERIFY(rig.check());
    QCOMPARE(rig.delegate.calls, QStringList({ "feed", "found 11", "download", "failed" }));
    QVERIFY(rig.delegate.failure->genericError());
    QVERIFY(rig.delegate.failure->localizedDescription().contains(QLatin1String("cancelled")));
    // The user cancelled: no failure window.
    QVERIFY(!rig.driver.shown.contains(QLatin1String("failed")));
    QVERIFY(rig.installationUntouched());
    QCOMPARE(relaunch.count(), 0);
}

void UpdateTest::automaticDownloadHappensBeforeTheQuestion()
{
    Rig rig;
    QVERIFY(rig.server);
    rig.setFeed({ rig.publish(QStringLiteral("11"), newRelease("eleven"), QStringLiteral("B-11.tar.gz")) });
    rig.makeUpdater();
    rig.updater->setAutomaticallyDownloadsUpdates(true);
    QSignalSpy relaunch(rig.updater.get(), &Updater::relaunchRequested);
    QVERIFY(rig.check(false));
    QCOMPARE(rig.delegate.calls, QStringList({ "feed", "found 11", "download", "downloaded", "install" }));
    // Downloaded quietly, asked, then installed from the staged copy: one transfer only.
    QCOMPARE(rig.driver.shown, QStringList({ "found 1.11", "installing", "dismiss" }));
    QCOMPARE(rig.site->log().count(QStringLiteral("/feed/B-11.tar.gz")), 1);
    QCOMPARE(readFile(rig.installPath + QStringLiteral("/bramble")), QByteArray("eleven"));
    QCOMPARE(relaunch.count(), 1);

    // Answered "Later", the staged download is thrown away.
    Rig later;
    QVERIFY(later.server);
    later.setFeed({ later.publish(QStringLiteral("11"), newRelease(), QStringLiteral("B-11.tar.gz")) });
    later.makeUpdater();
    later.updater->setAutomaticallyDownloadsUpdates(true);
    later.driver.answer = UpdateUserDriver::Choice::Later;
    QVERIFY(later.check(false));
    QCOMPARE(later.delegate.calls, QStringList({ "feed", "found 11", "download", "downloaded" }));
    QVERIFY(later.installationUntouched());
}

void UpdateTest::tooLittleDiskSpaceIsReportedBeforeDownloading()
{
    Rig rig;
    QVERIFY(rig.server);
    const FeedEntry entry = rig.publish(QStringLiteral("11"), newRelease(), QStringLiteral("B-11.tar.gz"));
    rig.setFeed({ entry });
    // The machine's own free space is not the test's business: the figure is given.
    UpdaterConfiguration c = rig.configuration();
    QStringList asked;
    c.freeSpace = [&asked](const QString &folder) -> std::optional<qint64> {
        asked << folder;
        return 100;
    };
    rig.makeUpdater(c);
    QVERIFY(rig.check());
    QCOMPARE(rig.delegate.calls, QStringList({ "feed", "found 11", "failed" }));
    QCOMPARE(rig.delegate.failure->updateError()->kind(), UpdateError::Kind::insufficientDiskSpace);
    QCOMPARE(rig.delegate.failure->updateError()->required(), entry.length);
    QVERIFY(entry.length > 100);
    QCOMPARE(rig.delegate.failure->updateError()->available(), qint64(100));
    // Asked where the download is staged: beside the program, on its file system.
    QCOMPARE(asked, QStringList({ rig.dir.path() }));
    QVERIFY(!rig.site->log().contains(QLatin1String("/feed/B-11.tar.gz")));
    QVERIFY(rig.installationUntouched());
}

#include "tst_update.moc"
REGISTER_TEST_SUITE(UpdateTest)
