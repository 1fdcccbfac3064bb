// The processes of one library handing it to each other: commands and a window, for real.
#include "AppSandbox.h"
#include "support/TestEnvironment.h"
#include "support/TestGate.h"
#include "support/TestHttpServer.h"

#include <QCoreApplication>
#include <QLockFile>
#include <csignal>
#include <httplib.h>
#include <mutex>

using namespace AppTesting;

class HandOverTest : public QObject
{
    Q_OBJECT

    TestHttpServer m_site;
    std::mutex m_gateMutex;
    std::shared_ptr<TestGate> m_gate = std::make_shared<TestGate>();

    std::shared_ptr<TestGate> gate()
    {
        std::lock_guard lock(m_gateMutex);
        return m_gate;
    }

    // An export file of one group whose links are these addresses.
    static void writeImportFile(const QString &path, const QStringList &addresses)
    {
        QByteArray links;
        for (const QString &address : addresses)
            links += QByteArray(links.isEmpty() ? "" : ",") + "{\"urlString\":\"" + address.toUtf8()
                + "\",\"createdAt\":\"2025-01-01T00:00:00Z\"}";
        writeFile(path,
            "{\"groups\":[{\"name\":\"Imported\",\"createdAt\":\"2025-01-01T00:00:00Z\",\"bookmarks\":["
                + links + "]}],\"exportedAt\":\"2025-01-01T00:00:00Z\"}");
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QFileInfo(Sandbox::program()).isExecutable(), qPrintable(Sandbox::program()));
        m_site.server().Get("/page", [](const httplib::Request &, httplib::Response &response) {
            response.set_content("<html><head><title>Test Page</title></head></html>", "text/html");
        });
        m_site.server().Get("/slow/\\d+", [this](const httplib::Request &, httplib::Response &response) {
            gate()->pass();
            response.set_content("<html><head><title>Slow</title></head></html>", "text/html");
        });
        m_site.server().Get("/favicon.ico|/apple-touch-icon.*",
            [](const httplib::Request &, httplib::Response &response) { response.status = 404; });
        QVERIFY(m_site.start());
    }

    void init()
    {
        std::lock_guard lock(m_gateMutex);
        m_gate->open();
        m_gate = std::make_shared<TestGate>();
    }

    void commandsAreHandedToTheOpenWindow()
    {
        Sandbox sandbox;
        sandbox.createStore();
        auto window = sandbox.launch();
        QTRY_VERIFY_WITH_TIMEOUT(sandbox.isListening(), 30000);

        const QString page = m_site.url(QStringLiteral("/page"));
        const Sandbox::Run added = sandbox.run({ QStringLiteral("add"), page });
        QCOMPARE(added.status, 0);
        QCOMPARE(added.out,
            QStringLiteral("Bramble's window is open; the link was handed to it.\nAdded %1 to mine\n")
                .arg(page));
        // The row is stored at once with its address as title; the window fetches the rest.
        QTRY_COMPARE_WITH_TIMEOUT(
            storedLinks(sandbox.storePath()), QStringList { page + QStringLiteral("|Test Page") }, 30000);

        // Refused by the window, with its reason; nothing changes.
        const Sandbox::Run unknown
            = sandbox.run({ QStringLiteral("add"), page, QStringLiteral("--group"), QStringLiteral("Nope") });
        QCOMPARE(unknown.status, 1);
        QCOMPARE(unknown.err, QStringLiteral("No group is named \"Nope\".\n"));

        const QString file = QFileInfo(sandbox.storePath()).absolutePath() + QStringLiteral("/in.json");
        writeImportFile(file, { page + QStringLiteral("?a"), page + QStringLiteral("?b") });
        const Sandbox::Run imported = sandbox.run({ QStringLiteral("import"), file });
        QCOMPARE(imported.status, 0);
        QCOMPARE(imported.out,
            QStringLiteral(
                "Bramble's window is open; the import was handed to it.\nImported 1 groups and 2 links\n"));
        QTRY_COMPARE_WITH_TIMEOUT(
            storedLinks(sandbox.storePath()).filter(QStringLiteral("|Test Page")).size(), 3, 30000);
        QCOMPARE(window->state(), QProcess::Running);
        // The window is told to leave out what it holds already.
        const Sandbox::Run again
            = sandbox.run({ QStringLiteral("import"), QStringLiteral("--skip-existing"), file });
        QCOMPARE(again.status, 0);
        QCOMPARE(again.out,
            QStringLiteral(
                "Bramble's window is open; the import was handed to it.\nImported 0 groups and 0 links\n"
                "已跳过 2 个重复链接\n"));
        QCOMPARE(storedLinks(sandbox.storePath()).size(), 3);

        ::kill(pid_t(window->processId()), SIGTERM);
        QVERIFY(window->waitForFinished(30000));
        QCOMPARE(window->exitCode(), 0);
        QCOMPARE(storedGroups(sandbox.storePath()).size(), 2);
    }

    void windowTakesTheLibraryFromACommand()
    {
        Sandbox sandbox;
        QStringList links;
        for (int i = 1; i <= 5; ++i)
            links << m_site.url(QStringLiteral("/slow/%1").arg(i));
        const QString file = sandbox.storePath() + QStringLiteral(".json");
        writeImportFile(file, links);
        auto command = sandbox.launch({ QStringLiteral("import"), file });
        Output commandOutput(command.get());
        // Its refresh is on the first three links, one per fetch permit, when the window starts.
        QTRY_VERIFY_WITH_TIMEOUT(gate()->waiting() == 3
                && commandOutput.out().contains(QStringLiteral("Imported 1 groups and 5 links\n")),
            30000);

        auto window = sandbox.launch();
        Output windowOutput(window.get());
        QTRY_VERIFY_WITH_TIMEOUT(
            windowOutput.out().contains(QStringLiteral(
                "Waiting for the library: a bramble command is finishing the link it is on.\n")),
            30000);
        QCOMPARE(command->state(), QProcess::Running);

        gate()->open();
        QVERIFY(command->waitForFinished(30000));
        QCOMPARE(command->exitCode(), 0);
        QVERIFY2(commandOutput.out().endsWith(
                     QStringLiteral("Bramble's window took over the library; it "
                                    "fetches the metadata of the 2 links still waiting.\n")),
            qPrintable(commandOutput.out()));
        // The window holds the library and fetches what the command left.
        QTRY_COMPARE_WITH_TIMEOUT(sandbox.lockHolder(), window->processId(), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(storedLinks(sandbox.storePath()),
            (QStringList { links[0] + QStringLiteral("|Slow"), links[1] + QStringLiteral("|Slow"),
                links[2] + QStringLiteral("|Slow"), links[3] + QStringLiteral("|Slow"),
                links[4] + QStringLiteral("|Slow") }),
            30000);
        QCOMPARE(window->state(), QProcess::Running);
        ::kill(pid_t(window->processId()), SIGTERM);
        QVERIFY(window->waitForFinished(30000));
        QCOMPARE(window->exitCode(), 0);
    }

    void windowWaitsVisiblyForASilentHolder()
    {
        Sandbox sandbox;
        sandbox.createStore();
        // Nothing listens there; the lines are printed all the same.
        sandbox.reportTo(QStringLiteral("http://127.0.0.1:9"));
        // A live process holds the library and answers nothing.
        QLockFile held(sandbox.storePath() + QStringLiteral(".lock"));
        QVERIFY(held.tryLock(0));
        auto window = sandbox.launch();
        Output output(window.get());
        QTRY_VERIFY_WITH_TIMEOUT(
            output.out().contains(QStringLiteral(
                "Waiting for the library: another Bramble process holds it and does not answer.\n")),
            30000);
        QCOMPARE(window->state(), QProcess::Running);
        QVERIFY(!output.out().contains(QStringLiteral("Cairn initialized")));

        held.unlock();
        QTRY_COMPARE_WITH_TIMEOUT(sandbox.lockHolder(), window->processId(), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(
            output.out().contains(QStringLiteral("📊 Cairn signal sent: app_launched")), 30000);
        QCOMPARE(window->state(), QProcess::Running);
        ::kill(pid_t(window->processId()), SIGTERM);
        QVERIFY(window->waitForFinished(30000));
        QCOMPARE(window->exitCode(), 0);
    }
};

BRAMBLE_TEST_CORE_MAIN(HandOverTest)
#include "tst_handover.moc"
