// bramble search and the duplicate notice of bramble add, run as the real program against a
// library of its own. Links point at a closed loopback port, so nothing leaves the machine.
#include "app/AppSandbox.h"
#include "support/TestEnvironment.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

using AppTesting::Sandbox;

namespace {

// Three groups; the Chinese title and the newest link decide the order of the results.
const QByteArray library
    = "{\"groups\":[\n"
      " {\"name\":\"工作\",\"createdAt\":\"2025-01-01T00:00:00Z\",\"bookmarks\":[\n"
      "  "
      "{\"urlString\":\"http://127.0.0.1:1/"
      "qq\",\"title\":\"腾讯首页\",\"summary\":\"新闻\",\"createdAt\":\"2025-01-02T00:00:00Z\"},\n"
      "  {\"urlString\":\"http://127.0.0.1:1/notes\",\"title\":\"Notes\",\"summary\":\"About the "
      "Café\",\"createdAt\":\"2025-01-03T00:00:00Z\"}]},\n"
      " {\"name\":\"Home\",\"createdAt\":\"2025-01-01T00:00:00Z\",\"bookmarks\":[\n"
      "  {\"urlString\":\"http://127.0.0.1:1/flore\",\"title\":\"Café de "
      "Flore\",\"summary\":\"Paris\",\"createdAt\":\"2025-01-01T00:00:00Z\"},\n"
      "  "
      "{\"urlString\":\"http://127.0.0.1:1/"
      "cafe-list\",\"title\":\"List\",\"createdAt\":\"2025-01-04T00:00:00Z\"}]},\n"
      " {\"name\":\"工作\",\"createdAt\":\"2025-01-01T00:00:00Z\",\"bookmarks\":[\n"
      "  {\"urlString\":\"http://127.0.0.1:1/second\",\"title\":\"Second "
      "cafe\",\"createdAt\":\"2025-01-05T00:00:00Z\"}]}],\n"
      " \"exportedAt\":\"2025-01-05T00:00:00Z\"}";

} // namespace

class SearchCommandTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<Sandbox> m_sandbox;

    void importLibrary()
    {
        const QString file = QFileInfo(m_sandbox->runtimeDir()).absolutePath() + QStringLiteral("/lib.json");
        AppTesting::writeFile(file, library);
        const Sandbox::Run imported
            = m_sandbox->run({ QStringLiteral("import"), QStringLiteral("--no-refresh"), file });
        QVERIFY2(imported.status == 0, qPrintable(imported.err));
    }

