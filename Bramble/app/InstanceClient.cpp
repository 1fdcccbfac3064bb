#include "app/InstanceClient.h"

#include <QCoroLocalSocket>
#include <QDeadlineTimer>
#include <QLocalSocket>
#include <memory>

QCoro::Task<InstanceClient::Reply> InstanceClient::send(QString serverName, InstanceProtocol::Message request,
    std::chrono::milliseconds connectTimeout, std::chrono::milliseconds answerTimeout)
{
    Reply reply;
    auto socket = std::make_unique<QLocalSocket>();
    socket->connectToServer(serverName);
    if (socket->state() != QLocalSocket::ConnectedState) {
        if (socket->state() == QLocalSocket::UnconnectedState)
            co_return reply;
        const bool connected = co_await qCoro(socket.get()).waitForConnected(connectTimeout);
        if (!connected)
            co_return reply;
    }
    socket->write(InstanceProtocol::encode(request));
    reply.outcome = Outcome::NoAnswer;

    const QDeadlineTimer deadline
        = answerTimeout.count() < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(answerTimeout);
    QByteArray received;
    while (!received.contains('\n')) {
        if (received.size() > InstanceProtocol::maxAnswerBytes)
            co_return reply;
        if (socket->bytesAvailable() == 0) {
            if (socket->state() != QLocalSocket::ConnectedState || deadline.hasExpired())
                co_return reply;
            const auto wait = deadline.isForever()
                ? std::chrono::milliseconds(-1)
                : std::chrono::milliseconds(std::max<qint64>(1, deadline.remainingTime()));
            const bool ready = co_await qCoro(socket.get()).waitForReadyRead(wait);
            if (!ready && socket->bytesAvailable() == 0)
                co_return reply;
        }
        received += socket->readAll();
    }
    const std::optional<InstanceProtocol::Message> answer
        = InstanceProtocol::decode(received.left(received.indexOf('\n')));
    if (!answer)
        co_return reply;
    reply.outcome = Outcome::Answered;
    reply.answer = *answer;
    co_return reply;
}
