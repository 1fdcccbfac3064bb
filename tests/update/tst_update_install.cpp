#include "UpdateTestSupport.h"
#include "update/UpdaterViewModel.h"
#include "update/framework/Appcast.h"
#include "update/framework/PortableManifest.h"
#include "update/framework/UpdateArchive.h"
#include "update/framework/UpdateInstaller.h"

#include <QDirIterator>
#include <QProcess>
#include <atomic>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {
// Every entry beneath root with its content (or link target), to see that nothing changed.
QMap<QString, QByteArray> tree(const QString &root)
{
    QMap<QString, QByteArray> entries;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info(path);
        entries.insert(path.mid(root.size() + 1),
            info.isSymLink() ? "-> " + info.symLinkTarget().toUtf8()
                             : (info.isDir() ? QByteArray("<dir>") : readFile(path)));
    }
    return entries;
}

QByteArray script(const QByteArray &says)
{
    return "#!/bin/sh\necho " + says + "\n";
}

// Runs the installed program and returns what it prints.
QByteArray runProgram(const QString &path)
{
    QProcess process;
    process.start(path, {});
    if (!process.waitForFinished(20000))
        return "<did not finish>";
    return process.readAllStandardOutput().trimmed();
}

int runTool(const QStringList &arguments, QByteArray *output = nullptr, QByteArray *errors = nullptr)
{
    QProcess process;
    process.start(signingTool(), arguments);
    if (!process.waitForFinished(60000))
        return -1;
    if (output)
        *output = process.readAllStandardOutput();
    if (errors)
        *errors = process.readAllStandardError();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

UpdaterViewModelConfiguration startConfiguration(Rig &rig, const QString &settings)
{
    UpdaterViewModelConfiguration c;
    c.feedURL = rig.feedURL;
    c.publicKey = rig.keys.publicKeyBase64;
    c.infoDictionary = { { QStringLiteral("CFBundleShortVersionString"), QStringLiteral("1.10") },
        { QStringLiteral("CFBundleVersion"), QStringLiteral("10") } };
    c.settingsPath = rig.dir.path() + QLatin1Char('/') + settings;
    c.installTarget = rig.configuration().installTarget;
    c.firstCheckDelay = std::chrono::hours(1);
    return c;
}

// Starts the program's update controller as a fresh launch would, and waits for its
// start-up clean-up.
void freshStart(Rig &rig)
{
    UpdaterViewModel model(startConfiguration(rig, QStringLiteral("start.conf")));
    QVERIFY(QTest::qWaitFor([&] { return model.updaterController() != nullptr; }, 10000));
    model.startupRecovery().waitForFinished();
}

QStringList besideInstall(Rig &rig)
{
    return QDir(rig.dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}
} // namespace

class UpdateInstallTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void portableMarkerIsReadStrictly_data();
    void portableMarkerIsReadStrictly();
    void sharedFolderIsRefusedAndLeftIntact_data();
    void sharedFolderIsRefusedAndLeftIntact();
    void releaseMadeWithTheToolInstalls();
    void toolRefusesFoldersAReleaseCannotHold();
    void removingAReleaseDeletesOnlyWhatItListed();
    void inheritedAppImageIsIgnored();
    void archiveLinksStayInside_data();
    void archiveLinksStayInside();
    void interruptedSwitchLeavesAProgram_data();
    void interruptedSwitchLeavesAProgram();
    void retryAfterInterruptedExtractionInstalls();
    void freeSpaceIsReadFromTheFileSystem();
};

