// The analytics client inside the real program: a build that names no service sends nothing
// (watched at the network layer by a preloaded shim), DO_NOT_TRACK follows the convention, and
// a service that hangs while `bramble add` runs loses no record. The collector and the pages
// are servers on 127.0.0.1.
#include "CairnTestSupport.h"
#include "model/BookmarkGroup.h"
#include "model/ModelContainer.h"
#include "model/ModelContext.h"
#include "platform/Telemetry.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

namespace {

struct Run
{
    int status = -1;
    QString out;
    QString err;
};

// A home of its own for the launched programs.
class Sandbox
{
public:
    Sandbox()
    {
        for (const char *sub : { "data", "config", "cache", "runtime" })
            QDir().mkpath(m_dir.filePath(QLatin1String(sub)));
        QFile::setPermissions(m_dir.filePath(QStringLiteral("runtime")),
            QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    QString path(const QString &sub) const { return m_dir.filePath(sub); }
    QString cacheFile() const
    {
        return Cairn::SignalCache::filePath(Telemetry::appID, path(QStringLiteral("cache")));
    }
    // Every file the analytics client could have written.
    QStringList clientFiles() const
    {
        QStringList found;
        for (const QString &sub :
            { QStringLiteral("cache"), QStringLiteral("cache/cairn"), QStringLiteral("config") }) {
            for (const QString &name : QDir(path(sub)).entryList(QDir::Files)) {
                if (name.contains(QLatin1String("telemetrysignalcache"))
                    || name.startsWith(QLatin1String("com.cairn.")))
                    found << sub + QLatin1Char('/') + name;
            }
        }
        return found;
    }

    QProcessEnvironment environment(const QMap<QString, QString> &extra) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), m_dir.path());
        env.insert(QStringLiteral("XDG_DATA_HOME"), path(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), path(QStringLiteral("cache")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), path(QStringLiteral("runtime")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        for (auto it = extra.cbegin(); it != extra.cend(); ++it) {
            if (it.value().isNull())
                env.remove(it.key());
            else
                env.insert(it.key(), it.value());
        }
        return env;
    }

    static QString program()
    {
        return qEnvironmentVariable("BRAMBLE_TEST_BINARY_DIR") + QStringLiteral("/bin/bramble");
    }

    Run command(const QStringList &arguments, const QMap<QString, QString> &extra) const
    {
        QProcess process;
        process.setProcessEnvironment(environment(extra));
        process.start(program(), arguments);
        Run result;
        if (!process.waitForFinished(60000)) {
            process.kill();
            process.waitForFinished();
            return result;
        }
        result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        result.out = QString::fromUtf8(process.readAllStandardOutput());
        result.err = QString::fromUtf8(process.readAllStandardError());
        return result;
    }

    // Starts the window, waits until it has printed its analytics line and listens for later
    // launches, and quits it with SIGTERM.
    Run window(const QMap<QString, QString> &extra) const
    {
        QDir runtime(path(QStringLiteral("runtime")));
        for (const QString &stale : runtime.entryList({ QStringLiteral("bramble-*.socket") }, QDir::System))
            runtime.remove(stale);
        QProcess process;
        process.setProcessEnvironment(environment(extra));
        process.start(program(), {});
        Run result;
        QByteArray out;
        const bool started = QTest::qWaitFor(
            [&] {
                out += process.readAllStandardOutput();
                return (out.contains("Cairn")
                           && !runtime.entryList({ QStringLiteral("bramble-*.socket") }, QDir::System)
                                   .isEmpty())
                    || process.state() == QProcess::NotRunning;
            },
            30000);
        if (started && process.state() != QProcess::NotRunning)
            ::kill(pid_t(process.processId()), SIGTERM);
        if (!process.waitForFinished(30000)) {
            process.kill();
            process.waitForFinished();
            return result;
        }
        result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        result.out = QString::fromUtf8(out + process.readAllStandardOutput());
        result.err = QString::fromUtf8(process.readAllStandardError());
        return result;
    }

    // One group without links: the window then has nothing to seed or fetch.
    void seedStore() const
    {
        QString error;
        auto container = ModelContainer::open(path(QStringLiteral("data/Bramble/Bramble.sqlite")), &error);
        QVERIFY2(container, qPrintable(error));
        container->mainContext()->insert(new BookmarkGroup(QStringLiteral("Reading")));
        QVERIFY(container->mainContext()->save());
    }

private:
    QTemporaryDir m_dir;
};

int countLines(const QString &text, const QString &line)
{
    return int(text.split(QLatin1Char('\n')).count(line));
}

} // namespace

class TestCairnApp : public QObject
{
    Q_OBJECT

