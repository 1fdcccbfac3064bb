// The subcommands of the real program, run as separate processes against a temporary library
// and a web server on 127.0.0.1.
#include "Cairn/SignalCache.h"
#include "app/SingleInstance.h"
#include "platform/Telemetry.h"
#include "support/TestEnvironment.h"
#include "support/TestGate.h"
#include "support/TestHttpServer.h"
#include "support/TestImages.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <csignal>
#include <httplib.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Run
{
    int status = -1;
    QString out;
    QString err;
};

} // namespace

class CommandLineTest : public QObject
{
    Q_OBJECT

    TestHttpServer m_site;
    // A fresh gate for each test; the server's handler reads the current one.
    std::mutex m_gateMutex;
    std::shared_ptr<TestGate> m_gate = std::make_shared<TestGate>();

    std::shared_ptr<TestGate> gate()
    {
        std::lock_guard lock(m_gateMutex);
        return m_gate;
    }
    QByteArray m_icon = imageBytes();
    std::unique_ptr<QTemporaryDir> m_home;
    QMap<QString, QString> m_extraEnv;

    QString storePath() const { return m_home->path() + QStringLiteral("/data/Bramble/Bramble.sqlite"); }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const QString home = m_home->path();
        env.insert(QStringLiteral("HOME"), home);
        env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/cache"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home + QStringLiteral("/runtime"));
        env.insert(QStringLiteral("DO_NOT_TRACK"), QStringLiteral("1"));
        // No display: the commands must not need one.
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        for (auto it = m_extraEnv.cbegin(); it != m_extraEnv.cend(); ++it) {
            if (it.value().isNull())
                env.remove(it.key());
            else
                env.insert(it.key(), it.value());
        }
        return env;
    }

    void start(QProcess *process, const QStringList &arguments) const
    {
        process->setProcessEnvironment(environment());
        process->start(
            qEnvironmentVariable("BRAMBLE_TEST_BINARY_DIR") + QStringLiteral("/bin/bramble"), arguments);
    }

    Run run(const QStringList &arguments) const
    {
        QProcess process;
        start(&process, arguments);
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

    // A count read from the store without writing to it; -1 when it cannot be read.
    int storeQuery(const QString &sql) const
    {
        int result = -1;
        const QString connection = QStringLiteral("peek");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
            db.setDatabaseName(storePath());
            db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=2000"));
            if (QFile::exists(storePath()) && db.open()) {
                QSqlQuery query(db);
                if (query.exec(sql) && query.next())
                    result = query.value(0).toInt();
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(connection);
        return result;
    }
    int storeCount(const QString &table) const
    {
        return storeQuery(QStringLiteral("SELECT COUNT(*) FROM ") + table);
    }
    int unfinishedImports() const
    {
        return storeQuery(
            QStringLiteral("SELECT COUNT(*) FROM metadata WHERE key LIKE 'unfinishedImport:%'"));
    }

    static QJsonObject parse(const QString &text)
    {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
        if (error.error != QJsonParseError::NoError)
            qWarning() << "not JSON:" << error.errorString() << text;
        return document.object();
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_site.server().Get("/page", [](const httplib::Request &, httplib::Response &res) {
            res.set_content("<html><head><title>Test Page</title>"
                            "<meta name=\"description\" content=\"A page about tests\">"
                            "<link rel=\"icon\" href=\"/icon.png\"></head><body></body></html>",
                "text/html; charset=utf-8");
        });
        m_site.server().Get("/other", [](const httplib::Request &, httplib::Response &res) {
            res.set_content("<html><head><title>Other</title></head></html>", "text/html");
        });
        m_site.server().Get("/slow", [this](const httplib::Request &, httplib::Response &res) {
            gate()->pass();
            res.set_content("<html><head><title>Slow</title></head></html>", "text/html");
        });
        const std::string icon = m_icon.toStdString();
        m_site.server().Get("/icon.png",
            [icon](const httplib::Request &, httplib::Response &res) { res.set_content(icon, "image/png"); });
        m_site.server().Post(R"(/v2/.*)", [](const httplib::Request &, httplib::Response &res) {
            res.set_content("{}", "application/json");
        });
        QVERIFY(m_site.start());
    }

    void init()
    {
        m_home = std::make_unique<QTemporaryDir>();
        QDir().mkpath(m_home->path() + QStringLiteral("/runtime"));
        m_extraEnv.clear();
        std::lock_guard lock(m_gateMutex);
        m_gate->open();
        m_gate = std::make_shared<TestGate>();
    }

    void helpVersionAndBadUsage()
    {
        Run help = run({ QStringLiteral("--help") });
        QCOMPARE(help.status, 0);
        QVERIFY(help.out.startsWith(QStringLiteral("Usage: bramble")));
        Run version = run({ QStringLiteral("--version") });
        QCOMPARE(version.status, 0);
        QVERIFY(version.out.startsWith(QStringLiteral("bramble 1.")));

        const QList<QStringList> bad = {
            { QStringLiteral("frobnicate") },
            { QStringLiteral("add") },
            { QStringLiteral("add"), QStringLiteral("a"), QStringLiteral("b") },
            { QStringLiteral("list"), QStringLiteral("--bogus") },
            { QStringLiteral("list"), QStringLiteral("--group") },
            { QStringLiteral("export"), QStringLiteral("--json"), QStringLiteral("x.json") },
            { QStringLiteral("import") },
        };
        for (const QStringList &arguments : bad) {
            const Run result = run(arguments);
            QVERIFY2(result.status == 2, qPrintable(arguments.join(u' ')));
            QVERIFY(result.out.isEmpty());
            QVERIFY(result.err.contains(QStringLiteral("Usage: bramble")));
        }
        QVERIFY(!QFile::exists(storePath()));
    }

    void addThenListInAFreshProcess()
    {
        const QString page = m_site.url(QStringLiteral("/page"));
        Run added = run({ QStringLiteral("add"), page });
        QCOMPARE(added.status, 0);
        QCOMPARE(added.out,
            QStringLiteral("Added %1 to 默认分组\nTitle: Test Page\nSummary: A page about tests\n"
                           "Icon: %2 bytes\n")
                .arg(page)
                .arg(m_icon.size()));
        // The diagnostic trail of an addition, line by line, on standard error only.
        QVERIFY2(added.err.contains(
                     QStringLiteral("🔍 Starting metadata fetch for: %1\n"
                                    "📥 Metadata fetched - Title: Test Page, Summary: A page about tests, "
                                    "Icon: %2 bytes\n"
                                    "✅ Updated title: Test Page\n"
                                    "✅ Updated summary: A page about tests\n"
                                    "✅ Updated icon: %2 bytes\n")
                         .arg(page)
                         .arg(m_icon.size())),
            qPrintable(added.err));

        Run second = run({ QStringLiteral("add"), m_site.url(QStringLiteral("/other")),
            QStringLiteral("--group"), QStringLiteral("默认分组") });
        QCOMPARE(second.status, 0);
        // No description and no icon: the host stands in for the summary, and the missing icon is said.
        QVERIFY2(second.err.endsWith(
                     QStringLiteral("🔍 Starting metadata fetch for: %1\n"
                                    "📥 Metadata fetched - Title: Other, Summary: 127.0.0.1, Icon: nil\n"
                                    "✅ Updated title: Other\n"
                                    "✅ Updated summary: 127.0.0.1\n"
                                    "⚠️ No icon data received\n")
                         .arg(m_site.url(QStringLiteral("/other")))),
            qPrintable(second.err));
        QVERIFY(!second.out.contains(QStringLiteral("🔍")));
        Run missing = run({ QStringLiteral("add"), page, QStringLiteral("--group"), QStringLiteral("Nope") });
        QCOMPARE(missing.status, 1);
        QVERIFY(missing.err.contains(QStringLiteral("Nope")));

        Run listed = run({ QStringLiteral("list") });
        QCOMPARE(listed.status, 0);
        QCOMPARE(listed.out,
            QStringLiteral("默认分组 (2)\n  %1  Test Page\n  %2  Other\n")
                .arg(page, m_site.url(QStringLiteral("/other"))));

        Run json = run({ QStringLiteral("list"), QStringLiteral("--json") });
        QCOMPARE(json.status, 0);
        const QJsonArray groups = parse(json.out).value(QStringLiteral("groups")).toArray();
        QCOMPARE(groups.size(), 1);
        const QJsonArray links = groups[0].toObject().value(QStringLiteral("bookmarks")).toArray();
        QCOMPARE(links.size(), 2);
        QCOMPARE(links[0].toObject().value(QStringLiteral("urlString")).toString(), page);
        QCOMPARE(links[0].toObject().value(QStringLiteral("summary")).toString(),
            QStringLiteral("A page about tests"));

        Run filtered = run({ QStringLiteral("list"), QStringLiteral("--group"), QStringLiteral("Nope") });
        QCOMPARE(filtered.status, 1);
    }

    void failedAddChangesNothing()
    {
        const QString page = m_site.url(QStringLiteral("/page"));
        Run empty = run({ QStringLiteral("add"), QString() });
        QCOMPARE(empty.status, 1);
        QCOMPARE(empty.err, QStringLiteral("Nothing to add: the address is empty.\n"));
        Run unknown = run({ QStringLiteral("add"), page, QStringLiteral("--group"), QStringLiteral("Nope") });
        QCOMPARE(unknown.status, 1);
        QVERIFY2(
            unknown.err.contains(QStringLiteral("No group is named \"Nope\".")), qPrintable(unknown.err));
        const QStringList refused
            = { QStringLiteral("ftp://127.0.0.1/x"), QStringLiteral("mailto:a@b.example"),
                  QStringLiteral("javascript:alert(1)"), QStringLiteral("file:///etc/passwd") };
        for (const QString &address : refused) {
            Run result = run({ QStringLiteral("add"), address });
            QCOMPARE(result.status, 1);
            QVERIFY2(result.err.startsWith(QStringLiteral("Cannot add \"%1\": it is a %2: address")
                                               .arg(address, address.section(QLatin1Char(':'), 0, 0))),
                qPrintable(result.err));
            QVERIFY(result.out.isEmpty());
        }
        Run fetch = run({ QStringLiteral("metadata"), QStringLiteral("ftp://127.0.0.1/x") });
        QCOMPARE(fetch.status, 1);
        QVERIFY(fetch.err.contains(QStringLiteral("ftp: address")));

        // No empty default group was left behind to stop the first-launch seeding.
        Run listed = run({ QStringLiteral("list") });
        QCOMPARE(listed.status, 0);
        QCOMPARE(listed.out, QString());

        // A host with a port is an address, not a scheme.
        Run added = run({ QStringLiteral("add"), page.mid(QStringLiteral("http://").size()) });
        QCOMPARE(added.status, 0);
        QVERIFY2(added.out.startsWith(QStringLiteral("Added https://127.0.0.1:")), qPrintable(added.out));
    }

    void metadataChangesNothing()
    {
        Run found = run(
            { QStringLiteral("metadata"), QStringLiteral("--json"), m_site.url(QStringLiteral("/page")) });
        QCOMPARE(found.status, 0);
        const QJsonObject json = parse(found.out);
        QCOMPARE(json.value(QStringLiteral("title")).toString(), QStringLiteral("Test Page"));
        QCOMPARE(json.value(QStringLiteral("summary")).toString(), QStringLiteral("A page about tests"));
        QCOMPARE(json.value(QStringLiteral("icon")).toObject().value(QStringLiteral("bytes")).toInt(),
            m_icon.size());
        QCOMPARE(json.value(QStringLiteral("icon")).toObject().value(QStringLiteral("format")).toString(),
            QStringLiteral("png"));

        Run plain = run({ QStringLiteral("metadata"), m_site.url(QStringLiteral("/other")) });
        QCOMPARE(plain.status, 0);
        QCOMPARE(plain.out, QStringLiteral("Title: Other\nSummary: 127.0.0.1\nIcon: (none)\n"));
        QVERIFY(!QFile::exists(storePath()));
        // Read-only commands never start the analytics client.
        QVERIFY(!QFile::exists(Cairn::SignalCache::filePath(Telemetry::appID, m_home->path() + "/cache")));
    }

    void exportAndImport()
    {
        QCOMPARE(run({ QStringLiteral("add"), m_site.url(QStringLiteral("/page")) }).status, 0);
        const QString file = m_home->filePath(QStringLiteral("backup.json"));
        Run exported = run({ QStringLiteral("export"), file });
        QCOMPARE(exported.status, 0);
        QCOMPARE(exported.out, QStringLiteral("Exported 1 groups and 1 links to %1\n").arg(file));
        QVERIFY(exported.err.contains(QStringLiteral("Saved to ")));

        Run imported = run({ QStringLiteral("import"), file });
        QCOMPARE(imported.status, 0);
        // Progress goes to standard error; standard output carries only the result.
        QVERIFY(imported.err.contains(QStringLiteral("Importing... 100%\n")));
        QCOMPARE(imported.out, QStringLiteral("Imported 1 groups and 1 links\n"));
        QVERIFY(imported.err.contains(
            QStringLiteral("Metadata 1/1: %1\n").arg(m_site.url(QStringLiteral("/page")))));
        const QString before = run({ QStringLiteral("list") }).out;
        QCOMPARE(before.count(QStringLiteral("默认分组 (1)")), 2);

        QFile bad(m_home->filePath(QStringLiteral("bad.json")));
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("{\"groups\": [{\"name\": \"x\"}], \"exportedAt\": \"2025-01-01T00:00:00Z\"}");
        bad.close();
        Run refused = run({ QStringLiteral("import"), bad.fileName() });
        QCOMPARE(refused.status, 1);
        QVERIFY(refused.err.contains(QStringLiteral("createdAt")));
        QCOMPARE(run({ QStringLiteral("list") }).out, before);
    }

    void writersGiveUpOnAHolderThatDoesNotAnswer()
    {
        QCOMPARE(run({ QStringLiteral("add"), m_site.url(QStringLiteral("/other")) }).status, 0);
        const QString file = m_home->filePath(QStringLiteral("backup.json"));
        QCOMPARE(run({ QStringLiteral("export"), file }).status, 0);
        const QString before = run({ QStringLiteral("list") }).out;

        // Held by a live process that does not answer requests.
        QLockFile held(SingleInstance::lockFilePath(storePath()));
        QVERIFY(held.tryLock(0));
        m_extraEnv.insert(QStringLiteral("BRAMBLE_LOCK_WAIT_MS"), QStringLiteral("300"));
        Run refused = run({ QStringLiteral("add"), m_site.url(QStringLiteral("/page")) });
        QCOMPARE(refused.status, 1);
        QVERIFY2(refused.err.contains(QStringLiteral("does not answer; nothing was changed.")),
            qPrintable(refused.err));
        Run notImported = run({ QStringLiteral("import"), file });
        QCOMPARE(notImported.status, 1);
        QVERIFY2(notImported.err.contains(QStringLiteral("does not answer")), qPrintable(notImported.err));
        QVERIFY(notImported.out.isEmpty());
        // Reading goes on beside it.
        Run listed = run({ QStringLiteral("list") });
        QCOMPARE(listed.status, 0);
        QCOMPARE(listed.out, before);

        held.unlock();
        QCOMPARE(run({ QStringLiteral("import"), file }).status, 0);
        QCOMPARE(run({ QStringLiteral("list") }).out.count(QStringLiteral("默认分组 (1)")), 2);
    }

    void secondWriterHandsItsLinkToTheFirst()
    {
        // The first command's refresh waits at the gate while a second one adds a link.
        const QString slow = m_site.url(QStringLiteral("/slow"));
        const QString file = m_home->filePath(QStringLiteral("slow.json"));
        QFile json(file);
        QVERIFY(json.open(QIODevice::WriteOnly));
        json.write(R"({"groups":[{"name":"G","createdAt":"2025-01-01T00:00:00Z","bookmarks":[)"
                   R"({"urlString":")"
            + slow.toUtf8()
            + R"(","createdAt":"2025-01-01T00:00:00Z"}]}],"exportedAt":"2025-01-01T00:00:00Z"})");
        json.close();

        QProcess first;
        start(&first, { QStringLiteral("import"), file });
        QString out;
        QTRY_VERIFY_WITH_TIMEOUT(gate()->waiting() > 0
                && (out += QString::fromUtf8(first.readAllStandardOutput()))
                       .contains(QStringLiteral("Imported 1 groups and 1 links")),
            30000);

        const QString other = m_site.url(QStringLiteral("/other"));
        Run handed = run({ QStringLiteral("add"), other });
        QCOMPARE(handed.status, 0);
        QCOMPARE(handed.out,
            QStringLiteral("Another bramble command is working on the library; the link was handed to it.\n"
                           "Added %1 to G\n")
                .arg(other));
        QCOMPARE(first.state(), QProcess::Running);

        gate()->open();
        QVERIFY(first.waitForFinished(30000));
        QCOMPARE(first.exitCode(), 0);
        const QString err = QString::fromUtf8(first.readAllStandardError());
        // The handed link is fetched beside the slow one (either may end first); the total counts it.
        QVERIFY2(err.contains(QStringLiteral("/2: %1\n").arg(other)), qPrintable(err));
        QVERIFY2(err.contains(QStringLiteral("/2: %1\n").arg(slow)), qPrintable(err));
        QVERIFY2(err.contains(QStringLiteral("Metadata 2/2: ")), qPrintable(err));
        QCOMPARE(run({ QStringLiteral("list") }).out,
            QStringLiteral("G (2)\n  %1  Slow\n  %2  Other\n").arg(slow, other));
    }

    // A file of five links to the gated page; the first keeps its own title and summary.
    QString writeSlowImport(QStringList *links)
    {
        const QString file = m_home->filePath(QStringLiteral("five.json"));
        QByteArray json
            = "{\"groups\":[{\"name\":\"G\",\"createdAt\":\"2025-01-01T00:00:00Z\",\"bookmarks\":[";
        for (int i = 0; i < 5; ++i) {
            const QString link = m_site.url(QStringLiteral("/slow?%1").arg(i));
            *links << link;
            json += QByteArray(i ? "," : "") + "{\"urlString\":\"" + link.toUtf8() + "\""
                + (i == 0 ? ",\"title\":\"Mine\",\"summary\":\"My words\"" : "")
                + ",\"createdAt\":\"2025-01-01T00:00:00Z\"}";
        }
        json += "]}],\"exportedAt\":\"2025-01-01T00:00:00Z\"}";
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly) || out.write(json) != json.size())
            return {};
        return file;
    }

    void killedRefreshGoesOnAtTheNextRefresh()
    {
        QStringList links;
        const QString file = writeSlowImport(&links);
        QProcess import;
        start(&import, { QStringLiteral("import"), file });
        // Three fetches at once: one per permit.
        QTRY_VERIFY_WITH_TIMEOUT(gate()->waiting() == 3, 30000);
        QTest::qWait(200);
        QCOMPARE(gate()->waiting(), 3);
        ::kill(pid_t(import.processId()), SIGKILL);
        QVERIFY(import.waitForFinished(30000));
        QCOMPARE(storeCount(QStringLiteral("items")), 5);
        QCOMPARE(storeCount(QStringLiteral("refresh_queue")), 5);

        gate()->open();
        Run refreshed = run({ QStringLiteral("refresh") });
        QCOMPARE(refreshed.status, 0);
        QCOMPARE(refreshed.out, QStringLiteral("Fetched the metadata of 5 links.\n"));
        QCOMPARE(storeCount(QStringLiteral("refresh_queue")), 0);
        // What the file carried stays; what it lacked is filled in.
        QCOMPARE(storeQuery(QStringLiteral(
                     "SELECT COUNT(*) FROM items WHERE title = 'Mine' AND summary = 'My words'")),
            1);
        QCOMPARE(storeQuery(QStringLiteral("SELECT COUNT(*) FROM items WHERE title = 'Slow'")), 4);

        // --all fetches afresh and may overwrite the title.
        Run all = run({ QStringLiteral("refresh"), QStringLiteral("--all"), QStringLiteral("--group"),
            QStringLiteral("G") });
        QCOMPARE(all.status, 0);
        QCOMPARE(storeQuery(QStringLiteral("SELECT COUNT(*) FROM items WHERE title = 'Slow'")), 5);
        QCOMPARE(storeQuery(QStringLiteral("SELECT COUNT(*) FROM items WHERE summary = 'My words'")), 1);
    }

    void firstCtrlCStopsAfterTheFetchesUnderWay()
    {
        QStringList links;
        const QString file = writeSlowImport(&links);
        QProcess import;
        start(&import, { QStringLiteral("import"), file });
        QTRY_VERIFY_WITH_TIMEOUT(gate()->waiting() == 3, 30000);
        ::kill(pid_t(import.processId()), SIGINT);
        QTest::qWait(200);
        QCOMPARE(import.state(), QProcess::Running);
        gate()->open();
        QVERIFY(import.waitForFinished(30000));
        QCOMPARE(import.exitStatus(), QProcess::NormalExit);
        QCOMPARE(import.exitCode(), 130);
        const QString err = QString::fromUtf8(import.readAllStandardError());
        QVERIFY2(
            err.contains(QStringLiteral("Stopped. 2 links still wait for their metadata")), qPrintable(err));
        QCOMPARE(storeCount(QStringLiteral("refresh_queue")), 2);

        Run queued = run({ QStringLiteral("import"), QStringLiteral("--no-refresh"), file });
        QCOMPARE(queued.status, 0);
        QVERIFY2(queued.out.endsWith(
                     QStringLiteral("7 links wait for their metadata; bramble refresh fetches them.\n")),
            qPrintable(queued.out));
        QCOMPARE(storeCount(QStringLiteral("refresh_queue")), 7);
    }

    void exportAndImportSayWhatIsWrong()
    {
        QCOMPARE(run({ QStringLiteral("add"), m_site.url(QStringLiteral("/other")) }).status, 0);
        const QString fifo = m_home->filePath(QStringLiteral("pipe"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        Run toFifo = run({ QStringLiteral("export"), fifo });
        QCOMPARE(toFifo.status, 1);
        QVERIFY2(toFifo.err.contains(QStringLiteral("is not a regular file")), qPrintable(toFifo.err));
        // Printed once, and the pipe is still a pipe.
        QCOMPARE(toFifo.err.count(QStringLiteral("is not a regular file")), 1);
        QVERIFY(!QFileInfo(fifo).isFile() && QFileInfo::exists(fifo));
        Run toFull = run({ QStringLiteral("export"), QStringLiteral("/dev/full") });
        QCOMPARE(toFull.status, 1);
        QVERIFY(!toFull.err.contains(QStringLiteral("Saved to")));

        Run toStdout = run({ QStringLiteral("export"), QStringLiteral("-") });
        QCOMPARE(toStdout.status, 0);
        QCOMPARE(parse(toStdout.out).value(QStringLiteral("groups")).toArray().size(), 1);

        const struct
        {
            QString path;
            QString says;
        } cases[] = { { m_home->filePath(QStringLiteral("missing.json")), QStringLiteral("does not exist") },
            { m_home->path(), QStringLiteral("is a folder") },
            { fifo, QStringLiteral("is not a regular file") } };
        for (const auto &c : cases) {
            Run refused = run({ QStringLiteral("import"), c.path });
            QCOMPARE(refused.status, 1);
            QVERIFY2(refused.err.contains(c.says), qPrintable(refused.err));
            QVERIFY(!refused.err.contains(QStringLiteral("Permission denied")));
        }
        if (::geteuid() != 0) {
            const QString locked = m_home->filePath(QStringLiteral("locked.json"));
            QFile file(locked);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.close();
            QFile::setPermissions(locked, QFileDevice::WriteOwner);
            QVERIFY(
                run({ QStringLiteral("import"), locked }).err.contains(QStringLiteral("Permission denied")));
        }
    }

    void browserFilesAndProfiles()
    {
        // A Chromium profile where Chromium keeps it; nothing is fetched (--no-refresh).
        const QString profile = m_home->filePath(QStringLiteral("config/chromium/Default"));
        QVERIFY(QDir().mkpath(profile));
        QFile bookmarks(profile + QStringLiteral("/Bookmarks"));
        QVERIFY(bookmarks.open(QIODevice::WriteOnly));
        bookmarks.write("{\"roots\":{\"bookmark_bar\":{\"type\":\"folder\",\"children\":["
                        "{\"type\":\"url\",\"name\":\"One\",\"url\":\"https://one.example/\"},"
                        "{\"type\":\"url\",\"name\":\"Two\",\"url\":\"https://two.example/\"},"
                        "{\"type\":\"url\",\"name\":\"Apps\",\"url\":\"chrome://apps/\"}]},"
                        "\"other\":{\"type\":\"folder\",\"children\":[]}},\"version\":1}");
        bookmarks.close();
        Run imported = run({ QStringLiteral("import"), QStringLiteral("--from"), QStringLiteral("chromium"),
            QStringLiteral("--no-refresh") });
        QCOMPARE(imported.status, 0);
        QVERIFY2(imported.err.contains(QStringLiteral("Importing from Chromium · Default")),
            qPrintable(imported.err));
        QVERIFY2(
            imported.out.startsWith(QStringLiteral("Imported 1 groups and 2 links\n已跳过 1 个非网页链接\n")),
            qPrintable(imported.out));
        Run again = run({ QStringLiteral("import"), QStringLiteral("--from=chromium"),
            QStringLiteral("--profile"), QStringLiteral("default"), QStringLiteral("--skip-existing"),
            QStringLiteral("--no-refresh") });
        QCOMPARE(again.status, 0);
        QVERIFY2(again.out.startsWith(QStringLiteral("Imported 0 groups and 0 links\n已跳过 2 个重复链接\n")),
            qPrintable(again.out));
        QCOMPARE(storeQuery(QStringLiteral("SELECT COUNT(*) FROM items")), 2);

        Run noFirefox
            = run({ QStringLiteral("import"), QStringLiteral("--from"), QStringLiteral("firefox") });
        QCOMPARE(noFirefox.status, 1);
        QVERIFY2(noFirefox.err.contains(QStringLiteral("No Firefox profile was found.")),
            qPrintable(noFirefox.err));
        Run noProfile = run({ QStringLiteral("import"), QStringLiteral("--from"), QStringLiteral("chromium"),
            QStringLiteral("--profile"), QStringLiteral("Work") });
        QCOMPARE(noProfile.status, 1);
        QVERIFY2(
            noProfile.err.contains(QStringLiteral("no profile named “Work”")), qPrintable(noProfile.err));
        const QList<QStringList> bad = {
            { QStringLiteral("import"), QStringLiteral("--from"), QStringLiteral("netscape") },
            { QStringLiteral("import"), QStringLiteral("--from") },
            { QStringLiteral("import"), QStringLiteral("--profile"), QStringLiteral("x"),
                QStringLiteral("f.html") },
            { QStringLiteral("import"), QStringLiteral("--from"), QStringLiteral("chromium"),
                QStringLiteral("f.html") },
            { QStringLiteral("export"), QStringLiteral("--format"), QStringLiteral("xml"),
                QStringLiteral("x") },
            { QStringLiteral("export"), QStringLiteral("--skip-existing"), QStringLiteral("x") },
            { QStringLiteral("list"), QStringLiteral("--format"), QStringLiteral("html") },
        };
        for (const QStringList &arguments : bad) {
            const Run result = run(arguments);
            QVERIFY2(result.status == 2, qPrintable(arguments.join(u' ')));
            QVERIFY(result.err.contains(QStringLiteral("Usage: bramble")));
        }
        QCOMPARE(storeQuery(QStringLiteral("SELECT COUNT(*) FROM items")), 2);

        // Out as bookmark HTML, to a file and to standard output, and back in.
        const QString html = m_home->filePath(QStringLiteral("bookmarks.html"));
        Run exported
            = run({ QStringLiteral("export"), QStringLiteral("--format"), QStringLiteral("html"), html });
        QCOMPARE(exported.status, 0);
        QCOMPARE(exported.out, QStringLiteral("Exported 1 groups and 2 links to %1\n").arg(html));
        QFile written(html);
        QVERIFY(written.open(QIODevice::ReadOnly));
        const QByteArray contents = written.readAll();
        QVERIFY(contents.startsWith("<!DOCTYPE NETSCAPE-Bookmark-file-1>"));
        QVERIFY(contents.contains("HREF=\"https://two.example/\""));
        Run toStdout
            = run({ QStringLiteral("export"), QStringLiteral("--format=html"), QStringLiteral("-") });
        QCOMPARE(toStdout.status, 0);
        QCOMPARE(toStdout.out.toUtf8(), contents);
        Run back = run({ QStringLiteral("import"), QStringLiteral("--no-refresh"), html });
        QCOMPARE(back.status, 0);
        QCOMPARE(back.out.section(QLatin1Char('\n'), 0, 0), QStringLiteral("Imported 1 groups and 2 links"));
        QCOMPARE(storeQuery(QStringLiteral("SELECT COUNT(*) FROM items")), 4);
    }

    void killedImportLeavesNothingHalfDone()
    {
        // Large enough to be caught half way; nothing listens on the addresses.
        QByteArray json = "{\"groups\":[";
        for (int g = 0; g < 40; ++g) {
            json += QByteArray(g ? "," : "") + "{\"name\":\"Imported " + QByteArray::number(g)
                + "\",\"createdAt\":\"2025-01-01T00:00:00Z\",\"bookmarks\":[";
            for (int i = 0; i < 1500; ++i)
                json += QByteArray(i ? "," : "") + "{\"urlString\":\"http://127.0.0.1:9/"
                    + QByteArray::number(g) + "/" + QByteArray::number(i)
                    + "\",\"createdAt\":\"2025-01-01T00:00:00Z\"}";
            json += "]}";
        }
        json += "],\"exportedAt\":\"2025-01-01T00:00:00Z\"}";
        const QString file = m_home->filePath(QStringLiteral("big.json"));
        QFile big(file);
        QVERIFY(big.open(QIODevice::WriteOnly));
        big.write(json);
        big.close();

        QProcess import;
        start(&import, { QStringLiteral("import"), file });
        QVERIFY(import.waitForStarted());
        // Killed as soon as part of it is on disk.
        QElapsedTimer waited;
        waited.start();
        while (storeCount(QStringLiteral("groups")) < 2 && waited.elapsed() < 30000
            && import.state() == QProcess::Running)
            QThread::msleep(2);
        ::kill(pid_t(import.processId()), SIGKILL);
        QVERIFY(import.waitForFinished(30000));
        QCOMPARE(import.exitStatus(), QProcess::CrashExit);
        const int left = storeCount(QStringLiteral("groups"));
        QVERIFY2(left >= 2 && left < 40, qPrintable(QString::number(left)));

        // Readers do not see it, and leave it be.
        Run listed = run({ QStringLiteral("list") });
        QCOMPARE(listed.status, 0);
        QCOMPARE(listed.out, QString());
        QCOMPARE(storeCount(QStringLiteral("groups")), left);
        QVERIFY(unfinishedImports() > 0);

        // The next command that takes the library removes it, and says so.
        Run added = run({ QStringLiteral("add"), m_site.url(QStringLiteral("/other")) });
        QCOMPARE(added.status, 0);
        QVERIFY2(
            added.err.contains(
                QStringLiteral("Removed what an unfinished import had added: %1 groups with ").arg(left)),
            qPrintable(added.err));
        QCOMPARE(unfinishedImports(), 0);
        QCOMPARE(storeCount(QStringLiteral("items")), 1);
        QCOMPARE(run({ QStringLiteral("list") }).out,
            QStringLiteral("默认分组 (1)\n  %1  Other\n").arg(m_site.url(QStringLiteral("/other"))));
    }

    void addReportsItsSignal()
    {
        m_extraEnv.insert(QStringLiteral("DO_NOT_TRACK"), QString());
        m_extraEnv.insert(QStringLiteral("BRAMBLE_TELEMETRY_URL"), m_site.url());
        QCOMPARE(run({ QStringLiteral("list") }).status, 0);
        const QString cache = Cairn::SignalCache::filePath(Telemetry::appID, m_home->path() + "/cache");
        QVERIFY(!QFile::exists(cache));

        QCOMPARE(run({ QStringLiteral("add"), m_site.url(QStringLiteral("/other")) }).status, 0);
        // The process ends before the first batch is due, so the record waits in the cache file.
        QFile file(cache);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("link_added"));
    }
};

BRAMBLE_TEST_CORE_MAIN(CommandLineTest)
#include "tst_cli.moc"