void UpdateInstallTest::portableMarkerIsReadStrictly_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("other format") << QByteArray("bramble-portable 2\nversion 1\nbramble\n");
    QTest::newRow("no header") << QByteArray("version 1\nbramble\n");
    QTest::newRow("no version") << QByteArray("bramble-portable 1\nbramble\n");
    QTest::newRow("empty version") << QByteArray("bramble-portable 1\nversion \nbramble\n");
    QTest::newRow("unsorted") << QByteArray("bramble-portable 1\nversion 1\nlib/a.so\nbramble\n");
    QTest::newRow("repeated") << QByteArray("bramble-portable 1\nversion 1\nbramble\nbramble\n");
    QTest::newRow("climbs out") << QByteArray("bramble-portable 1\nversion 1\n../.bashrc\nbramble\n");
    QTest::newRow("absolute") << QByteArray("bramble-portable 1\nversion 1\n/etc/passwd\n");
    QTest::newRow("empty segment") << QByteArray("bramble-portable 1\nversion 1\nlib//a.so\n");
    QTest::newRow("dot segment") << QByteArray("bramble-portable 1\nversion 1\n./bramble\n");
    QTest::newRow("empty line") << QByteArray("bramble-portable 1\nversion 1\n\nbramble\n");
    QTest::newRow("CRLF") << QByteArray("bramble-portable 1\r\nversion 1\r\nbramble\r\n");
    QTest::newRow("no final line end") << QByteArray("bramble-portable 1\nversion 1\nbramble");
    QTest::newRow("lists itself") << QByteArray(
        "bramble-portable 1\nversion 1\n.bramble-portable\nbramble\n");
    QTest::newRow("not UTF-8") << QByteArray("bramble-portable 1\nversion 1\nbr\xff\n");
}

void UpdateInstallTest::portableMarkerIsReadStrictly()
{
    QFETCH(QByteArray, text);
    QString error;
    QVERIFY(!PortableManifest::parse(text, &error));
    QVERIFY(!error.isEmpty());

    // A sound marker reads back to the same bytes; its order is that of the UTF-8 bytes.
    const QByteArray good
        = "bramble-portable 1\nversion 1.2\nBramble.png\nbramble\nlib/a.so\nlib/\xc3\xa4.so\n";
    const auto manifest = PortableManifest::parse(good, &error);
    QVERIFY2(manifest, qPrintable(error));
    QCOMPARE(manifest->version, QStringLiteral("1.2"));
    QCOMPARE(manifest->files.size(), 4);
    QVERIFY(manifest->lists(QStringLiteral("lib/a.so")));
    QVERIFY(!manifest->lists(QStringLiteral("lib")));
    QCOMPARE(manifest->serialize(), good);
}

void UpdateInstallTest::sharedFolderIsRefusedAndLeftIntact_data()
{
    QTest::addColumn<bool>("marked");
    QTest::newRow("no marker (like ~/.local/bin)") << false;
    QTest::newRow("marker, but other files beside") << true;
}

void UpdateInstallTest::sharedFolderIsRefusedAndLeftIntact()
{
    QFETCH(bool, marked);
    Rig rig;
    QVERIFY(rig.server);
    // The program sits in a folder it shares with the user's other things.
    const QString shared = rig.dir.path() + QStringLiteral("/bin");
    writeFile(shared + QStringLiteral("/bramble"), "old program", kExecutable);
    if (marked)
        markPortable(shared);
    writeFile(shared + QStringLiteral("/other-tool"), "someone else's", kExecutable);
    writeFile(shared + QStringLiteral("/notes/todo.txt"), "the user's notes");
    QVERIFY(QFile::link(QStringLiteral("other-tool"), shared + QStringLiteral("/ot")));
    const auto before = tree(shared);

    rig.setFeed({ rig.publish(QStringLiteral("11"), newRelease(), QStringLiteral("B-11.tar.gz")) });
    UpdaterConfiguration c = rig.configuration();
    c.installTarget.path = shared;
    rig.makeUpdater(c);
    QVERIFY(rig.check());
    QCOMPARE(rig.delegate.calls, QStringList({ "feed", "found 11", "failed" }));
    const UpdateError *error = rig.delegate.failure->updateError();
    QVERIFY(error);
    QCOMPARE(error->kind(), UpdateError::Kind::installationFailed);
    QVERIFY2(
        error->localizedDescription().contains(QStringLiteral("Bramble 不是从便携版安装的，无法自动更新")),
        qPrintable(error->localizedDescription()));
    if (marked)
        QVERIFY(error->localizedDescription().contains(QLatin1String("other-tool")));
    // Refused before the download, and not a byte changed.
    QCOMPARE(rig.site->log(), QStringList({ "/feed/" }));
    QCOMPARE(tree(shared), before);
    QVERIFY(!besideInstall(rig).contains(QStringLiteral(".bin.update")));
}

