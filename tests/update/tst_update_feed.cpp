#include "UpdateTestSupport.h"
#include "update/UpdaterViewModel.h"
#include "update/framework/Appcast.h"
#include "update/framework/UpdateTransport.h"

#include <QProcess>
#include <QSettings>
#include <atomic>
#include <sys/stat.h>

namespace {
// Sends the first half of body under a header that announces all of it (or, with
// chunked, in chunks without the closing one), then drops the connection.
void serveCut(httplib::Server &server, const std::string &path, QByteArray body, bool chunked)
{
    server.Get(path, [body, chunked](const httplib::Request &, httplib::Response &response) {
        const size_t half = size_t(body.size() / 2);
        const auto writeHalf = [body, half](size_t offset, httplib::DataSink &sink) {
            if (offset >= half)
                return false;
            sink.write(body.constData() + offset, half - offset);
            return true;
        };
        if (chunked)
            response.set_chunked_content_provider("application/octet-stream", writeHalf);
        else
            response.set_content_provider(size_t(body.size()), "application/octet-stream",
                [writeHalf](
                    size_t offset, size_t, httplib::DataSink &sink) { return writeHalf(offset, sink); });
    });
}

UpdaterViewModelConfiguration modelConfiguration(Rig &rig, const QString &settings = QStringLiteral("m.conf"))
{
    UpdaterViewModelConfiguration c;
    c.feedURL = rig.feedURL;
    c.publicKey = rig.keys.publicKeyBase64;
    c.infoDictionary = { { QStringLiteral("CFBundleShortVersionString"), QStringLiteral("1.10") },
        { QStringLiteral("CFBundleVersion"), QStringLiteral("10") } };
    c.settingsPath = rig.dir.path() + QLatin1Char('/') + settings;
    c.installTarget = rig.configuration().installTarget;
    c.firstCheckDelay = std::chrono::seconds(30);
    return c;
}

qint64 hours(qint64 n)
{
    return n * 3600 * 1000;
}
} // namespace

class UpdateFeedTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void feedRedirectStaysBeneathTheFeed();
    void shortTransfersAreNetworkErrors_data();
    void shortTransfersAreNetworkErrors();
    void oversizedFeedIsTooLarge_data();
    void oversizedFeedIsTooLarge();
    void automaticCheckIsDaily();
    void automaticCheckWaitsForTheClock();
    void launchPlansFromTheStoredCheckDate();
    void buildWithoutFeedMakesNoCheck_data();
    void buildWithoutFeedMakesNoCheck();
    void loopbackIsTheOnlyPlainHttp();
    void signingToolPublishesWhatTheUpdaterAccepts();
};

void UpdateFeedTest::feedRedirectStaysBeneathTheFeed()
{
    Rig rig;
    QVERIFY(rig.server);
    auto otherSite = std::make_shared<Site>();
    auto other = serve(otherSite);
    QVERIFY(other);
    otherSite->put(QStringLiteral("/feed/"),
        makeFeed({ rig.publish(QStringLiteral("11"), newRelease(), QStringLiteral("B-11.tar.gz")) }));
    {
        std::lock_guard lock(rig.site->mutex);
        rig.site->redirects["/feed/"] = other->url(QStringLiteral("/feed/")).toStdString();
    }
    rig.makeUpdater();
    QVERIFY(rig.check());
    QCOMPARE(rig.delegate.calls, QStringList({ "feed", "failed" }));
    QCOMPARE(rig.delegate.failure->updateError()->kind(), UpdateError::Kind::unauthorizedUpdateSource);
    QCOMPARE(rig.delegate.failure->updateError()->url(), QUrl(other->url(QStringLiteral("/feed/"))));
    QVERIFY(otherSite->log().isEmpty());

    // Beneath the feed's own address a redirect is followed.
    {
        std::lock_guard lock(rig.site->mutex);
        rig.site->redirects["/feed/"] = rig.server->url(QStringLiteral("/feed/index.xml")).toStdString();
    }
    rig.site->put(QStringLiteral("/feed/index.xml"), makeFeed({}));
    rig.delegate.calls.clear();
    QVERIFY(rig.check());
    QCOMPARE(rig.delegate.calls, QStringList({ "feed", "none" }));
}