    TestHttpServer m_site;
    FakeTelemetryService m_collector;

    // Site pages and the update feed both live on m_site.
    QMap<QString, QString> withCollector(const QString &doNotTrack = QString()) const
    {
        return { { QStringLiteral("BRAMBLE_TELEMETRY_URL"), m_collector.url().toString() },
            { QStringLiteral("DO_NOT_TRACK"), doNotTrack },
            { QStringLiteral("BRAMBLE_UPDATE_FEED_URL"), m_site.url(QStringLiteral("/updates/")) } };
    }

    QSet<QString> acceptedOf(const QString &type) const
    {
        QSet<QString> sessions;
        int count = 0;
        for (const auto &record : m_collector.accepted()) {
            if (record.at("type") == type.toStdString()) {
                sessions.insert(QString::fromStdString(record.at("sessionID").get<std::string>()));
                ++count;
            }
        }
        return count == sessions.size() ? sessions : QSet<QString> { QStringLiteral("<duplicates>") };
    }

private slots:
    void initTestCase()
    {
        m_site.server().Get(R"(/page/.*)", [](const httplib::Request &request, httplib::Response &response) {
            response.set_content(
                "<html><head><title>Page " + request.path + "</title></head></html>", "text/html");
        });
        // Answers once the collector has had n requests (at most 20 s later): a command adding
        // this page ends only after its first round has posted, however slow its start is.
        m_site.server().Get(
            R"(/after-requests/(\d+))", [this](const httplib::Request &request, httplib::Response &response) {
                const int wanted = std::stoi(request.matches[1]);
                for (int i = 0; i < 2000 && m_collector.requestCount() < wanted; ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                response.set_content("<html><head><title>After</title></head></html>", "text/html");
            });
        QVERIFY(m_site.start());
        QVERIFY(m_collector.start());
    }

    void init() { m_collector.clear(); }

    void doNotTrackFollowsTheConvention_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("off");
        QTest::newRow("unset") << QString() << false;
        QTest::newRow("empty") << QStringLiteral("") << false;
        QTest::newRow("0") << QStringLiteral("0") << false;
        QTest::newRow("false") << QStringLiteral("false") << false;
        QTest::newRow("FALSE") << QStringLiteral(" FALSE ") << false;
        QTest::newRow("1") << QStringLiteral("1") << true;
        QTest::newRow("true") << QStringLiteral("true") << true;
        QTest::newRow("yes") << QStringLiteral("yes") << true;
    }

    void doNotTrackFollowsTheConvention()
    {
        QFETCH(QString, value);
        QFETCH(bool, off);
        const QByteArray saved = qgetenv("DO_NOT_TRACK");
        if (value.isNull())
            qunsetenv("DO_NOT_TRACK");
        else
            qputenv("DO_NOT_TRACK", value.toUtf8());
        QCOMPARE(Telemetry::doNotTrack(), off);
        qputenv("DO_NOT_TRACK", saved);
    }

    // What a user of a default build runs, with records an older version left behind.
    void defaultBuildSendsNothing()
    {
        const QByteArray savedURL = qgetenv("BRAMBLE_TELEMETRY_URL");
        qunsetenv("BRAMBLE_TELEMETRY_URL");
        const bool named = Cairn::TelemetryManagerConfiguration(QString(), QString(), Telemetry::serviceURL())
                               .isServiceConfigured();
        qputenv("BRAMBLE_TELEMETRY_URL", savedURL);
        if (named)
            QSKIP("This build names an analytics service (-DBRAMBLE_TELEMETRY_URL).");

        Sandbox sandbox;
        sandbox.seedStore();
        QTemporaryDir logs;
        const QString log = logs.filePath(QStringLiteral("net.log"));
        const QMap<QString, QString> env = { { QStringLiteral("BRAMBLE_TELEMETRY_URL"), QString() },
            { QStringLiteral("DO_NOT_TRACK"), QString() },
            { QStringLiteral("LD_PRELOAD"), qEnvironmentVariable("CAIRN_NETWATCH") },
            { QStringLiteral("CAIRN_NETWATCH_LOG"), log },
            { QStringLiteral("BRAMBLE_UPDATE_FEED_URL"), m_site.url(QStringLiteral("/updates/")) } };
        const Run added
            = sandbox.command({ QStringLiteral("add"), m_site.url(QStringLiteral("/page/one")) }, env);
        QCOMPARE(added.status, 0);
        const Run first = sandbox.window(env);
        const Run second = sandbox.window(env);
        QCOMPARE(first.status, 0);
        QCOMPARE(second.status, 0);
        // The shim saw the program: it loaded, and the page fetch went out.
        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList lines
            = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        const QString site = QStringLiteral("connect 127.0.0.1 %1").arg(m_site.port());
        QVERIFY2(lines.contains(site), qPrintable(lines.join(QLatin1Char('\n'))));
        // Nothing else: no name looked up, no other address reached.
        for (const QString &line : lines) {
            if (line.startsWith(QLatin1String("socket ")))
                continue;
            QVERIFY2(line == site, qPrintable(line));
        }

        for (const Run &run : { first, second }) {
            QCOMPARE(countLines(run.out,
                         QStringLiteral("📋 Cairn analytics off: this build names no analytics service")),
                1);
            QVERIFY2(!run.out.contains(QStringLiteral("Cairn initialized")), qPrintable(run.out));
            QVERIFY2(!run.out.contains(QStringLiteral("📊")), qPrintable(run.out));
        }
        QVERIFY2(!added.err.contains(QStringLiteral("[Cairn")), qPrintable(added.err));
        QCOMPARE(sandbox.clientFiles(), QStringList());
    }