void UpdateInstallTest::releaseMadeWithTheToolInstalls()
{
    if (signingTool().isEmpty())
        QSKIP("bramble-sign-update is not built");
    Rig rig;
    QVERIFY(rig.server);
    writeFile(rig.installPath + QStringLiteral("/bramble"), script("old"), kExecutable);
    writeFile(rig.installPath + QStringLiteral("/retired.txt"), "shipped by the old release only");
    QFile::remove(rig.installPath + QLatin1Char('/') + QLatin1String(PortableManifest::kFileName));
    markPortable(rig.installPath);

    // The release as the packaging step makes it: folder, marker, tar, signature.
    QTemporaryDir work;
    const QString release = work.path() + QStringLiteral("/Bramble");
    writeFile(release + QStringLiteral("/bramble"), script("new"), kExecutable);
    writeFile(release + QStringLiteral("/lib/libextra.so.1"), "library");
    writeFile(release + QStringLiteral("/qt.conf"), "[Paths]\nPrefix=.\n");
    writeFile(release + QStringLiteral("/plugins/platforms/libqxcb.so"), "plugin");
    QVERIFY(QFile::link(QStringLiteral("libextra.so.1"), release + QStringLiteral("/lib/libextra.so")));
    QByteArray output;
    QByteArray errors;
    QCOMPARE(runTool({ QStringLiteral("portable-manifest"), release, QStringLiteral("--version"),
                         QStringLiteral("1.11") },
                 &output, &errors),
        0);
    QCOMPARE(readFile(release + QStringLiteral("/.bramble-portable")),
        QByteArray("bramble-portable 1\nversion 1.11\nbramble\nlib/libextra.so\nlib/libextra.so.1\n"
                   "plugins/platforms/libqxcb.so\nqt.conf\n"));
    const QString archive = work.path() + QStringLiteral("/B-11.tar.gz");
    QProcess tar;
    tar.start(QStringLiteral("tar"),
        { QStringLiteral("-C"), work.path(), QStringLiteral("-czf"), archive, QStringLiteral("Bramble") });
    QVERIFY(tar.waitForFinished(60000) && tar.exitCode() == 0);

    const QString key = work.path() + QStringLiteral("/secret.key");
    QVERIFY(
        runTool({ QStringLiteral("generate-keys"), QStringLiteral("--secret-key-file"), key }, &output) == 0);
    const QByteArray publicKey = output.trimmed().split('\n').last().trimmed();
    QByteArray item;
    // A test feed on loopback is plain http: the tool takes it as the program does.
    QCOMPARE(runTool({ QStringLiteral("sign"), archive, QStringLiteral("--secret-key-file"), key,
                         QStringLiteral("--url"), rig.feedURL + QStringLiteral("B-11.tar.gz"),
                         QStringLiteral("--build"), QStringLiteral("11"), QStringLiteral("--display-version"),
                         QStringLiteral("1.11") },
                 &item, &errors),
        0);
    rig.site->put(QStringLiteral("/feed/B-11.tar.gz"), readFile(archive));
    rig.site->put(QStringLiteral("/feed/"),
        QByteArray("<rss version=\"2.0\" xmlns:bramble=\"") + kBrambleUpdateNamespace + "\"><channel>" + item
            + "</channel></rss>");

    UpdaterConfiguration c = rig.configuration();
    c.publicKey = publicKey;
    rig.makeUpdater(c);
    QSignalSpy relaunch(rig.updater.get(), &Updater::relaunchRequested);
    QVERIFY(rig.check());
    QCOMPARE(rig.delegate.calls, QStringList({ "feed", "found 11", "download", "downloaded", "install" }));
    QCOMPARE(relaunch.count(), 1);
    QCOMPARE(runProgram(rig.installPath + QStringLiteral("/bramble")), QByteArray("new"));
    QCOMPARE(QFileInfo(rig.installPath + QStringLiteral("/lib/libextra.so")).symLinkTarget(),
        rig.installPath + QStringLiteral("/lib/libextra.so.1"));
    QVERIFY(!QFileInfo::exists(rig.installPath + QStringLiteral("/retired.txt")));
    QCOMPARE(PortableManifest::read(rig.installPath, nullptr)->version, QStringLiteral("1.11"));
    QCOMPARE(besideInstall(rig), QStringList({ "Bramble" }));
}