void UpdateFeedTest::shortTransfersAreNetworkErrors_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<int>("kind");
    const QStringList feed = { "feed", "failed" };
    const QStringList archive = { "feed", "found 11", "download", "failed" };
    const int network = int(UpdateError::Kind::networkError);
    QTest::newRow("feed cut short of its Content-Length") << "feed" << feed << network;
    QTest::newRow("feed cut inside its chunks") << "feed chunked" << feed << network;
    QTest::newRow("archive cut short of its Content-Length") << "archive" << archive << network;
    QTest::newRow("archive cut inside its chunks") << "archive chunked" << archive << network;
    // Sent whole, a broken document is the feed's fault.
    QTest::newRow("feed whole but broken")
        << "feed whole" << feed << int(UpdateError::Kind::appcastParsingFailed);
}

void UpdateFeedTest::shortTransfersAreNetworkErrors()
{
    QFETCH(QString, what);
    QFETCH(QStringList, calls);
    QFETCH(int, kind);
    // A server of our own that cuts one answer short; made before the updater, so that the
    // updater's connections close before it stops.
    TestHttpServer server;
    Rig rig;
    const QByteArray release = newRelease();
    const bool chunked = what.endsWith(QLatin1String("chunked"));
    const bool cutFeed = what.startsWith(QLatin1String("feed"));
    auto feed = std::make_shared<QByteArray>();
    server.server().Get("/feed/", [feed](const httplib::Request &, httplib::Response &response) {
        response.set_content(feed->toStdString(), "application/rss+xml");
    });
    if (what == QLatin1String("feed whole")) {
        const QByteArray whole = makeFeed({}).left(60);
        server.server().Get("/cut/", [whole](const httplib::Request &, httplib::Response &response) {
            response.set_content(whole.toStdString(), "application/rss+xml");
        });
    } else if (cutFeed)
        serveCut(server.server(), "/cut/",
            makeFeed({ rig.publish(QStringLiteral("11"), release, QStringLiteral("B.tar.gz")) }), chunked);
    else
        serveCut(server.server(), "/feed/B-11.tar.gz", release, chunked);
    QVERIFY(server.start());
    rig.feedURL = server.url(cutFeed ? QStringLiteral("/cut/") : QStringLiteral("/feed/"));
    *feed = makeFeed({ rig.publish(QStringLiteral("11"), release, QStringLiteral("B-11.tar.gz")) });
    rig.makeUpdater();
    QVERIFY(rig.check());
    QCOMPARE(rig.delegate.calls, calls);
    const UpdateError *error = rig.delegate.failure->updateError();
    QVERIFY2(error, qPrintable(rig.delegate.failure->localizedDescription()));
    QVERIFY2(int(error->kind()) == kind, qPrintable(error->localizedDescription()));
    QVERIFY(rig.installationUntouched());
    if (kind != int(UpdateError::Kind::networkError))
        return;

    // The controller reads it as a network issue, not as a feed or signature problem.
    UpdaterViewModel model(modelConfiguration(rig));
    ConsoleCapture console;
    model.updaterDidAbortWithError(nullptr, *rig.delegate.failure);
    const QStringList lines = console.lines();
    QVERIFY2(lines.contains(QStringLiteral("🚨 Network issue detected")),
        qPrintable(lines.join(QLatin1Char('\n'))));
}

void UpdateFeedTest::oversizedFeedIsTooLarge_data()
{
    QTest::addColumn<bool>("announced");
    QTest::newRow("100 MB announced") << true;
    QTest::newRow("5 MB in chunks") << false;
}