    void doNotTrackTrueWritesNothing()
    {
        Sandbox sandbox;
        sandbox.seedStore();
        // The control: tracking allowed, the launch is reported.
        const Run tracked = sandbox.window(withCollector());
        QCOMPARE(tracked.status, 0);
        QCOMPARE(countLines(tracked.out, QStringLiteral("📊 Cairn signal sent: app_launched")), 1);
        QVERIFY(!sandbox.clientFiles().isEmpty());

        Sandbox refused;
        refused.seedStore();
        const Run added = refused.command({ QStringLiteral("add"), m_site.url(QStringLiteral("/page/two")) },
            withCollector(QStringLiteral("true")));
        QCOMPARE(added.status, 0);
        const Run window = refused.window(withCollector(QStringLiteral("true")));
        QVERIFY2(window.status == 0, qPrintable(window.out + window.err));
        QCOMPARE(refused.clientFiles(), QStringList());
        QCOMPARE(m_collector.requestCount(), 0);
        // Nothing was sent, so nothing says it was.
        QCOMPARE(countLines(window.out,
                     QStringLiteral("✅ Cairn initialized with App ID: ") + QLatin1String(Telemetry::appID)),
            1);
        QVERIFY2(!window.out.contains(QStringLiteral("📊")), qPrintable(window.out));
    }

    void hangingServiceLosesNothingAtQuit()
    {
        Sandbox sandbox;
        // The service hangs until released, then refuses what it was sent.
        m_collector.hold();
        // A: the record waits in the cache file. The process ends before a batch is due, or on
        // a slow machine while its first round, already holding the record, is unanswered.
        QCOMPARE(
            sandbox.command({ QStringLiteral("add"), m_site.url(QStringLiteral("/page/a")) }, withCollector())
                .status,
            0);
        const int afterA = m_collector.requestCount();
        QVERIFY(afterA <= 1);
        // B: its first round takes A's record and quits unanswered.
        const Run b = sandbox.command(
            { QStringLiteral("add"), m_site.url(QStringLiteral("/after-requests/%1").arg(afterA + 1)) },
            withCollector());
        QCOMPARE(b.status, 0);
        QCOMPARE(m_collector.requestCount(), afterA + 1);
        m_collector.release();
        // What B left holds A's record and its own.
        QSet<QString> waiting;
        {
            QFile file(sandbox.cacheFile());
            QVERIFY(file.open(QIODevice::ReadOnly));
            const auto records = Cairn::decodeCacheFile(file.readAll());
            QVERIFY(records);
            for (const auto &record : *records) {
                if (record.type == QLatin1String("link_added"))
                    waiting.insert(record.sessionID);
            }
        }
        QCOMPARE(waiting.size(), 2);
        QCOMPARE(m_collector.accepted().size(), size_t(0));
        // C delivers them, each once.
        QCOMPARE(sandbox
                     .command({ QStringLiteral("add"),
                                  m_site.url(QStringLiteral("/after-requests/%1").arg(afterA + 2)) },
                         withCollector())
                     .status,
            0);
        QTRY_VERIFY(acceptedOf(QStringLiteral("link_added")).contains(waiting));
        QVERIFY(!acceptedOf(QStringLiteral("link_added")).contains(QStringLiteral("<duplicates>")));
    }
};

int main(int argc, char **argv)
{
    TestEnvironment::isolate();
    QCoreApplication app(argc, argv);
    TestCairnApp tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_cairn_app.moc"