void UpdateInstallTest::toolRefusesFoldersAReleaseCannotHold()
{
    if (signingTool().isEmpty())
        QSKIP("bramble-sign-update is not built");
    const auto refused = [](const std::function<void(const QString &)> &prepare) {
        QTemporaryDir dir;
        const QString folder = dir.path() + QStringLiteral("/Bramble");
        writeFile(folder + QStringLiteral("/bramble"), "program", kExecutable);
        prepare(folder);
        QByteArray errors;
        const int code = runTool(
            { QStringLiteral("portable-manifest"), folder, QStringLiteral("--version"), QStringLiteral("2") },
            nullptr, &errors);
        return code != 0 && !errors.isEmpty()
            && !QFileInfo::exists(folder + QStringLiteral("/.bramble-portable"));
    };
    QVERIFY(!refused([](const QString &) {}));
    QVERIFY(refused([](const QString &f) { QFile::remove(f + QStringLiteral("/bramble")); }));
    QVERIFY(refused(
        [](const QString &f) { QFile::setPermissions(f + QStringLiteral("/bramble"), QFile::ReadOwner); }));
    QVERIFY(refused(
        [](const QString &f) { QFile::link(QStringLiteral("../../etc"), f + QStringLiteral("/up")); }));
    QVERIFY(refused(
        [](const QString &f) { QFile::link(QStringLiteral("/etc/passwd"), f + QStringLiteral("/pw")); }));
    QVERIFY(refused([](const QString &f) {
        ::mkfifo(QFile::encodeName(f + QStringLiteral("/pipe")).constData(), 0600);
    }));
    // tar would pack the second name as a hard link, which the installer refuses.
    QVERIFY(refused([](const QString &f) {
        ::link(QFile::encodeName(f + QStringLiteral("/bramble")).constData(),
            QFile::encodeName(f + QStringLiteral("/again")).constData());
    }));
    QByteArray errors;
    QVERIFY(runTool({ QStringLiteral("portable-manifest"), QStringLiteral("/nonexistent") }, nullptr, &errors)
        != 0);
}

void UpdateInstallTest::removingAReleaseDeletesOnlyWhatItListed()
{
    QTemporaryDir dir;
    const QString folder = dir.path() + QStringLiteral("/.Bramble.old-x");
    writeFile(folder + QStringLiteral("/bramble"), "program", kExecutable);
    writeFile(folder + QStringLiteral("/lib/a.so"), "a");
    markPortable(folder);
    // Put there after the release: the user's, and never ours to delete.
    writeFile(folder + QStringLiteral("/lib/mine.txt"), "mine");
    writeFile(dir.path() + QStringLiteral("/outside/kept.txt"), "kept");
    QVERIFY(QFile::link(dir.path() + QStringLiteral("/outside"), folder + QStringLiteral("/linked")));
    auto manifest = PortableManifest::read(folder, nullptr);
    QVERIFY(manifest);
    // A marker that names a path through a link must not reach beyond it.
    manifest->files
        = { QStringLiteral("bramble"), QStringLiteral("lib/a.so"), QStringLiteral("linked/kept.txt") };
    QStringList kept;
    QVERIFY(!manifest->removeRelease(folder, &kept));
    QVERIFY(!QFileInfo::exists(folder + QStringLiteral("/bramble")));
    QVERIFY(!QFileInfo::exists(folder + QStringLiteral("/lib/a.so")));
    QCOMPARE(readFile(folder + QStringLiteral("/lib/mine.txt")), QByteArray("mine"));
    QCOMPARE(readFile(dir.path() + QStringLiteral("/outside/kept.txt")), QByteArray("kept"));
    QVERIFY(kept.contains(QStringLiteral("lib/mine.txt")));

    // Left over beside an installed program, such a copy is cleaned the same way at start-up.
    Rig rig;
    QVERIFY(QDir().rename(folder, rig.dir.path() + QStringLiteral("/.Bramble.old-x")));
    writeFile(rig.dir.path() + QStringLiteral("/.Bramble.old-y/bramble"), "older", kExecutable);
    markPortable(rig.dir.path() + QStringLiteral("/.Bramble.old-y"));
    // Not ours: no marker.
    writeFile(rig.dir.path() + QStringLiteral("/.Bramble.update/user-file"), "user");
    freshStart(rig);
    QVERIFY(!QFileInfo::exists(rig.dir.path() + QStringLiteral("/.Bramble.old-y")));
    QCOMPARE(readFile(rig.dir.path() + QStringLiteral("/.Bramble.old-x/lib/mine.txt")), QByteArray("mine"));
    QCOMPARE(readFile(rig.dir.path() + QStringLiteral("/.Bramble.update/user-file")), QByteArray("user"));
    QCOMPARE(readFile(rig.installPath + QStringLiteral("/bramble")), QByteArray("old program"));
    // And such a folder in the staging place stops an update rather than being deleted.
    QVERIFY(!UpdateInstaller::prepareStagingFolder(rig.configuration().installTarget).isEmpty());
}