void UpdateFeedTest::oversizedFeedIsTooLarge()
{
    QFETCH(bool, announced);
    // Made before the updater, so that the updater's connections close before it stops.
    TestHttpServer server;
    Rig rig;
    std::atomic<qint64> sent { 0 };
    server.server().Get("/feed/", [&](const httplib::Request &, httplib::Response &response) {
        const qint64 total = announced ? qint64(100) * 1024 * 1024 : qint64(5) * 1024 * 1024;
        // The announced 100 MB are never all sent: past 8 MB the server hangs up.
        const qint64 stop = std::min(total, qint64(8) * 1024 * 1024);
        const auto write = [&sent, stop, announced](size_t offset, httplib::DataSink &sink) {
            static const std::string block(64 * 1024, ' ');
            if (qint64(offset) >= stop) {
                if (announced)
                    return false;
                sink.done();
                return true;
            }
            sent += qint64(block.size());
            return sink.write(block.data(), block.size());
        };
        if (announced)
            response.set_content_provider(size_t(total), "application/rss+xml",
                [write](size_t offset, size_t, httplib::DataSink &sink) { return write(offset, sink); });
        else
            response.set_chunked_content_provider("application/rss+xml", write);
    });
    QVERIFY(server.start());
    rig.feedURL = server.url(QStringLiteral("/feed/"));
    rig.makeUpdater();
    QVERIFY(rig.check());
    QCOMPARE(rig.delegate.calls, QStringList({ "feed", "failed" }));
    const UpdateError *error = rig.delegate.failure->updateError();
    QVERIFY(error);
    QCOMPARE(error->kind(), UpdateError::Kind::appcastParsingFailed);
    QVERIFY2(error->localizedDescription().contains(QLatin1String("larger than")),
        qPrintable(error->localizedDescription()));
    // Announced too large, it is refused on the headers, before the limit has arrived.
    if (announced)
        QVERIFY(rig.delegate.failure->localizedDescription().contains(QLatin1String("larger than")));
}

