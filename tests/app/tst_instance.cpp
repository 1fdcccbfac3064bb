// The request/answer line protocol between the processes of one library, in one process.
#include "app/InstanceClient.h"
#include "app/SingleInstance.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QCoroTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTest>

using Message = InstanceProtocol::Message;
using namespace std::chrono_literals;

class InstanceTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_counter = 0;

    QString freshStore() { return m_dir.filePath(QStringLiteral("store-%1.sqlite").arg(++m_counter)); }

    static InstanceClient::Reply send(
        const QString &store, const Message &request, std::chrono::milliseconds answerTimeout = 5000ms)
    {
        return QCoro::waitFor(
            InstanceClient::send(SingleInstance::serverName(store), request, 1000ms, answerTimeout));
    }

    // Writes raw bytes and returns the first line that comes back.
    static QByteArray exchangeRaw(const QString &store, const QByteArray &bytes)
    {
        QLocalSocket socket;
        socket.connectToServer(SingleInstance::serverName(store));
        if (!socket.waitForConnected(2000))
            return {};
        socket.write(bytes);
        QByteArray received;
        QDeadlineTimer deadline(5000);
        while (!received.contains('\n') && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            received += socket.readAll();
        }
        return received;
    }

private Q_SLOTS:
    void requestsAreAnsweredInTurn()
    {
        const QString store = freshStore();
        SingleInstance holder(store);
        QCOMPARE(holder.acquire(), SingleInstance::Role::Primary);
        holder.setHandler(QStringLiteral("echo"), [](Message request) -> QCoro::Task<Message> {
            // The first one takes its time; the second must still be answered after it.
            if (request.value("slow", false))
                co_await QCoro::sleepFor(100ms);
            Message answer = InstanceProtocol::success();
            answer["said"] = request.value("say", std::string());
            co_return answer;
        });

        const InstanceClient::Reply reply
            = send(store, { { "command", "echo" }, { "say", "你好 \"there\"\n" } });
        QCOMPARE(reply.outcome, InstanceClient::Outcome::Answered);
        QVERIFY(InstanceProtocol::isOk(reply.answer));
        QCOMPARE(InstanceProtocol::text(reply.answer, "said"), QStringLiteral("你好 \"there\"\n"));

        // Two on one connection, the slow one first.
        const QByteArray both
            = InstanceProtocol::encode({ { "command", "echo" }, { "say", "1" }, { "slow", true } })
            + InstanceProtocol::encode({ { "command", "echo" }, { "say", "2" } });
        QLocalSocket socket;
        socket.connectToServer(SingleInstance::serverName(store));
        QVERIFY(socket.waitForConnected(2000));
        socket.write(both);
        QByteArray received;
        QTRY_VERIFY(((received += socket.readAll()).count('\n')) == 2);
        const QList<QByteArray> lines = received.trimmed().split('\n');
        QCOMPARE(InstanceProtocol::text(*InstanceProtocol::decode(lines[0]), "said"), QStringLiteral("1"));
        QCOMPARE(InstanceProtocol::text(*InstanceProtocol::decode(lines[1]), "said"), QStringLiteral("2"));
    }

    void whatIsNotARequestIsRefused()
    {
        const QString store = freshStore();
        SingleInstance holder(store);
        QCOMPARE(holder.acquire(), SingleInstance::Role::Primary);
        for (const QByteArray &line :
            { QByteArray("activate\n"), QByteArray("[1,2]\n"), QByteArray("{\"command\":\n") }) {
            const std::optional<Message> answer
                = InstanceProtocol::decode(exchangeRaw(store, line).trimmed());
            QVERIFY2(answer, line.constData());
            QVERIFY(!InstanceProtocol::isOk(*answer));
            QCOMPARE(InstanceProtocol::text(*answer, "error"), QStringLiteral("Not a request."));
        }
        const InstanceClient::Reply unknown = send(store, InstanceProtocol::request("frobnicate"));
        QCOMPARE(unknown.outcome, InstanceClient::Outcome::Answered);
        QVERIFY(!InstanceProtocol::isOk(unknown.answer));
        QVERIFY(InstanceProtocol::text(unknown.answer, "error").contains(QStringLiteral("frobnicate")));

        // A line longer than any request is cut off, not buffered without end.
        QLocalSocket flood;
        flood.connectToServer(SingleInstance::serverName(store));
        QVERIFY(flood.waitForConnected(2000));
        flood.write(QByteArray(InstanceProtocol::maxRequestBytes * 2, 'x'));
        QTRY_COMPARE(flood.state(), QLocalSocket::UnconnectedState);
    }

    void aSecondHolderIsRefusedAndTheLockIsLetGo()
    {
        const QString store = freshStore();
        auto holder = std::make_unique<SingleInstance>(store);
        QCOMPARE(holder->acquire(), SingleInstance::Role::Primary);
        SingleInstance other(store);
        QCOMPARE(other.acquire(), SingleInstance::Role::Secondary);
        holder->release();
        // Nobody answers any more, and the lock is free.
        QCOMPARE(send(store, InstanceProtocol::request("activate")).outcome,
            InstanceClient::Outcome::NotDelivered);
        QCOMPARE(other.acquire(), SingleInstance::Role::Primary);
    }

    void aHolderThatGoesAwayIsNoAnswer()
    {
        // Takes the request and closes without a word.
        const QString store = freshStore();
        QLocalServer server;
        QLocalServer::removeServer(SingleInstance::serverName(store));
        QVERIFY(server.listen(SingleInstance::serverName(store)));
        connect(&server, &QLocalServer::newConnection, this, [&server] {
            QLocalSocket *socket = server.nextPendingConnection();
            connect(socket, &QLocalSocket::readyRead, socket,
                [socket] { QTimer::singleShot(50, socket, [socket] { socket->disconnectFromServer(); }); });
        });
        const InstanceClient::Reply reply = send(store, InstanceProtocol::request("release"), -1ms);
        QCOMPARE(reply.outcome, InstanceClient::Outcome::NoAnswer);

        // And one that never answers runs into the time-out.
        disconnect(&server, nullptr, this, nullptr);
        connect(&server, &QLocalServer::newConnection, this, [&server] { server.nextPendingConnection(); });
        QCOMPARE(send(store, InstanceProtocol::request("activate"), 100ms).outcome,
            InstanceClient::Outcome::NoAnswer);
    }
};

BRAMBLE_TEST_CORE_MAIN(InstanceTest)
#include "tst_instance.moc"