void UpdateInstallTest::inheritedAppImageIsIgnored()
{
    QTemporaryDir dir;
    // Another AppImage application started us: its variables came along.
    const QString foreignImage = dir.path() + QStringLiteral("/Other-x86_64.AppImage");
    writeFile(foreignImage, "someone else's AppImage", kExecutable);
    const QString foreignMount = dir.path() + QStringLiteral("/.mount_Other");
    writeFile(foreignMount + QStringLiteral("/usr/bin/other"), "other", kExecutable);
    InstallTarget::Environment environment;
    environment.appImage = foreignImage;
    environment.appDir = foreignMount;
    environment.executablePath = QCoreApplication::applicationFilePath();
    InstallTarget target = InstallTarget::detect(environment);
    QCOMPARE(target.kind, InstallTarget::Kind::Portable);
    QCOMPARE(target.path, QCoreApplication::applicationDirPath());

    // As the process really is.
    qputenv("APPIMAGE", foreignImage.toLocal8Bit());
    qputenv("APPDIR", foreignMount.toLocal8Bit());
    target = InstallTarget::detect();
    qunsetenv("APPIMAGE");
    qunsetenv("APPDIR");
    QCOMPARE(target.kind, InstallTarget::Kind::Portable);

    // Only when we run from inside the mount is the AppImage ours.
    const QString ownImage = dir.path() + QStringLiteral("/Bramble-x86_64.AppImage");
    writeFile(ownImage, "our AppImage", kExecutable);
    const QString ownMount = dir.path() + QStringLiteral("/.mount_Bramble");
    writeFile(ownMount + QStringLiteral("/usr/bin/bramble"), "us", kExecutable);
    environment = { ownImage, ownMount, ownMount + QStringLiteral("/usr/bin/bramble") };
    target = InstallTarget::detect(environment);
    QCOMPARE(target.kind, InstallTarget::Kind::AppImage);
    QCOMPARE(target.path, QFileInfo(ownImage).canonicalFilePath());
    environment.appDir.clear();
    QCOMPARE(InstallTarget::detect(environment).kind, InstallTarget::Kind::Portable);
    environment = { dir.path() + QStringLiteral("/gone.AppImage"), ownMount,
        ownMount + QStringLiteral("/usr/bin/bramble") };
    QCOMPARE(InstallTarget::detect(environment).kind, InstallTarget::Kind::Portable);
    QCOMPARE(readFile(foreignImage), QByteArray("someone else's AppImage"));
}