private Q_SLOTS:
    void init() { m_sandbox = std::make_unique<Sandbox>(); }

    void printsMatchesBestFirstWithExitStatus()
    {
        importLibrary();
        const Sandbox::Run found = m_sandbox->run({ QStringLiteral("search"), QStringLiteral("CAFE") });
        QCOMPARE(found.status, 0);
        // Titles first, newest first; then the address; then the summary.
        QCOMPARE(found.out,
            QStringLiteral("工作  http://127.0.0.1:1/second  Second cafe\n"
                           "Home  http://127.0.0.1:1/flore  Café de Flore\n"
                           "Home  http://127.0.0.1:1/cafe-list  List\n"
                           "工作  http://127.0.0.1:1/notes  Notes\n"));

        const Sandbox::Run han = m_sandbox->run({ QStringLiteral("search"), QStringLiteral("首页") });
        QCOMPARE(han.status, 0);
        QCOMPARE(han.out, QStringLiteral("工作  http://127.0.0.1:1/qq  腾讯首页\n"));

        // Every word must occur; the words may come as separate arguments.
        const Sandbox::Run both
            = m_sandbox->run({ QStringLiteral("search"), QStringLiteral("cafe"), QStringLiteral("paris") });
        QCOMPARE(both.out, QStringLiteral("Home  http://127.0.0.1:1/flore  Café de Flore\n"));

        const Sandbox::Run none = m_sandbox->run({ QStringLiteral("search"), QStringLiteral("zebra") });
        QCOMPARE(none.status, 1);
        QCOMPARE(none.out, QString());
    }

    void groupLimitAndJson()
    {
        importLibrary();
        // Both groups named 工作 count.
        const Sandbox::Run group = m_sandbox->run({ QStringLiteral("search"), QStringLiteral("cafe"),
            QStringLiteral("--group"), QStringLiteral("工作") });
        QCOMPARE(group.status, 0);
        QCOMPARE(group.out,
            QStringLiteral(
                "工作  http://127.0.0.1:1/second  Second cafe\n工作  http://127.0.0.1:1/notes  Notes\n"));
        const Sandbox::Run elsewhere = m_sandbox->run(
            { QStringLiteral("search"), QStringLiteral("首页"), QStringLiteral("--group=Home") });
        QCOMPARE(elsewhere.status, 1);
        const Sandbox::Run missing = m_sandbox->run({ QStringLiteral("search"), QStringLiteral("cafe"),
            QStringLiteral("--group"), QStringLiteral("Nope") });
        QCOMPARE(missing.status, 1);
        QVERIFY(missing.err.contains(QStringLiteral("Nope")));

        const Sandbox::Run limited = m_sandbox->run({ QStringLiteral("search"), QStringLiteral("cafe"),
            QStringLiteral("--limit"), QStringLiteral("2"), QStringLiteral("--json") });
        QCOMPARE(limited.status, 0);
        QJsonParseError problem;
        const QJsonArray list = QJsonDocument::fromJson(limited.out.toUtf8(), &problem).array();
        QCOMPARE(problem.error, QJsonParseError::NoError);
        QCOMPARE(list.size(), 2);
        const QJsonObject first = list[0].toObject();
        QCOMPARE(first.keys(),
            (QStringList { QStringLiteral("address"), QStringLiteral("createdAt"), QStringLiteral("group"),
                QStringLiteral("summary"), QStringLiteral("title") }));
        QCOMPARE(first.value(QStringLiteral("group")).toString(), QStringLiteral("工作"));
        QCOMPARE(
            first.value(QStringLiteral("address")).toString(), QStringLiteral("http://127.0.0.1:1/second"));
        QCOMPARE(first.value(QStringLiteral("title")).toString(), QStringLiteral("Second cafe"));
        // Imported without a summary: the placeholder until its metadata arrives.
        QCOMPARE(first.value(QStringLiteral("summary")).toString(), QStringLiteral("正在获取信息..."));
        // An import dates its links by when it creates them.
        const QString created = first.value(QStringLiteral("createdAt")).toString();
        QVERIFY2(created.endsWith(QLatin1Char('Z')) && QDateTime::fromString(created, Qt::ISODate).isValid(),
            qPrintable(created));
        QCOMPARE(
            list[1].toObject().value(QStringLiteral("title")).toString(), QStringLiteral("Café de Flore"));
        // The member order is the one documented.
        QVERIFY(limited.out.indexOf(QStringLiteral("\"group\""))
            < limited.out.indexOf(QStringLiteral("\"address\"")));
        QVERIFY(limited.out.indexOf(QStringLiteral("\"summary\""))
            < limited.out.indexOf(QStringLiteral("\"createdAt\"")));

        const Sandbox::Run emptyJson
            = m_sandbox->run({ QStringLiteral("search"), QStringLiteral("zebra"), QStringLiteral("--json") });
        QCOMPARE(emptyJson.status, 1);
        QCOMPARE(emptyJson.out.trimmed(), QStringLiteral("[]"));
    }

    void badUsageIsRefused()
    {
        for (const QStringList &arguments : QList<QStringList> { { QStringLiteral("search") },
                 { QStringLiteral("search"), QStringLiteral(" ") },
                 { QStringLiteral("search"), QStringLiteral("x"), QStringLiteral("--limit"),
                     QStringLiteral("0") },
                 { QStringLiteral("search"), QStringLiteral("x"), QStringLiteral("--limit") },
                 { QStringLiteral("search"), QStringLiteral("x"), QStringLiteral("--all") },
                 { QStringLiteral("list"), QStringLiteral("--limit"), QStringLiteral("3") },
                 { QStringLiteral("list"), QStringLiteral("--allow-duplicate") } }) {
            const Sandbox::Run result = m_sandbox->run(arguments);
            QVERIFY2(result.status == 2, qPrintable(arguments.join(u' ')));
            QVERIFY(result.err.contains(QStringLiteral("Usage: bramble")));
        }
        QVERIFY(!QFile::exists(m_sandbox->storePath()));
    }

    void searchWorksBesideTheWindow()
    {
        importLibrary();
        auto window = m_sandbox->launch();
        QTRY_VERIFY_WITH_TIMEOUT(m_sandbox->isListening(), 30000);
        const Sandbox::Run found = m_sandbox->run({ QStringLiteral("search"), QStringLiteral("flore") });
        AppTesting::stop(window.get());
        QCOMPARE(found.status, 0);
        QCOMPARE(found.out, QStringLiteral("Home  http://127.0.0.1:1/flore  Café de Flore\n"));
    }

    void addNamesTheGroupOfADuplicateAndAddsOnlyWhenAllowed()
    {
        importLibrary();
        const QStringList before = AppTesting::storedLinks(m_sandbox->storePath());
        // The case of the scheme, the fragment and a trailing slash do not matter.
        const Sandbox::Run refused
            = m_sandbox->run({ QStringLiteral("add"), QStringLiteral("HTTP://127.0.0.1:1/qq/#top") });
        QCOMPARE(refused.status, 1);
        QVERIFY2(refused.err.contains(QStringLiteral("已在「工作」中\n")), qPrintable(refused.err));
        QVERIFY(refused.err.contains(QStringLiteral("--allow-duplicate")));
        QCOMPARE(refused.out, QString());
        QCOMPARE(AppTesting::storedLinks(m_sandbox->storePath()), before);

        const Sandbox::Run added
            = m_sandbox->run({ QStringLiteral("add"), QStringLiteral("http://127.0.0.1:1/qq"),
                QStringLiteral("--group"), QStringLiteral("Home"), QStringLiteral("--allow-duplicate") });
        QCOMPARE(added.status, 0);
        QVERIFY2(added.err.contains(QStringLiteral("已在「工作」中\n")), qPrintable(added.err));
        QVERIFY(added.out.startsWith(QStringLiteral("Added http://127.0.0.1:1/qq to Home\n")));
        QCOMPARE(AppTesting::storedLinks(m_sandbox->storePath()).size(), before.size() + 1);

        // Now in two groups; an address that differs in its path is no duplicate.
        const Sandbox::Run twice
            = m_sandbox->run({ QStringLiteral("add"), QStringLiteral("http://127.0.0.1:1/qq") });
        QVERIFY2(twice.err.contains(QStringLiteral("已在「工作」、「Home」中")), qPrintable(twice.err));
        const Sandbox::Run other
            = m_sandbox->run({ QStringLiteral("add"), QStringLiteral("http://127.0.0.1:1/QQ") });
        QCOMPARE(other.status, 0);
        QVERIFY(!other.err.contains(QStringLiteral("已在")));
    }
};

BRAMBLE_TEST_CORE_MAIN(SearchCommandTest)
#include "tst_search_command.moc"