void UpdateFeedTest::automaticCheckIsDaily()
{
    Rig rig;
    QVERIFY(rig.server);
    rig.setFeed({});
    QDateTime now(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
    UpdaterConfiguration c = rig.configuration();
    c.firstCheckDelay = std::chrono::seconds(30);
    c.checkInterval = std::chrono::hours(24);
    c.now = [&now] { return now; };
    const auto planned = [&](std::optional<QDateTime> last) {
        UpdaterConfiguration d = c;
        d.lastCheckDate = last;
        Updater updater(d, &rig.delegate);
        updater.start();
        updater.setAutomaticallyChecksForUpdates(true);
        return qint64(updater.automaticCheckDelay().count());
    };
    // A few milliseconds pass between planning and asking.
    const auto about
        = [](qint64 actual, qint64 expected) { return actual <= expected && actual > expected - 5000; };
    QVERIFY(about(planned(std::nullopt), 30'000));
    QVERIFY(about(planned(now.addSecs(-3600)), hours(23)));
    QVERIFY(about(planned(now.addSecs(-23 * 3600 - 3590)), 30'000));
    QVERIFY(about(planned(now.addSecs(-25 * 3600)), 30'000));
    // A check dated in the future (the clock was set back) waits a day at most.
    QVERIFY(about(planned(now.addSecs(5 * 24 * 3600)), hours(24)));

    // After any check, the next automatic one is a day later.
    rig.makeUpdater(c);
    rig.updater->setAutomaticallyChecksForUpdates(true);
    QVERIFY(about(qint64(rig.updater->automaticCheckDelay().count()), 30'000));
    QVERIFY(rig.check());
    QCOMPARE(rig.updater->lastCheckDate(), std::optional<QDateTime>(now));
    QVERIFY(about(qint64(rig.updater->automaticCheckDelay().count()), hours(24)));
}

void UpdateFeedTest::automaticCheckWaitsForTheClock()
{
    // The timer fires, but the clock says the day is not over: no check until it is.
    Rig rig;
    QVERIFY(rig.server);
    rig.setFeed({});
    QDateTime now(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
    UpdaterConfiguration c = rig.configuration();
    c.firstCheckDelay = std::chrono::milliseconds(0);
    c.checkInterval = std::chrono::milliseconds(60);
    c.lastCheckDate = now;
    c.now = [&now] { return now; };
    rig.makeUpdater(c);
    QSignalSpy finished(rig.updater.get(), &Updater::sessionFinished);
    rig.updater->setAutomaticallyChecksForUpdates(true);
    QTest::qWait(200);
    QVERIFY(rig.site->log().isEmpty());
    QCOMPARE(finished.count(), 0);
    now = now.addMSecs(60);
    QTRY_VERIFY_WITH_TIMEOUT(finished.count() >= 1, 20000);
    QCOMPARE(rig.site->log().first(), QStringLiteral("/feed/"));
}

void UpdateFeedTest::launchPlansFromTheStoredCheckDate()
{
    Rig rig;
    QVERIFY(rig.server);
    QDateTime now(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
    UpdaterViewModelConfiguration c = modelConfiguration(rig);
    c.now = [&now] { return now; };
    {
        QSettings stored(c.settingsPath, QSettings::IniFormat);
        stored.setValue(QStringLiteral("lastUpdateCheckDate"), now.addSecs(-3600));
    }
    UpdaterViewModel model(c);
    QVERIFY(QTest::qWaitFor([&] { return model.updaterController() != nullptr; }, 10000));
    const qint64 delay = qint64(model.updaterController()->updater()->automaticCheckDelay().count());
    QVERIFY2(delay > hours(23) - 5000 && delay <= hours(23), qPrintable(QString::number(delay)));
}

void UpdateFeedTest::buildWithoutFeedMakesNoCheck_data()
{
    QTest::addColumn<QString>("feed");
    QTest::addColumn<bool>("withKey");
    QTest::newRow("the default build") << "https://updates.bramble.invalid/linux/" << false;
    QTest::newRow("placeholder feed with a key") << "https://updates.bramble.invalid/linux/" << true;
    QTest::newRow("feed without a key") << "" << false;
    QTest::newRow("no feed") << "" << true;
    QTest::newRow("real feed, no key") << "real" << false;
}

void UpdateFeedTest::buildWithoutFeedMakesNoCheck()
{
    QFETCH(QString, feed);
    QFETCH(bool, withKey);
    Rig rig;
    QVERIFY(rig.server);
    rig.setFeed({});
    UpdaterViewModelConfiguration c = modelConfiguration(rig);
    c.feedURL = feed == QLatin1String("real") ? rig.feedURL : feed;
    c.publicKey = withKey ? rig.keys.publicKeyBase64 : QByteArray();
    c.firstCheckDelay = std::chrono::milliseconds(1);
    ConsoleCapture console;
    UpdaterViewModel model(c);
    QVERIFY(!model.updatesConfigured());
    QVERIFY(QTest::qWaitFor([&] { return model.updaterController() != nullptr; }, 10000));
    QVERIFY(!model.canCheckForUpdates());
    QVERIFY(!model.updaterController()->updater()->automaticCheckScheduled());
    model.checkForUpdates();
    QVERIFY(!model.isCheckingForUpdates());
    QTest::qWait(20);
    const QStringList lines = console.lines();
    QVERIFY(!model.updateError());
    QVERIFY(!model.lastUpdateCheckDate());
    QVERIFY(rig.site->log().isEmpty());
    QVERIFY(!lines.contains(QStringLiteral("🔍 Starting manual update check...")));

    // The build as it is made by default has no update service either.
    QVERIFY(!UpdaterViewModelConfiguration::standard().hasUpdateService()
        || qEnvironmentVariableIsSet("BRAMBLE_UPDATE_FEED_URL"));
}

void UpdateFeedTest::loopbackIsTheOnlyPlainHttp()
{
    QVERIFY(isPermittedUpdateTransport(QUrl(QStringLiteral("https://updates.example/linux/"))));
    QVERIFY(isPermittedUpdateTransport(QUrl(QStringLiteral("http://127.0.0.1:8080/feed/"))));
    QVERIFY(isPermittedUpdateTransport(QUrl(QStringLiteral("http://[::1]:8080/feed/"))));
    QVERIFY(isPermittedUpdateTransport(QUrl(QStringLiteral("http://[0:0::1]/feed/"))));
    QVERIFY(!isPermittedUpdateTransport(QUrl(QStringLiteral("http://localhost/feed/"))));
    QVERIFY(!isPermittedUpdateTransport(QUrl(QStringLiteral("http://127.0.0.2/feed/"))));
    QVERIFY(!isPermittedUpdateTransport(QUrl(QStringLiteral("http://updates.example/feed/"))));
    QVERIFY(!isPermittedUpdateTransport(QUrl(QStringLiteral("ftp://127.0.0.1/feed/"))));

    if (signingTool().isEmpty())
        QSKIP("bramble-sign-update is not built");
    QTemporaryDir dir;
    writeFile(dir.path() + QStringLiteral("/a.tar.gz"), "archive");
    const auto keys = UpdateSignature::generateKeyPair();
    const auto sign = [&](const QString &url) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(
            QStringLiteral("BRAMBLE_UPDATE_SECRET_KEY"), QString::fromLatin1(keys.secretKeyBase64));
        process.setProcessEnvironment(environment);
        process.start(signingTool(),
            { QStringLiteral("sign"), dir.path() + QStringLiteral("/a.tar.gz"), QStringLiteral("--url"), url,
                QStringLiteral("--build"), QStringLiteral("2") });
        return process.waitForFinished(60000) && process.exitCode() == 0;
    };
    QVERIFY(sign(QStringLiteral("http://127.0.0.1:8080/feed/a.tar.gz")));
    QVERIFY(sign(QStringLiteral("http://[::1]:8080/feed/a.tar.gz")));
    QVERIFY(sign(QStringLiteral("https://updates.example/feed/a.tar.gz")));
    QVERIFY(!sign(QStringLiteral("http://updates.example/feed/a.tar.gz")));
}

void UpdateFeedTest::signingToolPublishesWhatTheUpdaterAccepts()
{
    const QString tool = signingTool();
    if (tool.isEmpty())
        QSKIP("bramble-sign-update is not built");
    QTemporaryDir dir;
    const auto run = [&](const QStringList &arguments, QByteArray *output) {
        QProcess process;
        process.start(tool, arguments);
        if (!process.waitForFinished(60000))
            return -1;
        *output = process.readAllStandardOutput();
        return process.exitCode();
    };
    QByteArray keysOutput;
    const QString keyFile = dir.path() + QStringLiteral("/secret.key");
    QCOMPARE(
        run({ QStringLiteral("generate-keys"), QStringLiteral("--secret-key-file"), keyFile }, &keysOutput),
        0);
    const QByteArray publicKey = keysOutput.trimmed().split('\n').last().trimmed();
    QVERIFY(UpdateSignature::isValidPublicKey(publicKey));
    QCOMPARE(QFileInfo(keyFile).permissions() & (QFile::ReadOther | QFile::ReadGroup), QFile::Permissions());

    // Private from the instant it exists, even under a umask that hides nothing.
    {
        const QString probed = dir.path() + QStringLiteral("/probed.key");
        const QString mode = dir.path() + QStringLiteral("/mode");
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(CREATION_PROBE));
        environment.insert(QStringLiteral("BRAMBLE_PROBE_PATH"), probed);
        environment.insert(QStringLiteral("BRAMBLE_PROBE_OUT"), mode);
        process.setProcessEnvironment(environment);
        const mode_t saved = ::umask(0);
        process.start(tool, { QStringLiteral("generate-keys"), QStringLiteral("--secret-key-file"), probed });
        ::umask(saved);
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 0);
        QCOMPARE(readFile(mode).trimmed(), QByteArray("600"));
        QCOMPARE(QFileInfo(probed).permissions(),
            QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    }
    QByteArray again;
    QVERIFY(
        run({ QStringLiteral("generate-keys"), QStringLiteral("--secret-key-file"), keyFile }, &again) != 0);

    const QByteArray archive = newRelease();
    writeFile(dir.path() + QStringLiteral("/B-12.tar.gz"), archive);
    QByteArray itemXml;
    QCOMPARE(run({ QStringLiteral("sign"), dir.path() + QStringLiteral("/B-12.tar.gz"),
                     QStringLiteral("--secret-key-file"), keyFile, QStringLiteral("--url"),
                     QStringLiteral("https://updates.example/linux/B-12.tar.gz"), QStringLiteral("--build"),
                     QStringLiteral("12"), QStringLiteral("--display-version"), QStringLiteral("1.2") },
                 &itemXml),
        0);
    const QByteArray feed = QByteArray("<rss version=\"2.0\" xmlns:bramble=\"") + kBrambleUpdateNamespace
        + "\"><channel>" + itemXml + "</channel></rss>";
    const AppcastParseResult parsed = parseAppcast(feed);
    QVERIFY2(parsed.error.isEmpty(), qPrintable(parsed.error));
    QCOMPARE(parsed.items.size(), 1);
    const AppcastItem &item = parsed.items.first();
    QCOMPARE(item.versionString, QStringLiteral("12"));
    QCOMPARE(item.displayVersionString, QStringLiteral("1.2"));
    QCOMPARE(item.contentLength, quint64(archive.size()));
    QCOMPARE(item.archiveKind(), AppcastItem::ArchiveKind::Portable);
    QVERIFY(item.date.has_value());
    QVERIFY(UpdateSignature::verify(archive, item.edSignature, publicKey));
}

#include "tst_update_feed.moc"
REGISTER_TEST_SUITE(UpdateFeedTest)