void UpdateInstallTest::archiveLinksStayInside_data()
{
    QTest::addColumn<QList<ArchiveEntry>>("entries");
    const ArchiveEntry top { QStringLiteral("Bramble/"), {}, 0755, {}, true };
    const auto link = [](const char *name, const QString &target) {
        return ArchiveEntry { QString::fromLatin1(name), {}, 0777, target };
    };
    QTest::newRow("up to the parent")
        << QList<ArchiveEntry> { top, link("Bramble/up", QStringLiteral("..")) };
    QTest::newRow("absolute") << QList<ArchiveEntry> { top, link("Bramble/etc", QStringLiteral("/etc")) };
    // d1/.../d40/up is Bramble itself. Read as text, d1/.../d40/up and 39 steps up stay
    // inside at d1/d2/etc; followed through the link they climb to the root and reach /etc.
    QStringList deep;
    for (int i = 1; i <= 40; ++i)
        deep << QStringLiteral("d%1").arg(i);
    const QString deepFolder = deep.join(QLatin1Char('/'));
    QString climb = deepFolder + QStringLiteral("/up");
    for (int i = 0; i < 39; ++i)
        climb += QStringLiteral("/..");
    QTest::newRow("chain through a link to a folder, to /etc") << QList<ArchiveEntry> { top,
        { QStringLiteral("Bramble/") + deepFolder + QLatin1Char('/'), {}, 0755, {}, true },
        { QStringLiteral("Bramble/") + deepFolder + QStringLiteral("/up"), {}, 0777,
            QStringList(40, QStringLiteral("..")).join(QLatin1Char('/')) },
        link("Bramble/etc", climb + QStringLiteral("/etc")) };
    // Judged alone each is inside; once both exist, x leads out.
    QTest::newRow("link made dangerous by a later link")
        << QList<ArchiveEntry> { top, link("Bramble/x", QStringLiteral("a/..")),
               link("Bramble/a", QStringLiteral(".")), link("Bramble/y", QStringLiteral("x/..")) };
    QTest::newRow("loop") << QList<ArchiveEntry> { top, link("Bramble/p", QStringLiteral("q")),
        link("Bramble/q", QStringLiteral("p")), link("Bramble/r", QStringLiteral("p/x")) };
    QTest::newRow("write through a link") << QList<ArchiveEntry> { top,
        link("Bramble/lib", QStringLiteral(".")), { QStringLiteral("Bramble/lib/x"), "x" } };
    QTest::newRow("outside the one folder")
        << QList<ArchiveEntry> { top, { QStringLiteral("Other/file"), "x" } };
    QTest::newRow("top folder is a link") << QList<ArchiveEntry> { link("Bramble", QStringLiteral(".")) };
}

void UpdateInstallTest::archiveLinksStayInside()
{
    QFETCH(QList<ArchiveEntry>, entries);
    QTemporaryDir dir;
    const QString archive = dir.path() + QStringLiteral("/a.tar.gz");
    writeFile(archive, makeTarGz(entries));
    const auto result
        = UpdateArchive::extract(archive, dir.path() + QStringLiteral("/out"), QStringLiteral("Bramble"));
    QVERIFY(!result.ok());

    // Links that stay inside, also through other links, are fine.
    const QString good = dir.path() + QStringLiteral("/good.tar.gz");
    writeFile(good,
        makeTarGz({ { QStringLiteral("Bramble/lib/libx.so.1"), "x" },
            { QStringLiteral("Bramble/lib/libx.so"), {}, 0777, QStringLiteral("libx.so.1") },
            { QStringLiteral("Bramble/bin/lib"), {}, 0777, QStringLiteral("../lib") },
            { QStringLiteral("Bramble/bin/x"), {}, 0777, QStringLiteral("lib/../lib/libx.so") } }));
    const auto ok
        = UpdateArchive::extract(good, dir.path() + QStringLiteral("/good"), QStringLiteral("Bramble"));
    QVERIFY2(ok.ok(), qPrintable(ok.error));
    QCOMPARE(readFile(dir.path() + QStringLiteral("/good/Bramble/bin/x")), QByteArray("x"));
}

void UpdateInstallTest::interruptedSwitchLeavesAProgram_data()
{
    QTest::addColumn<QString>("step");
    QTest::addColumn<bool>("atomic");
    QTest::addColumn<QByteArray>("runs");
    QTest::newRow("between the two renames") << "moved-aside" << false << QByteArray("old");
    QTest::newRow("new copy beside the old") << "staged" << true << QByteArray("old");
    QTest::newRow("right after the swap") << "swapped" << true << QByteArray("new");
    QTest::newRow("before deleting the old copy") << "replaced" << true << QByteArray("new");
    QTest::newRow("before deleting (two renames)") << "replaced" << false << QByteArray("new");
}

