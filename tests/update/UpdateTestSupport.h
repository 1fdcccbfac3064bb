#pragma once

#include "support/TestHttpServer.h"
#include "update/framework/PortableManifest.h"
#include "update/framework/UpdateInstaller.h"
#include "update/framework/UpdateSignature.h"
#include "update/framework/Updater.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSignalSpy>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <httplib.h>
#include <map>
#include <memory>
#include <mutex>

// Several test classes in one executable: each registers itself, and main runs those that
// hold a function named on the command line (all when none is named).
struct TestSuite
{
    const QMetaObject *metaObject;
    std::function<int(int argc, char **argv)> run;
};
QList<TestSuite> &testSuites();
#define REGISTER_TEST_SUITE(Class)                                                                           \
    namespace {                                                                                              \
        const bool registered##Class = [] {                                                                  \
            testSuites().append({ &Class::staticMetaObject, [](int argc, char **argv) {                      \
                                     Class test;                                                             \
                                     return QTest::qExec(&test, argc, argv);                                 \
                                 } });                                                                       \
            return true;                                                                                     \
        }();                                                                                                 \
    }

// The release tool next to the tests, or empty when it is not built.
QString signingTool();

// Builds .tar.gz archives with libarchive, entries in the given order.
struct ArchiveEntry
{
    ArchiveEntry(QString name = {}, QByteArray content = {}, int mode = 0644, QString linkTarget = {},
        bool directory = false)
        : name(std::move(name))
        , content(std::move(content))
        , mode(mode)
        , linkTarget(std::move(linkTarget))
        , directory(directory)
    { }
    QString name;
    QByteArray content;
    int mode = 0644;
    // Non-empty makes the entry a symbolic link.
    QString linkTarget;
    bool directory = false;
};
QByteArray makeTarGz(const QList<ArchiveEntry> &entries);
// The entries of a release under Bramble/, with the marker that lists them added.
QList<ArchiveEntry> withPortableMarker(
    QList<ArchiveEntry> entries, const QString &version = QStringLiteral("1.x"));

struct FeedEntry
{
    QString version;
    QString displayVersion;
    QString url;
    qint64 length = 0;
    QByteArray signature;
    QString type = QStringLiteral("application/gzip");
    QString pubDate;
    QString description;
};
QByteArray makeFeed(const QList<FeedEntry> &entries);

// Writes every stdout line into a list while alive, for checking the console trail.
class ConsoleCapture
{
public:
    ConsoleCapture();
    ~ConsoleCapture();
    QStringList lines();

private:
    int m_savedFd = -1;
    QString m_path;
};

// Files served by the loopback server, and every path it was asked for.
struct Site
{
    std::mutex mutex;
    std::map<std::string, std::pair<std::string, std::string>> files;
    std::map<std::string, std::string> redirects;
    QStringList requested;

    void put(const QString &path, const QByteArray &body, const char *type = "application/octet-stream")
    {
        std::lock_guard lock(mutex);
        files[path.toStdString()] = { body.toStdString(), type };
    }
    QStringList log()
    {
        std::lock_guard lock(mutex);
        return requested;
    }
};

inline std::unique_ptr<TestHttpServer> serve(std::shared_ptr<Site> site)
{
    auto server = std::make_unique<TestHttpServer>();
    server->server().Get(".*", [site](const httplib::Request &request, httplib::Response &response) {
        std::lock_guard lock(site->mutex);
        site->requested.append(QString::fromStdString(request.path));
        if (auto r = site->redirects.find(request.path); r != site->redirects.end()) {
            response.set_redirect(r->second);
            return;
        }
        auto it = site->files.find(request.path);
        if (it == site->files.end()) {
            response.status = 404;
            return;
        }
        response.set_content(it->second.first, it->second.second.c_str());
    });
    if (!server->start())
        return nullptr;
    return server;
}

class RecordingDelegate : public UpdaterDelegate
{
public:
    QStringList calls;
    std::optional<UpdaterFailure> failure;
    std::optional<QString> feed;
    QList<QUrl> downloadRequests;

    std::optional<QString> feedURLStringForUpdater(Updater *) override
    {
        calls << QStringLiteral("feed");
        return feed;
    }
    void updaterDidFindValidUpdate(Updater *, const AppcastItem &item) override
    {
        calls << QStringLiteral("found ") + item.versionString;
    }
    void updaterDidNotFindUpdate(Updater *) override { calls << QStringLiteral("none"); }
    void updaterDidAbortWithError(Updater *, const UpdaterFailure &error) override
    {
        calls << QStringLiteral("failed");
        failure = error;
    }
    void updaterWillDownloadUpdate(Updater *, const AppcastItem &, const QNetworkRequest &request) override
    {
        calls << QStringLiteral("download");
        downloadRequests << request.url();
    }
    void updaterDidDownloadUpdate(Updater *, const AppcastItem &) override
    {
        calls << QStringLiteral("downloaded");
    }
    void updaterWillInstallUpdate(Updater *, const AppcastItem &) override
    {
        calls << QStringLiteral("install");
    }
};

class AnsweringDriver : public UpdateUserDriver
{
public:
    Choice answer = Choice::Install;
    QStringList shown;
    qint64 lastProgress = -1;