void UpdateInstallTest::interruptedSwitchLeavesAProgram()
{
    QFETCH(QString, step);
    QFETCH(bool, atomic);
    QFETCH(QByteArray, runs);
    Rig rig;
    writeFile(rig.installPath + QStringLiteral("/bramble"), script("old"), kExecutable);
    QFile::remove(rig.installPath + QLatin1Char('/') + QLatin1String(PortableManifest::kFileName));
    markPortable(rig.installPath);
    const InstallTarget target = rig.configuration().installTarget;
    QCOMPARE(UpdateInstaller::prepareStagingFolder(target), QString());
    const QString staging = UpdateInstaller::stagingFolder(target);
    writeFile(staging + QStringLiteral("/download"),
        makeTarGz(withPortableMarker({ { QStringLiteral("Bramble/bramble"), script("new"), 0755 } })));
    const auto unpacked = UpdateArchive::extract(staging + QStringLiteral("/download"),
        staging + QStringLiteral("/extracted"), QStringLiteral("Bramble"));
    QVERIFY2(unpacked.ok(), qPrintable(unpacked.error));

    // The install runs in a process of its own, killed at that step as kill -9 would.
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(),
        { QStringLiteral("--install-and-die-at"), step, rig.installPath,
            staging + QStringLiteral("/extracted"),
            atomic ? QStringLiteral("atomic") : QStringLiteral("renames") });
    QVERIFY(child.waitForFinished(20000));
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    if (step == QLatin1String("moved-aside"))
        QVERIFY(!QFileInfo::exists(rig.installPath)); // what the user would be left with

    freshStart(rig);
    QCOMPARE(runProgram(rig.installPath + QStringLiteral("/bramble")), runs);
    QCOMPARE(besideInstall(rig), QStringList({ "Bramble", "start.conf" }));
}

void UpdateInstallTest::retryAfterInterruptedExtractionInstalls()
{
    Rig rig;
    QVERIFY(rig.server);
    const QByteArray archive = newRelease("twelve");
    rig.setFeed({ rig.publish(QStringLiteral("12"), archive, QStringLiteral("B-12.tar.gz")) });
    // What a kill -9 during extraction leaves: the verified download, half of it unpacked.
    const InstallTarget target = rig.configuration().installTarget;
    const auto leaveHalfExtracted = [&] {
        QCOMPARE(UpdateInstaller::prepareStagingFolder(target), QString());
        const QString staging = UpdateInstaller::stagingFolder(target);
        writeFile(staging + QStringLiteral("/download"), archive);
        writeFile(staging + QStringLiteral("/verified"), {});
        writeFile(staging + QStringLiteral("/extracted/Bramble/bramble"), "twel", kExecutable);
    };
    leaveHalfExtracted();
    rig.makeUpdater();
    QSignalSpy relaunch(rig.updater.get(), &Updater::relaunchRequested);
    QVERIFY(rig.check());
    QVERIFY2(!rig.delegate.failure,
        qPrintable(rig.delegate.failure ? rig.delegate.failure->localizedDescription() : QString()));
    QCOMPARE(relaunch.count(), 1);
    QCOMPARE(readFile(rig.installPath + QStringLiteral("/bramble")), QByteArray("twelve"));
    // The staged download was used, not fetched again.
    QCOMPARE(rig.site->log(), QStringList({ "/feed/" }));

    // A fresh start clears such a staging folder too.
    leaveHalfExtracted();
    freshStart(rig);
    QVERIFY(!QFileInfo::exists(UpdateInstaller::stagingFolder(target)));
}

void UpdateInstallTest::freeSpaceIsReadFromTheFileSystem()
{
    QTemporaryDir dir;
    const std::optional<qint64> free = UpdateInstaller::freeSpace(dir.path());
    QVERIFY(free.has_value());
    QVERIFY(*free > 0);
    QVERIFY(!UpdateInstaller::freeSpace(dir.path() + QStringLiteral("/missing")).has_value());
}

#include "tst_update_install.moc"
REGISTER_TEST_SUITE(UpdateInstallTest)