    void showUpdateFound(const AppcastItem &item, std::function<void(Choice)> reply) override
    {
        shown << QStringLiteral("found ") + item.displayVersionString;
        const Choice choice = answer;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [reply, choice] { reply(choice); }, Qt::QueuedConnection);
    }
    bool cancelDownload = false;
    void showDownloadStarted(std::function<void()> cancel) override
    {
        shown << QStringLiteral("progress");
        if (cancelDownload)
            cancel();
    }
    void showDownloadProgress(qint64 received, qint64) override { lastProgress = received; }
    void showInstalling() override { shown << QStringLiteral("installing"); }
    void showUpToDate() override { shown << QStringLiteral("up to date"); }
    void showUpdateFailed() override { shown << QStringLiteral("failed"); }
    void dismiss() override { shown << QStringLiteral("dismiss"); }
};

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline void writeFile(const QString &path, const QByteArray &data, QFile::Permissions permissions = {})
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(data);
    file.close();
    if (permissions)
        file.setPermissions(permissions);
}

inline const QFile::Permissions kExecutable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
    | QFile::ReadUser | QFile::WriteUser | QFile::ExeUser;

// Marks folder as a portable release holding what is in it now.
inline void markPortable(const QString &folder, const QString &version = QStringLiteral("1.10"))
{
    QString error;
    const auto manifest = PortableManifest::forFolder(folder, version, &error);
    QVERIFY2(manifest, qPrintable(error));
    writeFile(folder + QLatin1Char('/') + QLatin1String(PortableManifest::kFileName), manifest->serialize());
}

// Everything one update session needs: a feed under /feed/, a portable installation,
// a key pair and the updater wired to a recording delegate.
struct Rig
{
    std::shared_ptr<Site> site = std::make_shared<Site>();
    std::unique_ptr<TestHttpServer> server;
    QTemporaryDir dir;
    UpdateSignature::KeyPair keys = UpdateSignature::generateKeyPair();
    RecordingDelegate delegate;
    AnsweringDriver driver;
    std::unique_ptr<Updater> updater;
    QString feedURL;
    QString installPath;

    Rig()
    {
        server = serve(site);
        feedURL = server ? server->url(QStringLiteral("/feed/")) : QString();
        installPath = dir.path() + QStringLiteral("/Bramble");
        writeFile(installPath + QStringLiteral("/bramble"), "old program", kExecutable);
        writeFile(installPath + QStringLiteral("/data.txt"), "old data");
        markPortable(installPath);
    }

    UpdaterConfiguration configuration()
    {
        UpdaterConfiguration c;
        c.feedURL = feedURL;
        c.publicKey = keys.publicKeyBase64;
        c.currentBuildVersion = QStringLiteral("10");
        c.installTarget.kind = InstallTarget::Kind::Portable;
        c.installTarget.path = installPath;
        c.installTarget.executable = QStringLiteral("bramble");
        c.settingsPath = dir.path() + QStringLiteral("/Bramble.conf");
        c.firstCheckDelay = std::chrono::milliseconds(0);
        c.checkInterval = std::chrono::milliseconds(30);
        return c;
    }

    void makeUpdater() { makeUpdater(configuration()); }
    void makeUpdater(const UpdaterConfiguration &c)
    {
        updater = std::make_unique<Updater>(c, &delegate);
        updater->setUserDriver(&driver);
        updater->start();
    }

    // Publishes an archive at /feed/<name> and returns its feed entry.
    FeedEntry publish(const QString &version, const QByteArray &archive, const QString &name)
    {
        site->put(QStringLiteral("/feed/") + name, archive);
        FeedEntry entry;
        entry.version = version;
        entry.displayVersion = QStringLiteral("1.") + version;
        entry.url = feedURL + name;
        entry.length = archive.size();
        entry.signature = UpdateSignature::sign(archive, keys.secretKeyBase64);
        return entry;
    }

    void setFeed(const QList<FeedEntry> &entries)
    {
        site->put(QStringLiteral("/feed/"), makeFeed(entries), "application/rss+xml");
    }

    // Runs one session to its end.
    bool check(bool manual = true)
    {
        QSignalSpy finished(updater.get(), &Updater::sessionFinished);
        if (manual)
            updater->checkForUpdates();
        else
            updater->checkForUpdatesInBackground();
        return finished.count() > 0 || finished.wait(20000);
    }

    bool installationUntouched()
    {
        return readFile(installPath + QStringLiteral("/bramble")) == "old program"
            && readFile(installPath + QStringLiteral("/data.txt")) == "old data"
            && !QFileInfo::exists(UpdateInstaller::stagingFolder(configuration().installTarget));
    }
};

inline QByteArray newRelease(const QByteArray &program = "new program")
{
    return makeTarGz(withPortableMarker({ { QStringLiteral("Bramble/"), {}, 0755, {}, true },
        { QStringLiteral("Bramble/bramble"), program, 0755 },
        { QStringLiteral("Bramble/data.txt"), "new data", 0644 },
        { QStringLiteral("Bramble/lib/libextra.so"), "library", 0644 } }));
}
